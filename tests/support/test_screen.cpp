// SPDX-License-Identifier: GPL-3.0-or-later
#include "test_screen.h"

#include "app/commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdio>
#include <cwchar>

static SCREEN *screen;
static int key_pipe[2] = {-1, -1};

void open_test_screen(int rows, int cols)
{
    if (screen == nullptr) {
        setlocale(LC_ALL, "C.UTF-8");
        if (pipe(key_pipe) != 0)
            return;
        fcntl(key_pipe[1], F_SETFL, O_NONBLOCK);
        FILE *in = fdopen(key_pipe[0], "r");
        FILE *out = fopen("/dev/null", "w");
        screen = newterm("xterm-256color", out, in);
        set_term(screen);
        start_color();
        for (short i = 0; i <= 7; i++)
            init_pair(i, i, COLOR_BLACK);
        cbreak();
        noecho();
        keypad(stdscr, TRUE);
        leaveok(stdscr, TRUE);
    }
    // The screens show and run the commands of the application's table.
    use_player_commands();
    resizeterm(rows, cols);
    drain_keys();
    wattrset(stdscr, A_NORMAL);
    werase(stdscr);
}

void feed_keys(const std::string &keys)
{
    ssize_t written = write(key_pipe[1], keys.data(), keys.size());
    (void)written;
}

// Reads up to a marker key rather than until a read comes back empty: curses
// cannot leave half-delay on a pipe (cbreak() fails without a tty), and in
// half-delay that last empty read would wait, ignoring nodelay.
void drain_keys()
{
    const int marker = 0x1d;
    feed_keys(std::string(1, static_cast<char>(marker)));
    nodelay(stdscr, TRUE);
    for (int key = wgetch(stdscr); key != marker && key != ERR; key = wgetch(stdscr)) {
    }
    nodelay(stdscr, FALSE);
}

std::string cell_text(int row, int col)
{
    cchar_t cc;
    if (mvwin_wch(stdscr, row, col, &cc) == ERR)
        return "";
    wchar_t wide[CCHARW_MAX + 1] = {};
    attr_t attrs;
    short pair;
    getcchar(&cc, wide, &attrs, &pair, nullptr);
    std::string out;
    for (int i = 0; wide[i] != 0; i++) {
        char bytes[MB_LEN_MAX];
        mbstate_t state{};
        size_t n = wcrtomb(bytes, wide[i], &state);
        if (n != static_cast<size_t>(-1))
            out.append(bytes, n);
    }
    return out;
}

std::string row_text(int row, int col, int width)
{
    if (width < 0)
        width = getmaxx(stdscr) - col;
    std::string out;
    for (int c = col; c < col + width; c++)
        out += cell_text(row, c);
    return out;
}

attr_t cell_attrs(int row, int col)
{
    return mvwinch(stdscr, row, col) & (A_ATTRIBUTES & ~A_ALTCHARSET);
}

int cell_pair(int row, int col) { return PAIR_NUMBER(mvwinch(stdscr, row, col)); }

bool cell_is(int row, int col, chtype acs)
{
    chtype ch = mvwinch(stdscr, row, col);
    return (ch & (A_CHARTEXT | A_ALTCHARSET)) == (acs & (A_CHARTEXT | A_ALTCHARSET));
}
