// The prompt dialog: a boxed one-line input in the middle of the screen, and
// the go-to-track question built on it.
#pragma once

// Reads one line of at most size-1 characters into buffer under title; 0 when a
// line was read, -1 otherwise. Leaves the terminal in the idle input mode.
int prompt_string(char *buffer, int size, const char *title);

// Asks "Go to which track?"; the 0-based track index typed, or -1.
int prompt_track_number();
