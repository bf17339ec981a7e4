#include "ui/player_screen.h"

#include <curses.h>

// Placeholder until the player screen lands.
void draw_player_screen(const PlayerState &)
{
    werase(stdscr);
}
