// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/draw.h"

#include "ui/message_line.h"

#include <cstring>
#include <cwchar>
#include <cwctype>

void set_rect(Rect &rect, int top, int left, int bottom, int right)
{
    rect.top = top;
    rect.left = left;
    rect.bottom = bottom;
    rect.right = right;
    rect.height = bottom - top;
    rect.width = right - left;
}

// ncurses' wborder corrupts the heap on a window one column wide (seen after a
// resize from a wide screen), so there the frame is just its side line.
void draw_border(WINDOW *window)
{
    if (getmaxx(window) > 1)
        wborder(window, ACS_VLINE, ACS_VLINE, ACS_HLINE, ACS_HLINE, 0, 0, 0, 0);
    else if (wmove(window, 0, 0) != ERR)
        wvline(window, ACS_VLINE, getmaxy(window));
}

// Each step stands on its own: a cell off the window skips only that step.
void draw_hdivider(WINDOW *window, int row, int col, int length)
{
    if (wmove(window, row, col) != ERR)
        waddch(window, ACS_LTEE);
    if (wmove(window, row, col + 1) != ERR)
        whline(window, ACS_HLINE, length - 2);
    if (wmove(window, row, col + length - 1) != ERR)
        waddch(window, ACS_RTEE);
}

// The same as draw_hdivider, turned on its side.
void draw_vdivider(WINDOW *window, int row, int col, int length)
{
    if (wmove(window, row, col) != ERR)
        waddch(window, ACS_TTEE);
    if (wmove(window, row + 1, col) != ERR)
        wvline(window, ACS_VLINE, length - 2);
    if (wmove(window, row + length - 1, col) != ERR)
        waddch(window, ACS_BTEE);
}

// Titles may be in any charset and come cut at any byte; a byte handed to
// curses one at a time could start a character that joins later output or
// expand to several cells, so every character is decoded here and printed
// whole, or not at all.
void draw_bytes(WINDOW *window, const char *text, int count)
{
    if (count <= 0)
        return;
    const size_t total = strlen(text);
    const size_t limit = static_cast<size_t>(count) < total ? static_cast<size_t>(count) : total;
    constexpr int CHUNK = 64;
    wchar_t chunk[CHUNK];
    int used = 0;
    size_t at = 0;
    while (at < limit) {
        wchar_t wide = 0;
        mbstate_t state{};
        const size_t length = mbrtowc(&wide, text + at, total - at, &state);
        if (length == static_cast<size_t>(-1) || length == static_cast<size_t>(-2) || length == 0) {
            // Not a character of the locale: take the byte as ISO-8859-1,
            // the charset of older database files.
            const unsigned char byte = static_cast<unsigned char>(text[at]);
            wide = byte >= 0xa0 ? static_cast<wchar_t>(byte) : L'?';
            at += 1;
        } else if (at + length > limit) {
            break;
        } else {
            at += length;
        }
        if (wide < 0x20 || (wide >= 0x7f && wide < 0xa0) || !iswprint(static_cast<wint_t>(wide)))
            wide = L'?';
        chunk[used++] = wide;
        if (used == CHUNK) {
            waddnwstr(window, chunk, used);
            used = 0;
        }
    }
    if (used > 0)
        waddnwstr(window, chunk, used);
}

void draw_clipped(WINDOW *window, int row, int col, const char *text, int width)
{
    if (wmove(window, row, col) == ERR)
        return;
    const size_t n = strlen(text);
    if (width >= 0 && n <= static_cast<size_t>(width)) {
        draw_bytes(window, text, width);
    } else if (width >= 4) {
        draw_bytes(window, text, width - 3);
        waddnstr(window, "...", 3);
    } else if (width >= 1) {
        waddnstr(window, "...", width);
    }
}

// The message goes in reverse video with a blank either side, so it reads as
// a line of its own over the frame it covers.
void draw_message_line(WINDOW *window)
{
    const char *message = current_message();
    const int width = getmaxx(window) - 4;
    if (message[0] == '\0' || width < 3)
        return;
    const int row = getmaxy(window) - 1;
    wattr_on(window, A_REVERSE | A_BOLD, nullptr);
    if (wmove(window, row, 2) != ERR)
        waddch(window, ' ');
    draw_clipped(window, row, 3, message, width - 2);
    waddch(window, ' ');
    wattr_off(window, A_REVERSE | A_BOLD, nullptr);
}
