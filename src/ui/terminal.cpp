#include "ui/terminal.h"

#include <curses.h>
#include <poll.h>

#include <cstdio>
#include <cstdlib>

// The descriptor curses reads keys from; -1 until start_terminal.
static int input_fd = -1;

void set_idle_input_mode()
{
    cbreak();
    noecho();
    leaveok(stdscr, TRUE);
    keypad(stdscr, TRUE);
    halfdelay(5);
}

void start_terminal()
{
    // initscr exits by itself on a terminal it cannot use; newterm returns
    // NULL instead, so the failure can be reported as mivo's own.
    SCREEN *screen = newterm(nullptr, stdout, stdin);
    if (screen == nullptr) {
        fputs("Error: Could not start ncurses\n", stderr);
        exit(1);
    }
    set_term(screen);
    input_fd = fileno(stdin);
    if (has_colors()) {
        start_color();
        for (short i = 0; i <= 7; i++)
            init_pair(i, i, COLOR_BLACK);
    }
    set_idle_input_mode();
}

void stop_terminal()
{
    wclear(stdscr);
    wrefresh(stdscr);
    wmove(stdscr, 0, 0);
    endwin();
}

int read_key(int tenths)
{
    halfdelay(tenths);
    return wgetch(stdscr);
}

// curses takes typed bytes one at a time, so the descriptor shows what is still
// to be read; once a key is there, the timed read returns it at once, an arrow
// key's whole sequence included. The screen is brought up to date first, as
// wgetch would before it waits.
int read_key_waiting(int tenths, void (*wait)(int input_fd, int timeout_ms))
{
    wrefresh(stdscr);
    wait(input_fd, tenths * 100);
    pollfd p = {input_fd, POLLIN, 0};
    if (input_fd < 0 || poll(&p, 1, 0) != 1 || (p.revents & POLLIN) == 0)
        return NO_KEY;
    return read_key(tenths);
}

bool terminal_lost()
{
    if (input_fd < 0)
        return false;
    pollfd p = {input_fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}
