// SPDX-License-Identifier: GPL-3.0-or-later
// A curses screen in memory for drawing tests: curses writes to /dev/null, keys
// come through a pipe, and the cells are read back with their attributes.
#pragma once

#include <curses.h>

#include <string>

// Starts (once per process) or resizes the screen to rows by cols, erased.
void open_test_screen(int rows, int cols);

// Queues bytes as typed keys for the next reads.
void feed_keys(const std::string &keys);

// Feeds keys, then draws the open screens and hands each queued key to the
// top one, a key a turn as the main loop does, until no screen is open or the
// keys run out; once quit says mivo is to end, every screen is left instead.
void run_screens(const std::string &keys, bool (*quit)() = nullptr);

// Drops keys still queued, so one test's input cannot reach the next.
void drain_keys();

// The character in a cell as UTF-8 (line-drawing cells as their ACS code's letter).
std::string cell_text(int row, int col);

// The row's characters from col on, width cells (to the right edge when -1).
std::string row_text(int row, int col = 0, int width = -1);

// The attributes of a cell, colour pair included.
attr_t cell_attrs(int row, int col);

// The colour pair of a cell.
int cell_pair(int row, int col);

// True when the cell holds the given line-drawing character, such as ACS_LTEE.
bool cell_is(int row, int col, chtype acs);
