// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/digital/digital_backend.h"

#include "drive/digital/cdio_source.h"
#include "drive/digital/image_source.h"
#include "drive/digital/spsc_ring.h"

#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace
{

// About 6.8 seconds of audio: a slow disk or a busy machine has that long to
// catch up before a gap is heard.
constexpr size_t RING_FRAMES = 512;
// Below this many queued frames the callback wakes the reader.
constexpr size_t RING_LOW_WATER = RING_FRAMES / 2;
// The most frames the reader asks of the source at once.
constexpr int READ_CHUNK = 32;
// How often the reader asks the source whether the disc changed.
constexpr long MEDIA_CHECK_NS = 500'000'000L;
// How long the reader sleeps when nobody wakes it: commands and a ring that
// runs low wake it at once, so it only needs to look at the disc now and then.
constexpr long READER_NAP_NS = MEDIA_CHECK_NS;

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
enum CommandKind : uint32_t { CMD_EJECT };

struct Command {
    CommandKind kind;
};

// What the reader learnt of the disc: handed to the main loop whole.
struct DiscReport {
    uint32_t ejects_done; // eject commands the reader had carried out
    int32_t state;
    Toc toc;
    DiscText text;
    char error[256];
};

constexpr int ERROR_SIZE = 256;

} // namespace

// Between the reader (producer) and the sound card's callback (consumer).
static SpscRing<RingEntry, RING_FRAMES> frames;
// Between the main loop (producer) and the reader (consumer).
static SpscRing<Command, 64> commands;

// The play mailbox: the latest span the main loop wants, frames [start, end)
// under a generation, active false for silence. The main loop only ever
// writes it and the reader only reads it, so it is a sequence lock: version
// is odd while a write is under way and the reader reads again when the
// version moved under it.
static std::atomic<uint32_t> post_version;
static std::atomic<uint32_t> post_generation;
static std::atomic<uint32_t> post_start;
static std::atomic<uint32_t> post_end;
static std::atomic<bool> post_active;

// Written by the main loop, read by the callback.
static std::atomic<uint32_t> generation;
static std::atomic<bool> paused;
static std::atomic<uint32_t> volume_bits; // left in bits 0-7, right in 8-15

// Written by the callback, read by the main loop. played holds the generation
// in its high half and the Toc-style sample number after the last sample
// handed to the sound card in its low half, so the two never disagree.
static std::atomic<uint64_t> played;
static std::atomic<uint32_t> finished_generation;
static std::atomic<uint32_t> failed_generation;
static std::atomic<uint64_t> underruns;

// The reader fills report only while report_ready is false; the main loop
// copies it only while report_ready is true.
static std::atomic<bool> report_ready;
static DiscReport report;
// True from the start of the reader's reading of a disc until its report is
// handed over.
static std::atomic<bool> reading_disc;
// Written by the reader before it queues an ENTRY_ERROR, read by the main loop
// once the callback has met that entry.
static char read_error[ERROR_SIZE];
// What the source met without stopping the play (damage read as silence):
// the reader writes notice_text only while every notice before it has been
// taken, then counts it posted; the main loop copies it out, then counts it
// taken. The source keeps its next notice until the last one was taken.
static char notice_text[ERROR_SIZE];
static std::atomic<uint32_t> notices_posted, notices_taken;

// Set by the main loop to end the reader. It is not queued: a full command
// queue must never cost a quit.
static std::atomic<bool> quit_requested;
// True while the reader naps with a job it cannot go on with until the ring
// drains; only then has the callback a reason to wake it.
static std::atomic<bool> reader_hungry;
// Naps the reader woke from since the last open, for tests.
static std::atomic<uint64_t> reader_wakes;

static sem_t reader_wake;
// Readable when the reader has news for the main loop: a report handed over,
// or the callback past the end of a play. Created at open; refresh drains it.
static int news_fd = -1;
// Posted once the source is open; open_result says how that went.
static sem_t reader_started;
// Posted once the disc has been read for the first time.
static sem_t first_load_done;
// How long start-up waits for a drive's first reading of its disc. A drive
// spinning up, or one struggling with a scratched disc, takes seconds: the
// screen comes up without the disc, which then arrives as an inserted one
// would. An image is a file; start-up waits for it, so that a sheet that
// cannot be read ends the start.
constexpr int64_t DEVICE_FIRST_LOAD_WAIT_NS = 1'500'000'000;
static pthread_t reader_thread;

// Chosen at open, before the threads start; fixed while they run.
static const AudioSource *override_source;
static const AudioOutput *override_output;
static const AudioSource *source;
static const AudioOutput *output;
static char source_path[DRIVE_PATH_SIZE];
static TargetKind target_kind;
static int open_result;
static bool is_open;

// The main loop's own view.
static int32_t state = DRIVE_NO_DISC;
static Toc toc;
static DiscText text;
static uint32_t ejects_requested;
static uint32_t play_start; // first frame of the current play
static int32_t last_track;  // the track last seen playing or paused
static Volume volume = {{255, 255, 255, 255}};
static char error_text[ERROR_SIZE];

// The callback's own: bytes of the oldest ring entry already handed over.
static uint32_t entry_offset;

void set_digital_source(const AudioSource *replacement) { override_source = replacement; }

void set_digital_output(const AudioOutput *replacement) { override_output = replacement; }

uint64_t digital_underruns() { return underruns.load(std::memory_order_relaxed); }

uint64_t digital_reader_wakes() { return reader_wakes.load(std::memory_order_relaxed); }

// Scales one sample: 255 is unity, so full volume passes samples unchanged.
static int16_t scaled(int16_t sample, uint32_t level)
{
    return static_cast<int16_t>(static_cast<int32_t>(sample) * static_cast<int32_t>(level) / 255);
}

// Copies n bytes (whole stereo samples) of PCM at the current volume.
static void copy_at_volume(uint8_t *out, const uint8_t *in, int n, uint32_t levels)
{
    uint32_t left = levels & 0xff;
    uint32_t right = (levels >> 8) & 0xff;
    if (left == 255 && right == 255) {
        memcpy(out, in, static_cast<size_t>(n));
        return;
    }
    for (int i = 0; i + 4 <= n; i += 4) {
        int16_t pair[2];
        memcpy(pair, in + i, sizeof pair);
        pair[0] = scaled(pair[0], left);
        pair[1] = scaled(pair[1], right);
        memcpy(out + i, pair, sizeof pair);
    }
}

// The sound card's callback. It only reads atomics, moves ring counters and
// copies bytes: no lock, no allocation, no wait, no log.
static void fill_audio(uint8_t *stream, int len)
{
    uint8_t *out = stream;
    int left = len & ~3;
    // paused is read before the generation: the main loop stores a new
    // generation before it clears paused, so unpaused audio is never stale.
    bool is_paused = paused.load(std::memory_order_acquire);
    uint32_t gen = generation.load(std::memory_order_acquire);
    uint32_t levels = volume_bits.load(std::memory_order_relaxed);
    while (!is_paused && left > 0) {
        RingEntry *entry = frames.read_slot();
        if (entry == nullptr) {
            bool started = (played.load(std::memory_order_relaxed) >> 32) == gen;
            if (started && finished_generation.load(std::memory_order_relaxed) != gen &&
                failed_generation.load(std::memory_order_relaxed) != gen)
                underruns.fetch_add(1, std::memory_order_relaxed);
            break;
        }
        if (entry->generation != gen) {
            // A command that came while this buffer was being filled may
            // already have audio queued: that is the newest, not stale.
            uint32_t now = generation.load(std::memory_order_acquire);
            if (entry->generation == now) {
                gen = now;
                continue;
            }
        }
        if (entry->generation != gen || entry->kind != ENTRY_AUDIO) {
            if (entry->generation == gen && entry->kind == ENTRY_END)
                finished_generation.store(gen, std::memory_order_release);
            if (entry->generation == gen && entry->kind == ENTRY_ERROR)
                failed_generation.store(gen, std::memory_order_release);
            // The reader passes the end on to the main loop, which restarts a
            // repeat at once rather than at its next turn.
            if (entry->generation == gen && entry->kind != ENTRY_AUDIO)
                sem_post(&reader_wake);
            frames.release();
            entry_offset = 0;
            continue;
        }
        int n = std::min(left, static_cast<int>(FRAME_BYTES - entry_offset));
        copy_at_volume(out, reinterpret_cast<const uint8_t *>(entry->samples) + entry_offset, n,
                       levels);
        out += n;
        left -= n;
        entry_offset += static_cast<uint32_t>(n);
        uint64_t sample = uint64_t{entry->frame} * SAMPLES_PER_FRAME + entry_offset / 4;
        played.store((uint64_t{gen} << 32) | (sample & 0xffffffffu), std::memory_order_release);
        if (entry_offset == FRAME_BYTES) {
            frames.release();
            entry_offset = 0;
        }
    }
    memset(out, 0, static_cast<size_t>(len - (out - stream)));
    // Only a reader waiting for room is woken, and only once per nap: an idle
    // reader is left asleep while the ring stays empty.
    if (frames.size() < RING_LOW_WATER && reader_hungry.load(std::memory_order_relaxed) &&
        reader_hungry.exchange(false, std::memory_order_acq_rel))
        sem_post(&reader_wake);
}

// ---- The reader thread ----

// What the reader is playing; its own.
struct ReaderJob {
    bool active;
    uint32_t generation;
    uint32_t next;
    uint32_t end;
};

static ReaderJob job;
// The ends of plays the reader has told the main loop about.
static uint32_t told_finished, told_failed;
static Toc reader_toc;
static DiscReport pending;
static bool pending_valid;
static uint32_t ejects_done;
static int16_t staging[READ_CHUNK * SAMPLES_PER_FRAME * 2];

// Now on the clock that never jumps, in nanoseconds.
static int64_t monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Waits until sem is posted or ns have passed, timed on the clock that never
// jumps, so that setting the system's clock back cannot stretch a wait; true
// when it was posted.
static bool wait_posted(sem_t &sem, int64_t ns)
{
    int64_t end = monotonic_ns() + ns;
    timespec until{static_cast<time_t>(end / 1'000'000'000),
                   static_cast<long>(end % 1'000'000'000)};
    for (;;) {
        if (sem_clockwait(&sem, CLOCK_MONOTONIC, &until) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

// Sleeps until woken or until the nap is over; hungry when the job waits for
// room in the ring.
static void reader_nap(bool hungry)
{
    reader_hungry.store(hungry, std::memory_order_release);
    wait_posted(reader_wake, READER_NAP_NS);
    reader_hungry.store(false, std::memory_order_relaxed);
    reader_wakes.fetch_add(1, std::memory_order_relaxed);
}

// Copies the source's words into dest, never leaving it unterminated.
static void copy_error(char *dest, const char *words)
{
    snprintf(dest, ERROR_SIZE, "%s", words ? words : "unknown error");
}

// Asks the source for the disc now present and prepares a report of it.
static void load_disc()
{
    memset(&pending, 0, sizeof pending);
    pending.state = source->load(pending.toc, pending.text);
    if (pending.toc.count < 0 || pending.toc.count > MAX_TRACKS)
        pending.toc.count = 0;
    if (pending.state == DRIVE_ERROR)
        copy_error(pending.error, source->error());
    pending.ejects_done = ejects_done;
    reader_toc = pending.toc;
    pending_valid = true;
}

// Reports an empty tray, the state of an image once ejected.
static void report_empty_tray()
{
    memset(&pending, 0, sizeof pending);
    pending.state = DRIVE_NO_DISC;
    pending.ejects_done = ejects_done;
    reader_toc = pending.toc;
    pending_valid = true;
}

// Wakes the main loop's wait; its next refresh takes the news.
static void tell_main_loop()
{
    uint64_t one = 1;
    // Only a full counter refuses, and that already says there is news.
    ssize_t written = write(news_fd, &one, sizeof one);
    (void)written;
}

// Hands the source's notice to the main loop once it took the last one.
static void pass_on_notice()
{
    uint32_t posted = notices_posted.load(std::memory_order_relaxed);
    if (source->notice == nullptr || notices_taken.load(std::memory_order_acquire) != posted)
        return;
    const char *words = source->notice();
    if (words == nullptr)
        return;
    copy_error(notice_text, words);
    notices_posted.store(posted + 1, std::memory_order_release);
    tell_main_loop();
}

// Tells the main loop of a play that ended since it was last told.
static void tell_ends()
{
    uint32_t finished = finished_generation.load(std::memory_order_acquire);
    uint32_t failed = failed_generation.load(std::memory_order_acquire);
    if (finished == told_finished && failed == told_failed)
        return;
    told_finished = finished;
    told_failed = failed;
    tell_main_loop();
}

// Hands the prepared report over when the main loop has taken the last one.
static void offer_report()
{
    if (!pending_valid || report_ready.load(std::memory_order_acquire))
        return;
    report = pending;
    report_ready.store(true, std::memory_order_release);
    // After the hand-over, so a main loop that sees reading over finds the report.
    reading_disc.store(false, std::memory_order_release);
    pending_valid = false;
    tell_main_loop();
}

// Queues a marker; false when the ring is full and it must wait.
static bool queue_marker(EntryKind kind)
{
    RingEntry *slot = frames.write_slot();
    if (slot == nullptr)
        return false;
    slot->generation = job.generation;
    slot->kind = kind;
    slot->frame = job.next;
    frames.publish();
    return true;
}

// The track that holds frame in the reader's table, or -1 outside the disc.
static int track_at(uint32_t frame)
{
    for (int t = 0; t < reader_toc.count; t++) {
        const TocTrack &track = reader_toc.track[t];
        if (frame >= track.offset && frame < track.offset + track.length)
            return t;
    }
    return -1;
}

// The version of the play mailbox the reader last took.
static uint32_t taken_version;

// True when the main loop wants something new of the reader: a slow source
// must not keep it reading a span nobody listens to any more.
static bool news_for_reader()
{
    return post_version.load(std::memory_order_acquire) != taken_version || commands.size() != 0 ||
           quit_requested.load(std::memory_order_acquire);
}

// Reads as much of the job as the ring has room for. Returns true when it
// moved anything or news came, so the reader goes on without a nap.
static bool fill_ring()
{
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
            const TocTrack &track = reader_toc.track[t];
            if (!track.audio) {
                // Data tracks are listed but never played, as a drive skips them.
                job.next = track.offset + track.length;
                continue;
            }
            limit = std::min(limit, track.offset + track.length);
        }
        size_t room = frames.capacity() - frames.size();
        int count = static_cast<int>(std::min<size_t>({room, READ_CHUNK, limit - job.next}));
        if (count <= 0)
            return moved;
        int32_t got = source->read(job.next, count, staging);
        pass_on_notice();
        if (got < 0) {
            copy_error(read_error, source->error());
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
            RingEntry *slot = frames.write_slot();
            slot->generation = job.generation;
            slot->kind = ENTRY_AUDIO;
            slot->frame = job.next + static_cast<uint32_t>(i);
            memcpy(slot->samples, staging + i * SAMPLES_PER_FRAME * 2, FRAME_BYTES);
            frames.publish();
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
        uint32_t before = post_version.load(std::memory_order_acquire);
        if (before == taken_version)
            return;
        if (before & 1) {
            sched_yield();
            continue;
        }
        ReaderJob posted = {post_active.load(std::memory_order_relaxed),
                            post_generation.load(std::memory_order_relaxed),
                            post_start.load(std::memory_order_relaxed),
                            post_end.load(std::memory_order_relaxed)};
        std::atomic_thread_fence(std::memory_order_acquire);
        if (post_version.load(std::memory_order_relaxed) != before)
            continue;
        taken_version = before;
        job = posted;
        return;
    }
}

// Carries out the queued commands, even at quit (an eject asked just before
// quitting still opens the tray); false once told to quit.
static bool take_commands()
{
    take_posted_play();
    while (Command *command = commands.read_slot()) {
        Command c = *command;
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
            job.active = false;
            source->eject();
            ejects_done += asked;
            if (target_kind == TARGET_IMAGE)
                report_empty_tray();
            else
                load_disc();
            break;
        }
        }
    }
    return !quit_requested.load(std::memory_order_acquire);
}

// The reader thread: opens and loads the source, then follows the commands
// and keeps the ring full until told to quit.
static void *run_reader(void *)
{
    open_result = source->open(source_path);
    if (open_result != 0) {
        copy_error(error_text, source->error());
        sem_post(&reader_started);
        return nullptr;
    }
    // Before start-up's wait can end, so its first refresh says "reading".
    reading_disc.store(true, std::memory_order_release);
    sem_post(&reader_started);
    load_disc();
    offer_report();
    sem_post(&first_load_done);

    int64_t next_media_check = monotonic_ns() + MEDIA_CHECK_NS;
    // An ejected image stays ejected: there is nothing to put back.
    bool image_ejected = false;
    for (;;) {
        uint32_t ejects_before = ejects_done;
        if (!take_commands())
            break;
        if (ejects_done != ejects_before && target_kind == TARGET_IMAGE)
            image_ejected = true;
        offer_report();
        tell_ends();
        int64_t now = monotonic_ns();
        if (now >= next_media_check) {
            next_media_check = now + MEDIA_CHECK_NS;
            if (!image_ejected && source->media_changed()) {
                job.active = false;
                reading_disc.store(true, std::memory_order_release);
                load_disc();
                offer_report();
            }
        }
        if (!fill_ring())
            reader_nap(job.active);
    }
    source->close();
    return nullptr;
}

// ---- The main loop's side ----

// Lets go of what the reader and the main loop met through, once no reader runs.
static void release_reader_tools()
{
    sem_destroy(&reader_wake);
    sem_destroy(&reader_started);
    sem_destroy(&first_load_done);
    close(news_fd);
    news_fd = -1;
}

// Ends the reader and waits for it; the reader looks at the request between
// any two calls of the source.
static void stop_reader()
{
    quit_requested.store(true, std::memory_order_release);
    sem_post(&reader_wake);
    pthread_join(reader_thread, nullptr);
    release_reader_tools();
}

// Hands a command to the reader; -1 when its queue is full.
static int send_command(CommandKind kind)
{
    Command *slot = commands.write_slot();
    if (slot == nullptr) {
        copy_error(error_text, "the reader is not keeping up with the commands");
        return -1;
    }
    *slot = {kind};
    commands.publish();
    sem_post(&reader_wake);
    return 0;
}

// Posts what the reader should play from now on, replacing what it has not
// yet taken; never fails and never waits.
static void post_play(bool active, uint32_t start, uint32_t end)
{
    uint32_t v = post_version.load(std::memory_order_relaxed);
    post_version.store(v + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    post_active.store(active, std::memory_order_relaxed);
    post_generation.store(generation.load(std::memory_order_relaxed), std::memory_order_relaxed);
    post_start.store(start, std::memory_order_relaxed);
    post_end.store(end, std::memory_order_relaxed);
    post_version.store(v + 2, std::memory_order_release);
    sem_post(&reader_wake);
}

// Starts a new generation: whatever the callback still holds becomes stale.
static void new_generation()
{
    generation.store(generation.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    paused.store(false, std::memory_order_release);
}

// Hands the volume of the two front channels to the callback.
static void publish_volume()
{
    volume_bits.store(uint32_t{volume.channel[0]} | (uint32_t{volume.channel[1]} << 8),
                      std::memory_order_relaxed);
}

static void take_report();

// The source that reads this kind of target, or nullptr when none does.
static const AudioSource *source_for(const DriveTarget &target)
{
    if (override_source)
        return override_source;
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
    if (target_kind == TARGET_IMAGE) {
        while (sem_wait(&first_load_done) != 0 && errno == EINTR) {
        }
        return true;
    }
    return wait_posted(first_load_done, DEVICE_FIRST_LOAD_WAIT_NS);
}

// Starts the reader on the target and waits for its first look at the disc
// (see DEVICE_FIRST_LOAD_WAIT_NS), then opens the sound card; at start-up, so
// waiting is allowed here.
static int digital_open(const DriveTarget &target)
{
    if (is_open)
        return 0;
    source = source_for(target);
    if (source == nullptr) {
        copy_error(error_text, "this kind of disc cannot be played through the sound card");
        return -1;
    }
    output = override_output ? override_output : &sdl_audio_output;
    target_kind = target.kind;
    snprintf(source_path, sizeof source_path, "%s", target.path);

    frames.reset();
    commands.reset();
    generation.store(1);
    paused.store(false);
    played.store(0);
    finished_generation.store(0);
    failed_generation.store(0);
    underruns.store(0);
    quit_requested.store(false);
    reader_hungry.store(false);
    reader_wakes.store(0);
    report_ready.store(false);
    reading_disc.store(false);
    entry_offset = 0;
    job = {};
    post_version.store(0);
    taken_version = 0;
    pending_valid = false;
    ejects_done = 0;
    ejects_requested = 0;
    state = DRIVE_NO_DISC;
    toc = {};
    text = {};
    play_start = 0;
    last_track = 0;
    publish_volume();

    told_finished = 0;
    told_failed = 0;
    news_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (news_fd < 0) {
        copy_error(error_text, "could not create the reader's descriptor");
        return -1;
    }
    sem_init(&reader_wake, 0, 0);
    sem_init(&reader_started, 0, 0);
    sem_init(&first_load_done, 0, 0);
    if (pthread_create(&reader_thread, nullptr, run_reader, nullptr) != 0) {
        copy_error(error_text, "could not start the reader thread");
        release_reader_tools();
        return -1;
    }
    while (sem_wait(&reader_started) != 0 && errno == EINTR) {
    }
    if (open_result != 0) {
        pthread_join(reader_thread, nullptr);
        release_reader_tools();
        return -1;
    }
    if (wait_for_first_load()) {
        // The disc as start-up found it; one that cannot be read ends the start.
        take_report();
        if (state == DRIVE_ERROR) {
            stop_reader();
            state = DRIVE_NO_DISC;
            return -1;
        }
    }
    if (output->open(fill_audio) != 0) {
        copy_error(error_text, output->error());
        stop_reader();
        state = DRIVE_NO_DISC;
        return -1;
    }
    is_open = true;
    return 0;
}

// Closes the sound card, ends the reader (which closes the source) and joins it.
static void digital_close()
{
    if (!is_open)
        return;
    // The callback stops first, so nothing reads the ring while the reader ends.
    output->close();
    stop_reader();
    is_open = false;
    state = DRIVE_NO_DISC;
}

// The track that holds frame, held within the disc's tracks.
static int32_t track_of(uint32_t frame)
{
    int32_t found = 0;
    for (int32_t t = 0; t < toc.count; t++) {
        if (frame >= toc.track[t].offset)
            found = t;
    }
    return found;
}

// Takes a report the reader handed over, unless an eject asked since then
// makes it out of date. A report after start-up means the disc changed, so
// whatever was playing ends.
static void take_report()
{
    if (!report_ready.load(std::memory_order_acquire))
        return;
    if (report.ejects_done >= ejects_requested) {
        toc = report.toc;
        text = report.text;
        if (report.state == DRIVE_ERROR)
            copy_error(error_text, report.error);
        if (state == DRIVE_PLAYING || state == DRIVE_PAUSED)
            new_generation();
        state = report.state;
    }
    report_ready.store(false, std::memory_order_release);
}

// Reports the state and the position of the last sample the sound card got.
static int digital_refresh(DriveStatus &status)
{
    if (!is_open)
        return -1;
    // The news is taken by this refresh; what comes after it wakes the next wait.
    uint64_t news = 0;
    ssize_t taken = read(news_fd, &news, sizeof news);
    (void)taken;
    // Read before the report: once reading is over its report is there to take.
    bool reading = reading_disc.load(std::memory_order_acquire);
    take_report();
    uint32_t gen = generation.load(std::memory_order_relaxed);
    if (state == DRIVE_PLAYING || state == DRIVE_PAUSED) {
        if (failed_generation.load(std::memory_order_acquire) == gen) {
            copy_error(error_text, read_error);
            state = DRIVE_ERROR;
        } else if (finished_generation.load(std::memory_order_acquire) == gen) {
            state = DRIVE_STOPPED;
        }
    }
    status.state = state;
    status.toc = toc;
    status.track = last_track;
    status.frame = 0;
    if (state == DRIVE_PLAYING || state == DRIVE_PAUSED) {
        uint64_t p = played.load(std::memory_order_acquire);
        uint32_t sample = (p >> 32) == gen ? static_cast<uint32_t>(p)
                                           : play_start * static_cast<uint32_t>(SAMPLES_PER_FRAME);
        uint32_t frame = sample / SAMPLES_PER_FRAME;
        int32_t track = track_of(frame);
        uint32_t end = toc.track[track].offset + toc.track[track].length;
        if (frame >= end && end > 0)
            frame = end - 1;
        status.track = track;
        status.frame = static_cast<int32_t>(frame - std::min(frame, toc.track[track].offset));
        last_track = track;
    }
    status.restart_track = last_track;
    status.reading = reading && state == DRIVE_NO_DISC;
    // The error state is news from the drive, not a failed refresh.
    return 0;
}

// True when the error state follows a failed read of a disc whose table of
// contents is known: asking again may well succeed, and for an image nothing
// else would ever clear the state.
static bool error_may_retry() { return state == DRIVE_ERROR && toc.count > 0; }

// Plays from (track, frame) to the end of that track or of the disc, as a
// drive does: data tracks skipped, a frame past the track's end refused.
static int digital_play(int32_t track, int32_t frame, PlaySpan span)
{
    if (is_open && state == DRIVE_ERROR && !error_may_retry()) {
        copy_error(error_text, "the disc could not be read");
        return -1;
    }
    if (!is_open || state == DRIVE_NO_DISC) {
        copy_error(error_text, "no disc");
        return -1;
    }
    if (track < 0 || track >= toc.count) {
        copy_error(error_text, "no such track");
        return -1;
    }
    // A data track is skipped, as a drive does, to the next audio track.
    while (track < toc.count && !toc.track[track].audio) {
        track++;
        frame = 0;
    }
    if (track >= toc.count) {
        copy_error(error_text, "no audio track to play");
        return -1;
    }
    const TocTrack &start_track = toc.track[track];
    if (frame >= static_cast<int32_t>(start_track.length)) {
        copy_error(error_text, "the frame lies beyond the track's end");
        return -1;
    }
    // A skip back from near a track's start lands in the track before; from
    // the first track it starts the disc.
    int64_t start = int64_t{start_track.offset} + frame;
    start = std::max<int64_t>(start, toc.track[0].offset);
    // A play to the end stops with the last audio track: what follows on an
    // Enhanced CD is the gap between its sessions and data.
    int32_t last_audio = toc.count - 1;
    while (!toc.track[last_audio].audio)
        last_audio--;
    const TocTrack &end_track = span == SPAN_ONE_TRACK ? start_track : toc.track[last_audio];
    uint32_t end = end_track.offset + end_track.length;
    uint32_t first = static_cast<uint32_t>(start);
    new_generation();
    post_play(true, first, end);
    play_start = first;
    state = DRIVE_PLAYING;
    last_track = track_of(first);
    return 0;
}

// Pauses at the next device buffer; what is queued stays for the resume.
static int digital_pause()
{
    if (state == DRIVE_PLAYING) {
        paused.store(true, std::memory_order_release);
        state = DRIVE_PAUSED;
    }
    return 0;
}

// Goes on with the very sample after the last one played.
static int digital_resume()
{
    if (state == DRIVE_PAUSED) {
        paused.store(false, std::memory_order_release);
        state = DRIVE_PLAYING;
    }
    return 0;
}

// Silences at once and tells the reader to stop reading.
static int digital_stop()
{
    if (!is_open)
        return -1;
    new_generation();
    post_play(false, 0, 0);
    if (state == DRIVE_PLAYING || state == DRIVE_PAUSED || error_may_retry())
        state = DRIVE_STOPPED;
    return 0;
}

// Stops, has the reader eject, and shows an empty tray at once.
static int digital_eject()
{
    if (!is_open)
        return -1;
    if (send_command(CMD_EJECT) != 0)
        return -1;
    new_generation();
    post_play(false, 0, 0);
    ejects_requested++;
    // The tray is empty at once; the reader's next report says what the
    // source holds after the eject.
    state = DRIVE_NO_DISC;
    toc = {};
    text = {};
    last_track = 0;
    return 0;
}

// The software volume, 255 on a channel meaning samples pass unchanged.
static int digital_get_volume(Volume &out)
{
    out = volume;
    return 0;
}

// Sets the software volume; the callback applies it from its next buffer.
static int digital_set_volume(const Volume &in)
{
    volume = in;
    publish_volume();
    return 0;
}

// The CD-TEXT of the disc in the tray; -1 when it has none.
static int digital_disc_text(DiscText &out)
{
    if (!text.present || state <= DRIVE_NO_DISC)
        return -1;
    out = text;
    return 0;
}

// Why the last call failed, or the drive's error state arose.
static const char *digital_error() { return error_text; }

// The reader's notice not yet taken, or nullptr.
static const char *digital_notice()
{
    static char taken[ERROR_SIZE];
    uint32_t posted = notices_posted.load(std::memory_order_acquire);
    if (posted == notices_taken.load(std::memory_order_relaxed))
        return nullptr;
    copy_error(taken, notice_text);
    notices_taken.store(posted, std::memory_order_release);
    return taken;
}

static int digital_news_fd() { return news_fd; }

const DriveBackend digital_drive_backend = {
    "digital",          digital_open,      digital_close, digital_refresh, digital_play,
    digital_pause,      digital_resume,    digital_stop,  digital_eject,   digital_get_volume,
    digital_set_volume, digital_disc_text, digital_error, digital_news_fd,
    digital_notice,
};
