// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for SDL 1.2's CD-ROM calls, linked into the tests in place of the
// real library: the drive reports what the test sets, and every call is kept.
#pragma once

#include <SDL_audio.h>
#include <SDL_cdrom.h>

#include <string>
#include <vector>

enum class CdCall {
    Init,
    NumDrives,
    Open,
    Status,
    Play,
    Pause,
    Resume,
    Stop,
    Eject,
    Close,
    Quit,
    QuitCdrom,
    // The audio calls of the digital backend's output; PauseAudio's arg is pause_on.
    InitAudio,
    OpenAudio,
    PauseAudio,
    CloseAudio,
    QuitAudio
};

struct RecordedCall {
    CdCall call;
    int args[4]; // Open: drive; Play: track, frame, ntracks, nframes

    bool operator==(const RecordedCall &) const = default;
};

struct FakeSdl {
    int init_result = 0;
    int num_drives = 1;
    bool open_fails = false;
    std::string error_text = "fake drive error";

    // What the drive reports at the next status refresh; id is kept per handle.
    SDL_CD reported{};
    // Called at the start of every status refresh, so a test can script a drive
    // that changes between two refreshes of one turn.
    void (*before_status)(FakeSdl &) = nullptr;
    // When set, play, pause, resume, stop and eject change reported as a drive would.
    bool simulate = true;
    int play_result = 0;

    // The sound card: whether it starts, and the format it offers (zero
    // fields: the one asked for). The format asked for is kept, callback and all.
    int audio_init_result = 0;
    int open_audio_result = 0;
    SDL_AudioSpec audio_offered{};
    // Answer of the second open, the one without a place for the obtained format.
    int reopen_audio_result = 0;
    SDL_AudioSpec audio_desired{};
    bool audio_open = false;

    std::vector<RecordedCall> calls;
    SDL_CD handle{};
    int opened_drive = -1;
};

extern FakeSdl fake_sdl;

// Back to a fresh fake: one drive, nothing in it, no calls recorded.
void reset_fake_sdl();

// Puts a disc of the given track lengths (frames) into the fake drive, stopped,
// the first track starting at first_offset.
void insert_fake_disc(const std::vector<unsigned> &lengths, unsigned first_offset = 150);

// Opens mivo's SDL backend on the fake's drive 0 and forgets the calls that
// took, so the application's calls reach the fake through the backend.
void open_fake_drive();

// The table of contents of an SDL handle as mivo's own type, for tests that
// name a disc's file before the backend has seen it.
struct Toc toc_of(const SDL_CD &cd);

// The recorded calls of one kind.
std::vector<RecordedCall> calls_of(CdCall kind);
