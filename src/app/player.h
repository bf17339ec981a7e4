// SPDX-License-Identifier: GPL-3.0-or-later
// The player's one global record and start-up and shut-down of the whole
// program.
#pragma once

#include "database/disc_texts.h"
#include "drive/drive.h"
#include "ui/play_mode.h"

#include <csignal>
#include <cstdint>

struct PlayerState {
    volatile sig_atomic_t quit;
    int32_t play_mode;
    DiscDatabase db;
    // What the last refresh of the drive saw.
    DriveStatus drive;
    uint64_t disc_id;
};

// The single instance; zero until start-up fills it.
extern PlayerState player;

// Asks the main loop to end after its current turn; safe in a signal handler.
void handle_quit_signal(int signal_number);

// Reads the drive number the way strtol base 0 does; no argument means drive 0.
int parse_drive_number(int argc, char **argv);

// Start-up up to the terminal: signal handlers, the drive and the disc's
// titles. A failure ends the process with status 1 and one line on standard
// error.
void start_up(int argc, char **argv);

// Shut-down once the terminal is given back: the last save of unsaved titles,
// then the drive. Returns the exit status: 1, after one line on standard error
// naming the file and the reason, when titles did not reach their file.
int shut_down();

// Notes a failed save of titles that no later save will retry (a disc change
// moved on from them), for the message line now and shut_down's report.
void note_lost_titles();

// Tells on the message line that the disc's title file is there but could not
// be read (so no save will replace it), after a load that found it so.
void say_unreadable_titles();

// Runs the whole program: start-up, the main loop, shut-down. Returns the exit
// status; start-up failures end the process with status 1 themselves.
int run_player(int argc, char **argv);
