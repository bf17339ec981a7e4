// SPDX-License-Identifier: GPL-3.0-or-later
// The reader thread: the only caller of the source. It follows the main
// loop's posted plays and commands, keeps the ring of frames full for the
// callback, reports the disc and tells the main loop of news.
#include "drive/digital/digital_threads.h"

#include "drive/digital/image_source.h"

#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace
{
// How often the reader asks the source whether the disc changed.
constexpr long MEDIA_CHECK_NS = 500'000'000L;
// A wake for the clock comes this long after the second is heard, so the
// main loop's refresh finds the new second.
constexpr int64_t TICK_LATE_NS = 1'000'000;
// Until the sound card has taken the first audio of a play, the reader looks
// this often, so that the clock's wakes start with the sound.
constexpr int64_t FIRST_SOUND_LOOK_NS = 20'000'000;
} // namespace

ReaderState reader;

int64_t monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Waits until sem is posted or the clock that never jumps reaches end; true
// when it was posted.
static bool wait_posted_until(sem_t &sem, int64_t end)
{
    timespec until{static_cast<time_t>(end / 1'000'000'000),
                   static_cast<long>(end % 1'000'000'000)};
    for (;;) {
        if (sem_clockwait(&sem, CLOCK_MONOTONIC, &until) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

bool wait_posted(sem_t &sem, int64_t ns) { return wait_posted_until(sem, monotonic_ns() + ns); }

void copy_error(char *dest, const char *words)
{
    snprintf(dest, ERROR_SIZE, "%s", words ? words : "unknown error");
}

int prepare_reader(char *error)
{
    reader.frames.reset();
    reader.report_ready.store(false);
    reader.reading_disc.store(false);
    reader.hungry.store(false);
    reader.wakes.store(0);
    reader.job = {};
    reader.taken_version = 0;
    reader.pending_valid = false;
    reader.ejects_done = 0;
    reader.told_finished = 0;
    reader.told_failed = 0;
    reader.notices_posted.store(0);
    main_loop.notices_taken.store(0);
    reader.tick_handed = 0;
    reader.tray_open = false;
    reader.tick_heard = 0;
    reader.news_written.store(false, std::memory_order_relaxed);
    reader.news_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (reader.news_fd < 0) {
        copy_error(error, "could not create the reader's descriptor");
        return -1;
    }
    sem_init(&reader.wake, 0, 0);
    sem_init(&reader.started, 0, 0);
    sem_init(&reader.first_load_done, 0, 0);
    return 0;
}

void release_reader_tools()
{
    sem_destroy(&reader.wake);
    sem_destroy(&reader.started);
    sem_destroy(&reader.first_load_done);
    close(reader.news_fd);
    reader.news_fd = -1;
}

// Asks the source for the disc now present and prepares a report of it.
static void load_disc()
{
    DiscReport &pending = reader.pending;
    memset(&pending, 0, sizeof pending);
    pending.state = reader.source->load(pending.toc, pending.text);
    if (pending.toc.count < 0 || pending.toc.count > MAX_TRACKS)
        pending.toc.count = 0;
    if (pending.state == DRIVE_ERROR)
        copy_error(pending.error, reader.source->error());
    pending.ejects_done = reader.ejects_done;
    reader.toc = pending.toc;
    reader.pending_valid = true;
}

// Reports an empty tray, the state of an image once ejected.
static void report_empty_tray()
{
    memset(&reader.pending, 0, sizeof reader.pending);
    reader.pending.state = DRIVE_NO_DISC;
    reader.pending.ejects_done = reader.ejects_done;
    reader.toc = reader.pending.toc;
    reader.pending_valid = true;
}

// Wakes the main loop's wait; its next refresh takes the news.
static void tell_main_loop()
{
    uint64_t one = 1;
    // Only a full counter refuses, and that already says there is news.
    ssize_t written = write(reader.news_fd, &one, sizeof one);
    (void)written;
    // After the write: a refresh that sees the flag finds the counter set.
    reader.news_written.store(true, std::memory_order_release);
}

// Hands the source's notice to the main loop once it took the last one.
static void pass_on_notice()
{
    uint32_t posted = reader.notices_posted.load(std::memory_order_relaxed);
    if (reader.source->notice == nullptr ||
        main_loop.notices_taken.load(std::memory_order_acquire) != posted)
        return;
    const char *words = reader.source->notice();
    if (words == nullptr)
        return;
    copy_error(reader.notice_text, words);
    reader.notices_posted.store(posted + 1, std::memory_order_release);
    tell_main_loop();
}

// Tells the main loop of a play that ended since it was last told.
static void tell_ends()
{
    uint32_t finished = callback.finished_generation.load(std::memory_order_acquire);
    uint32_t failed = callback.failed_generation.load(std::memory_order_acquire);
    if (finished == reader.told_finished && failed == reader.told_failed)
        return;
    reader.told_finished = finished;
    reader.told_failed = failed;
    tell_main_loop();
}

// Hands the prepared report over when the main loop has taken the last one.
static void offer_report()
{
    if (!reader.pending_valid || reader.report_ready.load(std::memory_order_acquire))
        return;
    reader.report = reader.pending;
    reader.report_ready.store(true, std::memory_order_release);
    // After the hand-over, so a main loop that sees reading over finds the report.
    reader.reading_disc.store(false, std::memory_order_release);
    reader.pending_valid = false;
    tell_main_loop();
}

// Queues a marker; false when the ring is full and it must wait.
static bool queue_marker(EntryKind kind)
{
    RingEntry *slot = reader.frames.write_slot();
    if (slot == nullptr)
        return false;
    slot->generation = reader.job.generation;
    slot->kind = kind;
    slot->frame = reader.job.next;
    reader.frames.publish();
    return true;
}

// The track that holds frame in the reader's table, or -1 outside the disc.
static int track_at(uint32_t frame)
{
    for (int t = 0; t < reader.toc.count; t++) {
        const TocTrack &track = reader.toc.track[t];
        if (frame >= track.offset && frame < track.offset + track.length)
            return t;
    }
    return -1;
}

// Sleeps until woken or until the clock reaches until (-1: only when woken);
// hungry when the job waits for room in the ring.
static void reader_nap(bool hungry, int64_t until)
{
    reader.hungry.store(hungry, std::memory_order_relaxed);
    // Pairs with the callback's fence: a callback that drained the ring
    // before it could see hungry leaves a ring this look finds low.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    bool room = hungry && reader.frames.size() < RING_LOW_WATER;
    if (!room) {
        if (until < 0) {
            while (sem_wait(&reader.wake) != 0 && errno == EINTR) {
            }
        } else {
            wait_posted_until(reader.wake, until);
        }
    }
    reader.hungry.store(false, std::memory_order_relaxed);
    reader.wakes.fetch_add(1, std::memory_order_relaxed);
}

// When the reader next looks at the clock: at the next whole second of the
// track heard (tell: the main loop is woken to show it), sooner while the
// sound card has not yet taken the play's first audio; -1 while nothing
// plays, or while the sound card takes nothing (a stalled device must not
// make the reader spin).
static int64_t next_tick(int64_t now, bool &tell)
{
    tell = false;
    uint32_t gen = main_loop.generation.load(std::memory_order_acquire);
    uint32_t sample = 0;
    if (main_loop.paused.load(std::memory_order_acquire) ||
        callback.finished_generation.load(std::memory_order_acquire) == gen ||
        callback.failed_generation.load(std::memory_order_acquire) == gen)
        return -1;
    if (!heard_sample(gen, now, reader.latency_samples, sample))
        return main_loop.post_active.load(std::memory_order_relaxed) ? now + FIRST_SOUND_LOOK_NS
                                                                     : -1;
    // Nothing moved since the last wake for the clock: no wake until it does.
    if (callback.played.load(std::memory_order_relaxed) == reader.tick_handed &&
        sample == reader.tick_heard)
        return -1;
    int t = track_at(sample / SAMPLES_PER_FRAME);
    if (t < 0)
        return -1;
    uint32_t start = reader.toc.track[t].offset * SAMPLES_PER_FRAME;
    uint32_t next = start + ((sample - start) / OUTPUT_RATE + 1) * OUTPUT_RATE;
    tell = true;
    return now + int64_t{next - sample} * 1'000'000'000 / OUTPUT_RATE + TICK_LATE_NS;
}

// True when the main loop wants something new of the reader: a slow source
// must not keep it reading a span nobody listens to any more.
static bool news_for_reader()
{
    return main_loop.post_version.load(std::memory_order_acquire) != reader.taken_version ||
           main_loop.commands.size() != 0 ||
           main_loop.quit_requested.load(std::memory_order_acquire);
}

// Reads as much of the job as the ring has room for. Returns true when it
// moved anything or news came, so the reader goes on without a nap.
static bool fill_ring()
{
    ReaderJob &job = reader.job;
    bool moved = false;
    while (job.active) {
        if (news_for_reader())
            return true;
        if (job.next >= job.end) {
            if (!queue_marker(ENTRY_END))
                return moved;
            job.active = false;
            return true;
        }
        int t = track_at(job.next);
        uint32_t limit = job.end;
        if (t >= 0) {
            const TocTrack &track = reader.toc.track[t];
            if (!track.audio) {
                // Data tracks are listed but never played, as a drive skips them.
                job.next = track.offset + track.length;
                continue;
            }
            limit = std::min(limit, track.offset + track.length);
        }
        size_t room = reader.frames.capacity() - reader.frames.size();
        int count = static_cast<int>(std::min<size_t>({room, READ_CHUNK, limit - job.next}));
        if (count <= 0)
            return moved;
        int32_t got = reader.source->read(job.next, count, reader.staging);
        pass_on_notice();
        if (got < 0) {
            copy_error(reader.read_error, reader.source->error());
            if (!queue_marker(ENTRY_ERROR))
                return moved;
            job.active = false;
            return true;
        }
        if (got == 0) {
            // The source ends before the table of contents does: end the play
            // there rather than wait for audio that will not come.
            job.end = job.next;
            continue;
        }
        got = std::min(got, count);
        for (int i = 0; i < got; i++) {
            RingEntry *slot = reader.frames.write_slot();
            slot->generation = job.generation;
            slot->kind = ENTRY_AUDIO;
            slot->frame = job.next + static_cast<uint32_t>(i);
            memcpy(slot->samples, reader.staging + i * SAMPLES_PER_FRAME * 2, FRAME_BYTES);
            reader.frames.publish();
        }
        job.next += static_cast<uint32_t>(got);
        moved = true;
    }
    return moved;
}

// Takes the latest span from the play mailbox when it changed.
static void take_posted_play()
{
    for (;;) {
        uint32_t before = main_loop.post_version.load(std::memory_order_acquire);
        if (before == reader.taken_version)
            return;
        if (before & 1) {
            sched_yield();
            continue;
        }
        ReaderJob posted = {main_loop.post_active.load(std::memory_order_relaxed),
                            main_loop.post_generation.load(std::memory_order_relaxed),
                            main_loop.post_start.load(std::memory_order_relaxed),
                            main_loop.post_end.load(std::memory_order_relaxed)};
        std::atomic_thread_fence(std::memory_order_acquire);
        if (main_loop.post_version.load(std::memory_order_relaxed) != before)
            continue;
        reader.taken_version = before;
        reader.job = posted;
        return;
    }
}

// Carries out the queued commands, even at quit (an eject asked just before
// quitting still opens the tray); false once told to quit.
static bool take_commands()
{
    auto &commands = main_loop.commands;
    take_posted_play();
    while (ReaderCommand *command = commands.read_slot()) {
        ReaderCommand c = *command;
        commands.release();
        switch (c.kind) {
        case CMD_EJECT: {
            // Ejects pressed again while the drive was busy all ask for the
            // same open tray: one is carried out for all of them.
            uint32_t asked = 1;
            while (commands.read_slot() != nullptr && commands.read_slot()->kind == CMD_EJECT) {
                commands.release();
                asked++;
            }
            reader.job.active = false;
            reader.source->eject();
            reader.ejects_done += asked;
            reader.tray_open = reader.target_kind == TARGET_IMAGE;
            if (reader.tray_open)
                report_empty_tray();
            else
                load_disc();
            break;
        }
        case CMD_CLOSE_TRAY:
            reader.tray_open = false;
            reader.job.active = false;
            reader.ejects_done++;
            reader.reading_disc.store(true, std::memory_order_release);
            reader.source->close();
            if (reader.source->open(reader.source_path) == 0) {
                load_disc();
            } else {
                // The sheet or its files went away or changed while the tray
                // was open: an unreadable disc, which another eject takes out.
                memset(&reader.pending, 0, sizeof reader.pending);
                reader.pending.state = DRIVE_ERROR;
                copy_error(reader.pending.error, reader.source->error());
                reader.pending.ejects_done = reader.ejects_done;
                reader.toc = reader.pending.toc;
                reader.pending_valid = true;
            }
            break;
        }
    }
    return !main_loop.quit_requested.load(std::memory_order_acquire);
}

void *run_reader(void *)
{
    reader.open_result = reader.source->open(reader.source_path);
    if (reader.open_result != 0) {
        copy_error(reader.open_error, reader.source->error());
        sem_post(&reader.started);
        return nullptr;
    }
    // Before start-up's wait can end, so its first refresh says "reading".
    reader.reading_disc.store(true, std::memory_order_release);
    sem_post(&reader.started);
    load_disc();
    offer_report();
    sem_post(&reader.first_load_done);

    // A disc image never changes under the reader, so only other sources are
    // asked now and then; between plays an image's reader sleeps until woken.
    bool polls_media = reader.source != &image_audio_source;
    int64_t next_media_check = monotonic_ns() + MEDIA_CHECK_NS;
    int64_t tick = -1;
    bool tick_tells = false;
    for (;;) {
        if (!take_commands())
            break;

        offer_report();
        tell_ends();
        int64_t now = monotonic_ns();
        if (tick >= 0 && now >= tick && tick_tells) {
            tell_main_loop();
            reader.tick_handed = callback.played.load(std::memory_order_relaxed);
            uint32_t gen = main_loop.generation.load(std::memory_order_relaxed);
            heard_sample(gen, now, reader.latency_samples, reader.tick_heard);
        }
        tick = next_tick(now, tick_tells);
        if (polls_media && now >= next_media_check) {
            next_media_check = now + MEDIA_CHECK_NS;
            if (!reader.tray_open && reader.source->media_changed()) {
                reader.job.active = false;
                reader.reading_disc.store(true, std::memory_order_release);
                load_disc();
                offer_report();
            }
        }
        if (!fill_ring()) {
            int64_t until = polls_media ? next_media_check : -1;
            if (tick >= 0 && (until < 0 || tick < until))
                until = tick;
            reader_nap(reader.job.active, until);
        }
    }
    reader.source->close();
    return nullptr;
}
