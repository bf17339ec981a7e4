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

// Draws the box around the middle row for the current size and returns that
// row; the caller's next redraw removes the box, so nothing is kept under it.
static int draw_prompt_box(const char *title)
{
    const int rows = getmaxy(stdscr);
    const int cols = getmaxx(stdscr);
    const int mid = rows / 2;
    const int inner = cols - 22;

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
    return mid;
}

// How many typed bytes a resize hands back to curses' input queue, to be read
// and editable again; the queue is short, so older ones stay put as typed.
static const int REPLAY_LIMIT = 128;

// Hands the bytes typed since keep back to curses, last first, so the next
// read takes them again as if typed; returns the new start of the reading.
static int replay_typed(char *buffer, int keep)
{
    int end = keep + static_cast<int>(strlen(buffer + keep));
    int from = end - REPLAY_LIMIT > keep ? end - REPLAY_LIMIT : keep;
    for (int i = end - 1; i >= from; i--)
        ungetch(static_cast<unsigned char>(buffer[i]));
    buffer[from] = '\0';
    return from;
}

// Waits, without echo, until a resize leaves room for the input line again;
// false when the input ends first. Keys typed meanwhile have nowhere to go.
static bool wait_for_room(int &mid, const char *title)
{
    noecho();
    for (;;) {
        int key = wgetch(stdscr);
        if (key == ERR) {
            echo();
            return false;
        }
        if (key == KEY_RESIZE) {
            mid = draw_prompt_box(title);
            if (wmove(stdscr, mid, 11) != ERR) {
                echo();
                return true;
            }
        }
    }
}

// Reads one line into buffer inside the box. A resize ends wgetnstr early with
// KEY_RESIZE and the line half typed: the box is drawn anew for the new size,
// what was typed is read again, and the reading goes on, so a resize never
// passes a half-typed answer on as if Enter had been pressed.
int prompt_string(char *buffer, int size, const char *title)
{
    cbreak();
    echo();
    leaveok(stdscr, FALSE);
    int mid = draw_prompt_box(title);
    curs_set(1);

    int result = -1;
    // A size below 1 leaves no room even for the NUL, and wgetnstr would take
    // a negative limit as no limit at all.
    if (buffer != nullptr && size >= 1 && wmove(stdscr, mid, 11) != ERR) {
        int keep = 0;
        for (;;) {
            draw_bytes(stdscr, buffer, keep);
            int read = wgetnstr(stdscr, buffer + keep, size - 1 - keep);
            if (read != KEY_RESIZE) {
                result = read == ERR ? -1 : 0;
                break;
            }
            mid = draw_prompt_box(title);
            if (wmove(stdscr, mid, 11) == ERR && !wait_for_room(mid, title))
                break;
            keep = replay_typed(buffer, keep);
        }
    }

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
