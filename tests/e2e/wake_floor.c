/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The least a program waking twice a second can cost: it waits for its
 * terminal half a second at a time and does nothing else, until the terminal
 * hangs up. The bench measures it beside the players, so their idle figures
 * can be read against what the machine charges for the wake-ups alone. */
#include <poll.h>

int main(void)
{
    for (;;) {
        struct pollfd input = {0, POLLIN, 0};
        if (poll(&input, 1, 500) != 0 && (input.revents & (POLLHUP | POLLERR | POLLNVAL)))
            return 0;
        if (input.revents & POLLIN)
            return 0;
    }
}
