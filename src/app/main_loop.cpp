// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/main_loop.h"

#include "app/disc_titles.h"

#include "app/commands.h"
#include "app/cover_flow.h"
#include "app/lookup_flow.h"
#include "app/player.h"
#include "app/remote.h"
#include "database/database.h"
#include "database/disc_id.h"
#include "drive/drive.h"
#include "lookup/lookup.h"
#include "ui/message_line.h"
#include "ui/player_screen.h"
#include "ui/cover_view.h"
#include "ui/key_help.h"
#include "ui/command.h"
#include "ui/terminal.h"

// The table of contents of the disc whose texts player.db holds. At a disc
// change the status already describes the new disc, so unsaved texts are saved
// with this copy, under the identity of the disc they belong to.
static Toc loaded_disc;

void remember_loaded_disc(const Toc &toc) { loaded_disc = toc; }

static void follow_disc_change(uint64_t id)
{
    const DriveStatus &drive = player.drive;
    if (player.db.dirty) {
        // Unsaved edits of the previous disc go to that disc's file or are lost;
        // never to the new disc's. Lost ones are said at once and at the end.
        if (save_database(player.db, loaded_disc) != 0)
            note_lost_titles();
        else if (database_conflict_note()[0] != '\0')
            show_message("%s", database_conflict_note());
    }
    bool has_title_file = false;
    if (drive.state <= DRIVE_NO_DISC) {
        clear_database(player.db);
    } else {
        DiscText text{};
        drive_disc_text(text);
        // A file that is there but cannot be read still holds the user's
        // texts; one of empty fields (an editor visit saves) holds none.
        has_title_file =
            (load_disc_titles(player, drive.toc, text) == 0 && !database_is_empty(player.db)) ||
            player.db.unreadable;
        say_unreadable_titles();
    }
    player.db.dirty = 0;
    remember_loaded_disc(drive.toc);
    player.disc_id = id;
    lookup_new_disc(has_title_file);
}

void poll_drive()
{
    drive_refresh(player.drive);
    // What went wrong without stopping the drive, said once.
    if (const char *notice = drive_notice())
        show_message("%s", notice);
    uint64_t id = compute_disc_id(player.drive.toc);
    if (id != player.disc_id)
        follow_disc_change(id);
    if (player.drive.state == DRIVE_STOPPED) {
        if (player.play_mode == MODE_REPEAT_TRACK)
            drive_play(player.drive.restart_track, 0, SPAN_ONE_TRACK);
        else if (player.play_mode == MODE_REPEAT_CD)
            drive_play(0, 0, SPAN_TO_END);
        drive_refresh(player.drive);
    }
}

// Whether the player screen is what the terminal shows while the loop waits;
// dialogs wait through the same calls with screens of their own.
static bool waiting_on_player_screen;

// Waits for a key, a lookup's servers, the drive's news or the session bus,
// whose messages are read at once so that it never stays readable.
static void wait_for_any_news(int input_fd, int timeout_ms)
{
    // curses has just refreshed the screen: the cover goes over it now.
    if (waiting_on_player_screen)
        draw_cover_view();
    const int fds[] = {input_fd, drive_news_fd(), remote_fd()};
    // Both transfers share one libcurl handle: a lookup's wait serves a
    // cover's fetch too.
    if (cover_fetching() && lookup_phase() != LOOKUP_RUNNING)
        wait_for_cover(fds, 3, timeout_ms);
    else
        wait_for_lookup_or_input(fds, 3, timeout_ms);
    serve_remote();
}

int read_key_or_news(int tenths)
{
    if (lookup_phase() != LOOKUP_RUNNING && drive_news_fd() < 0 && remote_fd() < 0 &&
        !cover_fetching() && !(waiting_on_player_screen && cover_view_pending()))
        return read_key(tenths);
    return read_key_waiting(tenths, wait_for_any_news);
}

void run_main_loop()
{
    do {
        poll_drive();
        // A lookup that ends may have had its choice drawn over the screen.
        const bool looking = lookup_phase() != LOOKUP_IDLE;
        advance_lookup();
        if (looking && lookup_phase() == LOOKUP_IDLE)
            cover_view_disturbed();
        advance_cover();
        // A remote's Quit ends the loop at once, without waiting for a key.
        if (run_remote())
            break;
        draw_player_screen(player.db, player.drive, player.play_mode);
        set_cover_image(current_cover());
        // The key help's box stands over the cover's place while it is open.
        waiting_on_player_screen = !key_help_open();
        int key = read_key_or_news(5);
        waiting_on_player_screen = false;
        const bool help_was_open = key_help_open();
        if (terminal_lost())
            player.quit = 1;
        // A message lasts until the user does something; what the key does
        // may leave a new one.
        if (key != ERR && key != KEY_RESIZE)
            clear_message();
        dispatch_key(key);
        remote_saw_key(key);
        // Boxes and dialogs that closed, and a screen drawn afresh, took the
        // cover's cells; curses only knows them as blank.
        const Command *command = command_for_key(PLACE_PLAYER, key);
        if (key == KEY_RESIZE || help_was_open ||
            (command != nullptr && (command->id == CMD_GO_TO || command->id == CMD_EDIT_TITLES ||
                                    command->id == CMD_LOOK_UP)))
            cover_view_disturbed();
    } while (!player.quit);
}
