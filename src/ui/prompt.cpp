// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/prompt.h"

#include "ui/draw.h"
#include "ui/terminal.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

static int (*read_prompt_key)(wint_t *key) = read_wide_key;

void set_prompt_key_reader(int (*reader)(wint_t *key))
{
    read_prompt_key = reader != nullptr ? reader : read_wide_key;
}

// The line being typed, in the locale's multibyte form; only whole characters
// ever enter it, so it is valid text at every step.
struct PromptLine {
    char text[1024];
    int length;
    int limit;
};

static PromptLine line;

// The key that cancels a prompt.
static constexpr wint_t ESCAPE = 27;

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

// The cells the input field spans from column 11: the inside of the box, or on
// a screen too narrow for a box whatever lies right of column 11.
static int field_width()
{
    const int cols = getmaxx(stdscr);
    return cols - 22 >= 1 ? cols - 22 : cols - 11;
}

// Length in bytes of the character at text (1 for a byte the locale cannot
// read, so a walk over text always moves on), and its width in cells.
static int next_character(const char *text, int left, int &cells)
{
    wchar_t wide = 0;
    mbstate_t state{};
    const size_t n = mbrtowc(&wide, text, static_cast<size_t>(left), &state);
    if (n == 0 || n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
        cells = 1;
        return 1;
    }
    const int w = wcwidth(wide);
    cells = w < 0 ? 1 : w;
    return static_cast<int>(n);
}

// Shows the end of the line that fits the field with a cell to spare for the
// cursor, which goes after the last character; a line longer than the field
// scrolls inside it instead of running over the frame.
static void draw_field(int mid)
{
    const int width = field_width();
    put_run(mid, 11, ' ', width);
    int total = 0;
    for (int at = 0, cells = 0; at < line.length; total += cells)
        at += next_character(line.text + at, line.length - at, cells);
    int start = 0;
    while (total > width - 1 && start < line.length) {
        int cells = 0;
        start += next_character(line.text + start, line.length - start, cells);
        total -= cells;
    }
    if (wmove(stdscr, mid, 11) != ERR) {
        draw_bytes(stdscr, line.text + start, line.length - start);
        wmove(stdscr, mid, 11 + total);
    }
}

// Appends one character typed in the locale; refused when it is a control
// character or its bytes would pass the limit. A tab is kept, as titles have
// always taken it and the file escapes it.
static void insert_character(wchar_t wide)
{
    if (wide != L'\t' && !iswprint(static_cast<wint_t>(wide)))
        return;
    char bytes[MB_LEN_MAX];
    mbstate_t state{};
    const size_t n = wcrtomb(bytes, wide, &state);
    if (n == static_cast<size_t>(-1) || line.length + static_cast<int>(n) > line.limit)
        return;
    memcpy(line.text + line.length, bytes, n);
    line.length += static_cast<int>(n);
    line.text[line.length] = '\0';
}

// Removes the last whole character, however many bytes it takes.
static void erase_character()
{
    int last = 0;
    for (int at = 0, cells = 0; at < line.length;) {
        last = at;
        at += next_character(line.text + at, line.length - at, cells);
    }
    line.length = last;
    line.text[line.length] = '\0';
}

enum class PromptStep { KEEP_GOING, ACCEPT, CANCEL };

// What one key does to the line; resizes and waits are the caller's.
static PromptStep edit_line(int result, wint_t key, bool has_room)
{
    if (result == KEY_CODE_YES) {
        if (key == KEY_ENTER && has_room)
            return PromptStep::ACCEPT;
        if (key == KEY_BACKSPACE && has_room)
            erase_character();
        return PromptStep::KEEP_GOING;
    }
    if (key == ESCAPE)
        return PromptStep::CANCEL;
    // Until a resize gives the line room again the user cannot see it, so
    // nothing typed meanwhile may change or accept it.
    if (!has_room)
        return PromptStep::KEEP_GOING;
    if (key == '\n' || key == '\r')
        return PromptStep::ACCEPT;
    if (key == 127 || key == 8)
        erase_character();
    else
        insert_character(static_cast<wchar_t>(key));
    return PromptStep::KEEP_GOING;
}

// Reads and edits the line until Enter or Escape. Half-delay bounds each read,
// so a terminal that hung up or a quit signal is noticed and ends the prompt
// with nothing stored; a resize draws the box anew for the new size with the line kept.
static PromptStep read_line(const char *title)
{
    int mid = draw_prompt_box(title);
    bool has_room = true;
    for (;;) {
        if (has_room)
            draw_field(mid);
        wint_t key = 0;
        const int result = read_prompt_key(&key);
        // mivo is to end: the half-typed line is dropped, as Escape drops it.
        if (quit_requested())
            return PromptStep::CANCEL;
        if (result == ERR) {
            if (terminal_lost())
                return PromptStep::CANCEL;
            continue;
        }
        if (result == KEY_CODE_YES && key == KEY_RESIZE) {
            mid = draw_prompt_box(title);
            has_room = wmove(stdscr, mid, 11) != ERR;
            continue;
        }
        const PromptStep step = edit_line(result, key, has_room);
        if (step != PromptStep::KEEP_GOING)
            return step;
    }
}

int prompt_string(char *buffer, int size, const char *title)
{
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    halfdelay(5);
    leaveok(stdscr, FALSE);
    const int mid = draw_prompt_box(title);
    curs_set(1);

    int result = -1;
    // A size below 1 leaves no room even for the NUL.
    if (buffer != nullptr && size >= 1 && wmove(stdscr, mid, 11) != ERR) {
        const int most = static_cast<int>(sizeof line.text) - 1;
        line.limit = size - 1 < most ? size - 1 : most;
        line.length = 0;
        line.text[0] = '\0';
        if (read_line(title) == PromptStep::ACCEPT) {
            memcpy(buffer, line.text, static_cast<size_t>(line.length) + 1);
            result = 0;
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
