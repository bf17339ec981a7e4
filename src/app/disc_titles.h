// SPDX-License-Identifier: GPL-3.0-or-later
// The titles the player shows for a disc: those of its title file, or, for a
// disc without one, those its CD-TEXT carries (a CUE sheet's PERFORMER and
// TITLE lines). CD-TEXT titles are shown, not saved, until the user edits.
#pragma once

#include "app/player.h"
#include "drive/drive.h"

// Loads the disc's title file into state.db; without one, fills state.db from
// text when it is present. Leaves state.db.dirty alone. Returns what
// load_database returned.
int load_disc_titles(PlayerState &state, const Toc &toc, const DiscText &text);

// Fills the disc title ("Performer / Title", as xmcd writes it) and the track
// titles of db from text, for the first tracks of the disc.
void fill_titles_from_disc_text(DiscDatabase &db, const DiscText &text, int tracks);
