// SPDX-License-Identifier: GPL-3.0-or-later
// What a lookup found: one record per release (the medium that holds the
// disc) from MusicBrainz or per gnudb entry, their order in the picker, the
// rule for applying a result without asking, and text helpers the parsers
// share. Fixed-size records; nothing here allocates.
#pragma once

#include "drive/drive.h"

#include <cstddef>
#include <cstdint>

inline constexpr int LOOKUP_TEXT_SIZE = 256;
inline constexpr int MAX_CANDIDATES = 16;

// Outcomes of reading a reply besides the number of candidates added.
inline constexpr int REPLY_MALFORMED = -1; // not the expected format, or truncated
inline constexpr int REPLY_ENCODING = -2;  // not UTF-8 where only UTF-8 will do
inline constexpr int REPLY_TOO_LARGE = -3; // more than mivo's buffers hold
inline constexpr int REPLY_MISFIT = -4;    // names more tracks than the disc has

enum CandidateSource : int32_t { SOURCE_MUSICBRAINZ = 0, SOURCE_GNUDB = 1 };

struct Candidate {
    int32_t source;
    bool exact;        // a medium whose disc list holds our MusicBrainz id
    uint32_t distance; // frames between its table of contents and ours
    int32_t order;     // position in the server's reply
    char artist[LOOKUP_TEXT_SIZE];
    char title[LOOKUP_TEXT_SIZE];
    char year[8];
    char country[8];
    char format[32];
    char label[128];
    char catalog[64];
    char genre[64];
    char release[64]; // MusicBrainz release id, or gnudb's "category discid"
    int32_t disc_number;
    int32_t disc_total;
    int32_t track_count;
    char track[MAX_TRACKS][LOOKUP_TEXT_SIZE]; // "Title", or "Artist / Title"
};

struct CandidateList {
    int32_t count;
    int32_t rejected; // entries left out because they did not fit the disc
    Candidate item[MAX_CANDIDATES];
};

// Empties the list.
void clear_candidates(CandidateList &list);

// True when a is to be listed before b: exact MusicBrainz media, then the
// other MusicBrainz media by distance, then gnudb in the server's order.
bool candidate_before(const Candidate &a, const Candidate &b);

// Adds a copy of the candidate; when the list is full it replaces the last
// one in order if the new one comes before it. False when it was dropped.
bool add_candidate(CandidateList &list, const Candidate &candidate);

// Sorts the list into picker order.
void rank_candidates(CandidateList &list);

// The index of the candidate to apply without asking: there is an exact one
// and every exact one has the same artist, title and tracks. -1 otherwise.
int automatic_choice(const CandidateList &list);

// True when length bytes of text are valid UTF-8 (no overlong forms or
// surrogates).
bool valid_utf8(const char *text, size_t length);

// Copies at most size - 1 bytes of text, never cutting a UTF-8 character.
void copy_text(char *out, size_t size, const char *text, size_t length);

// Converts ISO-8859-1 to UTF-8, cut at a character boundary to fit size.
void latin1_to_utf8(char *out, size_t size, const char *text, size_t length);

// Makes a text from outside safe to show and to store, in place: control
// characters (C0, DEL, C1) become spaces, bidirectional embeddings, overrides
// and isolates are dropped, and a byte that is not valid UTF-8 becomes '?'.
void clean_text(char *text);

// clean_text over every text of the candidate.
void clean_candidate(Candidate &c);
