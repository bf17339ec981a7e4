#include "ui/prompt.h"

#include "ui/draw.h"
#include "ui/terminal.h"

#include <curses.h>

#include <cstdlib>
#include <cstring>

// Draws ch at (row, col) when that cell is on the screen.
static void put_cell(int row, int col, chtype ch)
{
    if (wmove(stdscr, row, col) != ERR)
        waddch(stdscr, ch);
}

// Draws a run of count copies of ch from (row, col) when the start is on the
// screen; whline stops at the right edge and draws nothing for count < 1.
static void put_run(int row, int col, chtype ch, int count)
{
    if (wmove(stdscr, row, col) != ERR)
        whline(stdscr, ch, count);
}

// The box spans columns 10 to cols-11 around the middle row; the caller's next
// redraw removes it, so nothing is saved or restored under it.
int prompt_string(char *buffer, int size, const char *title)
{
    const int rows = getmaxy(stdscr);
    const int cols = getmaxx(stdscr);
    const int mid = rows / 2;
    const int inner = cols - 22;

    cbreak();
    echo();
    leaveok(stdscr, FALSE);

    put_cell(mid - 1, 10, ACS_ULCORNER);
    put_run(mid - 1, 11, ACS_HLINE, inner);
    put_cell(mid - 1, cols - 11, ACS_URCORNER);
    put_cell(mid, 10, ACS_VLINE);
    put_run(mid, 11, ' ', inner);
    put_cell(mid, cols - 11, ACS_VLINE);
    put_cell(mid + 1, 10, ACS_LLCORNER);
    put_run(mid + 1, 11, ACS_HLINE, inner);
    put_cell(mid + 1, cols - 11, ACS_LRCORNER);

    // Below 24 columns the box has no room for a title.
    const int room = cols - 24;
    if (room > 0) {
        const size_t length = strlen(title);
        const int n = length < static_cast<size_t>(room) ? static_cast<int>(length) : room;
        if (wmove(stdscr, mid - 1, 10 + (cols - 20 - n) / 2) != ERR)
            draw_bytes(stdscr, title, n);
    }

    curs_set(1);
    int result = -1;
    // A size below 1 leaves no room even for the NUL, and wgetnstr would take
    // a negative limit as no limit at all.
    if (buffer != nullptr && size >= 1 && wmove(stdscr, mid, 11) != ERR)
        result = wgetnstr(stdscr, buffer, size - 1) == ERR ? -1 : 0;

    curs_set(0);
    set_idle_input_mode();
    return result;
}

// atoi's reading of the answer, so " 12", "12ab" and "-3" all give a number
// and text without digits gives 0, that is -1 after the shift to 0-based.
int prompt_track_number()
{
    char answer[5] = {};
    if (prompt_string(answer, sizeof answer, "Go to which track?") == -1)
        return -1;
    return atoi(answer) - 1;
}
