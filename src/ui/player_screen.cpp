// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/player_screen.h"

#include "database/disc_id.h"
#include "drive/drive.h"
#include "mivo_version.h"
#include "ui/command.h"
#include "ui/draw.h"
#include "ui/play_mode.h"

#include <curses.h>

#include <cstdint>
#include <cstring>
#include <ctime>

// The screen's boxes, laid out afresh from the terminal's size on every draw.
static struct {
    Rect screen;
    Rect status;
    Rect track_list;
    Rect disc_info;
    Rect control_panel;
} layout;

// The track list's cursor: on the playing track until the user moves it,
// back there once the cursor keys have rested a while.
static struct {
    int32_t track;
    bool moved;
    timespec moved_at;
    int (*read_clock)(clockid_t, timespec *);
} cursor = {0, false, {}, clock_gettime};

// Seconds after the last cursor key that the cursor follows the playing track again.
static constexpr double CURSOR_REST_SECONDS = 5.0;

// Below this width the boxes keep the columns every terminal has; from it on
// the left column grows, so the track list has room for the titles.
static constexpr int WIDE_COLUMNS = 120;
// Columns the left boxes grow by at most: titles of 20 letters a column.
static constexpr int MAX_GROWTH = 40;

static constexpr attr_t FRAME_ATTR = COLOR_PAIR(4);
static constexpr attr_t BOX_TITLE_ATTR = A_BOLD | COLOR_PAIR(4);
static constexpr attr_t BANNER_ATTR = A_BOLD | COLOR_PAIR(7);
static constexpr attr_t BRIGHT_HINT_ATTR = A_BOLD | COLOR_PAIR(3);
static constexpr attr_t DIM_HINT_ATTR = A_DIM;
static constexpr attr_t PLAYING_TRACK_ATTR = A_BOLD;
static constexpr attr_t CURSOR_ATTR = A_REVERSE;
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
// The last column of the status box and the track list.
static int left_column_right(int cols)
{
    const int grown = (cols - 80) / 2 < MAX_GROWTH ? (cols - 80) / 2 : MAX_GROWTH;
    return cols >= WIDE_COLUMNS ? 28 + grown : 28;
}

int control_panel_left(int cols) { return left_column_right(cols) + 1; }

static void lay_out_screen()
{
    const int cols = getmaxx(stdscr);
    const int left_right = left_column_right(cols);
    set_rect(layout.screen, 0, 0, getmaxy(stdscr), cols);
    set_rect(layout.status, 1, 1, 8, left_right);
    set_rect(layout.track_list, layout.status.bottom + 1, 1, layout.screen.bottom - 1, left_right);
    set_rect(layout.disc_info, layout.screen.bottom - 5, layout.status.right + 1,
             layout.screen.bottom - 1, layout.screen.right - 1);
    set_rect(layout.control_panel, 1, layout.status.right + 1, layout.disc_info.top,
             layout.screen.right - 1);
}

// The border and the dividers that split it into four boxes.
static void draw_frame()
{
    wattr_on(stdscr, FRAME_ATTR, nullptr);
    draw_border(stdscr);
    draw_vdivider(stdscr, layout.screen.top, layout.status.right, layout.screen.height);
    draw_hdivider(stdscr, layout.disc_info.top - 1, layout.disc_info.left - 1,
                  layout.disc_info.width + 2);
    draw_hdivider(stdscr, layout.status.bottom, layout.status.left - 1, layout.status.width + 2);
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
    const int label_col = layout.status.left + 1;
    const int value_col = layout.status.left + 13;
    const int top = layout.status.top;
    draw_clipped(stdscr, top + 1, label_col, "Status:", 12);
    draw_clipped(stdscr, top + 2, label_col, "Play mode:", 12);
    draw_clipped(stdscr, top + 3, label_col, "Track:", 12);
    draw_clipped(stdscr, top + 4, label_col, "Time:", 12);
    draw_clipped(stdscr, top + 5, label_col, "CD:", 12);
    draw_clipped(stdscr, top + 1, value_col, status_text(drive), layout.status.width - 13);
    draw_clipped(stdscr, top + 2, value_col, play_mode_text(play_mode), layout.status.width - 13);
    // track + 1 in wider arithmetic: a drive's garbage must not overflow.
    mvprintw(top + 3, value_col, "%lld of %d", static_cast<long long>(drive.track) + 1,
             drive.toc.count);
    draw_time(top + 4, value_col, drive.frame);
    draw_time(top + 5, value_col, disc_length_frames(drive.toc));
    // Audio that mivo reads and sends to the sound card says so; a drive that
    // plays through its own analog output keeps the box as it always was.
    if (strcmp(drive_backend_name(), "digital") == 0) {
        draw_clipped(stdscr, top + 6, label_col, "Audio:", 12);
        draw_clipped(stdscr, top + 6, value_col, "digital", layout.status.width - 13);
    }
}

// Seconds on the cursor's clock since the last cursor key.
static double seconds_since_move()
{
    timespec now{};
    cursor.read_clock(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - cursor.moved_at.tv_sec) +
           static_cast<double>(now.tv_nsec - cursor.moved_at.tv_nsec) / 1e9;
}

// A track index held within the disc's count tracks.
static int32_t within(int64_t track, int count)
{
    if (track > count - 1)
        track = count - 1;
    return static_cast<int32_t>(track < 0 ? 0 : track);
}

int32_t track_under_cursor(const DriveStatus &drive)
{
    const int count = usable_track_count(drive.toc);
    if (count == 0)
        return -1;
    if (cursor.moved && seconds_since_move() >= CURSOR_REST_SECONDS)
        cursor.moved = false;
    return within(cursor.moved ? cursor.track : drive.track, count);
}

// The entries one column of the track list shows on the current screen.
static int rows_per_column()
{
    lay_out_screen();
    return layout.track_list.height - 1;
}

void move_track_cursor(CursorMove move, const DriveStatus &drive)
{
    const int count = usable_track_count(drive.toc);
    if (count == 0)
        return;
    const int64_t from = track_under_cursor(drive);
    const int page = rows_per_column() > 1 ? rows_per_column() : 1;
    int64_t to = from;
    switch (move) {
    case CURSOR_UP:
        to = from - 1;
        break;
    case CURSOR_DOWN:
        to = from + 1;
        break;
    case CURSOR_PAGE_UP:
        to = from - page;
        break;
    case CURSOR_PAGE_DOWN:
        to = from + page;
        break;
    case CURSOR_FIRST:
        to = 0;
        break;
    case CURSOR_LAST:
        to = count - 1;
        break;
    }
    cursor.track = within(to, count);
    cursor.moved = true;
    cursor.read_clock(CLOCK_MONOTONIC, &cursor.moved_at);
}

void follow_playing_track() { cursor.moved = false; }

void set_track_cursor_clock(int (*clock)(clockid_t, timespec *))
{
    cursor.read_clock = clock != nullptr ? clock : clock_gettime;
}

// Two columns of track entries, scrolled so that the cursor stays in view;
// the playing track is bold, the cursor's in reverse video. Where the box is
// wider than the numbers and times, each entry also shows its title.
static void draw_track_list(const DiscDatabase &db, const DriveStatus &drive)
{
    const int rows = layout.track_list.height - 1;
    if (rows < 1)
        return;
    const int count = usable_track_count(drive.toc);
    if (count == 0)
        return;
    const int status = drive.state;
    const int capacity = 2 * rows;
    const int under_cursor = track_under_cursor(drive);
    int first = 0;
    int last = count - 1;
    if (count > capacity) {
        first = under_cursor - rows;
        if (first < 0)
            first = 0;
        last = first + capacity - 1;
        if (last > count - 1) {
            last = count - 1;
            first = count - capacity;
        }
    }
    const int column_width = (layout.track_list.width - 2) / 2;
    // The entry, a blank and a title of at least a few letters.
    const int title_width = column_width - 12;
    for (int i = first; i <= last; i++) {
        const int k = i - first;
        const int row = layout.track_list.top + 1 + k % rows;
        const int col = layout.track_list.left + 2 + (k < rows ? 0 : column_width);
        const int32_t length = static_cast<int32_t>(drive.toc.track[i].length);
        const attr_t attr = (status == DRIVE_PLAYING && i == drive.track ? PLAYING_TRACK_ATTR : 0) |
                            (i == under_cursor ? CURSOR_ATTR : 0);
        if (attr != 0)
            wattr_on(stdscr, attr, nullptr);
        mvprintw(row, col, "%02u - %02u:%02u", static_cast<unsigned>(i + 1),
                 static_cast<unsigned>(length / FRAMES_PER_MINUTE),
                 static_cast<unsigned>(length / FRAMES_PER_SECOND % 60));
        if (title_width >= 4 && db.entries[i].title[0] != '\0') {
            waddch(stdscr, ' ');
            draw_clipped(stdscr, row, col + 11, db.entries[i].title, title_width);
        }
        if (attr != 0)
            wattr_off(stdscr, attr, nullptr);
    }
}

// The rows of the panel whose hints are drawn whatever the box's height, as
// the panel has always had them; hints further down need the room.
static constexpr int ALWAYS_SHOWN_ROWS = 11;
static constexpr int NOTE_ROW = 15;

// One key hint in its own attribute and its label in normal ones.
static void draw_key_hint(int row_offset, int column, char key, attr_t attr, const char *label)
{
    const int row = layout.control_panel.top + row_offset;
    const int hint_col = layout.control_panel.left + 1 + column;
    const int label_col = hint_col + 4;
    const int label_width = layout.control_panel.width - 5 - column;
    wattr_on(stdscr, attr, nullptr);
    mvprintw(row, hint_col, "[%c]", key);
    wattr_off(stdscr, attr, nullptr);
    draw_clipped(stdscr, row, label_col, label, label_width);
}

// Whether a hint on this row of the panel keeps off the divider below it.
static bool panel_has_row(int row_offset)
{
    return row_offset <= ALWAYS_SHOWN_ROWS ||
           layout.control_panel.top + row_offset < layout.control_panel.bottom - 1;
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
        draw_clipped(stdscr, layout.control_panel.top + NOTE_ROW, layout.control_panel.left + 1,
                     "Space pauses. Titles are kept in ~/.kel", layout.control_panel.width - 2);
        wattr_off(stdscr, DIM_HINT_ATTR, nullptr);
    }
}

// The disc's title and the current track's title.
static void draw_disc_info(const DiscDatabase &db, const DriveStatus &drive)
{
    const int label_col = layout.disc_info.left + 1;
    const int title_col = layout.disc_info.left + 10;
    const int title_width = layout.disc_info.width - 10;
    draw_clipped(stdscr, layout.disc_info.top + 1, label_col, "Title:", 9);
    draw_clipped(stdscr, layout.disc_info.top + 2, label_col, "Track:", 9);
    wattr_on(stdscr, TITLE_ATTR, nullptr);
    draw_clipped(stdscr, layout.disc_info.top + 1, title_col, db.entries[DISC_ENTRY].title,
                 title_width);
    // A drive can report a current track that names no entry; it has no title.
    if (drive.track >= 0 && drive.track < DB_ENTRY_COUNT)
        draw_clipped(stdscr, layout.disc_info.top + 2, title_col, db.entries[drive.track].title,
                     title_width);
    wattr_off(stdscr, TITLE_ATTR, nullptr);
}

void draw_player_screen(const DiscDatabase &db, const DriveStatus &drive, int32_t play_mode)
{
    werase(stdscr);
    lay_out_screen();
    draw_frame();

    wattr_on(stdscr, BOX_TITLE_ATTR, nullptr);
    draw_box_title(layout.control_panel, "Control Panel");
    draw_box_title(layout.disc_info, "Disc Information");
    draw_box_title(layout.track_list, "Track List");
    wattr_off(stdscr, BOX_TITLE_ATTR, nullptr);

    wattr_on(stdscr, BANNER_ATTR, nullptr);
    draw_clipped(stdscr, layout.screen.top, layout.screen.left + 2, MIVO_NAME_VERSION,
                 layout.screen.width - 4);
    wattr_off(stdscr, BANNER_ATTR, nullptr);

    draw_status_box(drive, play_mode);
    draw_track_list(db, drive);
    draw_control_panel(drive);
    draw_disc_info(db, drive);
    draw_message_line(stdscr);
}
