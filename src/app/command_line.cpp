// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"

#include "app/commands.h"
#include "mivo_version.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

CommandLine command_line;

// A leading '-' makes an option only before a letter or a second '-', so that
// negative drive numbers ("-3") still reach the drive as they always have.
static bool is_option(const char *argument)
{
    return argument[0] == '-' &&
           (isalpha(static_cast<unsigned char>(argument[1])) || argument[1] == '-');
}

CommandLine parse_command_line(int argc, char **argv)
{
    CommandLine line{};
    line.action = ACTION_RUN;
    bool options_ended = false;
    for (int i = 1; i < argc; i++) {
        const char *argument = argv[i];
        if (!options_ended && is_option(argument)) {
            if (strcmp(argument, "--") == 0) {
                options_ended = true;
            } else if (strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0) {
                if (line.action == ACTION_RUN)
                    line.action = ACTION_HELP;
            } else if (strcmp(argument, "--version") == 0 || strcmp(argument, "-V") == 0) {
                if (line.action == ACTION_RUN)
                    line.action = ACTION_VERSION;
            } else if (strcmp(argument, "--no-lookup") == 0) {
                line.lookup_disabled = true;
            } else if (strcmp(argument, "--no-mpris") == 0) {
                line.mpris_disabled = true;
            } else {
                // A mistyped option must not start the player on a guessed drive.
                line.action = ACTION_BAD_OPTION;
                line.bad_option = argument;
                return line;
            }
        } else if (line.disc == nullptr) {
            line.disc = argument;
            line.drive_number = static_cast<int32_t>(strtol(argument, nullptr, 0));
        }
    }
    return line;
}

// The commands of one screen in brief, from the command table: "Keys: P start
// playing, U Space pause or resume, ...", wrapped to 76 columns.
static void print_keys(FILE *out, CommandPlace place, const char *heading)
{
    constexpr int WIDTH = 76;
    int used = fprintf(out, "%s", heading);
    bool first = true;
    for (int i = 0; i < player_command_count(); i++) {
        const Command &c = player_commands()[i];
        if (c.place != place || c.keys[0] == 0)
            continue;
        char entry[128];
        int n = snprintf(entry, sizeof entry, "%s %c%s", c.key_names,
                         tolower(static_cast<unsigned char>(c.help[0])), c.help + 1);
        if (n < 0)
            continue;
        if (!first)
            used += fprintf(out, ",");
        if (used + 1 + n > WIDTH) {
            fputc('\n', out);
            used = 0;
        } else {
            fputc(' ', out);
            used++;
        }
        used += fprintf(out, "%s", entry);
        first = false;
    }
    fputs(".\n", out);
}

void print_usage(FILE *out)
{
    fputs("Usage: mivo [OPTION]... [DISC]\n"
          "Plays an audio CD in a full-screen terminal player.\n"
          "\n"
          "DISC names what to play:\n"
          "  a drive number   0 (the default), 1, ...; 0x starts a hexadecimal number\n"
          "  an image file    a CUE sheet such as album.cue, with its audio files\n"
          "  a device         a CD drive's device such as /dev/sr0\n"
          "\n"
          "Options:\n"
          "  -h, --help       show this help and exit\n"
          "  -V, --version    show the version and exit\n"
          "      --no-lookup  look up no disc titles online unless asked to\n"
          "      --no-mpris   offer no remote control on the desktop's session bus\n"
          "\n",
          out);
    print_keys(out, PLACE_PLAYER, "Keys:");
    print_keys(out, PLACE_EDITOR, "In the title editor:");
    fputs("\nTitles are kept per disc in ~/.kel; see mivo(1).\n", out);
}

int answer_command_line(const CommandLine &line, FILE *out, FILE *err)
{
    switch (line.action) {
    case ACTION_HELP:
        print_usage(out);
        return fflush(out) == 0 ? 0 : 1;
    case ACTION_VERSION:
        fputs(MIVO_NAME_VERSION "\n", out);
        return fflush(out) == 0 ? 0 : 1;
    case ACTION_BAD_OPTION:
        fprintf(err, "mivo: unknown option '%s' (mivo --help lists the options)\n",
                line.bad_option);
        return EXIT_USAGE;
    case ACTION_RUN:
        break;
    }
    return -1;
}
