// SPDX-License-Identifier: GPL-3.0-or-later
// The disc the command line names: a drive number for SDL's CD-ROM interface,
// a disc image, or a CD drive's device, the last two played through the sound
// card.
#pragma once

#include "drive/drive.h"

// Reads the disc argument (nullptr when none was given). A whole number, as
// strtol with base 0 reads it to its end, is an SDL drive number; otherwise a
// name of an existing regular file is a disc image, that of a block device a
// drive read digitally; anything else is read as a
// drive number the old way, so "abc" is drive 0. -1 when the file's name does
// not fit a DriveTarget.
int drive_target_for(const char *argument, DriveTarget &target);

// The target the drive was last opened with (a disc image's sheet names the
// rip's folder); kind TARGET_SDL_NUMBER with no path for the default drive.
extern DriveTarget current_drive_target;
