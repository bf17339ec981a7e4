// SPDX-License-Identifier: GPL-3.0-or-later
// Looking a disc's titles up: the settings, and one lookup at a time that the
// main loop moves on each turn without waiting — MusicBrainz first, then
// gnudb when the user gave an e-mail address. It knows nothing of the screen
// or the disc's texts; the application decides what to do with the results.
#pragma once

#include "lookup/candidate.h"
#include "lookup/disc_toc.h"

#include <cstddef>
#include <cstdint>

inline constexpr int LOOKUP_URL_SIZE = 512;
inline constexpr int LOOKUP_MESSAGE_SIZE = 256;

struct LookupSettings {
    bool automatic; // look discs without texts up by themselves
    char musicbrainz_url[LOOKUP_URL_SIZE];
    char gnudb_url[LOOKUP_URL_SIZE];
    char gnudb_email[LOOKUP_URL_SIZE]; // gnudb is off while empty
    char user_agent[LOOKUP_URL_SIZE];
    int32_t timeout_ms; // per request, from the first byte sent to the last received
};

extern LookupSettings lookup_settings;

// Reads MIVO_MUSICBRAINZ_URL, MIVO_GNUDB_URL, MIVO_GNUDB_EMAIL and
// MIVO_NO_LOOKUP into lookup_settings. libcurl is loaded by the first lookup
// (start_lookup); when it cannot be, each lookup fails with a message naming
// the library and why.
void lookup_init(const char *version);

// Ends any lookup and releases libcurl.
void lookup_shutdown();

enum LookupPhase : int32_t {
    LOOKUP_IDLE,    // nothing asked, or the results were taken
    LOOKUP_RUNNING, // waiting for a server or for the request rate limit
    LOOKUP_DONE,    // candidates are ready
    LOOKUP_FAILED,  // nothing found or no server answered: lookup_message()
};

// Starts looking the disc up, ending any lookup of another disc. cddb_id is
// the disc's xmcd id, which gnudb is keyed on.
void start_lookup(const Toc &toc, uint32_t cddb_id);

// Ends the lookup; its replies are never read (the disc changed or left).
void cancel_lookup();

// Moves the lookup on without waiting and returns its phase.
LookupPhase poll_lookup();

// Waits at most timeout_ms for the lookup's servers or for input on one of the
// count fds (-1 entries are left out), whichever comes first; just for input
// when no lookup is running.
void wait_for_lookup_or_input(const int *fds, int count, int timeout_ms);

LookupPhase lookup_phase();

// The results, ranked for the picker, of the disc lookup_disc_id names.
const CandidateList &lookup_candidates();
const char *lookup_disc_id();
uint32_t lookup_cddb_id();

// Why the lookup failed, with the link to add the disc to MusicBrainz.
const char *lookup_message();

// The whole link to add the last disc looked up to MusicBrainz, which the
// message may hold only cut; returns what snprintf returned.
int lookup_add_disc_link(char *out, size_t size);

// Sets the phase back to idle once the application has taken the outcome.
void finish_lookup();

// True when this disc was looked up without result since mivo started.
bool lookup_missed(const Toc &toc);
