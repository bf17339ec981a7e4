// The main loop: polls the drive, follows disc changes, carries out the play
// mode, redraws and dispatches keys until quit is set.
#pragma once

#include <SDL_cdrom.h>

// Runs turns until quit is set at the end of one.
void run_main_loop();

// The part of a turn before the redraw: status refresh, disc change, play mode.
void poll_drive();

// Remembers the table of contents the texts in player.db belong to; called
// whenever they are loaded, so unsaved texts can be saved under their own disc.
void remember_loaded_disc(const SDL_CD &drive);

// Starts a one-track play of track, or to the end of the disc for the last
// track, which some drives refuse to play as one track.
void play_one_track(SDL_CD *cd, int track, int frame);
