// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/key_help.h"

#include "ui/draw.h"

#include <curses.h>

#include <cstring>

static bool open_now;

static const char *const HELP_LINES[] = {
    "P      Start playing         Space  Pause or resume",
    "U      Pause or restart      S      Stop playing",
    "+ -    Next / previous track G      Go to a track",
    "] [    Skip 4 s ahead / back E      Eject the disc",
    "* /    Volume up / down      T      Edit the titles",
    "M      Next play mode        C R    Repeat CD / track",
    "L      Look titles up        A      Cover on / off",
    "Q      Quit                  ?      This help",
    "",
    "Status: No Audio means no disc, or one without audio;",
    "Reading disc: the drive is still spinning it up;",
    "Stopped, Playing and Paused tell what the drive does.",
    "Play mode: Normal stops after the last track, Repeat",
    "CD and Repeat Track start the disc or track again.",
    "Titles are kept in ~/.kel, one file per disc; T opens",
    "the editor, which saves them when you leave it.",
    "",
    "Any key closes this box.",
};

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

// The box is blanked first, so the screen under it cannot show through the
// gaps between the words.
void draw_key_help()
{
    constexpr int count = static_cast<int>(sizeof HELP_LINES / sizeof HELP_LINES[0]);
    int widest = 0;
    for (const char *line : HELP_LINES) {
        const int n = static_cast<int>(strlen(line));
        widest = n > widest ? n : widest;
    }
    const int height = count + 2;
    const int width = widest + 4;
    const int top = (getmaxy(stdscr) - height) / 2 > 0 ? (getmaxy(stdscr) - height) / 2 : 0;
    const int left = (getmaxx(stdscr) - width) / 2 > 0 ? (getmaxx(stdscr) - width) / 2 : 0;
    const int bottom = top + height - 1;

    wattr_on(stdscr, A_BOLD | COLOR_PAIR(4), nullptr);
    put_line(top, left, ACS_ULCORNER, ACS_HLINE, ACS_URCORNER, width);
    for (int row = top + 1; row < bottom; row++)
        put_line(row, left, ACS_VLINE, ' ', ACS_VLINE, width);
    put_line(bottom, left, ACS_LLCORNER, ACS_HLINE, ACS_LRCORNER, width);
    draw_clipped(stdscr, top, left + 2, " Keys and words on screen ", getmaxx(stdscr) - left - 4);
    wattr_off(stdscr, A_BOLD | COLOR_PAIR(4), nullptr);

    const int room = getmaxx(stdscr) - left - 3;
    for (int i = 0; i < count; i++)
        draw_clipped(stdscr, top + 1 + i, left + 2, HELP_LINES[i], room);
}
