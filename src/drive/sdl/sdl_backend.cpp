// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/sdl/sdl_backend.h"

#include "drive/sdl/sdl_volume.h"

#include <SDL.h>
#include <SDL_cdrom.h>

#include <cstdio>
#include <cstring>

static_assert(SDL_MAX_TRACKS == MAX_TRACKS, "SDL's table and mivo's have the same size");
static_assert(int{CD_ERROR} == int{DRIVE_ERROR} && int{CD_TRAYEMPTY} == int{DRIVE_NO_DISC} &&
                  int{CD_STOPPED} == int{DRIVE_STOPPED} && int{CD_PLAYING} == int{DRIVE_PLAYING} &&
                  int{CD_PAUSED} == int{DRIVE_PAUSED},
              "states pass through by number");

// The drive as the main loop, its only user, knows it.
static struct {
    SDL_CD *cd;
    // The table the last refresh returned, to tell a new disc from the same one.
    Toc last_toc;
    // The track last seen playing or paused. Once the drive stops, SDL no
    // longer names the track that ended (classic SDL reports 0, a virtual
    // drive the next one), so a restart of the current track plays this one.
    int32_t last_played_track;
    // Start-up failures are whole lines for the user; SDL's own text otherwise.
    char open_failure[1200];
    bool open_failed;
    bool no_drives;
} sdl;

// Starts SDL's CD-ROM subsystem and opens the numbered drive, saying which
// step failed in the words mivo has always used. A failure takes the subsystem
// down again, so a fallback to the digital drive does not run beside it.
static int sdl_open(const DriveTarget &target)
{
    sdl.open_failed = true;
    sdl.no_drives = false;
    int init_result = SDL_Init(SDL_INIT_CDROM);
    if (init_result != 0) {
        snprintf(sdl.open_failure, sizeof sdl.open_failure, "Error: %s.", strerror(init_result));
        return -1;
    }
    if (SDL_CDNumDrives() < 1) {
        sdl.no_drives = true;
        snprintf(sdl.open_failure, sizeof sdl.open_failure, "No CDROM devices available");
        SDL_QuitSubSystem(SDL_INIT_CDROM);
        return -1;
    }
    sdl.cd = SDL_CDOpen(target.number);
    if (sdl.cd == nullptr) {
        snprintf(sdl.open_failure, sizeof sdl.open_failure, "Could not open drive: %s",
                 SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_CDROM);
        return -1;
    }
    sdl.open_failed = false;
    memset(&sdl.last_toc, 0, sizeof sdl.last_toc);
    sdl.last_played_track = 0;
    return 0;
}

bool sdl_found_no_drives() { return sdl.no_drives; }

// SDL_Quit lets the virtual drive's audio device go before the process ends.
static void sdl_close()
{
    if (sdl.cd != nullptr)
        SDL_CDClose(sdl.cd);
    sdl.cd = nullptr;
    SDL_Quit();
}

// The handle's table as mivo's, with the count held within 0..99 whatever a
// confused drive reports, and every entry past the lead-out zero.
static void copy_toc(const SDL_CD &drive, Toc &toc)
{
    memset(&toc, 0, sizeof toc);
    int32_t count = drive.numtracks;
    toc.count = count < 0 ? 0 : count > MAX_TRACKS ? MAX_TRACKS : count;
    for (int i = 0; i <= toc.count; i++) {
        toc.track[i].offset = drive.track[i].offset;
        toc.track[i].length = i < toc.count ? drive.track[i].length : 0;
        toc.track[i].audio = i < toc.count && drive.track[i].type == SDL_AUDIO_TRACK;
    }
}

// Whether two tables describe the same disc.
static bool same_disc(const Toc &a, const Toc &b)
{
    if (a.count != b.count)
        return false;
    for (int i = 0; i <= a.count; i++)
        if (a.track[i].offset != b.track[i].offset || a.track[i].length != b.track[i].length)
            return false;
    return true;
}

static int sdl_refresh(DriveStatus &status)
{
    memset(&status, 0, sizeof status);
    if (sdl.cd == nullptr)
        return -1;
    SDL_CDStatus(sdl.cd);
    int state = 0;
    static_assert(sizeof state == sizeof sdl.cd->status);
    memcpy(&state, &sdl.cd->status, sizeof state); // any number the library stored
    status.state = state;
    copy_toc(*sdl.cd, status.toc);
    status.track = sdl.cd->cur_track;
    status.frame = sdl.cd->cur_frame;
    // After the end of the disc a virtual drive reports the track after the
    // last; the position is then the end of the last track.
    if (status.toc.count > 0 && status.track >= status.toc.count) {
        status.track = status.toc.count - 1;
        status.frame = static_cast<int32_t>(status.toc.track[status.track].length);
    }
    if (!same_disc(status.toc, sdl.last_toc))
        sdl.last_played_track = 0;
    sdl.last_toc = status.toc;
    if (status.state == DRIVE_PLAYING || status.state == DRIVE_PAUSED)
        sdl.last_played_track = status.track;
    status.restart_track = sdl.last_played_track;
    status.reading = false;
    return 0;
}

static int sdl_play(int32_t track, int32_t frame, PlaySpan span)
{
    if (sdl.cd == nullptr)
        return -1;
    // Some drives refuse a one-track play of the last track; to the end of the
    // disc is the same stretch of audio there.
    if (span == SPAN_TO_END || track == sdl.cd->numtracks - 1)
        return SDL_CDPlayTracks(sdl.cd, track, frame, 0, 0) == 0 ? 0 : -1;
    return SDL_CDPlayTracks(sdl.cd, track, frame, 1, 0) == 0 ? 0 : -1;
}

static int sdl_pause() { return sdl.cd != nullptr && SDL_CDPause(sdl.cd) == 0 ? 0 : -1; }

static int sdl_resume() { return sdl.cd != nullptr && SDL_CDResume(sdl.cd) == 0 ? 0 : -1; }

static int sdl_stop() { return sdl.cd != nullptr && SDL_CDStop(sdl.cd) == 0 ? 0 : -1; }

static int sdl_eject() { return sdl.cd != nullptr && SDL_CDEject(sdl.cd) == 0 ? 0 : -1; }

// SDL has no volume call; the drive's own requests go to its descriptor.
static int sdl_get_volume(Volume &volume)
{
    return sdl.cd != nullptr ? read_drive_volume(sdl.cd->id, volume) : -1;
}

static int sdl_set_volume(const Volume &volume)
{
    return sdl.cd != nullptr ? write_drive_volume(sdl.cd->id, volume) : -1;
}

// SDL 1.2 reads no CD-TEXT.
static int sdl_disc_text(DiscText &text)
{
    text.present = false;
    return -1;
}

static const char *sdl_error() { return sdl.open_failed ? sdl.open_failure : SDL_GetError(); }

const DriveBackend sdl_drive_backend = {
    "sdl",          sdl_open,      sdl_close, sdl_refresh, sdl_play,
    sdl_pause,      sdl_resume,    sdl_stop,  sdl_eject,   sdl_get_volume,
    sdl_set_volume, sdl_disc_text, sdl_error, nullptr,     nullptr,
};
