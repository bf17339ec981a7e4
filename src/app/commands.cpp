#include "app/commands.h"

#include "drive/sdl/sdl_backend.h"
#include "drive/sdl/sdl_volume.h"
#include "app/main_loop.h"
#include "editor/track_editor.h"
#include "ui/prompt.h"

#include <cstdint>

static const CommandDialogs real_dialogs = {prompt_track_number, run_track_editor};
static const CommandDialogs *dialogs = &real_dialogs;

void set_command_dialogs(const CommandDialogs *replacement)
{
    dialogs = replacement ? replacement : &real_dialogs;
}

// Frame and track arithmetic wraps like the drive's signed 32-bit counters, so
// whatever the handle holds, the sum is defined and handed over as it comes.
static int add_wrapping(int a, int b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

void play_from(int track, int frame)
{
    SDL_CD *cd = player.cdrom;
    if (!cd)
        return;
    if (player.play_mode == MODE_REPEAT_TRACK)
        play_one_track(cd, track, frame);
    else
        drive_play(cd, track, frame, 0, 0);
}

// One step of one channel, held within 0 and 255.
static unsigned char stepped(unsigned char v, VolumeStep step)
{
    if (step == VOLUME_UP)
        return static_cast<unsigned char>(v > 250 ? 255 : v + 5);
    return static_cast<unsigned char>(v < 5 ? 0 : v - 5);
}

void step_volume(VolumeStep step)
{
    if (!player.cdrom)
        return;
    int fd = player.cdrom->id;
    DriveVolume volume;
    if (read_drive_volume(fd, volume) != 0)
        return;
    volume.channel[0] = stepped(volume.channel[0], step);
    volume.channel[1] = stepped(volume.channel[1], step);
    write_drive_volume(fd, volume);
}

// After the last track comes the first.
static int next_track(const SDL_CD &cd)
{
    if (cd.cur_track == add_wrapping(cd.numtracks, -1))
        return 0;
    return add_wrapping(cd.cur_track, 1);
}

// Within the first 449 frames of a track the previous one, before the first
// the last; further in, the current track from its start.
static int previous_target(const SDL_CD &cd)
{
    if (cd.cur_frame > 449)
        return cd.cur_track;
    if (cd.cur_track == 0)
        return add_wrapping(cd.numtracks, -1);
    return add_wrapping(cd.cur_track, -1);
}

// The commands that only set the play mode or quit, which need no drive.
static bool dispatch_state_key(int key)
{
    switch (key) {
    case 'C':
    case 'c':
        player.play_mode = MODE_REPEAT_CD;
        return true;
    case 'R':
    case 'r':
        player.play_mode = MODE_REPEAT_TRACK;
        return true;
    case 'M':
    case 'm':
        if (player.play_mode == MODE_REPEAT_CD)
            player.play_mode = MODE_REPEAT_TRACK;
        else if (player.play_mode == MODE_REPEAT_TRACK)
            player.play_mode = MODE_NORMAL;
        else if (player.play_mode == MODE_NORMAL)
            player.play_mode = MODE_REPEAT_CD;
        return true;
    case 'Q':
    case 'q':
        player.quit = 1;
        return true;
    default:
        return false;
    }
}

void dispatch_key(int key)
{
    if (dispatch_state_key(key))
        return;
    // Stop and eject end a repeat mode even without a drive handle, so the
    // main loop does not start playback again.
    if (key == 'S' || key == 's' || key == 'E' || key == 'e')
        player.play_mode = MODE_NORMAL;
    SDL_CD *cd = player.cdrom;
    if (!cd)
        return;
    bool has_disc = cd->status > CD_TRAYEMPTY;
    switch (key) {
    case '*':
        step_volume(VOLUME_UP);
        break;
    case '/':
        step_volume(VOLUME_DOWN);
        break;
    case '+':
    case '=':
        if (has_disc)
            play_from(next_track(*cd), 0);
        break;
    case '-':
    case '_':
        if (has_disc)
            play_from(previous_target(*cd), 0);
        break;
    case 'E':
    case 'e':
        drive_eject(cd);
        break;
    case 'G':
    case 'g': {
        int track = dialogs->prompt_track_number();
        if (track != -1)
            play_from(track, 0);
        break;
    }
    case 'P':
    case 'p':
        if (cd->status == CD_PAUSED)
            drive_resume(cd);
        else if (has_disc)
            play_from(0, 0);
        break;
    case 'S':
    case 's':
        if (has_disc)
            drive_stop(cd);
        break;
    case 'T':
    case 't':
        if (has_disc)
            dialogs->run_track_editor(player);
        break;
    case 'U':
    case 'u':
        if (cd->status == CD_PAUSED)
            drive_resume(cd);
        else if (cd->status == CD_PLAYING)
            drive_pause(cd);
        break;
    case '[':
        play_from(cd->cur_track, add_wrapping(cd->cur_frame, -300));
        break;
    case ']':
        play_from(cd->cur_track, add_wrapping(cd->cur_frame, 300));
        break;
    default:
        break;
    }
}
