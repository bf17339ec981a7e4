// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/track_editor.h"

#include "database/database.h"
#include "database/disc_id.h"
#include "ui/command.h"
#include "ui/draw.h"
#include "ui/message_line.h"
#include "ui/prompt.h"
#include "ui/terminal.h"

#include <curses.h>

#include <cstdio>
#include <cstring>

int32_t editor_cursor_row;
int32_t editor_scroll_offset;

static Rect editor_title_rect;
static Rect editor_list_rect;
static Rect editor_separator_rect;
static Rect editor_help_rect;

static const char EDITOR_HEADING[] = "KEL Track List Editor";

// Where the titles go, for a newcomer; shown at the right of the top line.
static const char EDITOR_NOTE[] = " Titles are kept in ~/.kel, saved when you leave ";

// The drive's track count bounded to the entries the database has, so a bogus
// count from the drive can never index past them.
static int editor_track_count(const DriveStatus &drive) { return usable_track_count(drive.toc); }

// Lays the four areas out from the terminal's current size.
static void compute_editor_layout(int rows, int cols)
{
    set_rect(editor_title_rect, 1, 2, 2, cols - 2);
    set_rect(editor_help_rect, rows - 4, 2, rows - 1, cols - 2);
    set_rect(editor_separator_rect, editor_help_rect.top - 1, 0, editor_help_rect.top, cols);
    set_rect(editor_list_rect, editor_title_rect.bottom + 1, 2, editor_separator_rect.top,
             cols - 2);
}

// Writes text at (row, col) when that cell exists, cut short of the right
// border so that a narrow terminal never wraps it onto the next rows.
static void put_text(int row, int col, const char *text)
{
    int room = getmaxx(stdscr) - 1 - col;
    if (room <= 0 || wmove(stdscr, row, col) == ERR)
        return;
    waddnstr(stdscr, text, room);
}

// One key label in its colours, then its description in plain text.
static void put_help_item(int row, int col, const char *label, const char *text)
{
    wattron(stdscr, A_BOLD | COLOR_PAIR(3));
    put_text(row, col, label);
    wattroff(stdscr, A_BOLD | COLOR_PAIR(3));
    put_text(row, col + 3, " ");
    put_text(row, col + 4, text);
}

// Prints a title in exactly width cells from (row, col): cut to width bytes,
// padded with blanks. Titles come from files in any charset, so they go out
// through draw_bytes, which never lets a newline or half a character through.
static void put_field(int row, int col, const char *text, int width)
{
    if (width <= 0 || wmove(stdscr, row, col) == ERR)
        return;
    draw_bytes(stdscr, text, width);
    for (int x = getcurx(stdscr); x < col + width; x++)
        waddch(stdscr, ' ');
}

// One line of the list: the track number and the title, cut or padded to the
// list's width.
static void draw_list_line(int row, int track, const char *title)
{
    int width = editor_list_rect.width;
    if (width <= 0 || wmove(stdscr, row, editor_list_rect.left) == ERR)
        return;
    char number[16];
    snprintf(number, sizeof number, "%02d: ", track + 1);
    waddnstr(stdscr, number, width < 4 ? width : 4);
    put_field(row, editor_list_rect.left + 4, title, width - 4);
}

// Puts the selection back on a track of the disc and on a row of the list,
// and scrolls no further than the last track needs, so that after a resize
// the user still sees the track E would edit and no empty rows below a
// list scrolled past its end.
static void keep_selection_visible(int track_count)
{
    if (track_count <= 0)
        return;
    int selected = editor_scroll_offset + editor_cursor_row;
    if (selected > track_count - 1)
        selected = track_count - 1;
    if (selected < 0)
        selected = 0;
    const int rows = editor_list_rect.height;
    int scroll = editor_scroll_offset;
    if (rows < 1) {
        scroll = selected;
    } else {
        if (scroll > selected)
            scroll = selected;
        if (scroll < selected - rows + 1)
            scroll = selected - rows + 1;
        if (scroll > track_count - rows)
            scroll = track_count - rows;
        if (scroll < 0)
            scroll = 0;
    }
    editor_scroll_offset = scroll;
    editor_cursor_row = selected - scroll;
}

// The editor's commands in the help area: those with a place in every layout
// there, then the others in further columns as far as the width has room.
static void draw_editor_hints()
{
    const Rect &h = editor_help_rect;
    constexpr int COLUMN = 25;
    int extra = 0;
    for (int i = 0; i < command_count(); i++) {
        const Command &c = commands()[i];
        if (c.place != PLACE_EDITOR || c.hint_key == 0)
            continue;
        int row = c.hint_row;
        int col = c.hint_column;
        if (row == 0) {
            // Two rows a column, from the third column on.
            col = (2 + extra / 2) * COLUMN;
            row = 1 + extra % 2;
            extra++;
            if (col + 4 + static_cast<int>(strlen(c.hint)) > h.width)
                continue;
        }
        const char label[] = {'[', c.hint_key, ']', '\0'};
        put_help_item(h.top + row, h.left + col, label, c.hint);
    }
}

// Erases the screen and draws the whole editor from the current size.
static void draw_track_editor(const DiscDatabase &db, int track_count)
{
    werase(stdscr);
    int rows = getmaxy(stdscr);
    int cols = getmaxx(stdscr);
    compute_editor_layout(rows, cols);
    keep_selection_visible(track_count);

    wattron(stdscr, COLOR_PAIR(4));
    draw_border(stdscr);
    draw_hdivider(stdscr, editor_separator_rect.top, editor_separator_rect.left,
                  editor_separator_rect.width);
    wattroff(stdscr, COLOR_PAIR(4));

    wattron(stdscr, A_BOLD | COLOR_PAIR(7));
    put_text(0, 2, EDITOR_HEADING);
    const int note_col = cols - 2 - static_cast<int>(sizeof EDITOR_NOTE - 1);
    if (note_col > 2 + static_cast<int>(sizeof EDITOR_HEADING))
        put_text(0, note_col, EDITOR_NOTE);
    put_field(editor_title_rect.top, editor_title_rect.left, db.entries[DISC_ENTRY].title,
              editor_title_rect.width);
    wattroff(stdscr, A_BOLD | COLOR_PAIR(7));

    draw_editor_hints();

    for (int i = 0; i < editor_list_rect.height && editor_scroll_offset + i < track_count; i++) {
        int track = editor_scroll_offset + i;
        if (track < 0)
            continue;
        if (i == editor_cursor_row)
            wattron(stdscr, A_REVERSE);
        draw_list_line(editor_list_rect.top + i, track, db.entries[track].title);
        if (i == editor_cursor_row)
            wattroff(stdscr, A_REVERSE);
    }
    draw_message_line(stdscr);
}

// Asks for a title and stores it in target only when the prompt gave one and
// it is not empty: a cancelled, failed or hung-up prompt changes nothing.
static void edit_title(DiscDatabase &db, char *target, const char *title)
{
    char answer[TEXT_FIELD_SIZE];
    if (prompt_string(answer, sizeof answer, title) != 0 || answer[0] == '\0')
        return;
    memcpy(target, answer, strlen(answer) + 1);
    db.dirty = 1;
}

// Gives every track of the disc its numbered default title.
static void reset_track_titles(DiscDatabase &db, int track_count)
{
    if (track_count <= 0)
        return;
    for (int i = 0; i < track_count; i++)
        snprintf(db.entries[i].title, TEXT_FIELD_SIZE, "Track %d", i + 1);
    db.dirty = 1;
}

// Moves the selection one track down, scrolling once it reaches the bottom row.
static void move_selection_down(int track_count)
{
    if (editor_scroll_offset + editor_cursor_row >= track_count - 1)
        return;
    if (editor_cursor_row < editor_list_rect.height - 1)
        editor_cursor_row++;
    else
        editor_scroll_offset++;
}

// Moves the selection one track up, scrolling once it reaches the top row.
static void move_selection_up()
{
    if (editor_scroll_offset + editor_cursor_row <= 0)
        return;
    if (editor_cursor_row > 0)
        editor_cursor_row--;
    else
        editor_scroll_offset--;
}

void (*editor_lookup)();

// The open editor's disc and the drive's status as the player last saw it.
static struct {
    DiscDatabase *db;
    const DriveStatus *drive;
    bool open;
} session;

static int session_track_count() { return editor_track_count(*session.drive); }

void editor_edit_track_title(int64_t)
{
    if (!session.open)
        return;
    int selected = editor_scroll_offset + editor_cursor_row;
    if (selected >= 0 && selected < MAX_DB_TRACKS)
        edit_title(*session.db, session.db->entries[selected].title, "Track name");
}

void editor_edit_disc_title(int64_t)
{
    if (session.open)
        edit_title(*session.db, session.db->entries[DISC_ENTRY].title, "Artist / Album");
}

void editor_clear_titles(int64_t)
{
    if (session.open)
        reset_track_titles(*session.db, session_track_count());
}

void editor_move_down(int64_t)
{
    if (session.open)
        move_selection_down(session_track_count());
}

void editor_move_up(int64_t)
{
    if (session.open)
        move_selection_up();
}

void editor_look_up(int64_t)
{
    if (session.open && editor_lookup != nullptr)
        editor_lookup();
}

// Leaving always saves.
void editor_leave(int64_t)
{
    if (!session.open)
        return;
    if (save_database(*session.db, session.drive->toc) != 0)
        show_message("Titles not saved: %s", database_error());
    else if (database_conflict_note()[0] != '\0')
        show_message("%s", database_conflict_note());
    curs_set(1);
    session.open = false;
}

bool track_editor_open() { return session.open; }

void open_track_editor(DiscDatabase &db, const DriveStatus &drive)
{
    session.db = &db;
    session.drive = &drive;
    session.open = true;
    curs_set(0);
}

void draw_track_editor_screen()
{
    if (session.open)
        draw_track_editor(*session.db, session_track_count());
}

void track_editor_key(int key)
{
    const Command *command = command_for_key(PLACE_EDITOR, key);
    if (command != nullptr)
        command->run(0);
    else
        wrefresh(stdscr);
}

// Redraws and obeys one key per turn until the user leaves; leaving always saves.
void run_track_editor(DiscDatabase &db, const DriveStatus &drive)
{
    // The caller's idle input mode (half-delay) bounds each key wait, so the
    // screen is redrawn about twice a second while no key comes.
    open_track_editor(db, drive);
    while (session.open) {
        draw_track_editor_screen();
        int key = read_key(5);
        // Nobody can type any more: leave, so the texts are saved and the
        // player can end.
        if (key == ERR && terminal_lost())
            key = 'q';
        // A quit signal leaves the same way, so the texts reach the disc's file.
        if (quit_requested())
            key = 'q';
        if (key != ERR && key != KEY_RESIZE)
            clear_message();
        if (key == ERR)
            wrefresh(stdscr);
        else
            track_editor_key(key);
    }
}
