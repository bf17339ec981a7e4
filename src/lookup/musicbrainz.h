// SPDX-License-Identifier: GPL-3.0-or-later
// MusicBrainz's disc id lookup: the request's address and the candidates its
// JSON reply holds. The reply is tokenised into a static token array.
#pragma once

#include "lookup/candidate.h"
#include "lookup/disc_toc.h"

#include <cstddef>

// "<base>/discid/<id>?toc=...&inc=...&fmt=json"; the length, or -1 when it
// did not fit.
int musicbrainz_request_url(char *out, size_t size, const char *base, const char *disc_id,
                            const LookupToc &toc);

// Adds a candidate for each release with a medium that fits the disc: the
// medium listing disc_id, else the one nearest in table of contents. Returns
// the number added (0: nothing found) or one of the REPLY_ codes.
int parse_musicbrainz_reply(const char *body, size_t length, const LookupToc &toc,
                            const char *disc_id, CandidateList &list);
