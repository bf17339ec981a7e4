// The player screen: frame, status box, track list, control panel and disc
// information, laid out afresh from the terminal's size on every call.
#pragma once

#include "app/player.h"

// Erases stdscr and draws the whole player screen; does not refresh.
void draw_player_screen(const PlayerState &state);
