// SPDX-License-Identifier: GPL-3.0-or-later
// The track list editor: a full-screen loop for the disc and track titles that
// saves the disc's file when it is left. It owns the selection, which lasts
// for the whole run of the program.
#pragma once

#include "database/disc_texts.h"
#include "drive/drive.h"

#include <cstdint>

// Row of the list area that holds the selected track (0 = top row).
extern int32_t editor_cursor_row;

// Index of the track shown in the list's top row.
extern int32_t editor_scroll_offset;

// What L does in the editor: the application's lookup and choice of titles,
// which may replace the texts being edited. Nothing while unset.
extern void (*editor_lookup)();

// Runs the editor until the user leaves it, then saves the texts.
void run_track_editor(DiscDatabase &db, const DriveStatus &drive);

// Opens the editor on db, whose disc the drive's status describes; both must
// outlive the editor's stay open.
void open_track_editor(DiscDatabase &db, const DriveStatus &drive);

// Whether the editor is open.
bool track_editor_open();

// Erases stdscr and draws the open editor; does not refresh.
void draw_track_editor_screen();

// Obeys one key through the editor's commands of the command table.
void track_editor_key(int key);

// The editor's commands, as the command table runs them (the argument is
// unused); each does nothing while the editor is closed.
void editor_edit_track_title(int64_t);
void editor_edit_disc_title(int64_t);
void editor_clear_titles(int64_t);
void editor_move_down(int64_t);
void editor_move_up(int64_t);
void editor_look_up(int64_t);
void editor_leave(int64_t);
