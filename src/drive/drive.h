// SPDX-License-Identifier: GPL-3.0-or-later
// The drive as the rest of mivo sees it: mivo's own types for a disc's table
// of contents and a drive's state, the record of operations every backend
// fills in, and the calls that reach the backend chosen at start-up. Nothing
// here includes a library's header; each backend keeps its library to itself.
#pragma once

#include <cstdint>

inline constexpr int MAX_TRACKS = 99;
inline constexpr int FRAMES_PER_SECOND = 75;
inline constexpr int LEAD_IN_FRAMES = 150;

// Numbered as SDL 1.2 numbers them, so a state above DRIVE_NO_DISC means a
// disc is in the drive and an unknown number can still be shown as such.
enum DriveState : int32_t {
    DRIVE_ERROR = -1,
    DRIVE_NO_DISC = 0,
    DRIVE_STOPPED = 1,
    DRIVE_PLAYING = 2,
    DRIVE_PAUSED = 3,
};

// One track of the table of contents. offset counts from the start of the
// disc with the 150-frame lead-in included, as drives report it; length is in
// frames.
struct TocTrack {
    uint32_t offset;
    uint32_t length;
    bool audio;
};

// count is 0..MAX_TRACKS (the backend guarantees it); track[count] is the
// lead-out, whose offset ends the last track.
struct Toc {
    int32_t count;
    TocTrack track[MAX_TRACKS + 1];
};

// What one refresh saw. track (0-based, within the table when it has tracks)
// and frame (within that track) are meaningful with a disc in the drive;
// restart_track is the track a restart of the current track plays, which a
// stopped drive may no longer name in track. reading is true while a drive
// with no disc reported is reading one (spinning up, its table of contents),
// which takes seconds; only a drive read digitally can tell.
struct DriveStatus {
    int32_t state;
    int32_t track;
    int32_t frame;
    Toc toc;
    int32_t restart_track;
    bool reading;
    bool tray_open; // a disc image's tray stands open: an eject closes it
};

// One byte per output channel, 0 to 255; channels 2 and 3 are passed through.
struct Volume {
    uint8_t channel[4];
};

// How far a play goes: to the end of the start track, or of the disc.
enum PlaySpan : int32_t { SPAN_ONE_TRACK = 0, SPAN_TO_END = 1 };

inline constexpr int DRIVE_PATH_SIZE = 1024;

// What the command line named.
enum TargetKind : int32_t {
    TARGET_SDL_NUMBER,    // a drive number for SDL's CD-ROM interface
    TARGET_IMAGE,         // a rip: a CUE sheet, a folder or an audio file
    TARGET_DEVICE,        // a CD drive's device, read digitally
    TARGET_DEFAULT_DEVICE // the system's default CD drive, read digitally
};

struct DriveTarget {
    TargetKind kind;
    int32_t number;
    char path[DRIVE_PATH_SIZE];
};

// CD-TEXT as a disc or a sheet carries it, in UTF-8: entry MAX_TRACKS is the
// disc, 0..98 the tracks. present is false when there is none.
inline constexpr int CDTEXT_FIELD_SIZE = 256;
struct CdTextEntry {
    char performer[CDTEXT_FIELD_SIZE];
    char title[CDTEXT_FIELD_SIZE];
};
struct DiscText {
    bool present;
    CdTextEntry entry[MAX_TRACKS + 1];
};

// A backend: int results are 0 on success and -1 on failure, error() says why.
struct DriveBackend {
    const char *name; // "sdl" or "digital", also shown to the user
    int (*open)(const DriveTarget &target);
    void (*close)();
    int (*refresh)(DriveStatus &status);
    int (*play)(int32_t track, int32_t frame, PlaySpan span);
    int (*pause)();
    int (*resume)();
    int (*stop)();
    int (*eject)();
    int (*get_volume)(Volume &volume);
    int (*set_volume)(const Volume &volume);
    // The CD-TEXT of the disc last refreshed; -1 when it has none.
    int (*disc_text)(DiscText &text);
    const char *(*error)();
    // A descriptor that turns readable when the drive has news the main loop
    // should not wait half a second for (the end of a play, a disc read); the
    // next refresh takes it. nullptr for a drive that cannot tell.
    int (*news_fd)();
    // What went wrong since the last call without stopping the play (a
    // damaged stretch of a file played as silence), as one line for the
    // message line; nullptr when nothing did. nullptr for a drive that
    // cannot tell.
    const char *(*notice)();
};

// The calls the rest of mivo makes; each goes to the backend drive_open chose.
// Before a successful drive_open every call fails without reaching a backend.

// Opens the backend for the target's kind; 0 on success, -1 with drive_error
// naming the failure as one line for the user.
int drive_open(const DriveTarget &target);

// Opens the drive mivo plays when the command line names none: SDL's drive 0,
// or, where SDL reports no drives, the system's default CD drive read
// digitally through libcdio. Fails with SDL's reason when neither is there.
int drive_open_default();

// Closes the open backend, if any.
void drive_close();

// Reads the drive's state into status; on failure status shows no disc.
int drive_refresh(DriveStatus &status);

int drive_play(int32_t track, int32_t frame, PlaySpan span);
int drive_pause();
int drive_resume();
int drive_stop();
int drive_eject();
int drive_get_volume(Volume &volume);
int drive_set_volume(const Volume &volume);
int drive_disc_text(DiscText &text);

// Why the last call failed.
const char *drive_error();

// The open backend's notice (see DriveBackend), or nullptr.
const char *drive_notice();

// The open backend's news descriptor (see DriveBackend), or -1.
int drive_news_fd();

// The open backend's name, or "none".
const char *drive_backend_name();

// Makes drive_open use backend whatever the target, so tests can put a double
// in; nullptr goes back to choosing by the target's kind. The record must
// outlive its use.
void set_drive_backend(const DriveBackend *backend);
