// SPDX-License-Identifier: GPL-3.0-or-later
// Remote control from the desktop: what the player tells the session bus each
// turn, and the bus's requests carried out as the matching keys' commands.
#pragma once

#include "desktop/mpris.h"

#include "drive/drive.h"

// Starts serving the session bus unless --no-mpris or MIVO_NO_MPRIS=1 says
// not to; without a bus to reach there is quietly no remote control.
void start_remote();

// Leaves the bus.
void stop_remote();

// The bus's descriptor for the loop's wait, or -1.
int remote_fd();

// Reads what the bus sent since the last look, without waiting; requests wait
// for run_remote. A bus that went away is said on the message line, once.
void serve_remote();

// Part of every turn of the main loop, after the drive's refresh: tells the
// bus the player's state, carries out its requests and tells it the outcome.
// True when a request was to quit.
bool run_remote();

// The key the loop just carried out, for the state only keys change (the
// volume, which is not read every turn).
void remote_saw_key(int key);

// What the remote is told about the player now (pure; for the tests).
MprisFacts remote_facts(const DriveStatus &drive, int32_t play_mode, const Volume &volume);

// The command of the table a request without an argument comes to, given the
// drive's state; REMOTE_NOTHING when the request moves nothing (Play while
// playing), REMOTE_OWN when it needs more than an id (seeks, volume, loop,
// open) or nothing of the table (raise).
inline constexpr int REMOTE_NOTHING = -1;
inline constexpr int REMOTE_OWN = -2;
int remote_request_command(MprisCommand command, int32_t drive_state);
