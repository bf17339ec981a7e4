// The drive reached through SDL 1.2's CD-ROM interface: the only code that
// includes SDL_cdrom.h. It plays through the drive's own output and evens out
// what SDL and its drives do differently from one another.
#pragma once

#include "drive/drive.h"

extern const DriveBackend sdl_drive_backend;
