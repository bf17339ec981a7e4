// SPDX-License-Identifier: GPL-3.0-or-later
// The digital backend's operations, all called on the main loop: they start
// and end the reader, post plays to it and read what it and the callback
// reader.report. Never waits, but at open.
#include "drive/digital/digital_backend.h"

#include "drive/digital/cdio_source.h"
#include "drive/digital/digital_threads.h"
#include "drive/digital/image_source.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{
// How long start-up waits for a drive's first reading of its disc. A drive
// spinning up, or one struggling with a scratched disc, takes seconds: the
// screen comes up without the disc, which then arrives as an inserted one
// would. An image is a file; start-up waits for it, so that a sheet that
// cannot be read ends the start.
constexpr int64_t DEVICE_FIRST_LOAD_WAIT_NS = 1'500'000'000;
// How long the sound card stays open stopped or paused: a pause and a resume
// in a row keep it, a player left idle lets it go, and with it SDL's thread
// and the sound server's wake-ups. Opening it again takes a few tens of ms.
constexpr int64_t IDLE_CLOSE_NS = 4'000'000'000;
} // namespace

MainLoopState main_loop;

void set_digital_source(const AudioSource *replacement) { main_loop.override_source = replacement; }

void set_digital_output(const AudioOutput *replacement) { main_loop.override_output = replacement; }

uint64_t digital_underruns() { return callback.underruns.load(std::memory_order_relaxed); }

void set_digital_idle_close(int64_t ns) { main_loop.idle_close_ns = ns; }

uint64_t digital_reader_wakes() { return reader.wakes.load(std::memory_order_relaxed); }

// Ends the reader and waits for it; the reader looks at the request between
// any two calls of the source.
static void stop_reader()
{
    main_loop.quit_requested.store(true, std::memory_order_release);
    sem_post(&reader.wake);
    pthread_join(main_loop.reader_thread, nullptr);
    release_reader_tools();
}

// Hands a command to the reader; -1 when its queue is full.
static int send_command(CommandKind kind)
{
    ReaderCommand *slot = main_loop.commands.write_slot();
    if (slot == nullptr) {
        copy_error(main_loop.error_text, "the reader is not keeping up with the commands");
        return -1;
    }
    *slot = {kind};
    main_loop.commands.publish();
    sem_post(&reader.wake);
    return 0;
}

// Posts what the reader should play from now on, replacing what it has not
// yet taken; never fails and never waits.
static void post_play(bool active, uint32_t start, uint32_t end)
{
    uint32_t v = main_loop.post_version.load(std::memory_order_relaxed);
    main_loop.post_version.store(v + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    main_loop.post_active.store(active, std::memory_order_relaxed);
    main_loop.post_generation.store(main_loop.generation.load(std::memory_order_relaxed),
                                    std::memory_order_relaxed);
    main_loop.post_start.store(start, std::memory_order_relaxed);
    main_loop.post_end.store(end, std::memory_order_relaxed);
    main_loop.post_version.store(v + 2, std::memory_order_release);
    sem_post(&reader.wake);
}

// Starts a new generation: whatever the callback still holds becomes stale.
static void new_generation()
{
    main_loop.generation.store(main_loop.generation.load(std::memory_order_relaxed) + 1,
                               std::memory_order_release);
    main_loop.paused.store(false, std::memory_order_release);
}

// Hands the volume of the two front channels to the callback.
static void publish_volume()
{
    main_loop.volume_bits.store(uint32_t{main_loop.volume.channel[0]} |
                                    (uint32_t{main_loop.volume.channel[1]} << 8),
                                std::memory_order_relaxed);
}

static void take_report();

// Opens the sound card unless it is open; -1 with the reason when it cannot.
static int open_output()
{
    if (main_loop.output_open)
        return 0;
    if (main_loop.output->open(fill_audio) != 0) {
        copy_error(main_loop.error_text, main_loop.output->error());
        return -1;
    }
    main_loop.output_open = true;
    main_loop.busy_ns = monotonic_ns();
    return 0;
}

// Closes the sound card; the ring keeps what it holds for a resume.
static void close_output()
{
    if (!main_loop.output_open)
        return;
    main_loop.output->close();
    main_loop.output_open = false;
}

// The source that reads this kind of target, or nullptr when none does.
static const AudioSource *source_for(const DriveTarget &target)
{
    if (main_loop.override_source)
        return main_loop.override_source;
    if (target.kind == TARGET_IMAGE)
        return &image_audio_source;
    if (target.kind == TARGET_DEVICE || target.kind == TARGET_DEFAULT_DEVICE)
        return &cdio_audio_source;
    return nullptr;
}

// Waits for the reader's first reading of the disc, at most a while for a
// drive; true when it is done.
static bool wait_for_first_load()
{
    if (reader.target_kind == TARGET_IMAGE) {
        while (sem_wait(&reader.first_load_done) != 0 && errno == EINTR) {
        }
        return true;
    }
    return wait_posted(reader.first_load_done, DEVICE_FIRST_LOAD_WAIT_NS);
}

// Starts the reader on the target and waits for its first look at the disc
// (see DEVICE_FIRST_LOAD_WAIT_NS), then opens the sound card; at start-up, so
// waiting is allowed here.
static int digital_open(const DriveTarget &target)
{
    if (main_loop.is_open)
        return 0;
    reader.source = source_for(target);
    if (reader.source == nullptr) {
        copy_error(main_loop.error_text,
                   "this kind of disc cannot be played through the sound card");
        return -1;
    }
    main_loop.output = main_loop.override_output ? main_loop.override_output : &sdl_audio_output;
    reader.latency_samples = main_loop.output->latency_samples;
    reader.target_kind = target.kind;
    snprintf(reader.source_path, sizeof reader.source_path, "%s", target.path);

    main_loop.commands.reset();
    main_loop.generation.store(1);
    main_loop.paused.store(false);
    main_loop.quit_requested.store(false);
    main_loop.post_version.store(0);
    main_loop.ejects_requested = 0;
    main_loop.tray_open = false;
    main_loop.state = DRIVE_NO_DISC;
    main_loop.toc = {};
    main_loop.text = {};
    main_loop.play_start = 0;
    main_loop.last_track = 0;
    publish_volume();
    reset_callback();
    if (prepare_reader(main_loop.error_text) != 0)
        return -1;
    if (pthread_create(&main_loop.reader_thread, nullptr, run_reader, nullptr) != 0) {
        copy_error(main_loop.error_text, "could not start the reader thread");
        release_reader_tools();
        return -1;
    }
    while (sem_wait(&reader.started) != 0 && errno == EINTR) {
    }
    if (reader.open_result != 0) {
        copy_error(main_loop.error_text, reader.open_error);
        pthread_join(main_loop.reader_thread, nullptr);
        release_reader_tools();
        return -1;
    }
    if (wait_for_first_load()) {
        // The disc as start-up found it; one that cannot be read ends the start.
        take_report();
        if (main_loop.state == DRIVE_ERROR) {
            stop_reader();
            main_loop.state = DRIVE_NO_DISC;
            return -1;
        }
    }
    // Without a sound card the disc is still there to see, name and look up:
    // the user hears of it once, and each play tries the card again.
    main_loop.output_notice_pending = open_output() != 0;
    if (main_loop.output_notice_pending)
        snprintf(main_loop.output_notice, sizeof main_loop.output_notice, "No sound output: %s",
                 main_loop.output->error());
    main_loop.is_open = true;
    return 0;
}

// Closes the sound card, ends the reader (which closes the source) and joins it.
static void digital_close()
{
    if (!main_loop.is_open)
        return;
    // The callback stops first, so nothing reads the ring while the reader ends.
    close_output();
    stop_reader();
    main_loop.is_open = false;
    main_loop.state = DRIVE_NO_DISC;
}

// The track that holds frame, held within the disc's tracks.
static int32_t track_of(uint32_t frame)
{
    int32_t found = 0;
    for (int32_t t = 0; t < main_loop.toc.count; t++) {
        if (frame >= main_loop.toc.track[t].offset)
            found = t;
    }
    return found;
}

// Takes a report the reader handed over, unless an eject asked since then
// makes it out of date. A report after start-up means the disc changed, so
// whatever was playing ends.
static void take_report()
{
    if (!reader.report_ready.load(std::memory_order_acquire))
        return;
    if (reader.report.ejects_done >= main_loop.ejects_requested) {
        main_loop.toc = reader.report.toc;
        main_loop.text = reader.report.text;
        if (reader.report.state == DRIVE_ERROR)
            copy_error(main_loop.error_text, reader.report.error);
        if (main_loop.state == DRIVE_PLAYING || main_loop.state == DRIVE_PAUSED)
            new_generation();
        main_loop.state = reader.report.state;
    }
    reader.report_ready.store(false, std::memory_order_release);
    // A reader holding a newer report hands it over now, not at its next wake.
    sem_post(&reader.wake);
}

// Reports the state and the position of the last sample the sound card got.
static int digital_refresh(DriveStatus &status)
{
    if (!main_loop.is_open)
        return -1;
    // The news is taken by this refresh; what comes after it wakes the next wait.
    if (reader.news_written.exchange(false, std::memory_order_acq_rel)) {
        uint64_t news = 0;
        ssize_t taken = read(reader.news_fd, &news, sizeof news);
        (void)taken;
    }
    // Read before the report: once reading is over its report is there to take.
    bool reading = reader.reading_disc.load(std::memory_order_acquire);
    take_report();
    uint32_t gen = main_loop.generation.load(std::memory_order_relaxed);
    int64_t now = monotonic_ns();
    if (main_loop.state == DRIVE_PLAYING)
        main_loop.busy_ns = now;
    else if (main_loop.output_open &&
             now - main_loop.busy_ns >
                 (main_loop.idle_close_ns > 0 ? main_loop.idle_close_ns : IDLE_CLOSE_NS))
        close_output();
    if (main_loop.state == DRIVE_PLAYING || main_loop.state == DRIVE_PAUSED) {
        if (callback.failed_generation.load(std::memory_order_acquire) == gen) {
            copy_error(main_loop.error_text, reader.read_error);
            main_loop.state = DRIVE_ERROR;
        } else if (callback.finished_generation.load(std::memory_order_acquire) == gen) {
            main_loop.state = DRIVE_STOPPED;
        }
    }
    status.state = main_loop.state;
    status.toc = main_loop.toc;
    status.track = main_loop.last_track;
    status.frame = 0;
    if (main_loop.state == DRIVE_PLAYING || main_loop.state == DRIVE_PAUSED) {
        // The sample being heard, not the last one handed to the sound card:
        // the clock on the screen is what the listener hears.
        uint32_t sample = main_loop.play_start * static_cast<uint32_t>(SAMPLES_PER_FRAME);
        heard_sample(gen, now, reader.latency_samples, sample);
        uint32_t frame = sample / SAMPLES_PER_FRAME;
        int32_t track = track_of(frame);
        uint32_t end = main_loop.toc.track[track].offset + main_loop.toc.track[track].length;
        if (frame >= end && end > 0)
            frame = end - 1;
        status.track = track;
        status.frame =
            static_cast<int32_t>(frame - std::min(frame, main_loop.toc.track[track].offset));
        main_loop.last_track = track;
    }
    status.restart_track = main_loop.last_track;
    status.reading = reading && main_loop.state == DRIVE_NO_DISC;
    status.tray_open = main_loop.tray_open;
    // The error state is news from the drive, not a failed refresh.
    return 0;
}

// True when the error state follows a failed read of a disc whose table of
// contents is known: asking again may well succeed, and for an image nothing
// else would ever clear the state.
static bool error_may_retry() { return main_loop.state == DRIVE_ERROR && main_loop.toc.count > 0; }

// Plays from (track, frame) to the end of that track or of the disc, as a
// drive does: data tracks skipped, a frame past the track's end refused.
static int digital_play(int32_t track, int32_t frame, PlaySpan span)
{
    if (main_loop.is_open && main_loop.state == DRIVE_ERROR && !error_may_retry()) {
        copy_error(main_loop.error_text, "the disc could not be read");
        return -1;
    }
    if (!main_loop.is_open || main_loop.state == DRIVE_NO_DISC) {
        copy_error(main_loop.error_text, "no disc");
        return -1;
    }
    if (track < 0 || track >= main_loop.toc.count) {
        copy_error(main_loop.error_text, "no such track");
        return -1;
    }
    // A data track is skipped, as a drive does, to the next audio track.
    while (track < main_loop.toc.count && !main_loop.toc.track[track].audio) {
        track++;
        frame = 0;
    }
    if (track >= main_loop.toc.count) {
        copy_error(main_loop.error_text, "no audio track to play");
        return -1;
    }
    const TocTrack &start_track = main_loop.toc.track[track];
    if (frame >= static_cast<int32_t>(start_track.length)) {
        copy_error(main_loop.error_text, "the frame lies beyond the track's end");
        return -1;
    }
    // A skip back from near a track's start lands in the track before; from
    // the first track it starts the disc.
    int64_t start = int64_t{start_track.offset} + frame;
    start = std::max<int64_t>(start, main_loop.toc.track[0].offset);
    // A play to the end stops with the last audio track: what follows on an
    // Enhanced CD is the gap between its sessions and data.
    int32_t last_audio = main_loop.toc.count - 1;
    while (!main_loop.toc.track[last_audio].audio)
        last_audio--;
    const TocTrack &end_track =
        span == SPAN_ONE_TRACK ? start_track : main_loop.toc.track[last_audio];
    uint32_t end = end_track.offset + end_track.length;
    uint32_t first = static_cast<uint32_t>(start);
    // A sound card closed while idle opens again; one that cannot changes nothing.
    if (open_output() != 0)
        return -1;
    new_generation();
    post_play(true, first, end);
    main_loop.play_start = first;
    main_loop.state = DRIVE_PLAYING;
    main_loop.last_track = track_of(first);
    return 0;
}

// Pauses at the next device buffer; what is queued stays for the resume.
static int digital_pause()
{
    if (main_loop.state == DRIVE_PLAYING) {
        main_loop.paused.store(true, std::memory_order_release);
        main_loop.state = DRIVE_PAUSED;
        main_loop.busy_ns = monotonic_ns();
    }
    return 0;
}

// Goes on with the very sample after the last one callback.played.
static int digital_resume()
{
    if (main_loop.state == DRIVE_PAUSED) {
        if (open_output() != 0)
            return -1;
        main_loop.paused.store(false, std::memory_order_release);
        main_loop.state = DRIVE_PLAYING;
    }
    return 0;
}

// Silences at once and tells the reader to stop reading.
static int digital_stop()
{
    if (!main_loop.is_open)
        return -1;
    new_generation();
    post_play(false, 0, 0);
    if (main_loop.state == DRIVE_PLAYING || main_loop.state == DRIVE_PAUSED || error_may_retry())
        main_loop.state = DRIVE_STOPPED;
    return 0;
}

// Stops, has the reader eject, and shows an empty tray at once. An image's
// tray, once open, is closed by the next eject, and the sheet read anew.
static int digital_eject()
{
    if (!main_loop.is_open)
        return -1;
    if (main_loop.tray_open) {
        if (send_command(CMD_CLOSE_TRAY) != 0)
            return -1;
        main_loop.ejects_requested++;
        main_loop.tray_open = false;
        return 0;
    }
    if (send_command(CMD_EJECT) != 0)
        return -1;
    main_loop.tray_open = reader.target_kind == TARGET_IMAGE;
    new_generation();
    post_play(false, 0, 0);
    main_loop.ejects_requested++;
    // The tray is empty at once; the reader's next report says what the
    // source holds after the eject.
    main_loop.state = DRIVE_NO_DISC;
    main_loop.toc = {};
    main_loop.text = {};
    main_loop.last_track = 0;
    return 0;
}

// The software main_loop.volume, 255 on a channel meaning samples pass unchanged.
static int digital_get_volume(Volume &out)
{
    out = main_loop.volume;
    return 0;
}

// Sets the software main_loop.volume; the callback applies it from its next buffer.
static int digital_set_volume(const Volume &in)
{
    main_loop.volume = in;
    publish_volume();
    return 0;
}

// The CD-TEXT of the disc in the tray; -1 when it has none.
static int digital_disc_text(DiscText &out)
{
    if (!main_loop.text.present || main_loop.state <= DRIVE_NO_DISC)
        return -1;
    out = main_loop.text;
    return 0;
}

// Why the last call failed, or the drive's error state arose.
static const char *digital_error() { return main_loop.error_text; }

static int digital_news_fd() { return reader.news_fd; }

// What went wrong without stopping the drive, one notice at a time: that
// there is no sound output and why (once), then the reader's notices.
static const char *digital_notice()
{
    if (main_loop.output_notice_pending) {
        main_loop.output_notice_pending = false;
        return main_loop.output_notice;
    }
    uint32_t posted = reader.notices_posted.load(std::memory_order_acquire);
    if (posted == main_loop.notices_taken.load(std::memory_order_relaxed))
        return nullptr;
    copy_error(main_loop.notice, reader.notice_text);
    main_loop.notices_taken.store(posted, std::memory_order_release);
    return main_loop.notice;
}

const DriveBackend digital_drive_backend = {
    "digital",          digital_open,      digital_close, digital_refresh, digital_play,
    digital_pause,      digital_resume,    digital_stop,  digital_eject,   digital_get_volume,
    digital_set_volume, digital_disc_text, digital_error, digital_news_fd, digital_notice,
};
