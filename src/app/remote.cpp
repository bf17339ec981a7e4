// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/remote.h"

#include "app/command_line.h"
#include "app/commands.h"
#include "app/cover_flow.h"
#include "app/drive_target.h"
#include "app/main_loop.h"
#include "app/player.h"
#include "database/database.h"
#include "ui/command.h"
#include "ui/message_line.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

// Frames and microseconds: 75 frames a second, which 13333 us does not divide.
static int64_t frames_to_us(int64_t frames) { return frames * 1000000 / FRAMES_PER_SECOND; }
static int64_t us_to_frames(int64_t us) { return us * FRAMES_PER_SECOND / 1000000; }

// The volume as last read from the drive: read when it may have changed, not
// every turn, since a real drive answers through an ioctl.
static Volume volume;
static bool volume_stale = true;

static int64_t now_us()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

void start_remote()
{
    const char *off = getenv("MIVO_NO_MPRIS");
    if (command_line.mpris_disabled || (off != nullptr && strcmp(off, "1") == 0))
        return;
    mpris_start();
    atexit(stop_remote);
}

void stop_remote() { mpris_stop(); }

int remote_fd() { return mpris_fd(); }

void serve_remote()
{
    if (!mpris_process())
        show_message("The desktop's session bus went away: no remote control from now on.");
}

// Copies what stands before and after " / " in the disc's title, the way the
// title file writes "Artist / Album"; without one, both are the whole title.
static void split_disc_title(const char *title, MprisFacts &facts)
{
    const char *slash = strstr(title, " / ");
    if (slash == nullptr) {
        snprintf(facts.artist, sizeof facts.artist, "%s", title);
        snprintf(facts.album, sizeof facts.album, "%s", title);
        return;
    }
    snprintf(facts.artist, sizeof facts.artist, "%.*s", static_cast<int>(slash - title), title);
    snprintf(facts.album, sizeof facts.album, "%s", slash + 3);
}

MprisFacts remote_facts(const DriveStatus &drive, int32_t play_mode, const Volume &level)
{
    MprisFacts f{};
    f.playback = drive.state == DRIVE_PLAYING  ? MPRIS_PLAYING
                 : drive.state == DRIVE_PAUSED ? MPRIS_PAUSED
                                               : MPRIS_STOPPED;
    f.loop = play_mode == MODE_REPEAT_CD      ? MPRIS_LOOP_PLAYLIST
             : play_mode == MODE_REPEAT_TRACK ? MPRIS_LOOP_TRACK
                                              : MPRIS_LOOP_NONE;
    f.volume = level.channel[0] / 255.0;
    const bool has_disc = drive.state > DRIVE_NO_DISC && drive.toc.count > 0;
    const bool moving = drive.state == DRIVE_PLAYING || drive.state == DRIVE_PAUSED;
    f.can_play = has_disc;
    f.can_pause = moving;
    f.can_seek = moving;
    f.can_go_next = has_disc;
    f.can_go_previous = has_disc;
    if (!has_disc)
        return f;
    const char *cover = current_cover();
    if (cover[0] != '\0' && !mpris_path_to_uri(cover, f.art_url, sizeof f.art_url))
        f.art_url[0] = '\0';
    f.disc_id = player.disc_id;
    split_disc_title(player.db.entries[DISC_ENTRY].title, f);
    // A drive may report a track outside its table: there is no current one.
    if (drive.track < 0 || drive.track >= drive.toc.count)
        return f;
    f.track_number = drive.track + 1;
    f.length_us = frames_to_us(drive.toc.track[drive.track].length);
    if (drive.frame > 0)
        f.position_us = frames_to_us(drive.frame);
    snprintf(f.title, sizeof f.title, "%s", player.db.entries[drive.track].title);
    return f;
}

int remote_request_command(MprisCommand command, int32_t state)
{
    const bool playing = state == DRIVE_PLAYING;
    const bool paused = state == DRIVE_PAUSED;
    switch (command) {
    case MPRIS_PLAY:
        // The play key would start a playing disc over.
        return playing ? REMOTE_NOTHING : CMD_PLAY;
    case MPRIS_PAUSE:
        return CMD_PAUSE;
    case MPRIS_PLAY_PAUSE:
        return playing || paused ? CMD_PAUSE_RESUME : CMD_PLAY;
    case MPRIS_STOP:
        return CMD_STOP;
    case MPRIS_NEXT:
        return CMD_NEXT;
    case MPRIS_PREVIOUS:
        return CMD_PREVIOUS;
    case MPRIS_QUIT:
        return CMD_QUIT;
    default:
        return REMOTE_OWN;
    }
}

// Seek by an offset: before the track's start it goes to the start, past its
// end on to the next track. Returns true when the position was set.
static bool seek_to(int64_t target_us)
{
    const DriveStatus &drive = player.drive;
    if (drive.state != DRIVE_PLAYING && drive.state != DRIVE_PAUSED)
        return false;
    if (drive.track < 0 || drive.track >= drive.toc.count)
        return false;
    int64_t length = drive.toc.track[drive.track].length;
    int64_t frame = target_us < 0 ? 0 : us_to_frames(target_us);
    if (frame >= length) {
        run_command(CMD_NEXT, 0);
        return false;
    }
    run_command(CMD_SEEK_TO, frame);
    return true;
}

static void set_loop(MprisLoop loop)
{
    run_command(CMD_SET_PLAY_MODE, loop == MPRIS_LOOP_PLAYLIST ? MODE_REPEAT_CD
                                   : loop == MPRIS_LOOP_TRACK  ? MODE_REPEAT_TRACK
                                                               : MODE_NORMAL);
}

static void open_disc(const char *path)
{
    DriveTarget target;
    if (drive_target_for(path, target) != 0 || target.kind == TARGET_SDL_NUMBER) {
        show_message("Not a disc image: %.200s", path);
        return;
    }
    if (drive_open(target) != 0) {
        show_message("Could not open %.200s: %.200s", path, drive_error());
        return;
    }
    current_drive_target = target;
    volume_stale = true;
}

// Carries out one request; true when it was a seek the remote is told of.
static bool run_request(const MprisRequest &request)
{
    int id = remote_request_command(request.command, player.drive.state);
    if (id >= 0) {
        run_command(static_cast<CommandId>(id), 0);
        return false;
    }
    switch (request.command) {
    case MPRIS_SEEK:
        return seek_to(frames_to_us(player.drive.frame) + request.offset_us);
    case MPRIS_SET_POSITION:
        return seek_to(request.position_us);
    case MPRIS_SET_VOLUME:
        // 0.0 to 1.0 onto 0 to 255, evenly.
        run_command(CMD_SET_VOLUME, lround(request.volume * 255.0));
        volume_stale = true;
        return false;
    case MPRIS_SET_LOOP:
        set_loop(request.loop);
        return false;
    case MPRIS_OPEN:
        open_disc(request.path);
        return false;
    default:
        return false;
    }
}

void remote_saw_key(int key)
{
    const Command *command = command_for_key(PLACE_PLAYER, key);
    if (command != nullptr && (command->id == CMD_VOLUME_UP || command->id == CMD_VOLUME_DOWN))
        volume_stale = true;
}

static void publish(bool seeked)
{
    if (volume_stale) {
        volume_stale = false;
        if (drive_get_volume(volume) != 0)
            volume = Volume{};
    }
    mpris_publish(remote_facts(player.drive, player.play_mode, volume), now_us(), seeked);
}

bool run_remote()
{
    if (!mpris_running())
        return false;
    publish(false);
    serve_remote();
    MprisRequest request;
    bool ran = false;
    bool seeked = false;
    bool quit = false;
    while (!player.quit && mpris_next_request(request)) {
        seeked = run_request(request) || seeked;
        quit = quit || request.command == MPRIS_QUIT;
        ran = true;
        // Each request acts on the drive as the one before left it.
        drive_refresh(player.drive);
    }
    if (ran && !quit) {
        poll_drive();
        publish(seeked);
    }
    return quit;
}
