// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's remote control: mivo as a media player on the D-Bus session
// bus (the org.mpris.MediaPlayer2 interfaces), served through sd-bus from the
// main loop's wait. It owns the bus connection and nothing of the player: the
// application hands it a plain record of the player's facts each turn, which
// the properties are read from and compared with to announce changes, and
// takes the method calls back as requests from a small fixed queue. Nothing
// here waits on the bus.
#pragma once

#include <cstdint>

inline constexpr int MPRIS_TEXT_SIZE = 256;
// Room for "file://" and a path of up to 1024 bytes, percent-encoded.
inline constexpr int MPRIS_URL_SIZE = 3200;
inline constexpr int MPRIS_PATH_SIZE = 1024;
inline constexpr int MPRIS_QUEUE_SIZE = 16;

enum MprisPlayback : int32_t { MPRIS_STOPPED, MPRIS_PLAYING, MPRIS_PAUSED };
enum MprisLoop : int32_t { MPRIS_LOOP_NONE, MPRIS_LOOP_TRACK, MPRIS_LOOP_PLAYLIST };

// What the player is doing, as a remote control sees it. Positions and
// lengths are in microseconds.
struct MprisFacts {
    MprisPlayback playback;
    MprisLoop loop;
    double volume; // 0.0 to 1.0
    int64_t position_us;
    int64_t length_us;    // of the current track; 0 without one
    int32_t track_number; // 1-based; 0 when there is no current track
    uint64_t disc_id;     // names the disc in the track's object path
    bool can_play;
    bool can_pause;
    bool can_seek;
    bool can_go_next;
    bool can_go_previous;
    char title[MPRIS_TEXT_SIZE];
    char artist[MPRIS_TEXT_SIZE];
    char album[MPRIS_TEXT_SIZE];
    char art_url[MPRIS_URL_SIZE]; // "file://..." or empty
};

enum MprisCommand : int32_t {
    MPRIS_PLAY,
    MPRIS_PAUSE,
    MPRIS_PLAY_PAUSE,
    MPRIS_STOP,
    MPRIS_NEXT,
    MPRIS_PREVIOUS,
    MPRIS_SEEK,         // by offset_us from the current position
    MPRIS_SET_POSITION, // to position_us within the current track
    MPRIS_OPEN,         // path: a local file or folder to play as a new disc
    MPRIS_RAISE,
    MPRIS_QUIT,
    MPRIS_SET_VOLUME, // volume
    MPRIS_SET_LOOP,   // loop
};

struct MprisRequest {
    MprisCommand command;
    int64_t offset_us;
    int64_t position_us;
    double volume;
    MprisLoop loop;
    char path[MPRIS_PATH_SIZE];
};

// Connects to the session bus (DBUS_SESSION_BUS_ADDRESS, or sd-bus's usual
// place for it) and asks for the
// name org.mpris.MediaPlayer2.mivo, or .instance<pid> after it when another
// mivo holds it. False, quietly, when there is no bus to reach.
bool mpris_start();

// Closes the connection; the name goes with it.
void mpris_stop();

// True while connected.
bool mpris_running();

// The connection's descriptor for the main loop's wait (readable: messages
// came), or -1 when not connected.
int mpris_fd();

// Reads and answers what the bus has sent, without waiting: property reads
// are answered from the last facts, method calls become requests. Returns
// false when the connection was lost just now (it is closed then); a
// connection that never came up is lost quietly and returns true.
bool mpris_process();

// Takes the oldest request; false when there is none.
bool mpris_next_request(MprisRequest &request);

// Makes facts the ones the properties tell, announcing what changed with
// PropertiesChanged. seeked announces the position with Seeked (a seek the
// remote asked for was carried out); otherwise a position that jumped other
// than the clock moves it, on the same track, is announced so too. now_us is
// a monotonic clock.
void mpris_publish(const MprisFacts &facts, int64_t now_us, bool seeked);

// The track's object path as Metadata's mpris:trackid and SetPosition name it.
void mpris_track_id(const MprisFacts &facts, char *out, int size);

// Turns a file:// URI into a local path, percent-decoded; false for other
// schemes, remote hosts, bad escapes, NUL bytes and paths that do not fit.
bool mpris_uri_to_path(const char *uri, char *path, int size);

// The file:// URI of a local absolute path, percent-encoding what a URI may
// not hold; false when it does not fit.
bool mpris_path_to_uri(const char *path, char *uri, int size);
