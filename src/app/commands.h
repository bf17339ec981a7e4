// SPDX-License-Identifier: GPL-3.0-or-later
// The player's single-key commands.
#pragma once

#include "app/player.h"

// Carries out the command bound to key, if any; ERR and unbound keys do nothing.
void dispatch_key(int key);

// Carries out the command bound to key as a remote control asks for it: the
// same as the key, whatever box is open on the screen.
void run_key_command(int key);

// Starts playback at (track, frame): that track alone in Repeat Track, the rest
// of the disc otherwise.
void play_from(int track, int frame);

enum VolumeStep { VOLUME_DOWN = 0, VOLUME_UP = 1 };

// Moves the drive's output volume on channels 0 and 1 by one step of 5.
void step_volume(VolumeStep step);

// The two dialogs that commands open, which take over the terminal.
struct CommandDialogs {
    int (*prompt_track_number)();
    void (*run_track_editor)(DiscDatabase &db, const DriveStatus &drive);
};

// Opens other dialogs from now on, so commands can run without a screen;
// nullptr puts the real ones back. The record must outlive its use.
void set_command_dialogs(const CommandDialogs *dialogs);
