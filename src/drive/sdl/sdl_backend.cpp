#include "drive/sdl/sdl_backend.h"

#include <SDL.h>

int drive_init() { return SDL_Init(SDL_INIT_CDROM); }

int drive_count() { return SDL_CDNumDrives(); }

SDL_CD *drive_open(int n) { return SDL_CDOpen(n); }

const char *drive_error() { return SDL_GetError(); }

void drive_refresh(SDL_CD *cd) { SDL_CDStatus(cd); }

int drive_play(SDL_CD *cd, int start_track, int start_frame, int ntracks, int nframes)
{
    return SDL_CDPlayTracks(cd, start_track, start_frame, ntracks, nframes);
}

void drive_pause(SDL_CD *cd) { SDL_CDPause(cd); }

void drive_resume(SDL_CD *cd) { SDL_CDResume(cd); }

void drive_stop(SDL_CD *cd) { SDL_CDStop(cd); }

void drive_eject(SDL_CD *cd) { SDL_CDEject(cd); }

// SDL_Quit lets the virtual drive's audio device go before the process ends.
void drive_close(SDL_CD *cd)
{
    SDL_CDClose(cd);
    SDL_Quit();
}
