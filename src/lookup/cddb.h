// SPDX-License-Identifier: GPL-3.0-or-later
// gnudb's CDDB protocol over HTTP: the command addresses and the replies of
// "cddb query" and "cddb read" (protocol level 6, UTF-8, with ISO-8859-1
// taken for entries that are not valid UTF-8).
#pragma once

#include "lookup/candidate.h"

#include <cstddef>

inline constexpr int MAX_CDDB_MATCHES = 8;

// One line of a query's answer: where the entry is and its disc title.
struct CddbMatch {
    char category[32];
    char discid[16];
    char title[LOOKUP_TEXT_SIZE];
};

// "<base>?cmd=cddb+<command>&hello=<email>+<host>+mivo+<version>&proto=6",
// the address percent-encoded; the length, or -1 when it did not fit.
int cddb_request_url(char *out, size_t size, const char *base, const char *command,
                     const char *email, const char *version);

// "read+<category>+<discid>" for the match, each percent-encoded; the
// length, or -1 when it did not fit.
int cddb_read_command(char *out, size_t size, const CddbMatch &match);

// Reads a query's answer: its status code (200, 202, 210, 211, or an error
// code) and the matches in the server's order, or REPLY_MALFORMED. A listed
// line that is not a match (a category that is not one of the protocol's, an
// id that is not 8 hex digits) is skipped; the match titles are cleaned.
int parse_cddb_query(const char *body, size_t length, CddbMatch *matches, int max, int &count);

// Reads a "cddb read" answer into c for a disc of disc_tracks tracks: 210 when
// the entry was read, the error code the server sent, or a REPLY_ code.
int parse_cddb_read(const char *body, size_t length, int32_t disc_tracks, Candidate &c);
