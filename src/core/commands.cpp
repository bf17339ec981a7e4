#include "core/commands.h"

#include "core/player.h"

// Only quit is bound until the rest of the commands land.
void dispatch_key(int key)
{
    if (key == 'q' || key == 'Q')
        player.quit = 1;
}

void play_from(int, int) {}

void step_volume(VolumeStep) {}
