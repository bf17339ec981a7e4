// SPDX-License-Identifier: GPL-3.0-or-later
// The command line: which disc mivo plays, the options that change how it runs,
// and the requests (help, version) that print something and end at once.
#pragma once

#include <cstdint>
#include <cstdio>

enum CommandLineAction : int32_t {
    ACTION_RUN = 0,        // start the player
    ACTION_HELP = 1,       // print the usage, exit 0
    ACTION_VERSION = 2,    // print the version, exit 0
    ACTION_BAD_OPTION = 3, // print one line naming the option, exit 2
};

// Exit status for a command line mivo does not understand.
inline constexpr int EXIT_USAGE = 2;

struct CommandLine {
    CommandLineAction action;
    // The first argument that is not an option, as typed: a drive number, a
    // CUE sheet or a drive's device; nullptr when none was given.
    const char *disc;
    // The disc argument read as a drive number (strtol, base 0); 0 without one.
    int32_t drive_number;
    // --no-lookup: no title is fetched online without being asked for.
    bool lookup_disabled;
    // --no-mpris: mivo offers no remote control on the session bus.
    bool mpris_disabled;
    // The option that was not understood, for ACTION_BAD_OPTION.
    const char *bad_option;
};

// The command line this run of mivo was started with.
extern CommandLine command_line;

// Reads argv without printing anything. An argument that starts with '-' and
// then a letter or '-' is an option; everything else, "-3" included, is the
// disc, of which only the first counts.
CommandLine parse_command_line(int argc, char **argv);

// Writes the usage, the ways to name a disc and the keys in brief.
void print_usage(FILE *out);

// Carries out help, version and a bad option: prints to out or err and returns
// the exit status; returns -1 when the player is to start.
int answer_command_line(const CommandLine &line, FILE *out, FILE *err);
