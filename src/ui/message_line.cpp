// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/message_line.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

// How long a message stays up when no key clears it.
static constexpr double MESSAGE_SECONDS = 5.0;

static char message[MESSAGE_SIZE];
static timespec shown_at;
static int (*read_clock)(clockid_t, timespec *) = clock_gettime;

void set_message_clock(int (*clock)(clockid_t, timespec *))
{
    read_clock = clock != nullptr ? clock : clock_gettime;
}

// Seconds on the monotonic clock, which a change of the wall clock cannot move.
static double seconds_since(const timespec &then)
{
    timespec now{};
    read_clock(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - then.tv_sec) +
           static_cast<double>(now.tv_nsec - then.tv_nsec) / 1e9;
}

void show_message(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const int written = vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (written < 0)
        message[0] = '\0';
    read_clock(CLOCK_MONOTONIC, &shown_at);
}

const char *current_message()
{
    if (message[0] != '\0' && seconds_since(shown_at) >= MESSAGE_SECONDS)
        message[0] = '\0';
    return message;
}

void clear_message() { message[0] = '\0'; }
