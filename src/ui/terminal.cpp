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

// Half-delay mode would make the read wait whatever the window's time-out
// says, so cbreak mode is set for the read and read_key restores half-delay.
int read_key_now()
{
    cbreak();
    wtimeout(stdscr, 0);
    int key = wgetch(stdscr);
    wtimeout(stdscr, -1);
    halfdelay(5);
    return key;
}

int terminal_input_fd() { return input_fd; }

bool terminal_lost()
{
    if (input_fd < 0)
        return false;
    pollfd p = {input_fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}
