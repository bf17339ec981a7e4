// SPDX-License-Identifier: GPL-3.0-or-later
// The player screen: frame, status box, track list, control panel and disc
// information, laid out afresh from the terminal's size on every call.
#pragma once

#include "database/disc_texts.h"
#include "drive/drive.h"

#include <cstdint>

// Erases stdscr and draws the whole player screen; does not refresh.
void draw_player_screen(const DiscDatabase &db, const DriveStatus &drive, int32_t play_mode);
