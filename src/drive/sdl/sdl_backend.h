// The only door to SDL's CD-ROM interface. The SDL_CD handle is the drive's
// record; the rest of mivo reads its fields and reaches the drive through here,
// so another way of reaching a drive can stand beside SDL without touching them.
#pragma once

#include <SDL_cdrom.h>

// Starts SDL's CD-ROM subsystem; 0 on success, SDL_Init's result otherwise.
int drive_init();

// Number of CD-ROM drives SDL knows of; below 1 means none.
int drive_count();

// Opens drive number n, or returns NULL (drive_error says why).
SDL_CD *drive_open(int n);

// The text of SDL's last failure.
const char *drive_error();

// Refreshes the handle's status, position and table of contents.
void drive_refresh(SDL_CD *cd);

// Plays from start_track at start_frame for ntracks tracks and nframes frames;
// both counts 0 mean to the end of the disc. The drive's answer is returned
// for tests and ignored by the player.
int drive_play(SDL_CD *cd, int start_track, int start_frame, int ntracks, int nframes);

void drive_pause(SDL_CD *cd);
void drive_resume(SDL_CD *cd);
void drive_stop(SDL_CD *cd);
void drive_eject(SDL_CD *cd);

// Closes the drive and SDL with it; the handle is not to be used afterwards.
void drive_close(SDL_CD *cd);
