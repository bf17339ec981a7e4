// SPDX-License-Identifier: GPL-3.0-or-later
// Where the libraries' messages go. SDL, sdl12-compat and the decoders write
// to standard error whenever they like; while curses owns the terminal those
// lines would land in the middle of the screen. While the screen is up,
// standard error points at a log file (MIVO_LOG) or at /dev/null, and it is
// given back with the terminal, so messages at shut-down reach the user.
#pragma once

// Points standard error away from the terminal; the log is log_path when it
// is a non-empty string, /dev/null otherwise. -1 when nothing was moved.
int route_library_messages(const char *log_path);

// Puts the standard error that route_library_messages moved back in place;
// does nothing when it moved nothing.
void restore_library_messages();
