// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"
#include "app/commands.h"
#include "app/cover_flow.h"
#include "app/disc_titles.h"
#include "app/drive_target.h"
#include "app/library_messages.h"
#include "app/lookup_flow.h"
#include "app/main_loop.h"
#include "app/player.h"
#include "app/remote.h"
#include "database/database.h"
#include "database/disc_id.h"
#include "drive/drive.h"
#include "ui/message_line.h"
#include "ui/player_screen.h"
#include "ui/terminal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

PlayerState player;

// Whether titles were lost, and what the last such failure was, for the
// report at shut-down.
static bool titles_lost;
static char lost_titles[1024];

void handle_quit_signal(int) { player.quit = 1; }

// What the screens' own key loops ask to see a quit signal.
static bool quit_was_asked() { return player.quit != 0; }

int parse_drive_number(int argc, char **argv)
{
    return parse_command_line(argc, argv).drive_number;
}

// Start-up failures come before the terminal is taken over, so a plain line on
// standard error is all the user needs.
[[noreturn]] __attribute__((format(printf, 1, 2))) static void fail_start(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    exit(1);
}

void start_up(int argc, char **argv)
{
    use_player_commands();
    signal(SIGTERM, handle_quit_signal);
    signal(SIGINT, handle_quit_signal);
    // A terminal that hangs up ends mivo the same orderly way, so unsaved texts
    // still reach the disc's file.
    signal(SIGHUP, handle_quit_signal);
    set_quit_check(quit_was_asked);
    // A file-size limit then fails a save's write with EFBIG instead of ending
    // mivo with the terminal raw and a temporary file left.
    signal(SIGXFSZ, SIG_IGN);
    player.play_mode = MODE_NORMAL;
    start_lookups(argc, argv);
    start_covers();
    start_remote();

    DriveTarget target{};
    // Options may stand before the disc, so it is the first argument that is none.
    const char *disc = parse_command_line(argc, argv).disc;
    if (drive_target_for(disc, target) != 0)
        fail_start("The name of the disc image is too long: %s\n", disc);
    int opened = disc != nullptr ? drive_open(target) : drive_open_default();
    if (opened != 0)
        fail_start("%s\n", drive_error());
    if (disc != nullptr)
        current_drive_target = target;

    drive_refresh(player.drive);
    DiscText text{};
    drive_disc_text(text);
    load_disc_titles(player, player.drive.toc, text);
    say_unreadable_titles();
    remember_loaded_disc(player.drive.toc);
    player.disc_id = compute_disc_id(player.drive.toc);
}

// A title file that is there and could not be read shows as no titles; the
// user is told why, and that it will be left as it is.
void say_unreadable_titles()
{
    if (player.db.unreadable)
        show_message("Titles not read, file kept: %s", database_error());
}

void note_lost_titles()
{
    titles_lost = true;
    snprintf(lost_titles, sizeof lost_titles, "%s", database_error());
    show_message("Titles not saved: %s", lost_titles);
}

int shut_down()
{
    if (player.db.dirty && save_database(player.db, player.drive.toc) != 0)
        note_lost_titles();
    drive_close();
    if (!titles_lost)
        return 0;
    fprintf(stderr, "mivo: titles not saved: %s\n", lost_titles);
    return 1;
}

int run_player(int argc, char **argv)
{
    command_line = parse_command_line(argc, argv);
    int status = answer_command_line(command_line, stdout, stderr);
    if (status >= 0)
        return status;
    start_up(argc, argv);
    if (!start_terminal()) {
        // The drive's reader thread and sound output are running by now.
        drive_close();
        fputs("Error: Could not start ncurses\n", stderr);
        return 1;
    }
    // From here on the screen is up: libraries must not write over it.
    route_library_messages(getenv("MIVO_LOG"));
    draw_player_screen(player.db, player.drive, player.play_mode);
    if (!player.quit)
        run_main_loop();
    stop_terminal();
    restore_library_messages();
    return shut_down();
}
