// SPDX-License-Identifier: GPL-3.0-or-later
// A chosen lookup result as the disc's texts, in the fields of its title file.
#pragma once

#include "database/disc_texts.h"
#include "lookup/candidate.h"

// Fills the texts from the candidate: DTITLE "Artist / Album" (with
// " (disc n)" on a multi-disc release), the track titles, year and genre
// where known, and EXTD naming the source and release. The tracks' own notes
// are kept. Marks the texts dirty; false, changing nothing, when the
// candidate names more tracks than the disc has.
bool apply_candidate(const Candidate &c, int32_t disc_tracks, DiscDatabase &db);
