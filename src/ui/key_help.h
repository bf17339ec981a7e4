// SPDX-License-Identifier: GPL-3.0-or-later
// The key help: a box over the player screen with every key and what the words
// on the screen mean, for a newcomer; open from the ? key to the next key.
#pragma once

#include "ui/screen.h"

// The box as a screen over the player's: any key closes it.
extern const Screen key_help_screen;

// Opens the box over the screens open.
void open_key_help();

// Closes the box.
void close_key_help();

// Whether the box is open.
bool key_help_open();

// Draws the box in the middle of stdscr, cut to the screen; does not refresh.
void draw_key_help();

// A note the box shows above the keys, wrapped to its width (the whole link
// to add a disc nobody knew, which the message line cannot hold); "" for none.
void set_key_help_note(const char *text);
