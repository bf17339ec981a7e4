// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/lookup_picker.h"

#include "ui/draw.h"

#include <curses.h>

#include <cstdio>
#include <cstring>

static constexpr attr_t FRAME_ATTR = COLOR_PAIR(4);
static constexpr attr_t HEADING_ATTR = A_BOLD | COLOR_PAIR(7);
static constexpr attr_t HINT_ATTR = A_BOLD | COLOR_PAIR(3);

// From this width the tracks stand beside the list rather than below it.
static constexpr int TRACKS_BESIDE_COLUMNS = 100;

// Appends " · part" (or the part alone first) when the part is not empty.
static void add_part(char *out, int size, const char *part)
{
    if (part[0] == '\0')
        return;
    size_t used = strlen(out);
    if (used >= static_cast<size_t>(size) - 1)
        return;
    snprintf(out + used, static_cast<size_t>(size) - used, "%s%s", used ? ", " : "", part);
}

void describe_candidate(const Candidate &c, char *out, int size)
{
    out[0] = '\0';
    char part[LOOKUP_TEXT_SIZE];
    add_part(out, size, c.year);
    add_part(out, size, c.country);
    add_part(out, size, c.format);
    if (c.disc_total > 1) {
        snprintf(part, sizeof part, "disc %d of %d", c.disc_number, c.disc_total);
        add_part(out, size, part);
    }
    snprintf(part, sizeof part, "%s%s%s", c.label, c.label[0] && c.catalog[0] ? " " : "",
             c.catalog);
    add_part(out, size, part);
    if (c.source == SOURCE_GNUDB)
        add_part(out, size, "gnudb");
    else
        add_part(out, size, c.exact ? "exact" : "near");
}

// Prints text at (row, col) cut to width cells, odd bytes shown as the other
// screens show them.
static void put_text(int row, int col, const char *text, int width)
{
    if (width <= 0 || wmove(stdscr, row, col) == ERR)
        return;
    int length = static_cast<int>(strlen(text));
    draw_bytes(stdscr, text, length < width ? length : width);
}

// The candidate's tracks, "01 Title" a row, from row top to the row before
// bottom, as many as fit.
static void draw_tracks(const Candidate &c, int top, int col, int bottom, int width)
{
    if (top >= bottom || width < 8)
        return;
    wattron(stdscr, HEADING_ATTR);
    put_text(top, col, "Tracks:", width);
    wattroff(stdscr, HEADING_ATTR);
    char line[LOOKUP_TEXT_SIZE + 8];
    for (int t = 0; t < c.track_count && t < MAX_TRACKS && top + 1 + t < bottom; t++) {
        snprintf(line, sizeof line, "%02d %s", t + 1, c.track[t]);
        put_text(top + 1 + t, col, line, width);
    }
}

void draw_lookup_picker(const CandidateList &list, PickerView &view, const char *status)
{
    const int rows = getmaxy(stdscr);
    const int cols = getmaxx(stdscr);
    werase(stdscr);
    wattron(stdscr, FRAME_ATTR);
    draw_border(stdscr);
    wattroff(stdscr, FRAME_ATTR);
    wattron(stdscr, HEADING_ATTR);
    const bool waiting = status != nullptr && status[0] != '\0';
    put_text(0, 2, waiting ? " Looking titles up " : " Titles found for this disc ", cols - 4);
    wattroff(stdscr, HEADING_ATTR);
    wattron(stdscr, HINT_ATTR);
    put_text(rows - 1, 2, " Up/Down: move  Enter: use  N: none ", cols - 4);
    wattroff(stdscr, HINT_ATTR);

    // Wide screens show the highlighted candidate's tracks beside the list.
    const bool beside = cols >= TRACKS_BESIDE_COLUMNS;
    const int width = beside ? (cols - 4) / 2 : cols - 4;
    if (waiting) {
        put_text(2, 2, status, width);
        draw_message_line(stdscr);
        return;
    }
    // Two rows a candidate between the frame lines; the selection stays shown.
    const int shown = (rows - 2) / 2 > 0 ? (rows - 2) / 2 : 0;
    if (view.selected >= list.count)
        view.selected = list.count > 0 ? list.count - 1 : 0;
    if (view.selected < view.top)
        view.top = view.selected;
    if (shown > 0 && view.selected >= view.top + shown)
        view.top = view.selected - shown + 1;
    char line[2 * LOOKUP_TEXT_SIZE + 8];
    int i = 0;
    for (; i < shown && view.top + i < list.count; i++) {
        const Candidate &c = list.item[view.top + i];
        const bool selected = view.top + i == view.selected;
        if (selected)
            wattron(stdscr, A_REVERSE);
        snprintf(line, sizeof line, "%s / %s", c.artist, c.title);
        put_text(1 + 2 * i, 2, line, width);
        describe_candidate(c, line, sizeof line);
        put_text(2 + 2 * i, 4, line, width - 2);
        if (selected)
            wattroff(stdscr, A_REVERSE);
    }
    // Otherwise below the list, in the rows it leaves.
    if (list.count > 0) {
        if (beside)
            draw_tracks(list.item[view.selected], 1, 2 + width + 2, rows - 1, cols - 4 - width - 2);
        else
            draw_tracks(list.item[view.selected], 2 + 2 * i, 2, rows - 1, width);
    }
    draw_message_line(stdscr);
}

PickerAction picker_key(int key, PickerView &view, int32_t count)
{
    switch (key) {
    case KEY_UP:
    case 'k':
        if (view.selected > 0)
            view.selected--;
        return PICKER_STAY;
    case KEY_DOWN:
    case 'j':
        if (view.selected + 1 < count)
            view.selected++;
        return PICKER_STAY;
    case 10:
    case 13:
    case KEY_ENTER:
        return count > 0 ? PICKER_CHOSEN : PICKER_STAY;
    case 'N':
    case 'n':
    case 'Q':
    case 'q':
    case 27:
        return PICKER_NONE;
    default:
        return PICKER_STAY;
    }
}
