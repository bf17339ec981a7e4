// The terminal: curses start-up and shut-down, the idle input mode, and the
// timed key read that paces the main loop.
#pragma once

// Starts curses in the idle input mode; exits with status 1 when it cannot.
void start_terminal();

// Blanks the screen and gives the terminal back.
void stop_terminal();

// Waits at most tenths/10 seconds for a key; ERR when none came.
int read_key(int tenths);

// True once the terminal has hung up: every read would fail at once, so the
// loops that wait for keys must end instead of spinning on a dead terminal.
bool terminal_lost();

// What the key reads give when no key came: curses' ERR.
inline constexpr int NO_KEY = -1;

// Like read_key, but the waiting is wait's: it gets the descriptor keys come
// from and tenths/10 seconds, and may return early for reasons of its own
// (NO_KEY then, unless a key came too).
int read_key_waiting(int tenths, void (*wait)(int input_fd, int timeout_ms));

// Puts the terminal back in the idle input mode: half-delay of half a second,
// no echo, keypad and leaveok on.
void set_idle_input_mode();
