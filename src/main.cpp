// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/player.h"

#include <clocale>

int main(int argc, char **argv)
{
    // Titles are bytes as the disc's file holds them; the locale lets the
    // wide-character curses show UTF-8 ones as characters.
    setlocale(LC_ALL, "");
    return run_player(argc, argv);
}
