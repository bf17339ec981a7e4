// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/message_line.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

// How long a message stays up when no key clears it.
static constexpr double MESSAGE_SECONDS = 5.0;

static struct {
    char message[MESSAGE_SIZE];
    timespec shown_at;
    char progress[MESSAGE_SIZE];
    int (*read_clock)(clockid_t, timespec *);
} line = {{}, {}, {}, clock_gettime};

void set_message_clock(int (*clock)(clockid_t, timespec *))
{
    line.read_clock = clock != nullptr ? clock : clock_gettime;
}

// Seconds on the monotonic clock, which a change of the wall clock cannot move.
static double seconds_since(const timespec &then)
{
    timespec now{};
    line.read_clock(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - then.tv_sec) +
           static_cast<double>(now.tv_nsec - then.tv_nsec) / 1e9;
}

void show_message(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const int written = vsnprintf(line.message, sizeof line.message, format, args);
    va_end(args);
    if (written < 0)
        line.message[0] = '\0';
    line.read_clock(CLOCK_MONOTONIC, &line.shown_at);
}

const char *current_message()
{
    if (line.message[0] != '\0' && seconds_since(line.shown_at) >= MESSAGE_SECONDS)
        line.message[0] = '\0';
    return line.message[0] != '\0' ? line.message : line.progress;
}

void clear_message() { line.message[0] = '\0'; }

void show_progress(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const int written = vsnprintf(line.progress, sizeof line.progress, format, args);
    va_end(args);
    if (written < 0)
        line.progress[0] = '\0';
}

void end_progress() { line.progress[0] = '\0'; }
