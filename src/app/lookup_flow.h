// SPDX-License-Identifier: GPL-3.0-or-later
// Titles from the online services as the player uses them: a lookup of its
// own for a disc without texts, L to look again and choose, storing a choice
// in the disc's title file, and the loop's wait that wakes for replies.
#pragma once

#include "ui/screen.h"

#include <cstdint>

// Reads the settings (the command line's --no-lookup among them); the network
// library is loaded by the first lookup and released at exit. The disc in the
// drive at start-up is looked up from the main loop's first turn.
void start_lookups(int argc, char **argv);

// Ends any lookup and releases the network library.
void stop_lookups();

// Called once the texts of a newly seen disc (or of no disc) are loaded:
// drops the lookup of the disc before, and starts one by itself when this
// disc has no title file and no CD-TEXT, unless lookups are off or it was
// looked up in vain before.
void lookup_new_disc(bool has_title_file);

// Moves the lookup on; an outcome is stored, offered or reported here. Part
// of every turn of the main loop.
void advance_lookup();

// L: looks the disc up again; the message line tells of the lookup until it
// ends, and the choice opens once there is something to choose.
void choose_titles();

// The link to add the last disc the servers did not know, "" when none was.
const char *unknown_disc_link();

// The choice among the results, while open.
extern const Screen choice_screen;
