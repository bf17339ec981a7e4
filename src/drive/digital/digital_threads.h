// SPDX-License-Identifier: GPL-3.0-or-later
// The digital backend's insides, shared by its three files, one per thread:
// the operations the main loop calls (digital_backend.cpp), the reader thread
// that makes every call of the source (digital_reader.cpp) and the sound
// card's callback (digital_callback.cpp). Each file keeps its state in one
// record named for the thread that owns it: only that thread writes it, bar
// the hand-overs written beside the fields. The others read its atomics.
#pragma once

#include "drive/digital/audio_output.h"
#include "drive/digital/source.h"
#include "drive/digital/spsc_ring.h"
#include "drive/drive.h"

#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <cstdint>

// About 6.8 seconds of audio: a slow disk or a busy machine has that long to
// catch up before a gap is heard.
inline constexpr size_t RING_FRAMES = 512;
// Below this many queued frames the callback wakes the reader.
inline constexpr size_t RING_LOW_WATER = RING_FRAMES / 2;
// The most frames the reader asks of the source at once.
inline constexpr int READ_CHUNK = 32;
inline constexpr int ERROR_SIZE = 256;

enum EntryKind : uint32_t {
    ENTRY_AUDIO, // one frame of samples
    ENTRY_END,   // the play span ends here
    ENTRY_ERROR, // the source failed here
};

// One frame of audio on its way to the sound card, tagged with the command
// (generation) it was read for, so audio of an older command is dropped.
struct RingEntry {
    uint32_t generation;
    uint32_t kind;
    uint32_t frame; // Toc-style frame number of these samples
    int16_t samples[SAMPLES_PER_FRAME * 2];
};

// The rare requests from the main loop to the reader. What to play is not
// queued but posted (see the play mailbox), so a stalled reader never makes
// the main loop lose or wait for a play or a stop.
enum CommandKind : uint32_t {
    CMD_EJECT,
    CMD_CLOSE_TRAY, // an image's: the sheet is read anew, as a drive reads a disc put back
};

struct ReaderCommand {
    CommandKind kind;
};

// What the reader learnt of the disc: handed to the main loop whole.
struct DiscReport {
    uint32_t ejects_done; // eject commands the reader had carried out
    int32_t state;
    Toc toc;
    DiscText text;
    char error[ERROR_SIZE];
};

// A span to play: frames [next, end) under a generation.
struct ReaderJob {
    bool active;
    uint32_t generation;
    uint32_t next;
    uint32_t end;
};

// ---- The main loop's record (digital_backend.cpp) ----
struct MainLoopState {
    // Read by the reader. Between the main loop (producer) and the reader
    // (consumer).
    SpscRing<ReaderCommand, 64> commands;
    // The play mailbox: the latest span the main loop wants, frames
    // [start, end) under a generation, active false for silence. The main
    // loop only ever writes it and the reader only reads it, so it is a
    // sequence lock: version is odd while a write is under way and the reader
    // reads again when the version moved under it.
    std::atomic<uint32_t> post_version;
    std::atomic<uint32_t> post_generation;
    std::atomic<uint32_t> post_start;
    std::atomic<uint32_t> post_end;
    std::atomic<bool> post_active;
    // Set to end the reader. It is not queued: a full command queue must
    // never cost a quit.
    std::atomic<bool> quit_requested;
    // Read by the reader: the notices the main loop has taken.
    std::atomic<uint32_t> notices_taken;

    // Read by the callback.
    std::atomic<uint32_t> generation;
    std::atomic<bool> paused;
    std::atomic<uint32_t> volume_bits; // left in bits 0-7, right in 8-15

    // Its own.
    const AudioSource *override_source;
    const AudioOutput *override_output;
    const AudioOutput *output;
    pthread_t reader_thread;
    bool is_open;
    // An image was ejected: the next eject closes the tray again.
    bool tray_open;
    // The sound card is closed after a while stopped or paused, so that an
    // idle player wakes nothing; busy_ns is when it last played.
    bool output_open;
    int64_t busy_ns;
    int64_t idle_close_ns; // 0: IDLE_CLOSE_NS
    // Start-up found no sound output: the notice says so once.
    bool output_notice_pending;
    char output_notice[ERROR_SIZE + 32];
    int32_t state = DRIVE_NO_DISC;
    Toc toc;
    DiscText text;
    uint32_t ejects_requested;
    uint32_t play_start; // first frame of the current play
    int32_t last_track;  // the track last seen playing or paused
    Volume volume = {{255, 255, 255, 255}};
    char error_text[ERROR_SIZE];
    char notice[ERROR_SIZE]; // the notice last taken
};
extern MainLoopState main_loop;

// ---- The reader thread's record (digital_reader.cpp) ----
struct ReaderState {
    // Set by the main loop before the thread starts; fixed while it runs.
    const AudioSource *source;
    int latency_samples; // the output's
    char source_path[DRIVE_PATH_SIZE];
    TargetKind target_kind;

    // Between the reader (producer) and the sound card's callback (consumer).
    SpscRing<RingEntry, RING_FRAMES> frames;
    // The reader fills report only while report_ready is false; the main
    // loop copies it only while report_ready is true, and then clears it.
    std::atomic<bool> report_ready;
    DiscReport report;
    // True from the start of the reader's reading of a disc until its report
    // is handed over.
    std::atomic<bool> reading_disc;
    // Written before an ENTRY_ERROR is queued, read by the main loop once the
    // callback has met that entry.
    char read_error[ERROR_SIZE];
    // What the source met without stopping the play (damage read as
    // silence): written only while every notice before it has been taken,
    // then counted posted; the main loop copies it out, then counts it taken
    // (main_loop.notices_taken). The source keeps its next notice until then.
    char notice_text[ERROR_SIZE];
    std::atomic<uint32_t> notices_posted;
    // True while the reader naps with a job it cannot go on with until the
    // ring drains; only then has the callback a reason to wake it, and the
    // callback clears it as it does.
    std::atomic<bool> hungry;
    // Naps the reader woke from since the last open, for tests.
    std::atomic<uint64_t> wakes;
    // Posted by the main loop and the callback to wake the reader's nap.
    sem_t wake;
    // Readable when the reader has news for the main loop: a report handed
    // over, or the callback past the end of a play. The main loop creates it
    // at open and drains it at each refresh.
    int news_fd = -1;
    // Set after each write to news_fd, so that a refresh with no news makes
    // no system call: the counter is read only when this was set.
    std::atomic<bool> news_written;
    // Posted once the source is open; open_result and open_error say how
    // that went.
    sem_t started;
    int open_result;
    char open_error[ERROR_SIZE];
    // Posted once the disc has been read for the first time.
    sem_t first_load_done;

    // Its own.
    ReaderJob job;
    // The ends of plays the reader has told the main loop about.
    uint32_t told_finished, told_failed;
    Toc toc;
    DiscReport pending;
    bool pending_valid;
    uint32_t ejects_done;
    // An ejected image, not looked at until its tray is closed.
    bool tray_open;
    // What the sound card had taken, and the sample heard, at the last look
    // for the clock's next second.
    uint64_t tick_handed;
    uint32_t tick_heard;
    // The version of the play mailbox the reader last took.
    uint32_t taken_version;
    int16_t staging[READ_CHUNK * SAMPLES_PER_FRAME * 2];
};
extern ReaderState reader;

// ---- The sound card callback's record (digital_callback.cpp) ----
struct CallbackState {
    // Read by the main loop and the reader. played holds the generation in
    // its high half and the Toc-style sample number after the last sample
    // handed to the sound card in its low half, so the two never disagree.
    std::atomic<uint64_t> played;
    std::atomic<uint32_t> finished_generation;
    std::atomic<uint32_t> failed_generation;
    std::atomic<uint64_t> underruns;
    // played as the last fill left it and when that fill began (monotonic
    // ns), for the sample being heard; a sequence lock (fill_version odd while
    // the callback writes them), so the reader of both retries, never the
    // callback.
    std::atomic<uint32_t> fill_version;
    std::atomic<uint64_t> fill_played;
    std::atomic<int64_t> fill_ns;

    // Its own: bytes of the oldest ring entry already handed over.
    uint32_t entry_offset;
};
extern CallbackState callback;

// The callback, handed to the sound card.
void fill_audio(uint8_t *stream, int len);
// Forgets the last open's playing; only while the callback is not called.
void reset_callback();
// The Toc-style sample being heard at now (monotonic ns) under generation
// gen, allowing for what the device buffers (latency samples); false when
// nothing of gen has been handed to the sound card. Any thread.
bool heard_sample(uint32_t gen, int64_t now, int latency, uint32_t &sample);

// Forgets the last open's reading and creates what the threads meet through;
// only while no reader runs. -1 with the reason in error when that fails.
int prepare_reader(char *error);
// Lets go of what prepare_reader created, once no reader runs.
void release_reader_tools();
// The reader thread: opens and loads the source, then follows the commands
// and keeps the ring full until told to quit.
void *run_reader(void *);

// Now on the clock that never jumps, in nanoseconds.
int64_t monotonic_ns();
// Waits until sem is posted or ns have passed, timed on the clock that never
// jumps, so that setting the system's clock back cannot stretch a wait; true
// when it was posted.
bool wait_posted(sem_t &sem, int64_t ns);
// Copies the source's words into dest (ERROR_SIZE bytes), never leaving it
// unterminated.
void copy_error(char *dest, const char *words);
