// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/player_screen.h"

#include "database/disc_id.h"
#include "drive/drive.h"
#include "mivo_version.h"
#include "ui/command.h"
#include "ui/draw.h"
#include "ui/key_help.h"
#include "ui/play_mode.h"

#include <curses.h>

#include <cstdint>
#include <cstring>

static Rect screen_rect;
static Rect status_rect;
static Rect track_list_rect;
static Rect disc_info_rect;
static Rect control_panel_rect;

static constexpr attr_t FRAME_ATTR = COLOR_PAIR(4);
static constexpr attr_t BOX_TITLE_ATTR = A_BOLD | COLOR_PAIR(4);
static constexpr attr_t BANNER_ATTR = A_BOLD | COLOR_PAIR(7);
static constexpr attr_t BRIGHT_HINT_ATTR = A_BOLD | COLOR_PAIR(3);
static constexpr attr_t DIM_HINT_ATTR = A_DIM;
static constexpr attr_t PLAYING_TRACK_ATTR = A_BOLD;
static constexpr attr_t TITLE_ATTR = A_BOLD | COLOR_PAIR(1);

static constexpr int32_t FRAMES_PER_MINUTE = 60 * FRAMES_PER_SECOND;

// What the status box says for the drive's status.
static const char *status_text(const DriveStatus &drive)
{
    if (drive.state == DRIVE_NO_DISC && drive.reading)
        return "Reading disc";
    switch (drive.state) {
    case DRIVE_ERROR:
        return "Error";
    case DRIVE_NO_DISC:
        return "No Audio";
    case DRIVE_STOPPED:
        return "Stopped";
    case DRIVE_PLAYING:
        return "Playing";
    case DRIVE_PAUSED:
        return "Paused";
    default:
        return "(Unknown)";
    }
}

// What the status box says for the play mode.
static const char *play_mode_text(int32_t play_mode)
{
    switch (play_mode) {
    case MODE_REPEAT_CD:
        return "Repeat CD";
    case MODE_REPEAT_TRACK:
        return "Repeat Track";
    case MODE_NORMAL:
        return "Normal";
    default:
        return "(Unknown)";
    }
}

// Sets the layout from the terminal's size, which may have changed since the
// last redraw.
static void lay_out_screen()
{
    set_rect(screen_rect, 0, 0, getmaxy(stdscr), getmaxx(stdscr));
    set_rect(status_rect, 1, 1, 8, 28);
    set_rect(track_list_rect, status_rect.bottom + 1, 1, screen_rect.bottom - 1, 28);
    set_rect(disc_info_rect, screen_rect.bottom - 5, status_rect.right + 1, screen_rect.bottom - 1,
             screen_rect.right - 1);
    set_rect(control_panel_rect, 1, status_rect.right + 1, disc_info_rect.top,
             screen_rect.right - 1);
}

// The border and the dividers that split it into four boxes.
static void draw_frame()
{
    wattr_on(stdscr, FRAME_ATTR, nullptr);
    draw_border(stdscr);
    draw_vdivider(stdscr, screen_rect.top, status_rect.right, screen_rect.height);
    draw_hdivider(stdscr, disc_info_rect.top - 1, disc_info_rect.left - 1,
                  disc_info_rect.width + 2);
    draw_hdivider(stdscr, status_rect.bottom, status_rect.left - 1, status_rect.width + 2);
    wattr_off(stdscr, FRAME_ATTR, nullptr);
}

// A box's title on the frame line above it.
static void draw_box_title(const Rect &box, const char *title)
{
    draw_clipped(stdscr, box.top - 1, box.left + 1, title, box.width - 3);
}

// Prints "mm:ss" for a count of frames at (row, col).
static void draw_time(int row, int col, int32_t frames)
{
    mvprintw(row, col, "%02d:%02d", frames / FRAMES_PER_MINUTE, frames / FRAMES_PER_SECOND % 60);
}

// Status, play mode, current track, position within it and the disc's length.
static void draw_status_box(const DriveStatus &drive, int32_t play_mode)
{
    const int label_col = status_rect.left + 1;
    const int value_col = status_rect.left + 13;
    const int top = status_rect.top;
    draw_clipped(stdscr, top + 1, label_col, "Status:", 12);
    draw_clipped(stdscr, top + 2, label_col, "Play mode:", 12);
    draw_clipped(stdscr, top + 3, label_col, "Track:", 12);
    draw_clipped(stdscr, top + 4, label_col, "Time:", 12);
    draw_clipped(stdscr, top + 5, label_col, "CD:", 12);
    draw_clipped(stdscr, top + 1, value_col, status_text(drive), status_rect.width - 13);
    draw_clipped(stdscr, top + 2, value_col, play_mode_text(play_mode), status_rect.width - 13);
    // track + 1 in wider arithmetic: a drive's garbage must not overflow.
    mvprintw(top + 3, value_col, "%lld of %d", static_cast<long long>(drive.track) + 1,
             drive.toc.count);
    draw_time(top + 4, value_col, drive.frame);
    draw_time(top + 5, value_col, disc_length_frames(drive.toc));
    // Audio that mivo reads and sends to the sound card says so; a drive that
    // plays through its own analog output keeps the box as it always was.
    if (strcmp(drive_backend_name(), "digital") == 0) {
        draw_clipped(stdscr, top + 6, label_col, "Audio:", 12);
        draw_clipped(stdscr, top + 6, value_col, "digital", status_rect.width - 13);
    }
}

// Two columns of track entries, scrolled so that the current track stays in
// view; the current track is bold while it plays.
static void draw_track_list(const DriveStatus &drive)
{
    const int rows_per_column = track_list_rect.height - 1;
    if (rows_per_column < 1)
        return;
    const int count = usable_track_count(drive.toc);
    if (count == 0)
        return;
    const int status = drive.state;
    const int capacity = 2 * rows_per_column;
    int first = 0;
    int last = count - 1;
    if (count > capacity) {
        // A current track outside the disc scrolls like its nearest track;
        // clamping it first keeps the sums below from overflowing.
        int current = drive.track;
        if (current < 0)
            current = 0;
        if (current > count - 1)
            current = count - 1;
        first = current - rows_per_column;
        if (first < 0)
            first = 0;
        last = first + capacity - 1;
        if (last > count - 1) {
            last = count - 1;
            first = count - capacity;
        }
    }
    for (int i = first; i <= last; i++) {
        const int k = i - first;
        const int row = track_list_rect.top + 1 + k % rows_per_column;
        const int col = track_list_rect.left + (k < rows_per_column ? 2 : 14);
        const int32_t length = static_cast<int32_t>(drive.toc.track[i].length);
        const bool playing = status == DRIVE_PLAYING && i == drive.track;
        if (playing)
            wattr_on(stdscr, PLAYING_TRACK_ATTR, nullptr);
        mvprintw(row, col, "%02u - %02u:%02u", static_cast<unsigned>(i + 1),
                 static_cast<unsigned>(length / FRAMES_PER_MINUTE),
                 static_cast<unsigned>(length / FRAMES_PER_SECOND % 60));
        if (playing)
            wattr_off(stdscr, PLAYING_TRACK_ATTR, nullptr);
    }
}

// The rows of the panel whose hints are drawn whatever the box's height, as
// the panel has always had them; hints further down need the room.
static constexpr int ALWAYS_SHOWN_ROWS = 11;
static constexpr int NOTE_ROW = 15;

// One key hint in its own attribute and its label in normal ones.
static void draw_key_hint(int row_offset, int column, char key, attr_t attr, const char *label)
{
    const int row = control_panel_rect.top + row_offset;
    const int hint_col = control_panel_rect.left + 1 + column;
    const int label_col = hint_col + 4;
    const int label_width = control_panel_rect.width - 5 - column;
    wattr_on(stdscr, attr, nullptr);
    mvprintw(row, hint_col, "[%c]", key);
    wattr_off(stdscr, attr, nullptr);
    draw_clipped(stdscr, row, label_col, label, label_width);
}

// Whether a hint on this row of the panel keeps off the divider below it.
static bool panel_has_row(int row_offset)
{
    return row_offset <= ALWAYS_SHOWN_ROWS || control_panel_rect.top + row_offset < control_panel_rect.bottom - 1;
}

// The command keys, dimmed where the drive's state gives them nothing to do:
// first those with a place in every layout, then, on a tall panel, the rest
// in two columns below the note.
static void draw_control_panel(const DriveStatus &drive)
{
    int extra = 0;
    for (int i = 0; i < command_count(); i++) {
        const Command &c = commands()[i];
        if (c.place != PLACE_PLAYER || c.hint_key == 0)
            continue;
        int row = c.hint_row;
        int column = c.hint_column;
        if (row == 0) {
            row = NOTE_ROW + 2 + extra / 2;
            column = extra % 2 == 0 ? 0 : 25;
            extra++;
        }
        if (!panel_has_row(row))
            continue;
        const attr_t attr = command_applies(c, drive) ? BRIGHT_HINT_ATTR : DIM_HINT_ATTR;
        draw_key_hint(row, column, c.hint_key, attr, c.hint);
    }

    // For a newcomer, below the keys while the panel has room for them: where
    // the titles are.
    if (panel_has_row(NOTE_ROW) && NOTE_ROW > ALWAYS_SHOWN_ROWS) {
        wattr_on(stdscr, DIM_HINT_ATTR, nullptr);
        draw_clipped(stdscr, control_panel_rect.top + NOTE_ROW, control_panel_rect.left + 1,
                     "Space pauses. Titles are kept in ~/.kel", control_panel_rect.width - 2);
        wattr_off(stdscr, DIM_HINT_ATTR, nullptr);
    }
}

// The disc's title and the current track's title.
static void draw_disc_info(const DiscDatabase &db, const DriveStatus &drive)
{
    const int label_col = disc_info_rect.left + 1;
    const int title_col = disc_info_rect.left + 10;
    const int title_width = disc_info_rect.width - 10;
    draw_clipped(stdscr, disc_info_rect.top + 1, label_col, "Title:", 9);
    draw_clipped(stdscr, disc_info_rect.top + 2, label_col, "Track:", 9);
    wattr_on(stdscr, TITLE_ATTR, nullptr);
    draw_clipped(stdscr, disc_info_rect.top + 1, title_col, db.entries[DISC_ENTRY].title,
                 title_width);
    // A drive can report a current track that names no entry; it has no title.
    if (drive.track >= 0 && drive.track < DB_ENTRY_COUNT)
        draw_clipped(stdscr, disc_info_rect.top + 2, title_col, db.entries[drive.track].title,
                     title_width);
    wattr_off(stdscr, TITLE_ATTR, nullptr);
}

void draw_player_screen(const DiscDatabase &db, const DriveStatus &drive, int32_t play_mode)
{
    werase(stdscr);
    lay_out_screen();
    draw_frame();

    wattr_on(stdscr, BOX_TITLE_ATTR, nullptr);
    draw_box_title(control_panel_rect, "Control Panel");
    draw_box_title(disc_info_rect, "Disc Information");
    draw_box_title(track_list_rect, "Track List");
    wattr_off(stdscr, BOX_TITLE_ATTR, nullptr);

    wattr_on(stdscr, BANNER_ATTR, nullptr);
    draw_clipped(stdscr, screen_rect.top, screen_rect.left + 2, MIVO_NAME_VERSION,
                 screen_rect.width - 4);
    wattr_off(stdscr, BANNER_ATTR, nullptr);

    draw_status_box(drive, play_mode);
    draw_track_list(drive);
    draw_control_panel(drive);
    draw_disc_info(db, drive);
    if (key_help_open())
        draw_key_help();
    draw_message_line(stdscr);
}
