// SPDX-License-Identifier: GPL-3.0-or-later
// The drive reached through SDL 1.2's CD-ROM interface: the only code that
// includes SDL_cdrom.h. It plays through the drive's own output and evens out
// what SDL and its drives do differently from one another.
#pragma once

#include "drive/drive.h"

extern const DriveBackend sdl_drive_backend;

// True when the last open failed because SDL reports no CD drive at all (as
// sdl12-compat always does), so another way to a drive may be tried.
bool sdl_found_no_drives();
