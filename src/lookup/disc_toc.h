// SPDX-License-Identifier: GPL-3.0-or-later
// A disc's table of contents as the title services want it: MusicBrainz's
// disc id and toc= argument, the CDDB query's arguments, and how far apart
// two tables of contents are.
#pragma once

#include "drive/drive.h"

#include <cstddef>
#include <cstdint>

// 28 characters and the terminating zero.
inline constexpr int MB_DISC_ID_SIZE = 29;

// The audio session as MusicBrainz counts it: tracks first..last, their
// offsets with the 150-frame start included, and the lead-out.
struct LookupToc {
    int32_t first;
    int32_t last;
    uint32_t leadout;
    uint32_t offset[MAX_TRACKS];
};

// Frames between the end of an audio session and a data track after it.
inline constexpr uint32_t DATA_TRACK_GAP = 11400;

// Fills toc from the drive's table; a trailing data track is left out and the
// lead-out moved before it. False when no audio track is left.
bool musicbrainz_toc(const Toc &drive_toc, LookupToc &toc);

// The disc id: SHA-1 of the table in hexadecimal, in base64 with '.', '_' and
// '-' for '+', '/' and '='.
void musicbrainz_disc_id(const LookupToc &toc, char id[MB_DISC_ID_SIZE]);

// "first+last+lead-out+offsets..." for the toc= argument; the length written,
// or -1 when it did not fit.
int format_toc_argument(const LookupToc &toc, char *out, size_t size);

// "<id>+<tracks>+<offsets...>+<seconds>" for a CDDB query, every track of the
// disc counted; the length written, or -1 when it did not fit.
int format_cddb_query(const Toc &drive_toc, uint32_t cddb_id, char *out, size_t size);

// Sum of the differences in frames between our offsets and lead-out and
// another table's, or UINT32_MAX when the track counts differ.
uint32_t toc_distance(const LookupToc &toc, const uint32_t *offsets, int32_t count,
                      uint32_t leadout);
