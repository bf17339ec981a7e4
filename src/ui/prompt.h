// SPDX-License-Identifier: GPL-3.0-or-later
// The prompt dialog: a boxed one-line input in the middle of the screen with
// its own line editing, and the go-to-track question built on it.
#pragma once

#include <curses.h>

// Reads one line of whole characters of the locale, at most size-1 bytes, under
// title. Returns 0 and stores the line in buffer when Enter ends it; returns -1
// and leaves buffer as it was when Escape cancels, the terminal hangs up or
// the box has no room for the input line. Leaves the terminal in the idle
// input mode.
int prompt_string(char *buffer, int size, const char *title);

// Asks "Go to which track?"; the 0-based track index typed, or -1.
int prompt_track_number();

// Reads the prompt's keys through another function from now on (tests script
// them); nullptr puts the terminal's read_wide_key back.
void set_prompt_key_reader(int (*reader)(wint_t *key));
