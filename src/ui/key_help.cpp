// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/key_help.h"

#include "ui/command.h"
#include "ui/draw.h"

#include <curses.h>

#include <cstring>

static bool open_now;

// What the words on the player screen mean, below the keys where there is room.
static const char *const WORD_LINES[] = {
    "Status: No Audio means no disc, or one without audio;",
    "Reading disc: the drive is still spinning it up;",
    "Stopped, Playing and Paused tell what the drive does.",
    "Play mode: Normal stops after the last track, Repeat",
    "CD and Repeat Track start the disc or track again.",
    "Titles are kept in ~/.kel, one file per disc; T opens",
    "the editor, which saves them when you leave it.",
};
static constexpr int WORD_LINE_COUNT = static_cast<int>(sizeof WORD_LINES / sizeof WORD_LINES[0]);

// One entry of the key list: the keys, then the help line.
static constexpr int KEYS_WIDTH = 8;
static constexpr int HELP_WIDTH = 19;
static constexpr int ENTRY_WIDTH = KEYS_WIDTH + HELP_WIDTH;
static constexpr int LINE_WIDTH = 2 * ENTRY_WIDTH + 1;

void open_key_help() { open_now = true; }

void close_key_help() { open_now = false; }

bool key_help_open() { return open_now; }

// One row of the box: its first cell, width - 2 fill cells and its last cell;
// cells off the screen are skipped.
static void put_line(int row, int col, chtype first, chtype fill, chtype last, int width)
{
    if (wmove(stdscr, row, col) != ERR)
        waddch(stdscr, first);
    if (wmove(stdscr, row, col + 1) != ERR)
        whline(stdscr, fill, width - 2);
    if (wmove(stdscr, row, col + width - 1) != ERR)
        waddch(stdscr, last);
}

// The commands of one screen with keys, two to a line.
static int help_commands(CommandPlace place, const Command **out, int most)
{
    int n = 0;
    for (int i = 0; i < command_count() && n < most; i++)
        if (commands()[i].place == place && commands()[i].keys[0] != 0)
            out[n++] = &commands()[i];
    return n;
}

// "keys   help" of one command, cut to its column.
static void draw_entry(int row, int col, const Command &c, int room)
{
    if (room <= 0)
        return;
    draw_clipped(stdscr, row, col, c.key_names, room < KEYS_WIDTH - 1 ? room : KEYS_WIDTH - 1);
    if (room > KEYS_WIDTH)
        draw_clipped(stdscr, row, col + KEYS_WIDTH, c.help,
                     room - KEYS_WIDTH < HELP_WIDTH ? room - KEYS_WIDTH : HELP_WIDTH);
}

// The box is blanked first, so the screen under it cannot show through the
// gaps between the words. The keys come first; what the words mean follows
// only where the screen has room for all of it.
void draw_key_help()
{
    const Command *player_list[COMMAND_COUNT];
    const Command *editor_list[COMMAND_COUNT];
    const int players = help_commands(PLACE_PLAYER, player_list, COMMAND_COUNT);
    const int editors = help_commands(PLACE_EDITOR, editor_list, COMMAND_COUNT);
    const int player_rows = (players + 1) / 2;
    const int editor_rows = editors > 0 ? 1 + (editors + 1) / 2 : 0;
    const int key_rows = player_rows + editor_rows;
    // The words keep their blank line above them where the screen has a row
    // to spare for it.
    const bool words = key_rows + WORD_LINE_COUNT + 2 <= getmaxy(stdscr);
    const bool gap = words && key_rows + 1 + WORD_LINE_COUNT + 2 <= getmaxy(stdscr);
    const int count = key_rows + (words ? (gap ? 1 : 0) + WORD_LINE_COUNT : 0);
    const int height = count + 2;
    const int width = LINE_WIDTH + 4;
    const int top = (getmaxy(stdscr) - height) / 2 > 0 ? (getmaxy(stdscr) - height) / 2 : 0;
    const int left = (getmaxx(stdscr) - width) / 2 > 0 ? (getmaxx(stdscr) - width) / 2 : 0;
    const int bottom = top + height - 1;

    wattr_on(stdscr, A_BOLD | COLOR_PAIR(4), nullptr);
    put_line(top, left, ACS_ULCORNER, ACS_HLINE, ACS_URCORNER, width);
    for (int row = top + 1; row < bottom; row++)
        put_line(row, left, ACS_VLINE, ' ', ACS_VLINE, width);
    put_line(bottom, left, ACS_LLCORNER, ACS_HLINE, ACS_LRCORNER, width);
    draw_clipped(stdscr, top, left + 2, " Keys and words on screen ", getmaxx(stdscr) - left - 4);
    draw_clipped(stdscr, bottom, left + 2, " Any key closes this box ", getmaxx(stdscr) - left - 4);
    wattr_off(stdscr, A_BOLD | COLOR_PAIR(4), nullptr);

    const int col = left + 2;
    const int room = getmaxx(stdscr) - col - 1;
    int row = top + 1;
    for (int i = 0; i < players; i += 2, row++) {
        draw_entry(row, col, *player_list[i], room);
        if (i + 1 < players)
            draw_entry(row, col + ENTRY_WIDTH + 1, *player_list[i + 1], room - ENTRY_WIDTH - 1);
    }
    if (editors > 0) {
        draw_clipped(stdscr, row++, col, "In the title editor:", room);
        for (int i = 0; i < editors; i += 2, row++) {
            draw_entry(row, col, *editor_list[i], room);
            if (i + 1 < editors)
                draw_entry(row, col + ENTRY_WIDTH + 1, *editor_list[i + 1], room - ENTRY_WIDTH - 1);
        }
    }
    if (!words)
        return;
    if (gap)
        row++;
    for (int i = 0; i < WORD_LINE_COUNT; i++)
        draw_clipped(stdscr, row + i, col, WORD_LINES[i], room);
}
