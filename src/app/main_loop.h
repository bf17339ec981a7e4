// SPDX-License-Identifier: GPL-3.0-or-later
// The main loop: polls the drive, follows disc changes, carries out the play
// mode, redraws and dispatches keys until quit is set.
#pragma once

#include "drive/drive.h"

// Runs turns until quit is set at the end of one.
void run_main_loop();

// The part of a turn before the redraw: status refresh, disc change, play mode.
void poll_drive();

// The loop's wait for a key, tenths/10 seconds at most. It also wakes as soon
// as a lookup's reply arrives or the drive has news, such as the end of a
// play that a repeat mode restarts.
int read_key_or_news(int tenths);

// Remembers the table of contents the texts in player.db belong to; called
// whenever they are loaded, so unsaved texts can be saved under their own disc.
void remember_loaded_disc(const Toc &toc);
