// The player's one global record, the disc texts it carries, and start-up and
// shut-down of the whole program.
#pragma once

#include "drive/drive.h"

#include <csignal>
#include <cstdint>

inline constexpr int TEXT_FIELD_SIZE = 256;
inline constexpr int MAX_DB_TRACKS = 99;
inline constexpr int DISC_ENTRY = 99;
inline constexpr int DB_ENTRY_COUNT = 100;

enum PlayMode : int32_t {
    MODE_REPEAT_CD = 0,
    MODE_REPEAT_TRACK = 1,
    MODE_NORMAL = 2,
};

struct TrackText {
    char title[TEXT_FIELD_SIZE];
    char ext[TEXT_FIELD_SIZE];
};

// Entries 0 to 98 are the tracks (0-based), entry DISC_ENTRY the disc itself.
struct DiscDatabase {
    TrackText entries[DB_ENTRY_COUNT];
    int32_t dirty;
};

struct PlayerState {
    volatile sig_atomic_t quit;
    int32_t play_mode;
    DiscDatabase db;
    // What the last refresh of the drive saw.
    DriveStatus drive;
    uint64_t disc_id;
};

// The single instance; zero until start-up fills it.
extern PlayerState player;

// Asks the main loop to end after its current turn; safe in a signal handler.
void handle_quit_signal(int signal_number);

// Reads the drive number the way strtol base 0 does; no argument means drive 0.
int parse_drive_number(int argc, char **argv);

// Runs the whole program: start-up, the main loop, shut-down. Returns the exit
// status; start-up failures end the process with status 1 themselves.
int run_player(int argc, char **argv);
