#include "ui/draw.h"

#include <cstring>

void set_rect(Rect &rect, int top, int left, int bottom, int right)
{
    rect.top = top;
    rect.left = left;
    rect.bottom = bottom;
    rect.right = right;
    rect.height = bottom - top;
    rect.width = right - left;
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

void draw_vdivider(WINDOW *window, int row, int col, int length)
{
    if (wmove(window, row, col) != ERR)
        waddch(window, ACS_TTEE);
    if (wmove(window, row + 1, col) != ERR)
        wvline(window, ACS_VLINE, length - 2);
    if (wmove(window, row + length - 1, col) != ERR)
        waddch(window, ACS_BTEE);
}

void draw_clipped(WINDOW *window, int row, int col, const char *text, int width)
{
    if (wmove(window, row, col) == ERR)
        return;
    size_t n = strlen(text);
    if (width >= 0 && n <= static_cast<size_t>(width)) {
        waddnstr(window, text, -1);
    } else if (width >= 4) {
        waddnstr(window, text, width - 3);
        waddnstr(window, "...", 3);
    } else if (width >= 1) {
        waddnstr(window, "...", width);
    }
}
