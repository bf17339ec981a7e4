// SPDX-License-Identifier: GPL-3.0-or-later
// The main loop: polls the drive, follows disc changes, carries out the play
// mode, redraws and dispatches keys until quit is set.
#pragma once

#include "drive/drive.h"
#include "ui/screen.h"

// Runs turns until quit is set at the end of one, with the player screen at
// the bottom of the screens; every turn polls the drive (unless an open
// screen holds it), moves the lookup on, serves the watched descriptors,
// draws the screens and hands the key read to the top one. When it ends the
// open screens are left, so an open editor saves.
void run_main_loop();

// The player screen: the status, the track list, the keys' hints.
extern const Screen player_screen;

inline constexpr int MAX_LOOP_WATCHES = 2;

// Has the loop's wait watch fd too, and calls service (when not nullptr) on
// every turn, woken by fd or not, before the screen is drawn: how another
// part (a desktop bus) gets its descriptor served without a thread. False
// when fd is negative or MAX_LOOP_WATCHES are watched already.
bool watch_in_main_loop(int fd, void (*service)());

// Stops watching fd.
void unwatch_in_main_loop(int fd);

// Whether this turn must draw the screens: always while a dialog is open;
// the player screen alone only when what it shows changed since it was last
// drawn, or a key or news came since. Remembers what it shows when true.
bool screens_need_drawing();

// Something came that the next drawing may show (a key, a descriptor woke
// the wait): the next turn draws.
void note_loop_news();

// The part of a turn before the redraw: status refresh, disc change, play mode.
void poll_drive();

// The loop's wait for a key, tenths/10 seconds at most. It also wakes as soon
// as a lookup's reply arrives or the drive has news, such as the end of a
// play that a repeat mode restarts.
int read_key_or_news(int tenths);

// Remembers the table of contents the texts in player.db belong to; called
// whenever they are loaded, so unsaved texts can be saved under their own disc.
void remember_loaded_disc(const Toc &toc);
