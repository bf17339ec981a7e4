// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commands.h"

#include "app/lookup_flow.h"
#include "drive/drive.h"
#include "editor/track_editor.h"
#include "ui/command.h"
#include "ui/cover_view.h"
#include "ui/key_help.h"
#include "ui/message_line.h"
#include "ui/prompt.h"

#include <curses.h>

#include <cstdint>
#include <cstring>

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

// Space pauses a playing disc and resumes a paused one.
static void pause_or_resume(const DriveStatus &drive)
{
    if (drive.state == DRIVE_PAUSED)
        said(drive_resume(), "resume");
    else if (drive.state == DRIVE_PLAYING)
        said(drive_pause(), "pause");
}

static bool has_disc() { return player.drive.state > DRIVE_NO_DISC; }

// A remote's argument where the drive takes 32 bits: held within them.
static int32_t clamped(int64_t value)
{
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The commands' own functions. The argument is a remote's; keys pass 0.
static void run_play(int64_t)
{
    if (player.drive.state == DRIVE_PAUSED)
        said(drive_resume(), "resume");
    else if (has_disc())
        play_from(0, 0);
}

static void run_pause_resume(int64_t) { pause_or_resume(player.drive); }

static void run_pause(int64_t)
{
    if (player.drive.state == DRIVE_PLAYING)
        said(drive_pause(), "pause");
}

// Stop and eject end a repeat mode even when the drive refuses them, so the
// main loop does not start playback again.
static void run_stop(int64_t)
{
    player.play_mode = MODE_NORMAL;
    if (has_disc())
        said(drive_stop(), "stop");
}

static void run_eject(int64_t)
{
    player.play_mode = MODE_NORMAL;
    said(drive_eject(), "eject");
}

static void run_next(int64_t)
{
    if (has_disc())
        play_from(next_track(player.drive), 0);
}

static void run_previous(int64_t)
{
    if (has_disc())
        play_from(previous_target(player.drive), 0);
}

static void run_go_to(int64_t)
{
    int track = dialogs->prompt_track_number();
    if (track != -1)
        play_from(track, 0);
}

static void run_skip_ahead(int64_t) { play_from(player.drive.track, add_wrapping(player.drive.frame, 300)); }

static void run_skip_back(int64_t) { play_from(player.drive.track, add_wrapping(player.drive.frame, -300)); }

static void run_play_mode(int64_t)
{
    if (player.play_mode == MODE_REPEAT_CD)
        player.play_mode = MODE_REPEAT_TRACK;
    else if (player.play_mode == MODE_REPEAT_TRACK)
        player.play_mode = MODE_NORMAL;
    else if (player.play_mode == MODE_NORMAL)
        player.play_mode = MODE_REPEAT_CD;
}

static void run_repeat_cd(int64_t) { player.play_mode = MODE_REPEAT_CD; }

static void run_repeat_track(int64_t) { player.play_mode = MODE_REPEAT_TRACK; }

static void run_volume_up(int64_t) { step_volume(VOLUME_UP); }

static void run_volume_down(int64_t) { step_volume(VOLUME_DOWN); }

static void run_edit_titles(int64_t)
{
    if (has_disc())
        dialogs->run_track_editor(player.db, player.drive);
}

static void run_look_up(int64_t) { choose_titles(); }

static void run_help(int64_t) { open_key_help(); }

static void run_quit(int64_t) { player.quit = 1; }

static void run_toggle_cover(int64_t) { toggle_cover_view(); }

static void run_seek_by(int64_t frames)
{
    play_from(player.drive.track, add_wrapping(player.drive.frame, clamped(frames)));
}

static void run_seek_to(int64_t frame) { play_from(player.drive.track, clamped(frame)); }

// Both channels at one level; the others as the drive has them.
static void run_set_volume(int64_t level)
{
    Volume volume;
    if (said(drive_get_volume(volume), "read the volume") != 0)
        return;
    const uint8_t v = static_cast<uint8_t>(level < 0 ? 0 : level > 255 ? 255 : level);
    volume.channel[0] = v;
    volume.channel[1] = v;
    said(drive_set_volume(volume), "set the volume");
}

static void run_set_play_mode(int64_t mode)
{
    if (mode == MODE_REPEAT_CD || mode == MODE_REPEAT_TRACK || mode == MODE_NORMAL)
        player.play_mode = static_cast<int32_t>(mode);
}

// A remote names a track of the disc; one past it is refused here rather than
// left to the drive.
static void run_play_track(int64_t track)
{
    if (has_disc() && track >= 0 && track < player.drive.toc.count)
        play_from(static_cast<int32_t>(track), 0);
}

// clang-format off
static const Command player_command_table[] = {
    {CMD_PLAY, "play", PLACE_PLAYER, {'P', 'p'}, "P", 'P', "- Start playing", 1, 0,
     "Start playing", NEED_DISC, false, run_play},
    {CMD_PAUSE_RESUME, "pause-resume", PLACE_PLAYER, {'U', 'u', ' '}, "U Space", 'U', "- Pause or restart", 2, 0,
     "Pause or resume", NEED_DISC, false, run_pause_resume},
    {CMD_EJECT, "eject", PLACE_PLAYER, {'E', 'e'}, "E", 'E', "- Eject CDROM", 3, 0,
     "Eject the disc", NEED_NOT_EMPTY, false, run_eject},
    {CMD_STOP, "stop", PLACE_PLAYER, {'S', 's'}, "S", 'S', "- Stop playing", 4, 0,
     "Stop playing", NEED_DISC, false, run_stop},
    {CMD_PLAY_MODE, "play-mode", PLACE_PLAYER, {'M', 'm'}, "M", 'M', "- Change play mode", 5, 0,
     "Next play mode", NEED_NOTHING, false, run_play_mode},
    {CMD_PREVIOUS, "previous", PLACE_PLAYER, {'-', '_'}, "- _", '-', "- Previous track", 1, 25,
     "Previous track", NEED_DISC, false, run_previous},
    {CMD_NEXT, "next", PLACE_PLAYER, {'+', '='}, "+ =", '+', "- Next track", 2, 25,
     "Next track", NEED_DISC, false, run_next},
    {CMD_GO_TO, "go-to", PLACE_PLAYER, {'G', 'g'}, "G", 'G', "- Go to track", 3, 25,
     "Go to a track", NEED_DISC, false, run_go_to},
    {CMD_SKIP_AHEAD, "skip-ahead", PLACE_PLAYER, {']'}, "]", ']', "- Skip ahead", 4, 25,
     "Skip 4 s ahead", NEED_DISC, false, run_skip_ahead},
    {CMD_SKIP_BACK, "skip-back", PLACE_PLAYER, {'['}, "[", '[', "- Skip back", 5, 25,
     "Skip 4 s back", NEED_DISC, false, run_skip_back},
    {CMD_VOLUME_UP, "volume-up", PLACE_PLAYER, {'*'}, "*", '*', "- Increase volume", 7, 0,
     "Volume up", NEED_DISC, false, run_volume_up},
    {CMD_VOLUME_DOWN, "volume-down", PLACE_PLAYER, {'/'}, "/", '/', "- Decrease volume", 8, 0,
     "Volume down", NEED_DISC, false, run_volume_down},
    {CMD_EDIT_TITLES, "edit-titles", PLACE_PLAYER, {'T', 't'}, "T", 'T', "- Edit track database", 10, 0,
     "Edit the titles", NEED_DISC, false, run_edit_titles},
    {CMD_QUIT, "quit", PLACE_PLAYER, {'Q', 'q'}, "Q", 'Q', "- Quit", 11, 0,
     "Quit", NEED_NOTHING, false, run_quit},
    {CMD_HELP, "help", PLACE_PLAYER, {'?'}, "?", '?', "- Help: all keys, what the screen says", 13, 0,
     "This help", NEED_NOTHING, false, run_help},
    {CMD_REPEAT_CD, "repeat-cd", PLACE_PLAYER, {'C', 'c'}, "C", 'C', "- Repeat CD", 0, 0,
     "Repeat CD", NEED_NOTHING, false, run_repeat_cd},
    {CMD_REPEAT_TRACK, "repeat-track", PLACE_PLAYER, {'R', 'r'}, "R", 'R', "- Repeat track", 0, 0,
     "Repeat track", NEED_NOTHING, false, run_repeat_track},
    {CMD_LOOK_UP, "look-up", PLACE_PLAYER, {'L', 'l'}, "L", 'L', "- Look the titles up", 0, 0,
     "Look titles up", NEED_DISC, false, run_look_up},
    {CMD_TOGGLE_COVER, "toggle-cover", PLACE_PLAYER, {'A', 'a'}, "A", 'A', "- Cover on or off", 0, 0,
     "Cover on or off", NEED_NOTHING, false, run_toggle_cover},

    {CMD_PAUSE, "pause", PLACE_REMOTE, {}, "", 0, "", 0, 0,
     "Pause a playing disc", NEED_DISC, false, run_pause},
    {CMD_SEEK_BY, "seek-by", PLACE_REMOTE, {}, "", 0, "", 0, 0,
     "Move the position by frames", NEED_DISC, true, run_seek_by},
    {CMD_SEEK_TO, "seek-to", PLACE_REMOTE, {}, "", 0, "", 0, 0,
     "Play from a frame of the track", NEED_DISC, true, run_seek_to},
    {CMD_SET_VOLUME, "set-volume", PLACE_REMOTE, {}, "", 0, "", 0, 0,
     "Set the volume, 0 to 255", NEED_NOTHING, true, run_set_volume},
    {CMD_SET_PLAY_MODE, "set-play-mode", PLACE_REMOTE, {}, "", 0, "", 0, 0,
     "Set the play mode", NEED_NOTHING, true, run_set_play_mode},
    {CMD_PLAY_TRACK, "play-track", PLACE_REMOTE, {}, "", 0, "", 0, 0,
     "Play a track of the disc", NEED_DISC, true, run_play_track},

    {CMD_EDIT_TRACK_TITLE, "edit-track-title", PLACE_EDITOR, {10, 'E', 'e', KEY_ENTER}, "E Enter", 'E',
     "- Edit track name", 1, 0, "Edit track's title", NEED_NOTHING, false, editor_edit_track_title},
    {CMD_EDIT_DISC_TITLE, "edit-disc-title", PLACE_EDITOR, {'T', 't'}, "T", 'T',
     "- Change disc title", 1, 25, "Edit the disc title", NEED_NOTHING, false, editor_edit_disc_title},
    {CMD_EDITOR_LEAVE, "leave-editor", PLACE_EDITOR, {'Q', 'q'}, "Q", 'Q',
     "- Exit to player", 2, 0, "Save and leave", NEED_NOTHING, false, editor_leave},
    {CMD_CLEAR_TITLES, "clear-titles", PLACE_EDITOR, {'C', 'c'}, "C", 'C',
     "- Clear all tracks", 2, 25, "Name them Track n", NEED_NOTHING, false, editor_clear_titles},
    {CMD_EDITOR_DOWN, "editor-down", PLACE_EDITOR, {'D', 'd', KEY_DOWN}, "D Down", 'D',
     "- Move down", 0, 0, "Next track", NEED_NOTHING, false, editor_move_down},
    {CMD_EDITOR_UP, "editor-up", PLACE_EDITOR, {'U', 'u', KEY_UP}, "U Up", 'U',
     "- Move up", 0, 0, "Previous track", NEED_NOTHING, false, editor_move_up},
    {CMD_EDITOR_LOOK_UP, "editor-look-up", PLACE_EDITOR, {'L', 'l'}, "L", 'L',
     "- Look the titles up", 0, 0, "Look titles up", NEED_NOTHING, false, editor_look_up},
};
// clang-format on

const Command *player_commands() { return player_command_table; }

int player_command_count()
{
    return static_cast<int>(sizeof player_command_table / sizeof player_command_table[0]);
}

void use_player_commands() { set_commands(player_commands(), player_command_count()); }

void dispatch_key(int key)
{
    // The key help is open: the key that closes it does nothing else.
    if (key_help_open()) {
        if (key != ERR && key != KEY_RESIZE)
            close_key_help();
        return;
    }
    const Command *command = command_for_key(PLACE_PLAYER, key);
    if (command != nullptr)
        command->run(0);
}

int run_command(CommandId id, int64_t argument)
{
    const Command *command = find_command(id);
    if (command == nullptr)
        return -1;
    command->run(command->takes_argument ? argument : 0);
    return 0;
}
