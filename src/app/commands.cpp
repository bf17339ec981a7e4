// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commands.h"

#include "app/lookup_flow.h"
#include "drive/drive.h"
#include "editor/track_editor.h"
#include "ui/cover_view.h"
#include "ui/key_help.h"
#include "ui/message_line.h"
#include "ui/prompt.h"

#include <curses.h>

#include <cstdint>

static const CommandDialogs real_dialogs = {prompt_track_number, run_track_editor};
static const CommandDialogs *dialogs = &real_dialogs;

void set_command_dialogs(const CommandDialogs *replacement)
{
    dialogs = replacement ? replacement : &real_dialogs;
}

// Frame and track arithmetic wraps like the drive's signed 32-bit counters, so
// whatever the status holds, the sum is defined and handed over as it comes.
static int add_wrapping(int a, int b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// A drive that refuses a command leaves the screen as it was, so the user is
// told why nothing happened; returns result.
static int said(int result, const char *command)
{
    if (result == 0)
        return result;
    const char *why = drive_error();
    if (why[0] != '\0')
        show_message("The drive refused to %s: %s", command, why);
    else
        show_message("The drive refused to %s", command);
    return result;
}

void play_from(int track, int frame)
{
    said(drive_play(track, frame,
                    player.play_mode == MODE_REPEAT_TRACK ? SPAN_ONE_TRACK : SPAN_TO_END),
         "play");
}

// One step of one channel, held within 0 and 255.
static uint8_t stepped(uint8_t v, VolumeStep step)
{
    if (step == VOLUME_UP)
        return static_cast<uint8_t>(v > 250 ? 255 : v + 5);
    return static_cast<uint8_t>(v < 5 ? 0 : v - 5);
}

void step_volume(VolumeStep step)
{
    Volume volume;
    if (said(drive_get_volume(volume), "read the volume") != 0)
        return;
    volume.channel[0] = stepped(volume.channel[0], step);
    volume.channel[1] = stepped(volume.channel[1], step);
    said(drive_set_volume(volume), "set the volume");
}

// After the last track comes the first.
static int next_track(const DriveStatus &drive)
{
    if (drive.track == add_wrapping(drive.toc.count, -1))
        return 0;
    return add_wrapping(drive.track, 1);
}

// Within the first 449 frames of a track the previous one, before the first
// the last; further in, the current track from its start.
static int previous_target(const DriveStatus &drive)
{
    if (drive.frame > 449)
        return drive.track;
    if (drive.track == 0)
        return add_wrapping(drive.toc.count, -1);
    return add_wrapping(drive.track, -1);
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
    case 'A':
    case 'a':
        toggle_cover_view();
        return true;
    default:
        return false;
    }
}

// Space pauses a playing disc and resumes a paused one.
static void pause_or_resume(const DriveStatus &drive)
{
    if (drive.state == DRIVE_PAUSED)
        said(drive_resume(), "resume");
    else if (drive.state == DRIVE_PLAYING)
        said(drive_pause(), "pause");
}

void dispatch_key(int key)
{
    // The key help is open: the key that closes it does nothing else.
    if (key_help_open()) {
        if (key != ERR && key != KEY_RESIZE)
            close_key_help();
        return;
    }
    if (key == '?') {
        open_key_help();
        return;
    }
    run_key_command(key);
}

void run_key_command(int key)
{
    if (dispatch_state_key(key))
        return;
    // Stop and eject end a repeat mode even when the drive refuses them, so
    // the main loop does not start playback again.
    if (key == 'S' || key == 's' || key == 'E' || key == 'e')
        player.play_mode = MODE_NORMAL;
    const DriveStatus &drive = player.drive;
    bool has_disc = drive.state > DRIVE_NO_DISC;
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
            play_from(next_track(drive), 0);
        break;
    case '-':
    case '_':
        if (has_disc)
            play_from(previous_target(drive), 0);
        break;
    case 'E':
    case 'e':
        said(drive_eject(), "eject");
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
        if (drive.state == DRIVE_PAUSED)
            said(drive_resume(), "resume");
        else if (has_disc)
            play_from(0, 0);
        break;
    case 'S':
    case 's':
        if (has_disc)
            said(drive_stop(), "stop");
        break;
    case 'T':
    case 't':
        if (has_disc)
            dialogs->run_track_editor(player.db, player.drive);
        break;
    case 'L':
    case 'l':
        choose_titles();
        break;
    case 'U':
    case 'u':
    case ' ':
        pause_or_resume(drive);
        break;
    case '[':
        play_from(drive.track, add_wrapping(drive.frame, -300));
        break;
    case ']':
        play_from(drive.track, add_wrapping(drive.frame, 300));
        break;
    default:
        break;
    }
}
