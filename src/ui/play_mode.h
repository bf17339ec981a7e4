// SPDX-License-Identifier: GPL-3.0-or-later
// The play modes: what the player does when a track or the disc ends, kept in
// the player's record and named on the player screen.
#pragma once

#include <cstdint>

enum PlayMode : int32_t {
    MODE_REPEAT_CD = 0,
    MODE_REPEAT_TRACK = 1,
    MODE_NORMAL = 2,
};
