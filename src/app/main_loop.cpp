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
#include "ui/screen.h"
#include "ui/terminal.h"

#include <poll.h>

#include <cstring>

// What the player screen showed when it was last drawn with nothing over it.
// A turn after which all of it is the same, with no key taken and nothing
// woken the wait, leaves the terminal as it is: curses would send nothing for
// the same screen, yet building it costs more than the rest of an idle turn.
struct ShownScreen {
    bool valid;
    DriveStatus drive;
    int32_t play_mode;
    uint32_t db_dirty;
    int32_t cursor_track;
    LookupPhase lookup;
    uint64_t cover;
    int lines, cols;
    char message[MESSAGE_SIZE];
};

static struct {
    // The table of contents of the disc whose texts player.db holds. At a
    // disc change the status already describes the new disc, so unsaved texts
    // are saved with this copy, under the identity of the disc they belong to.
    Toc loaded_disc;
    // Other parts' descriptors the wait watches, and what serves them.
    struct {
        int fd;
        void (*service)();
    } watch[MAX_LOOP_WATCHES];
    int watch_count;
    ShownScreen shown;
    // The last wait ended on a key, a descriptor or a transfer, or the turn
    // took a key: what they brought may show in the next drawing.
    bool news;
} loop;

void remember_loaded_disc(const Toc &toc) { loop.loaded_disc = toc; }

bool watch_in_main_loop(int fd, void (*service)())
{
    if (fd < 0 || loop.watch_count == MAX_LOOP_WATCHES)
        return false;
    loop.watch[loop.watch_count++] = {fd, service};
    return true;
}

void unwatch_in_main_loop(int fd)
{
    for (int i = 0; i < loop.watch_count; i++)
        if (loop.watch[i].fd == fd) {
            loop.watch[i] = loop.watch[--loop.watch_count];
            return;
        }
}

static void service_watches()
{
    for (int i = 0; i < loop.watch_count; i++)
        if (loop.watch[i].service != nullptr)
            loop.watch[i].service();
}

static void draw_player() { draw_player_screen(player.db, player.drive, player.play_mode); }

const Screen player_screen = {"player", draw_player, dispatch_key, nullptr, SCREEN_OPAQUE};

static void follow_disc_change(uint64_t id)
{
    const DriveStatus &drive = player.drive;
    if (player.db.dirty) {
        // Unsaved edits of the previous disc go to that disc's file or are lost;
        // never to the new disc's. Lost ones are said at once and at the end.
        if (save_database(player.db, loop.loaded_disc) != 0)
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
        has_title_file = (load_disc_titles(player, drive.toc, text) == 0 &&
                          !database_is_empty(player.db, drive.toc)) ||
                         player.db.unreadable;
        say_unreadable_titles();
    }
    player.db.dirty = 0;
    remember_loaded_disc(drive.toc);
    player.disc_id = id;
    lookup_new_disc(has_title_file);
}

// Says on the message line what the drive met: the reason of a play that
// failed (a file deleted, cut short, replaced) as the error state arrives, and
// what went wrong without stopping the play.
static void tell_drive_news(int32_t state_before)
{
    if (player.drive.state == DRIVE_ERROR && state_before != DRIVE_ERROR && *drive_error())
        show_message("%s", drive_error());
    if (const char *notice = drive_notice())
        show_message("%s", notice);
}

void poll_drive()
{
    int32_t state_before = player.drive.state;
    drive_refresh(player.drive);
    tell_drive_news(state_before);
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

static uint64_t text_hash(const char *text)
{
    uint64_t hash = 14695981039346656037ull;
    for (; *text != '\0'; text++)
        hash = (hash ^ static_cast<unsigned char>(*text)) * 1099511628211ull;
    return hash;
}

void note_loop_news() { loop.news = true; }

bool screens_need_drawing()
{
    ShownScreen &shown = loop.shown;
    const bool news = loop.news;
    loop.news = false;
    if (top_screen() != &player_screen || screen_count() != 1) {
        // Dialogs are drawn every turn; what they covered is drawn anew.
        shown.valid = false;
        return true;
    }
    const char *message = current_message();
    const int32_t cursor_track = track_under_cursor(player.drive);
    const uint64_t cover = text_hash(current_cover());
    if (!news && shown.valid && shown.play_mode == player.play_mode &&
        shown.db_dirty == static_cast<uint32_t>(player.db.dirty) &&
        shown.cursor_track == cursor_track && shown.lookup == lookup_phase() &&
        shown.cover == cover && shown.lines == LINES && shown.cols == COLS &&
        strcmp(shown.message, message) == 0 &&
        memcmp(&shown.drive, &player.drive, sizeof shown.drive) == 0)
        return false;
    shown.valid = true;
    shown.drive = player.drive;
    shown.play_mode = player.play_mode;
    shown.db_dirty = static_cast<uint32_t>(player.db.dirty);
    shown.cursor_track = cursor_track;
    shown.lookup = lookup_phase();
    shown.cover = cover;
    shown.lines = LINES;
    shown.cols = COLS;
    snprintf(shown.message, sizeof shown.message, "%s", message);
    return true;
}

// The loop's own wait when no transfer runs: the revents of every descriptor
// tell whether anything came, a hung-up terminal included.
static short poll_descriptors(const int *fds, int count, int timeout_ms)
{
    pollfd watched[3 + MAX_LOOP_WATCHES];
    int n = 0;
    for (int i = 0; i < count; i++)
        if (fds[i] >= 0)
            watched[n++] = {fds[i], POLLIN, 0};
    if (poll(watched, static_cast<nfds_t>(n), timeout_ms) != 0)
        loop.news = true;
    // The input, when there is one, is the first descriptor polled.
    return fds[0] >= 0 ? watched[0].revents : static_cast<short>(-1);
}

// Waits for a key, a lookup's servers, the drive's news, the session bus or
// another part's descriptor; the bus's messages are read at once so that it
// never stays readable. Gives the input's revents when it polled it itself.
static short wait_for_any_news(int input_fd, int timeout_ms)
{
    // curses has just refreshed the screen: the cover goes over it now.
    if (top_screen() == &player_screen)
        draw_cover_view();
    int fds[3 + MAX_LOOP_WATCHES] = {input_fd, drive_news_fd(), remote_fd()};
    for (int i = 0; i < loop.watch_count; i++)
        fds[3 + i] = loop.watch[i].fd;
    const int count = 3 + loop.watch_count;
    short input = -1;
    // Both transfers share one libcurl handle: a lookup's wait serves a
    // cover's fetch too. What woke those waits is not told, so the next turn
    // draws.
    if (lookup_phase() == LOOKUP_RUNNING) {
        wait_for_lookup_or_input(fds, count, timeout_ms);
        loop.news = true;
    } else if (cover_fetching()) {
        wait_for_cover(fds, count, timeout_ms);
        loop.news = true;
    } else {
        input = poll_descriptors(fds, count, timeout_ms);
    }
    serve_remote();
    return input;
}

int read_key_or_news(int tenths)
{
    if (lookup_phase() != LOOKUP_RUNNING && drive_news_fd() < 0 && remote_fd() < 0 &&
        loop.watch_count == 0 && !cover_fetching() &&
        !(top_screen() == &player_screen && cover_view_pending()))
        return read_key(tenths);
    return read_key_waiting(tenths, wait_for_any_news);
}

void run_main_loop()
{
    if (!screen_is_open(player_screen))
        open_screen(player_screen);
    do {
        // The editor and the prompts hold the drive as it was when they opened;
        // a remote's requests wait for them too, since they act on that state.
        const bool holding = screens_hold_drive();
        if (!holding)
            poll_drive();
        advance_lookup();
        advance_cover();
        service_watches();
        // A remote's Quit ends the loop at once, without waiting for a key.
        if (!holding && run_remote())
            break;
        set_cover_image(current_cover());
        // Whatever stands over the player screen takes the cover's cells,
        // which curses only knows as blank once it is gone.
        if (top_screen() != &player_screen)
            cover_view_disturbed();
        if (screens_need_drawing())
            draw_screens();
        int key = read_key_or_news(5);
        if (key != ERR)
            note_loop_news();
        if (terminal_lost())
            player.quit = 1;
        // A message lasts until the user does something; what the key does
        // may leave a new one.
        if (key != ERR && key != KEY_RESIZE)
            clear_message();
        // The player's key of the turn a quit came in still counts; a dialog
        // over it gives up instead, its half-typed line dropped.
        if (!player.quit || top_screen() == &player_screen)
            screens_key(key);
        remote_saw_key(key);
        if (key == KEY_RESIZE || top_screen() != &player_screen)
            cover_view_disturbed();
    } while (!player.quit);
    // An open editor saves its texts as it is left.
    leave_all_screens();
}
