#include "app/command_line.h"
#include "app/main_loop.h"
#include "app/player.h"
#include "database/database.h"
#include "database/disc_id.h"
#include "drive/drive.h"
#include "ui/player_screen.h"
#include "ui/terminal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

PlayerState player;

void handle_quit_signal(int) { player.quit = 1; }

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

static void start_up(int argc, char **argv)
{
    signal(SIGTERM, handle_quit_signal);
    signal(SIGINT, handle_quit_signal);
    // A terminal that hangs up ends mivo the same orderly way, so unsaved texts
    // still reach the disc's file.
    signal(SIGHUP, handle_quit_signal);
    player.play_mode = MODE_NORMAL;

    DriveTarget target{};
    target.kind = TARGET_SDL_NUMBER;
    target.number = parse_drive_number(argc, argv);
    if (drive_open(target) != 0)
        fail_start("%s\n", drive_error());

    drive_refresh(player.drive);
    load_database(player, player.drive.toc);
    remember_loaded_disc(player.drive.toc);
    start_terminal();
    draw_player_screen(player);
    player.disc_id = compute_disc_id(player.drive.toc);
}

static void shut_down()
{
    stop_terminal();
    if (player.db.dirty)
        save_database(player.db, player.drive.toc);
    drive_close();
}

int run_player(int argc, char **argv)
{
    command_line = parse_command_line(argc, argv);
    int status = answer_command_line(command_line, stdout, stderr);
    if (status >= 0)
        return status;
    start_up(argc, argv);
    if (!player.quit)
        run_main_loop();
    shut_down();
    return 0;
}
