#include "app/main_loop.h"

#include "app/commands.h"
#include "drive/sdl/sdl_backend.h"
#include "app/player.h"
#include "database/database.h"
#include "database/disc_id.h"
#include "ui/player_screen.h"
#include "ui/terminal.h"

#include <cstring>

// The table of contents of the disc whose texts player.db holds. At a disc
// change the handle already describes the new disc, so unsaved texts are saved
// with this copy, under the identity of the disc they belong to.
static SDL_CD loaded_disc;

// The track last seen playing or paused. Once the drive stops, SDL no longer
// names the track that ended (classic SDL reports 0, a virtual drive the next
// one), so Repeat Track restarts this one.
static int last_played_track;

void remember_loaded_disc(const SDL_CD &drive) { loaded_disc = drive; }

void play_one_track(SDL_CD *cd, int track, int frame)
{
    // Some drives refuse a one-track play of the last track; to the end of the
    // disc is the same stretch of audio there.
    if (track == cd->numtracks - 1)
        drive_play(cd, track, frame, 0, 0);
    else
        drive_play(cd, track, frame, 1, 0);
}

static void follow_disc_change(uint64_t id)
{
    SDL_CD *cd = player.cdrom;
    if (player.db.dirty) {
        // Unsaved edits of the previous disc go to that disc's file or are lost;
        // never to the new disc's.
        save_database(player.db, loaded_disc);
    }
    if (cd->status <= CD_TRAYEMPTY) {
        memset(player.db.entries, 0, sizeof player.db.entries);
    } else {
        load_database(player, *cd);
    }
    player.db.dirty = 0;
    remember_loaded_disc(*cd);
    player.disc_id = id;
    last_played_track = 0;
}

void poll_drive()
{
    SDL_CD *cd = player.cdrom;
    drive_refresh(cd);
    uint64_t id = compute_disc_id(*cd);
    if (id != player.disc_id)
        follow_disc_change(id);
    if (cd->status == CD_PLAYING || cd->status == CD_PAUSED)
        last_played_track = cd->cur_track;
    if (cd->status == CD_STOPPED) {
        if (player.play_mode == MODE_REPEAT_TRACK)
            play_one_track(cd, last_played_track, 0);
        else if (player.play_mode == MODE_REPEAT_CD)
            drive_play(cd, 0, 0, 0, 0);
        drive_refresh(cd);
    }
}

void run_main_loop()
{
    do {
        poll_drive();
        draw_player_screen(player);
        int key = read_key(5);
        if (terminal_lost())
            player.quit = 1;
        dispatch_key(key);
    } while (!player.quit);
}
