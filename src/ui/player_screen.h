// SPDX-License-Identifier: GPL-3.0-or-later
// The player screen: frame, status box, track list, control panel and disc
// information, laid out afresh from the terminal's size on every call.
#pragma once

#include "database/disc_texts.h"
#include "drive/drive.h"

#include <cstdint>
#include <ctime>

// Erases stdscr and draws the whole player screen; does not refresh.
void draw_player_screen(const DiscDatabase &db, const DriveStatus &drive, int32_t play_mode);

// The control panel's first column on a terminal this wide: the left boxes
// grow on wide terminals.
int control_panel_left(int cols);

// Where the track list's cursor moves.
enum CursorMove {
    CURSOR_UP,
    CURSOR_DOWN,
    CURSOR_PAGE_UP,
    CURSOR_PAGE_DOWN,
    CURSOR_FIRST,
    CURSOR_LAST
};

// Moves the track list's cursor, from the playing track when it follows that:
// a page is the rows of one column of the list on the current screen. It
// stays where it was moved until 5 seconds after the last move.
void move_track_cursor(CursorMove move, const DriveStatus &drive);

// The track under the cursor, or -1 when the disc has no track.
int32_t track_under_cursor(const DriveStatus &drive);

// Puts the cursor back on the playing track at once.
void follow_playing_track();

// Reads the clock the cursor's rest is measured on through another function
// from now on (tests step it); nullptr puts the monotonic clock back.
void set_track_cursor_clock(int (*clock)(clockid_t, timespec *));
