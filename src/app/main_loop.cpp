// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/main_loop.h"

#include "app/disc_titles.h"

#include "app/commands.h"
#include "app/lookup_flow.h"
#include "app/player.h"
#include "database/database.h"
#include "database/disc_id.h"
#include "drive/drive.h"
#include "lookup/lookup.h"
#include "ui/message_line.h"
#include "ui/player_screen.h"
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

// Waits for a key, a lookup's servers or the drive's news.
static void wait_for_any_news(int input_fd, int timeout_ms)
{
    const int fds[] = {input_fd, drive_news_fd()};
    wait_for_lookup_or_input(fds, 2, timeout_ms);
}

int read_key_or_news(int tenths)
{
    if (lookup_phase() != LOOKUP_RUNNING && drive_news_fd() < 0)
        return read_key(tenths);
    return read_key_waiting(tenths, wait_for_any_news);
}

void run_main_loop()
{
    do {
        poll_drive();
        advance_lookup();
        draw_player_screen(player.db, player.drive, player.play_mode);
        int key = read_key_or_news(5);
        if (terminal_lost())
            player.quit = 1;
        // A message lasts until the user does something; what the key does
        // may leave a new one.
        if (key != ERR && key != KEY_RESIZE)
            clear_message();
        dispatch_key(key);
    } while (!player.quit);
}
