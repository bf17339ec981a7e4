// SPDX-License-Identifier: GPL-3.0-or-later
// The screens: each one a record of what draws it and what takes its keys,
// over state of its own (the player, the title editor, a prompt, the choice
// of lookup results, the key help). The open ones form a small stack; the
// main loop draws them and hands each key to the top one, so no screen waits
// for keys itself.
#pragma once

#include <cstdint>

enum ScreenFlags : uint32_t {
    SCREEN_OPAQUE = 1,      // draws the whole terminal: nothing below shows
    SCREEN_HOLDS_DRIVE = 2, // while open the drive is not polled nor the play mode carried out
};

struct Screen {
    const char *name;
    // Draws the screen over what the screens below drew; does not refresh.
    void (*draw)();
    // Takes one key the user typed (KEY_RESIZE too, never ERR).
    void (*key)(int key);
    // Called when the screen is closed because mivo ends; nullptr: nothing
    // to do. A screen that closes itself does its own ending.
    void (*leave)();
    uint32_t flags;
};

inline constexpr int MAX_OPEN_SCREENS = 8;

// Puts screen on top; false when it is open already or the stack is full.
bool open_screen(const Screen &screen);

// Closes screen and every screen above it, without their leave functions;
// nothing when it is not open.
void close_screen(const Screen &screen);

// Closes every screen from the top down, each through its leave function.
void leave_all_screens();

bool screen_is_open(const Screen &screen);

// How many screens are open.
int screen_count();

// The screen keys go to, or nullptr when none is open.
const Screen *top_screen();

// Whether any open screen holds the drive.
bool screens_hold_drive();

// Draws the open screens from the topmost opaque one up.
void draw_screens();

// Hands key to the top screen; ERR goes nowhere.
void screens_key(int key);
