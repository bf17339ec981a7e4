// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/prompt.h"

#include "ui/draw.h"
#include "ui/terminal.h"

#include <curses.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

// The open prompt: the line in the locale's multibyte form (only whole
// characters ever enter it, so it is valid text at every step), where the
// cursor stands in it, and the bytes of a character still being typed.
static struct {
    bool open;
    const char *title;
    PromptAnswered answered;
    char text[1024];
    int length;
    int limit;
    int cursor;
    bool selected; // the whole line, as a title prompt opens
    char pending[MB_LEN_MAX];
    int pending_length;
    bool has_room;
} prompt;

// The go-to prompt's caller.
static void (*track_chosen)(int track);

// Keys the prompt reads as such.
static constexpr int ESCAPE = 27;
static constexpr int CTRL_A = 1;
static constexpr int CTRL_E = 5;
static constexpr int CTRL_H = 8;
static constexpr int CTRL_K = 11;
static constexpr int CTRL_U = 21;
static constexpr int CTRL_W = 23;
static constexpr int DELETE_BYTE = 127;

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
// row; the next redraw of the screen below removes it.
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

// Cells of the line's bytes from..to.
static int cells_between(int from, int to)
{
    int total = 0;
    for (int at = from, cells = 0; at < to; total += cells)
        at += next_character(prompt.text + at, to - at, cells);
    return total;
}

// The start of the character before byte at.
static int character_before(int at)
{
    int last = 0;
    for (int i = 0, cells = 0; i < at;) {
        last = i;
        i += next_character(prompt.text + i, prompt.length - i, cells);
    }
    return last;
}

// The byte after the character at at.
static int character_after(int at)
{
    if (at >= prompt.length)
        return prompt.length;
    int cells = 0;
    return at + next_character(prompt.text + at, prompt.length - at, cells);
}

// Shows the part of the line up to the cursor that fits the field with a cell
// to spare for the cursor; a line longer than the field scrolls inside it
// instead of running over the frame. A selected line shows in reverse video.
static void draw_field(int mid)
{
    const int width = field_width();
    put_run(mid, 11, ' ', width);
    int start = 0;
    int before = cells_between(0, prompt.cursor);
    while (before > width - 1 && start < prompt.cursor) {
        int cells = 0;
        start += next_character(prompt.text + start, prompt.length - start, cells);
        before -= cells;
    }
    if (wmove(stdscr, mid, 11) == ERR)
        return;
    // What follows the cursor, as far as the field shows it.
    int end = prompt.cursor;
    for (int shown = before, cells = 0; end < prompt.length;) {
        const int n = next_character(prompt.text + end, prompt.length - end, cells);
        if (shown + cells > width)
            break;
        shown += cells;
        end += n;
    }
    if (prompt.selected)
        wattr_on(stdscr, A_REVERSE, nullptr);
    draw_bytes(stdscr, prompt.text + start, end - start);
    if (prompt.selected)
        wattr_off(stdscr, A_REVERSE, nullptr);
    wmove(stdscr, mid, 11 + before);
}

// Replaces bytes from..to of the line with count bytes of insert.
static void splice(int from, int to, const char *insert, int count)
{
    memmove(prompt.text + from + count, prompt.text + to, static_cast<size_t>(prompt.length - to));
    if (count > 0)
        memcpy(prompt.text + from, insert, static_cast<size_t>(count));
    prompt.length += count - (to - from);
    prompt.text[prompt.length] = '\0';
    prompt.cursor = from + count;
}

// Puts one typed character in at the cursor, over a selected line; refused
// when it is a control character or its bytes would pass the limit. A tab is
// kept, as titles have always taken it and the file escapes it.
static void insert_character(wchar_t wide)
{
    if (wide != L'\t' && !iswprint(static_cast<wint_t>(wide)))
        return;
    char bytes[MB_LEN_MAX];
    mbstate_t state{};
    const size_t n = wcrtomb(bytes, wide, &state);
    if (n == static_cast<size_t>(-1))
        return;
    if (prompt.selected) {
        prompt.selected = false;
        splice(0, prompt.length, "", 0);
    }
    if (prompt.length + static_cast<int>(n) > prompt.limit)
        return;
    splice(prompt.cursor, prompt.cursor, bytes, static_cast<int>(n));
}

// The start of the word before the cursor, blanks before it included.
static int word_start()
{
    int at = prompt.cursor;
    while (at > 0 &&
           (prompt.text[character_before(at)] == ' ' || prompt.text[character_before(at)] == '\t'))
        at = character_before(at);
    while (at > 0 && prompt.text[character_before(at)] != ' ' &&
           prompt.text[character_before(at)] != '\t')
        at = character_before(at);
    return at;
}

// A byte of a character typed in the locale's multibyte form; the character
// goes in once whole, a byte that cannot start or go on one is dropped.
static void take_text_byte(int byte)
{
    if (prompt.pending_length >= static_cast<int>(sizeof prompt.pending))
        prompt.pending_length = 0;
    prompt.pending[prompt.pending_length++] = static_cast<char>(byte);
    wchar_t wide = 0;
    mbstate_t state{};
    const size_t n =
        mbrtowc(&wide, prompt.pending, static_cast<size_t>(prompt.pending_length), &state);
    if (n == static_cast<size_t>(-2))
        return;
    prompt.pending_length = 0;
    if (n != static_cast<size_t>(-1) && n != 0)
        insert_character(wide);
}

// The editing keys; false for a key that is none of them.
static bool edit(int key)
{
    const bool selected = prompt.selected;
    prompt.selected = false;
    switch (key) {
    case KEY_LEFT:
        prompt.cursor = character_before(prompt.cursor);
        return true;
    case KEY_RIGHT:
        prompt.cursor = character_after(prompt.cursor);
        return true;
    case KEY_HOME:
    case CTRL_A:
        prompt.cursor = 0;
        return true;
    case KEY_END:
    case CTRL_E:
        prompt.cursor = prompt.length;
        return true;
    case KEY_BACKSPACE:
    case DELETE_BYTE:
    case CTRL_H:
        if (selected)
            splice(0, prompt.length, "", 0);
        else
            splice(character_before(prompt.cursor), prompt.cursor, "", 0);
        return true;
    case KEY_DC:
        if (selected)
            splice(0, prompt.length, "", 0);
        else
            splice(prompt.cursor, character_after(prompt.cursor), "", 0);
        return true;
    case CTRL_U:
        splice(0, prompt.cursor, "", 0);
        return true;
    case CTRL_W:
        splice(word_start(), prompt.cursor, "", 0);
        return true;
    case CTRL_K:
        splice(prompt.cursor, prompt.length, "", 0);
        return true;
    default:
        prompt.selected = selected;
        return false;
    }
}

// Back to the idle input mode: the cursor hidden, leaveok on.
static void close_prompt()
{
    prompt.open = false;
    close_screen(prompt_screen);
    curs_set(0);
    set_idle_input_mode();
}

static void draw_prompt()
{
    const int mid = draw_prompt_box(prompt.title);
    prompt.has_room = wmove(stdscr, mid, 11) != ERR;
    if (prompt.has_room)
        draw_field(mid);
}

static void prompt_key(int key)
{
    if (key == ESCAPE) {
        close_prompt();
        return;
    }
    // Until a resize gives the line room again the user cannot see it, so
    // nothing typed meanwhile may change or accept it.
    if (key == KEY_RESIZE || !prompt.has_room)
        return;
    if (key == '\n' || key == '\r' || key == KEY_ENTER) {
        if (prompt.pending_length > 0)
            prompt.pending_length = 0;
        char answer[sizeof prompt.text];
        memcpy(answer, prompt.text, static_cast<size_t>(prompt.length) + 1);
        const PromptAnswered answered = prompt.answered;
        close_prompt();
        if (answered != nullptr)
            answered(answer);
        return;
    }
    if (edit(key))
        return;
    // Whatever else curses gives as a key of its own changes nothing.
    if (key < 0 || key > 0xff)
        return;
    take_text_byte(key);
}

// mivo ends with the prompt open: nothing is answered.
static void leave_prompt() { close_prompt(); }

const Screen prompt_screen = {"prompt", draw_prompt, prompt_key, leave_prompt, SCREEN_HOLDS_DRIVE};

bool open_prompt(const char *title, const char *text, int size, PromptAnswered answered)
{
    // A size below 2 leaves no room for a character besides the NUL.
    if (size < 1 || prompt.open) {
        curs_set(0);
        set_idle_input_mode();
        return false;
    }
    // On a screen too narrow for the input line the box still shows, over
    // the screen below until its next redraw, as the prompt's only answer.
    const int mid = draw_prompt_box(title);
    if (wmove(stdscr, mid, 11) == ERR) {
        curs_set(0);
        set_idle_input_mode();
        return false;
    }
    const int most = static_cast<int>(sizeof prompt.text) - 1;
    prompt.limit = size - 1 < most ? size - 1 : most;
    prompt.title = title;
    prompt.answered = answered;
    prompt.length = 0;
    prompt.text[0] = '\0';
    prompt.pending_length = 0;
    // Text past the limit is cut to whole characters.
    if (text != nullptr) {
        const int total = static_cast<int>(strlen(text));
        for (int at = 0, cells = 0; at < total;) {
            const int n = next_character(text + at, total - at, cells);
            if (at + n > prompt.limit)
                break;
            at += n;
            prompt.length = at;
        }
        memcpy(prompt.text, text, static_cast<size_t>(prompt.length));
        prompt.text[prompt.length] = '\0';
    }
    prompt.cursor = prompt.length;
    prompt.selected = prompt.length > 0;
    prompt.has_room = true;
    if (!open_screen(prompt_screen))
        return false;
    prompt.open = true;
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    leaveok(stdscr, FALSE);
    curs_set(1);
    return true;
}

bool prompt_open() { return prompt.open; }

// atoi's reading of the answer, so " 12", "12ab" and "-3" all give a number
// and text without digits gives 0, that is -1 after the shift to 0-based.
static void track_number_answered(const char *answer)
{
    const int track = atoi(answer) - 1;
    if (track != -1 && track_chosen != nullptr)
        track_chosen(track);
}

void prompt_track_number(void (*chosen)(int track))
{
    track_chosen = chosen;
    open_prompt("Go to which track?", "", 5, track_number_answered);
}
