// SPDX-License-Identifier: GPL-3.0-or-later
// The message line: one short sentence the player and the editor show over
// their bottom frame line, for failures the user must hear of (a save that did
// not reach the disk, a drive that refused a command, a lookup that found
// nothing). It holds one message at a time, in a fixed buffer.
#pragma once

#include <ctime>

inline constexpr int MESSAGE_SIZE = 256;

// Replaces the message; it shows until a few seconds have passed or a key
// clears it. printf-style, cut to MESSAGE_SIZE - 1 bytes.
void show_message(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The message to show now, or "" when there is none or it has expired.
const char *current_message();

// Clears the message at once (the user pressed a key); a note of progress stays.
void clear_message();

// A note of something in progress (a lookup), shown whenever no message is,
// until end_progress: keys do not clear it. printf-style, cut like a message.
void show_progress(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Takes the note of progress away.
void end_progress();

// Reads the clock the age of a message is measured on through another
// function from now on (tests step it); nullptr puts the monotonic clock back.
void set_message_clock(int (*clock)(clockid_t, timespec *));
