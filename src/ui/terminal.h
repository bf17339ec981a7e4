// SPDX-License-Identifier: GPL-3.0-or-later
// The terminal: curses start-up and shut-down, the idle input mode, the timed
// key reads that pace the loops, and suspending mivo at the user's request.
#pragma once

#include <curses.h>

// Starts curses in the idle input mode, with colours where the terminal has
// them and NO_COLOR is unset or empty; false when it cannot, which includes
// standard input that is no terminal and a terminal that cannot place the
// cursor, so the caller can close what it opened before it ends. Takes SIGTSTP
// first, so curses does not: the handler only notes the request, and the next
// key read leaves curses, stops mivo (unless no shell could continue it) and
// takes the screen back.
bool start_terminal();

// Blanks the screen and gives the terminal back.
void stop_terminal();

// Waits at most tenths/10 seconds for a key; ERR when none came. After a
// suspend the screen has been given back and taken again: KEY_RESIZE then
// tells the caller to draw everything anew.
int read_key(int tenths);

// True once the terminal has hung up: every read would fail at once, so the
// loops that wait for keys must end instead of spinning on a dead terminal.
bool terminal_lost();

// What the key reads give when no key came: curses' ERR.
inline constexpr int NO_KEY = -1;

// Like read_key, but the waiting is wait's: it gets the descriptor keys come
// from and tenths/10 seconds, and may return early for reasons of its own
// (NO_KEY then, unless a key came too). It returns the descriptor's poll
// revents when it polled it, else -1, and the terminal is looked at again.
int read_key_waiting(int tenths, short (*wait)(int input_fd, int timeout_ms));

// Puts the terminal back in the idle input mode: half-delay of half a second,
// no echo, keypad and leaveok on.
void set_idle_input_mode();

// Carries out a suspend asked for since the last read; true when it did.
bool suspend_if_requested();
