// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/terminal.h"

#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <term.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

// The descriptor curses reads keys from; -1 until start_terminal.
static int input_fd = -1;

// Set by SIGTSTP; curses is not safe to call from a handler, so the loops
// act on it between reads.
static volatile sig_atomic_t suspend_requested;

// An escape sequence of a function key arrives in one piece, so a lone Escape
// (which cancels a prompt) need not be held back for curses' default second.
static constexpr int ESCAPE_DELAY_MS = 100;

// Set by SIGWINCH. curses' own handler reports a resize only when the size it
// reads differs from the last one it saw, so a quick shrink and grow back, or
// one while mivo was stopped, left a screen the terminal had cut; mivo's own
// flag repaints the whole screen on every one.
static volatile sig_atomic_t resize_requested;

static void note_suspend_request(int) { suspend_requested = 1; }

static void note_resize(int) { resize_requested = 1; }

// curses installs its own SIGTSTP and SIGWINCH handlers, the first of which
// runs curses inside the handler, unless others are in place when it starts.
static void install_signal_handlers()
{
    struct sigaction action = {};
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a key read blocked in read() returns, so the request is
    // seen at once.
    action.sa_flags = 0;
    action.sa_handler = note_suspend_request;
    sigaction(SIGTSTP, &action, nullptr);
    action.sa_handler = note_resize;
    sigaction(SIGWINCH, &action, nullptr);
}

// Takes the terminal's size after a SIGWINCH and has the whole screen
// repainted; true when there was one to take.
static bool follow_resize()
{
    if (!resize_requested)
        return false;
    resize_requested = 0;
    winsize size = {};
    if (ioctl(fileno(stdout), TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0)
        resizeterm(size.ws_row, size.ws_col);
    clearok(curscr, TRUE);
    return true;
}

// The suspend and resize requests that came since the last read, carried out;
// true when the caller must draw everything anew.
static bool follow_requests()
{
    const bool suspended = suspend_if_requested();
    const bool resized = follow_resize();
    return suspended || resized;
}

// Stops mivo with a default SIGTSTP rather than SIGSTOP: the kernel discards
// it where no job-control shell could continue mivo (an orphaned process
// group, as under a terminal emulator's -e, a new tmux session or setsid), so
// mivo goes on there instead of being frozen for good.
static void stop_as_the_shell_expects()
{
    struct sigaction stop_by_default = {};
    sigemptyset(&stop_by_default.sa_mask);
    stop_by_default.sa_handler = SIG_DFL;
    struct sigaction own = {};
    sigaction(SIGTSTP, &stop_by_default, &own);
    sigset_t tstp;
    sigemptyset(&tstp);
    sigaddset(&tstp, SIGTSTP);
    sigset_t before;
    pthread_sigmask(SIG_UNBLOCK, &tstp, &before);
    raise(SIGTSTP);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    sigaction(SIGTSTP, &own, nullptr);
}

bool suspend_if_requested()
{
    if (!suspend_requested)
        return false;
    suspend_requested = 0;
    endwin();
    stop_as_the_shell_expects();
    // Continued: whatever the terminal showed meanwhile is repainted, and a
    // resize while stopped reaches curses through its own SIGWINCH flag.
    clearok(curscr, TRUE);
    wrefresh(stdscr);
    return true;
}

void set_idle_input_mode()
{
    cbreak();
    noecho();
    leaveok(stdscr, TRUE);
    keypad(stdscr, TRUE);
    halfdelay(5);
}

// Whether the terminal named by TERM can place the cursor; curses on a
// terminal that cannot prints the screen as a garbled run of lines.
static bool terminal_can_address_cursor()
{
    int error = 0;
    if (setupterm(nullptr, fileno(stdout), &error) != OK)
        return false;
    const char *move = tigetstr("cup");
    const bool can = move != nullptr && move != reinterpret_cast<const char *>(-1);
    del_curterm(cur_term);
    return can;
}

// NO_COLOR set to anything but "": the user wants no colour, and mivo shows
// what it shows on a terminal without colours, its attributes alone.
static bool colour_refused()
{
    const char *no_color = getenv("NO_COLOR");
    return no_color != nullptr && no_color[0] != '\0';
}

bool start_terminal()
{
    // initscr exits by itself on a terminal it cannot use; newterm returns
    // NULL instead, so the failure can be reported as mivo's own.
    install_signal_handlers();
    SCREEN *screen = nullptr;
    if (isatty(fileno(stdin)) && terminal_can_address_cursor())
        screen = newterm(nullptr, stdout, stdin);
    if (screen == nullptr)
        return false;
    set_term(screen);
    input_fd = fileno(stdin);
    set_escdelay(ESCAPE_DELAY_MS);
    // Keys come as the bytes typed, all eight bits of each, so the prompt can
    // put a character of the locale together from them.
    meta(stdscr, TRUE);
    if (has_colors() && !colour_refused()) {
        start_color();
        for (short i = 0; i <= 7; i++)
            init_pair(i, i, COLOR_BLACK);
    }
    set_idle_input_mode();
    return true;
}

void stop_terminal()
{
    wclear(stdscr);
    wrefresh(stdscr);
    wmove(stdscr, 0, 0);
    endwin();
}

// A key handed back to curses after a suspend or resize, which the terminal's
// descriptor no longer shows.
static bool key_handed_back;

// Whether curses may hold keys it read ahead: only after it has read one.
static bool keys_may_be_held;

// Set when the last wait saw the terminal neither readable nor hung up.
static bool input_seen_quiet;

int read_key(int tenths)
{
    if (follow_requests())
        return KEY_RESIZE;
    halfdelay(tenths);
    key_handed_back = false;
    const int key = wgetch(stdscr);
    if (key != ERR)
        keys_may_be_held = true;
    if (!follow_requests())
        return key;
    // The key came with the request; it is read again after the redraw.
    if (key != ERR && key != KEY_RESIZE) {
        ungetch(key);
        key_handed_back = true;
    }
    return KEY_RESIZE;
}

// True when curses holds keys it has read ahead, which are then handed back to
// it. After an escape sequence it does not know (Alt and a letter) it returns
// the Escape and keeps the rest, which the descriptor no longer shows. Even a
// no-delay read waits out the half-delay, so the look leaves it for a moment;
// only a terminal lets it, so without one there is no look.
static bool key_read_ahead()
{
    // Each look switches the terminal's mode twice: not on an idle turn.
    if (input_fd < 0 || !keys_may_be_held || !isatty(input_fd))
        return false;
    keys_may_be_held = false;
    cbreak();
    nodelay(stdscr, TRUE);
    const int key = wgetch(stdscr);
    nodelay(stdscr, FALSE);
    if (key == ERR)
        return false;
    ungetch(key);
    return true;
}

// curses takes typed bytes one at a time, so apart from what it read ahead the
// descriptor shows what is still to be read; once a key is there, the timed
// read returns it at once, an arrow key's whole sequence included. The screen
// is brought up to date first, as wgetch would before it waits.
int read_key_waiting(int tenths, short (*wait)(int input_fd, int timeout_ms))
{
    if (follow_requests())
        return KEY_RESIZE;
    if (key_handed_back)
        return read_key(tenths);
    // An idle turn draws nothing: curses need not look the screen over.
    if (is_wintouched(stdscr))
        wrefresh(stdscr);
    if (key_read_ahead())
        return read_key(tenths);
    const short seen = wait(input_fd, tenths * 100);
    // A suspend or a resize asked for meanwhile is followed at once.
    if (follow_requests())
        return KEY_RESIZE;
    if (seen == 0 && input_fd >= 0) {
        input_seen_quiet = true;
        return NO_KEY;
    }
    pollfd p = {input_fd, POLLIN, 0};
    if (input_fd < 0 || poll(&p, 1, 0) != 1 || (p.revents & POLLIN) == 0)
        return NO_KEY;
    return read_key(tenths);
}

bool terminal_lost()
{
    const bool quiet = input_seen_quiet;
    input_seen_quiet = false;
    if (input_fd < 0 || quiet)
        return false;
    pollfd p = {input_fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}
