// SPDX-License-Identifier: GPL-3.0-or-later
// The commands of mivo's screens as one table describes them: each command
// once, with its keys, the hint its screen shows, its help line, when it
// applies and the function that runs it. The application owns the table and
// hands it over at start-up; key dispatch, the control panel, the editor's
// hints, the key help box and --help all read it from here.
//
// A remote control (a desktop bus, a test) runs a command by its id, as a
// key would, through run_command in app/commands.h: from the main loop's
// thread only (a handler of a descriptor the loop waits on), with the
// argument the command's ARGUMENT column names (0 for the others).
#pragma once

#include "drive/drive.h"

#include <cstdint>

// Ids are stable: a remote may keep them. New commands go at the end.
enum CommandId : int32_t {
    CMD_PLAY = 0,          // play from the first track, resume when paused
    CMD_PAUSE_RESUME = 1,  // pause a playing disc, resume a paused one
    CMD_STOP = 2,
    CMD_EJECT = 3,
    CMD_NEXT = 4,
    CMD_PREVIOUS = 5,
    CMD_GO_TO = 6,         // asks for a track number
    CMD_SKIP_AHEAD = 7,
    CMD_SKIP_BACK = 8,
    CMD_PLAY_MODE = 9,     // the next play mode
    CMD_REPEAT_CD = 10,
    CMD_REPEAT_TRACK = 11,
    CMD_VOLUME_UP = 12,
    CMD_VOLUME_DOWN = 13,
    CMD_EDIT_TITLES = 14,
    CMD_LOOK_UP = 15,
    CMD_HELP = 16,
    CMD_QUIT = 17,
    // Without keys: for a remote, each with its argument.
    CMD_PAUSE = 18,        // pauses a playing disc, nothing otherwise
    CMD_SEEK_BY = 19,      // ARGUMENT: frames from the position, negative back
    CMD_SEEK_TO = 20,      // ARGUMENT: frame within the current track
    CMD_SET_VOLUME = 21,   // ARGUMENT: level 0 to 255 on both channels
    CMD_SET_PLAY_MODE = 22, // ARGUMENT: a PlayMode
    CMD_PLAY_TRACK = 23,   // ARGUMENT: 0-based track index
    // The title editor's, while it is open.
    CMD_EDIT_TRACK_TITLE = 24,
    CMD_EDIT_DISC_TITLE = 25,
    CMD_CLEAR_TITLES = 26,
    CMD_EDITOR_DOWN = 27,
    CMD_EDITOR_UP = 28,
    CMD_EDITOR_LOOK_UP = 29,
    CMD_EDITOR_LEAVE = 30,
    CMD_TOGGLE_COVER = 31, // the disc's cover on the player screen, on or off
    COMMAND_COUNT = 32,
};

// Which screen's keys reach the command.
enum CommandPlace : int32_t {
    PLACE_PLAYER = 0,
    PLACE_EDITOR = 1,
    PLACE_REMOTE = 2, // no key: run by id only
};

// When a command has something to act on, which also decides whether its
// hint is bright or dim.
enum CommandNeed : int32_t {
    NEED_NOTHING = 0,
    NEED_DISC = 1,     // a disc stopped, playing or paused
    NEED_NOT_EMPTY = 2, // anything but an empty drive (an error may be ejected)
};

inline constexpr int COMMAND_KEYS = 6;

struct Command {
    CommandId id;
    const char *name; // for a remote and the tests: "play", "seek-by"
    CommandPlace place;
    int32_t keys[COMMAND_KEYS]; // key codes as curses reads them; 0 ends the list
    const char *key_names;      // as the help shows them: "U Space"
    char hint_key;              // the key the screen's hint shows in brackets; 0: no hint
    const char *hint;           // the hint's label: "- Start playing"
    // Where the hint stands in the layout every screen size has: the row and
    // column from the top left of its area. Row 0: shown only where there is
    // room for more than that layout holds.
    int8_t hint_row;
    int8_t hint_column;
    const char *help; // one line for the key help and --help
    CommandNeed need;
    bool takes_argument;
    void (*run)(int64_t argument);
};

// Makes table the commands the screens show and the keys run; the record
// must outlive its use.
void set_commands(const Command *table, int count);

// The table set, and its length (0 before set_commands).
const Command *commands();
int command_count();

// The command with this id, or nullptr.
const Command *find_command(CommandId id);

// The command with this name, or nullptr.
const Command *find_command_named(const char *name);

// The command that key runs on the screen place, or nullptr: the exact code
// only, so that a code past a byte is never taken for that byte.
const Command *command_for_key(CommandPlace place, int key);

// Whether the drive gives the command something to act on.
bool command_applies(const Command &command, const DriveStatus &drive);
