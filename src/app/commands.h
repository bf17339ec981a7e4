// SPDX-License-Identifier: GPL-3.0-or-later
// The player's commands: the table of every command (keys, hints, help,
// when it applies, what runs it) and the ways to run one, by key or by id.
#pragma once

#include "app/player.h"
#include "ui/command.h"

#include <cstdint>

// Carries out the player command bound to key, if any; ERR and unbound keys do nothing.
void dispatch_key(int key);

// How a remote control runs a command: by its id (ui/command.h), with the
// argument the command takes (seek-by: frames, seek-to: a frame of the
// current track, set-volume: 0 to 255, set-play-mode: a PlayMode,
// play-track: a 0-based index; ignored by the others), from the main loop's
// thread. Does what the command's key does, the message line included;
// command_applies tells beforehand whether it has anything to act on.
// Returns 0 when the command was run, -1 for an unknown id.
int run_command(CommandId id, int64_t argument);

// The table of every command, in the order the help lists them.
const Command *player_commands();
int player_command_count();

// Hands the table to the screens (set_commands); start-up calls it first.
void use_player_commands();

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
