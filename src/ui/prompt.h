// SPDX-License-Identifier: GPL-3.0-or-later
// The prompt: a boxed one-line input in the middle of the screen with its own
// line editing, as a screen over the one it was opened from, and the go-to-
// track question built on it.
#pragma once

#include "ui/screen.h"

// What the prompt calls once Enter has answered it, after it has closed;
// answer holds whole characters of the locale.
using PromptAnswered = void (*)(const char *answer);

// Opens the prompt under title for at most size-1 bytes. A title prompt opens
// with text, shown selected: a printable key first replaces it all, while the
// editing keys change it in place; nullptr or "" opens an empty line. Enter
// answers through answered; Escape and mivo's end close it with nothing
// answered. False, with nothing opened, when the screen has no room for the
// input line or size leaves none for a character.
bool open_prompt(const char *title, const char *text, int size, PromptAnswered answered);

// Whether the prompt is open.
bool prompt_open();

// The prompt's screen record.
extern const Screen prompt_screen;

// Asks "Go to which track?" and hands chosen the 0-based index typed (atoi's
// reading of the answer less one); nothing when it reads as -1 or the prompt
// is cancelled.
void prompt_track_number(void (*chosen)(int track));
