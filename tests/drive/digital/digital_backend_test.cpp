// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/digital/digital_backend.h"

#include "image_test_support.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

// Every sample says where it comes from: the left channel carries the frame,
// the right the sample's place in it, neither ever zero. So a run of output
// decodes back to positions and any lost, repeated or stale sample shows.
int16_t pattern_left(uint32_t frame) { return static_cast<int16_t>(1 + frame % 32000); }
int16_t pattern_right(uint32_t frame, int i)
{
    return static_cast<int16_t>(1 + i + SAMPLES_PER_FRAME * static_cast<int>((frame / 32000) % 50));
}
uint32_t decode_position(int16_t left, int16_t right)
{
    uint32_t frame = static_cast<uint32_t>(left - 1) +
                     32000u * static_cast<uint32_t>((right - 1) / SAMPLES_PER_FRAME);
    return frame * SAMPLES_PER_FRAME + static_cast<uint32_t>((right - 1) % SAMPLES_PER_FRAME);
}

// A made-up disc behind the AudioSource record. It can stall in read until
// released, read slowly like a real drive, fail from a given frame on, and
// notes the thread of every call.
struct FakeSource {
    Toc toc{};
    DiscText text{};
    int open_result = 0;
    int opens = 0;
    std::atomic<int32_t> load_state{DRIVE_STOPPED};
    std::atomic<uint32_t> fail_from{UINT32_MAX};
    // Frames whose reading the source has something to tell of, once each.
    std::atomic<uint32_t> notice_at[2]{{UINT32_MAX}, {UINT32_MAX}};
    std::atomic<int> notice_due{-1};
    std::atomic<int> read_delay_us{0};
    std::atomic<int> load_delay_ms{0};
    std::atomic<bool> stall{false};
    std::atomic<bool> stalled{false};
    std::atomic<bool> changed{false};
    Toc changed_toc{};
    std::atomic<int> ejects{0};
    std::atomic<int> closes{0};
    std::mutex mutex;
    std::set<pthread_t> threads;
};

FakeSource *fake;

void note_thread()
{
    std::lock_guard<std::mutex> lock(fake->mutex);
    fake->threads.insert(pthread_self());
}

int fake_open(const char *)
{
    note_thread();
    fake->opens++;
    return fake->open_result;
}
void fake_close()
{
    note_thread();
    fake->closes++;
}
bool fake_media_changed()
{
    note_thread();
    return fake->changed.load();
}
int32_t fake_load(Toc &toc, DiscText &text)
{
    note_thread();
    if (int delay = fake->load_delay_ms.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (fake->changed.exchange(false))
        fake->toc = fake->changed_toc;
    toc = fake->toc;
    text = fake->text;
    return fake->load_state;
}
int32_t fake_read(uint32_t frame, int32_t count, int16_t *samples)
{
    note_thread();
    while (fake->stall.load()) {
        fake->stalled = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    fake->stalled = false;
    if (int delay = fake->read_delay_us.load())
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
    if (frame >= fake->fail_from)
        return -1;
    for (int k = 0; k < 2; k++) {
        uint32_t at = fake->notice_at[k].load();
        if (at >= frame && at < frame + static_cast<uint32_t>(count)) {
            fake->notice_at[k] = UINT32_MAX;
            fake->notice_due = k;
        }
    }
    uint32_t end = std::min(fake->toc.track[fake->toc.count].offset, fake->fail_from.load());
    int32_t n = 0;
    for (; n < count && frame + static_cast<uint32_t>(n) < end; n++) {
        for (int i = 0; i < SAMPLES_PER_FRAME; i++) {
            samples[(n * SAMPLES_PER_FRAME + i) * 2] = pattern_left(frame + n);
            samples[(n * SAMPLES_PER_FRAME + i) * 2 + 1] = pattern_right(frame + n, i);
        }
    }
    return n;
}
int fake_eject()
{
    note_thread();
    fake->ejects++;
    return 0;
}
const char *fake_error() { return "track07.flac: read failed"; }

const char *fake_notice()
{
    static const char *const words[] = {"track07.flac is damaged at 0:01",
                                        "track07.flac is damaged at 0:02"};
    int due = fake->notice_due.exchange(-1);
    return due < 0 ? nullptr : words[due];
}

const AudioSource fake_source = {"fake",    fake_open, fake_close, fake_media_changed,
                                 fake_load, fake_read, fake_eject, fake_error, fake_notice};

// The sound card as the test plays it: the test pulls device buffers itself.
AudioFill pulled_fill;
int output_open_result = 0;
int output_closes = 0;

int fake_output_open(AudioFill fill)
{
    pulled_fill = fill;
    return output_open_result;
}
void fake_output_close()
{
    output_closes++;
    pulled_fill = nullptr;
}
const char *fake_output_error() { return "no sound card"; }
const AudioOutput fake_output = {fake_output_open, fake_output_close, fake_output_error, 0};
// The same with a device that holds two of the test's buffers, as SDL's does.
constexpr int DEVICE_LATENCY = 2048;
const AudioOutput buffered_output = {fake_output_open, fake_output_close, fake_output_error,
                                     DEVICE_LATENCY};

// A disc of the given track lengths, the first at frame 150.
Toc make_toc(std::vector<uint32_t> lengths, std::vector<bool> audio = {})
{
    Toc toc{};
    toc.count = static_cast<int32_t>(lengths.size());
    uint32_t offset = LEAD_IN_FRAMES;
    for (size_t i = 0; i < lengths.size(); i++) {
        toc.track[i] = {offset, lengths[i], audio.empty() ? true : static_cast<bool>(audio[i])};
        offset += lengths[i];
    }
    toc.track[lengths.size()] = {offset, 0, false};
    return toc;
}

const DriveBackend &drive = digital_drive_backend;
constexpr int DEVICE_BYTES = 4096;

class DigitalBackend : public ::testing::Test
{
  protected:
    FakeSource source;

    void SetUp() override
    {
        fake = &source;
        output_open_result = 0;
        output_closes = 0;
        set_digital_source(&fake_source);
        set_digital_output(&fake_output);
    }
    void TearDown() override
    {
        source.stall = false;
        drive.close();
        set_digital_idle_close(0);
        set_digital_source(nullptr);
        set_digital_output(nullptr);
    }

    void open_disc(std::vector<uint32_t> lengths, std::vector<bool> audio = {},
                   TargetKind kind = TARGET_IMAGE)
    {
        source.toc = make_toc(lengths, audio);
        DriveTarget target{kind, 0, "disc.cue"};
        ASSERT_EQ(drive.open(target), 0) << drive.error();
    }

    // One device buffer, as the sound card would ask for it.
    std::vector<int16_t> pull()
    {
        std::vector<int16_t> buffer(DEVICE_BYTES / 2, 0x5555);
        pulled_fill(reinterpret_cast<uint8_t *>(buffer.data()), DEVICE_BYTES);
        return buffer;
    }

    // Pulls device buffers until at least count audible samples came, and
    // returns the positions of all audible samples in them. Buffers that come
    // out silent while the reader catches up are skipped.
    std::vector<uint32_t> collect(size_t count)
    {
        std::vector<uint32_t> positions;
        auto deadline = Clock::now() + std::chrono::seconds(5);
        while (positions.size() < count && Clock::now() < deadline) {
            std::vector<int16_t> buffer = pull();
            bool silent = true;
            for (size_t i = 0; i + 1 < buffer.size(); i += 2) {
                if (buffer[i] == 0 && buffer[i + 1] == 0)
                    continue;
                silent = false;
                positions.push_back(decode_position(buffer[i], buffer[i + 1]));
            }
            if (silent)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return positions;
    }

    // True when positions run on without a gap from first.
    static bool runs_on(const std::vector<uint32_t> &positions, uint32_t first)
    {
        for (size_t i = 0; i < positions.size(); i++)
            if (positions[i] != first + i)
                return false;
        return true;
    }

    // Pulls until the drive reports the state, collecting what it played.
    std::vector<uint32_t> play_until(int32_t wanted)
    {
        std::vector<uint32_t> positions;
        auto deadline = Clock::now() + std::chrono::seconds(10);
        DriveStatus status{};
        while (Clock::now() < deadline) {
            drive.refresh(status);
            if (status.state == wanted)
                break;
            std::vector<int16_t> buffer = pull();
            for (size_t i = 0; i + 1 < buffer.size(); i += 2)
                if (buffer[i] != 0 || buffer[i + 1] != 0)
                    positions.push_back(decode_position(buffer[i], buffer[i + 1]));
        }
        EXPECT_EQ(status.state, wanted);
        return positions;
    }

    DriveStatus refresh()
    {
        DriveStatus status{};
        drive.refresh(status);
        return status;
    }
};

// Positions first, first + 1, ... of count samples, frames given.
std::vector<uint32_t> run_of_frames(uint32_t first_frame, uint32_t end_frame)
{
    std::vector<uint32_t> out;
    for (uint32_t s = first_frame * SAMPLES_PER_FRAME; s < end_frame * SAMPLES_PER_FRAME; s++)
        out.push_back(s);
    return out;
}

struct SpanCase {
    const char *name;
    std::vector<bool> audio;
    int32_t track;
    int32_t frame;
    PlaySpan span;
    // What must be heard, as runs of Toc frames [first, end).
    std::vector<std::pair<uint32_t, uint32_t>> runs;
};

// Tracks of 10, 7, 5 and 6 frames: offsets 150, 160, 167, 172; lead-out 178.
const SpanCase span_cases[] = {
    {"whole disc", {}, 0, 0, SPAN_TO_END, {{150, 178}}},
    {"one middle track", {}, 1, 0, SPAN_ONE_TRACK, {{160, 167}}},
    {"the last track alone", {}, 3, 0, SPAN_ONE_TRACK, {{172, 178}}},
    {"to the end from inside a track", {}, 1, 3, SPAN_TO_END, {{163, 178}}},
    {"a skip back lands in the track before", {}, 2, -4, SPAN_TO_END, {{163, 178}}},
    {"a skip back before the first track starts the disc", {}, 0, -300, SPAN_TO_END, {{150, 178}}},
    {"a data track is skipped",
     {true, false, true, true},
     0,
     0,
     SPAN_TO_END,
     {{150, 160}, {167, 178}}},
    {"a play from a data track starts at the next audio track",
     {true, false, true, true},
     1,
     2,
     SPAN_ONE_TRACK,
     {{167, 172}}},
};

TEST_F(DigitalBackend, PlaysEachSpanExactlyAndThenStops)
{
    for (const SpanCase &c : span_cases) {
        SCOPED_TRACE(c.name);
        open_disc({10, 7, 5, 6}, c.audio);
        ASSERT_EQ(drive.play(c.track, c.frame, c.span), 0) << drive.error();
        std::vector<uint32_t> heard = play_until(DRIVE_STOPPED);
        std::vector<uint32_t> expected;
        for (auto [first, end] : c.runs) {
            std::vector<uint32_t> run = run_of_frames(first, end);
            expected.insert(expected.end(), run.begin(), run.end());
        }
        EXPECT_EQ(heard, expected);
        // Once the span is over only silence comes.
        for (int16_t s : pull())
            ASSERT_EQ(s, 0);
        drive.close();
    }
}

TEST_F(DigitalBackend, RefusesPlaysOutsideTheDisc)
{
    open_disc({10, 7});
    EXPECT_EQ(drive.play(2, 0, SPAN_TO_END), -1);
    EXPECT_EQ(drive.play(-1, 0, SPAN_TO_END), -1);
    EXPECT_EQ(drive.play(1, 7, SPAN_TO_END), -1);
    EXPECT_EQ(refresh().state, DRIVE_STOPPED);
}

TEST_F(DigitalBackend, StatusFollowsTheSamplesHandedToTheSoundCard)
{
    open_disc({100, 100});
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    // Right after the command, before any sample went out, the start shows.
    DriveStatus status = refresh();
    EXPECT_EQ(status.state, DRIVE_PLAYING);
    EXPECT_EQ(status.track, 0);
    EXPECT_EQ(status.frame, 0);
    // 60000 samples are 102 frames and a bit: into the second track. The
    // status names the frame of the next sample due.
    std::vector<uint32_t> heard = collect(60000);
    ASSERT_GE(heard.size(), 60000u);
    ASSERT_TRUE(runs_on(heard, 150 * SAMPLES_PER_FRAME));
    status = refresh();
    uint32_t shown = status.toc.track[status.track].offset + static_cast<uint32_t>(status.frame);
    EXPECT_EQ(status.track, 1);
    EXPECT_EQ(shown, (heard.back() + 1) / SAMPLES_PER_FRAME);
}

TEST_F(DigitalBackend, ASeekDropsEverythingQueuedForTheOldPosition)
{
    open_disc({3000, 3000, 3000});
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    ASSERT_GE(collect(10000).size(), 10000u);
    // The ring is full of track 1 by now; none of it may be heard.
    ASSERT_EQ(drive.play(2, 0, SPAN_TO_END), 0);
    std::vector<uint32_t> heard = collect(20000);
    ASSERT_GE(heard.size(), 20000u);
    EXPECT_TRUE(runs_on(heard, 6150 * SAMPLES_PER_FRAME)) << heard.front();
}

TEST_F(DigitalBackend, PauseAndResumeAreSampleExact)
{
    open_disc({3000});
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    std::vector<uint32_t> before = collect(5000);
    ASSERT_GE(before.size(), 5000u);
    ASSERT_TRUE(runs_on(before, 150 * SAMPLES_PER_FRAME));
    ASSERT_EQ(drive.pause(), 0);
    DriveStatus paused = refresh();
    EXPECT_EQ(paused.state, DRIVE_PAUSED);
    for (int i = 0; i < 20; i++)
        for (int16_t s : pull())
            ASSERT_EQ(s, 0);
    EXPECT_EQ(refresh().frame, paused.frame);
    ASSERT_EQ(drive.resume(), 0);
    EXPECT_EQ(refresh().state, DRIVE_PLAYING);
    std::vector<uint32_t> after = collect(5000);
    ASSERT_GE(after.size(), 5000u);
    EXPECT_TRUE(runs_on(after, before.back() + 1)) << after.front() << " after " << before.back();
}

TEST_F(DigitalBackend, StopSilencesAtOnceAndPlayStartsAfresh)
{
    open_disc({3000});
    ASSERT_EQ(drive.play(0, 100, SPAN_TO_END), 0);
    ASSERT_GE(collect(3000).size(), 3000u);
    ASSERT_EQ(drive.stop(), 0);
    for (int16_t s : pull())
        ASSERT_EQ(s, 0);
    DriveStatus status = refresh();
    EXPECT_EQ(status.state, DRIVE_STOPPED);
    EXPECT_EQ(status.track, 0);
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    std::vector<uint32_t> heard = collect(2);
    ASSERT_GE(heard.size(), 2u);
    EXPECT_EQ(heard[0], 150u * SAMPLES_PER_FRAME);
}

TEST_F(DigitalBackend, SoftwareVolumeScalesBothChannelsAndPassesFullVolumeUnchanged)
{
    open_disc({200});
    Volume v{};
    ASSERT_EQ(drive.get_volume(v), 0);
    EXPECT_EQ(v.channel[0], 255);
    EXPECT_EQ(v.channel[1], 255);
    Volume half = {{51, 255, 255, 255}};
    ASSERT_EQ(drive.set_volume(half), 0);
    ASSERT_EQ(drive.get_volume(v), 0);
    EXPECT_EQ(v.channel[0], 51);
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    // The right channel is untouched and says where each sample is; the left
    // is the pattern's frame number at a fifth of full volume: (1/5)^3.
    uint32_t checked = 0;
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (checked < 20000 && Clock::now() < deadline) {
        std::vector<int16_t> buffer = pull();
        for (size_t i = 0; i + 1 < buffer.size(); i += 2) {
            if (buffer[i + 1] == 0)
                continue;
            uint32_t sample = 150 * SAMPLES_PER_FRAME + checked;
            ASSERT_EQ(buffer[i + 1], pattern_right(sample / SAMPLES_PER_FRAME,
                                                   static_cast<int>(sample % SAMPLES_PER_FRAME)));
            ASSERT_NEAR(buffer[i], pattern_left(sample / SAMPLES_PER_FRAME) / 125.0, 1.0);
            checked++;
        }
    }
    EXPECT_GE(checked, 20000u);
    Volume mute = {{0, 0, 255, 255}};
    ASSERT_EQ(drive.set_volume(mute), 0);
    for (int16_t s : pull())
        ASSERT_EQ(s, 0);
    EXPECT_EQ(refresh().state, DRIVE_PLAYING);
}

// The level maps to gain on a cubic curve: each step is heard alike, and the
// bottom of the scale is silence, not a whisper.
TEST_F(DigitalBackend, VolumeLevelsFollowACubicCurveInMeasuredLoudness)
{
    struct LevelCase {
        uint8_t level;
        double db;        // expected loudness against full volume
        double tolerance; // low levels lose precision to 16-bit samples
    };
    const LevelCase cases[] = {
        {250, -0.52, 0.05}, {204, -5.81, 0.05}, {128, -17.96, 0.05},
        {64, -36.01, 0.1},  {16, -72.1, 1.5},
    };
    // The RMS of the left channel over a few whole buffers of audio; buffers
    // the reader left partly silent are skipped.
    auto left_rms = [this] {
        double sum = 0;
        size_t count = 0;
        auto deadline = Clock::now() + std::chrono::seconds(5);
        for (int whole = 0; whole < 4 && Clock::now() < deadline;) {
            std::vector<int16_t> buffer = pull();
            bool audible = true;
            for (size_t i = 1; i < buffer.size(); i += 2)
                audible = audible && buffer[i] != 0;
            if (!audible)
                continue;
            for (size_t i = 0; i < buffer.size(); i += 2)
                sum += double(buffer[i]) * buffer[i];
            count += buffer.size() / 2;
            whole++;
        }
        return count ? std::sqrt(sum / double(count)) : 0.0;
    };
    // Frames near 31150 carry loud left samples (the pattern is 1 + frame %
    // 32000) that change little from one measure to the next; the right
    // channel stays at full volume and tells audio from silence.
    open_disc({3000, 32000});
    ASSERT_EQ(drive.play(1, 28000, SPAN_TO_END), 0);
    for (const LevelCase &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.level));
        Volume full = {{255, 255, 255, 255}};
        ASSERT_EQ(drive.set_volume(full), 0);
        pull(); // a buffer the callback may have begun at the old level
        double reference = left_rms();
        ASSERT_GT(reference, 30000.0);
        Volume v = {{c.level, 255, 255, 255}};
        ASSERT_EQ(drive.set_volume(v), 0);
        pull();
        double db = 20 * std::log10(left_rms() / reference);
        EXPECT_NEAR(db, c.db, c.tolerance);
    }
    Volume mute = {{0, 0, 255, 255}};
    ASSERT_EQ(drive.set_volume(mute), 0);
    pull();
    for (int16_t s : pull())
        ASSERT_EQ(s, 0);
}

TEST_F(DigitalBackend, EveryCommandReturnsAtOnceWhileTheSourceStalls)
{
    open_disc({3000, 3000});
    source.stall = true;
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!source.stalled && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(source.stalled);
    // The reader is stuck in read; the main loop's calls must not notice.
    auto started = Clock::now();
    DriveStatus status{};
    for (int i = 0; i < 200; i++) {
        drive.refresh(status);
        drive.pause();
        drive.resume();
        drive.play(1, 0, SPAN_ONE_TRACK); // fills the command queue; never waits
        drive.stop();
        Volume v = {{100, 100, 255, 255}};
        drive.set_volume(v);
        for (int16_t s : pull())
            ASSERT_EQ(s, 0);
    }
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(200));
    EXPECT_EQ(status.state, DRIVE_STOPPED);
    // Released, the reader catches up with the last command that reached it.
    source.stall = false;
    ASSERT_EQ(drive.play(1, 0, SPAN_ONE_TRACK), 0) << drive.error();
    Volume full = {{255, 255, 255, 255}};
    drive.set_volume(full);
    std::vector<uint32_t> heard = collect(1);
    ASSERT_GE(heard.size(), 1u);
    EXPECT_EQ(heard[0], 3150u * SAMPLES_PER_FRAME);
}

TEST_F(DigitalBackend, AFailingSourceEndsInTheErrorStateWithSilence)
{
    source.fail_from = 170;
    open_disc({50});
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    std::vector<uint32_t> heard = play_until(DRIVE_ERROR);
    // Everything read before the failure is heard, then nothing else.
    EXPECT_EQ(heard, run_of_frames(150, 170));
    EXPECT_STREQ(drive.error(), "track07.flac: read failed");
    for (int16_t s : pull())
        ASSERT_EQ(s, 0);
    // The error stays on show until the user asks for something.
    for (int i = 0; i < 5; i++) {
        pull();
        EXPECT_EQ(refresh().state, DRIVE_ERROR);
    }
}

// What the source met without failing reaches the main loop as a notice,
// each once and in order, while the play goes on to its end.
TEST_F(DigitalBackend, TheSourcesNoticesReachTheMainLoopAndThePlayGoesOn)
{
    source.notice_at[0] = 200;
    source.notice_at[1] = 2000;
    open_disc({3000});
    EXPECT_EQ(drive.notice(), nullptr);
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    std::vector<std::string> told;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    DriveStatus status{};
    while (Clock::now() < deadline) {
        if (const char *notice = drive.notice())
            told.emplace_back(notice);
        drive.refresh(status);
        if (status.state == DRIVE_STOPPED)
            break;
        pull();
    }
    if (const char *notice = drive.notice())
        told.emplace_back(notice);
    EXPECT_EQ(status.state, DRIVE_STOPPED);
    EXPECT_EQ(told, (std::vector<std::string>{"track07.flac is damaged at 0:01",
                                              "track07.flac is damaged at 0:02"}));
    EXPECT_EQ(drive.notice(), nullptr);
}

TEST_F(DigitalBackend, PlayOrStopAfterAReadErrorTriesTheDiscAgain)
{
    source.fail_from = 170;
    open_disc({50});
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    play_until(DRIVE_ERROR);

    // Stop clears the error: the table of contents is still good.
    ASSERT_EQ(drive.stop(), 0);
    EXPECT_EQ(refresh().state, DRIVE_STOPPED);
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0) << drive.error();
    play_until(DRIVE_ERROR);

    // The disc reads again (dust wiped off): a play from the error state plays.
    source.fail_from = UINT32_MAX;
    ASSERT_EQ(drive.play(0, 10, SPAN_TO_END), 0) << drive.error();
    EXPECT_EQ(refresh().state, DRIVE_PLAYING);
    EXPECT_EQ(play_until(DRIVE_STOPPED), run_of_frames(160, 200));
}

TEST_F(DigitalBackend, ADiscThatCannotBeLoadedIsRefusedWithTheReason)
{
    open_disc({50});
    source.load_state = DRIVE_ERROR;
    source.changed_toc = Toc{};
    source.changed = true;
    auto deadline = Clock::now() + std::chrono::seconds(3);
    while (refresh().state != DRIVE_ERROR && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(refresh().state, DRIVE_ERROR);
    EXPECT_EQ(drive.play(0, 0, SPAN_TO_END), -1);
    EXPECT_STREQ(drive.error(), "the disc could not be read");
    EXPECT_EQ(drive.stop(), 0);
    EXPECT_EQ(refresh().state, DRIVE_ERROR);
}

TEST_F(DigitalBackend, EveryCallOfTheSourceIsMadeOnOneThreadThatIsNotTheCaller)
{
    open_disc({20, 20});
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    play_until(DRIVE_STOPPED);
    ASSERT_EQ(drive.eject(), 0);
    drive.close();
    EXPECT_EQ(source.closes, 1);
    EXPECT_EQ(source.ejects, 1);
    ASSERT_EQ(source.threads.size(), 1u);
    EXPECT_EQ(source.threads.count(pthread_self()), 0u);
}

TEST_F(DigitalBackend, EjectOfAnImageStopsAndEmptiesTheTray)
{
    open_disc({3000});
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    ASSERT_GE(collect(100).size(), 100u);
    ASSERT_EQ(drive.eject(), 0);
    for (int16_t s : pull())
        ASSERT_EQ(s, 0);
    DriveStatus status = refresh();
    EXPECT_EQ(status.state, DRIVE_NO_DISC);
    EXPECT_EQ(status.toc.count, 0);
    EXPECT_EQ(drive.play(0, 0, SPAN_TO_END), -1);
    // Even when the reader has answered the eject, the tray stays empty.
    auto deadline = Clock::now() + std::chrono::milliseconds(300);
    while (Clock::now() < deadline) {
        EXPECT_EQ(refresh().state, DRIVE_NO_DISC);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(source.ejects, 1);
}

// Refreshes until the drive reports the state; the last status.
DriveStatus refresh_until(int32_t wanted)
{
    DriveStatus status{};
    auto deadline = Clock::now() + std::chrono::seconds(5);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        digital_drive_backend.refresh(status);
    } while (status.state != wanted && Clock::now() < deadline);
    return status;
}

// An image's tray, once open, closes at the next eject and the sheet is read
// anew, as a drive reads a disc put back: what changed meanwhile is what
// plays, and a sheet that cannot be read any more is an error another eject
// takes out again.
TEST_F(DigitalBackend, EjectAgainClosesAnImagesTrayAndReadsTheSheetAnew)
{
    open_disc({3000});
    ASSERT_EQ(drive.eject(), 0);
    DriveStatus status = refresh();
    EXPECT_EQ(status.state, DRIVE_NO_DISC);
    EXPECT_TRUE(status.tray_open);

    source.toc = make_toc({40, 50});
    ASSERT_EQ(drive.eject(), 0);
    EXPECT_FALSE(refresh().tray_open);
    status = refresh_until(DRIVE_STOPPED);
    ASSERT_EQ(status.state, DRIVE_STOPPED);
    EXPECT_EQ(status.toc.count, 2);
    EXPECT_EQ(source.opens, 2);
    ASSERT_EQ(drive.play(1, 0, SPAN_ONE_TRACK), 0);
    std::vector<uint32_t> heard = collect(50 * SAMPLES_PER_FRAME);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.front(), 190u * SAMPLES_PER_FRAME);

    ASSERT_EQ(drive.eject(), 0);
    EXPECT_TRUE(refresh().tray_open);
    source.open_result = -1;
    ASSERT_EQ(drive.eject(), 0);
    status = refresh_until(DRIVE_ERROR);
    EXPECT_EQ(status.state, DRIVE_ERROR);
    EXPECT_STREQ(drive.error(), "track07.flac: read failed");
    EXPECT_EQ(drive.play(0, 0, SPAN_TO_END), -1);
    source.open_result = 0;
    ASSERT_EQ(drive.eject(), 0);
    EXPECT_EQ(refresh_until(DRIVE_NO_DISC).state, DRIVE_NO_DISC);
    EXPECT_TRUE(refresh().tray_open);
}

TEST_F(DigitalBackend, ANewDiscStopsPlaybackAndBringsItsTableOfContents)
{
    open_disc({3000});
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    ASSERT_GE(collect(100).size(), 100u);
    source.changed_toc = make_toc({40, 50, 60});
    source.changed = true;
    auto deadline = Clock::now() + std::chrono::seconds(3);
    DriveStatus status = refresh();
    while (status.toc.count != 3 && Clock::now() < deadline) {
        pull();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        status = refresh();
    }
    EXPECT_EQ(status.toc.count, 3);
    EXPECT_EQ(status.state, DRIVE_STOPPED);
    for (int16_t s : pull())
        ASSERT_EQ(s, 0);
}

TEST_F(DigitalBackend, HandsOverTheDiscTextOnlyWhenThereIsSome)
{
    open_disc({10});
    DiscText text{};
    EXPECT_EQ(drive.disc_text(text), -1);
    drive.close();
    source.text.present = true;
    snprintf(source.text.entry[MAX_TRACKS].title, CDTEXT_FIELD_SIZE, "Süden");
    snprintf(source.text.entry[0].title, CDTEXT_FIELD_SIZE, "Erste");
    open_disc({10});
    ASSERT_EQ(drive.disc_text(text), 0);
    EXPECT_STREQ(text.entry[MAX_TRACKS].title, "Süden");
    EXPECT_STREQ(text.entry[0].title, "Erste");
}

TEST_F(DigitalBackend, OpenFailsWithTheReasonAndLeavesNothingRunning)
{
    DriveTarget target{TARGET_IMAGE, 0, "disc.cue"};
    source.toc = make_toc({10});

    source.open_result = -1;
    EXPECT_EQ(drive.open(target), -1);
    EXPECT_STREQ(drive.error(), "track07.flac: read failed");
    EXPECT_EQ(output_closes, 0);
    EXPECT_EQ(pulled_fill, nullptr);

    source.open_result = 0;
    source.load_state = DRIVE_ERROR;
    EXPECT_EQ(drive.open(target), -1);
    EXPECT_EQ(source.closes, 1);

    // No source for the kind of target at all.
    set_digital_source(nullptr);
    output_open_result = 0;
    DriveTarget sdl_number{TARGET_SDL_NUMBER, 0, ""};
    EXPECT_EQ(drive.open(sdl_number), -1);
    EXPECT_STRNE(drive.error(), "");
}

// Without a sound card the disc is still there: the notice says so once, a
// play fails with the reason, and a card that turns up later plays.
TEST_F(DigitalBackend, NoSoundCardStillShowsTheDiscAndSaysWhyOnce)
{
    output_open_result = -1;
    open_disc({300});
    EXPECT_EQ(refresh().state, DRIVE_STOPPED);
    EXPECT_EQ(refresh().toc.count, 1);
    ASSERT_NE(drive.notice, nullptr);
    const char *notice = drive.notice();
    ASSERT_NE(notice, nullptr);
    EXPECT_STREQ(notice, "No sound output: no sound card");
    EXPECT_EQ(drive.notice(), nullptr);
    EXPECT_EQ(drive.play(0, 0, SPAN_TO_END), -1);
    EXPECT_STREQ(drive.error(), "no sound card");
    EXPECT_EQ(refresh().state, DRIVE_STOPPED);
    EXPECT_EQ(drive.notice(), nullptr);

    output_open_result = 0;
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    std::vector<uint32_t> heard = collect(SAMPLES_PER_FRAME);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.front(), 150u * SAMPLES_PER_FRAME);
}

// True when fd turns readable within ms.
bool readable_within(int fd, int ms)
{
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1 && (p.revents & POLLIN) != 0;
}

// The end of a play, and a disc read, wake the main loop's wait through the
// news descriptor instead of waiting for its next turn; a refresh takes the
// news, so the wait after it sleeps again.
TEST_F(DigitalBackend, TheEndOfAPlayAndANewDiscAreNewsForTheMainLoop)
{
    open_disc({20});
    int fd = drive.news_fd();
    ASSERT_GE(fd, 0);
    refresh();
    EXPECT_FALSE(readable_within(fd, 50)) << "news with nothing new";

    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    EXPECT_FALSE(readable_within(fd, 50)) << "news of a play just asked for";
    EXPECT_EQ(collect(20 * SAMPLES_PER_FRAME).size(), 20u * SAMPLES_PER_FRAME);
    pull(); // the end of the play, if the last audio did not come with it
    ASSERT_TRUE(readable_within(fd, 2000));
    EXPECT_EQ(refresh().state, DRIVE_STOPPED);
    EXPECT_FALSE(readable_within(fd, 50));

    source.changed_toc = make_toc({40, 50});
    source.changed = true;
    ASSERT_TRUE(readable_within(fd, 3000));
    EXPECT_EQ(refresh().toc.count, 2);
    EXPECT_FALSE(readable_within(fd, 50));
}

// A drive spinning up takes seconds to read its disc: the screen must not wait
// for that, and the disc arrives later as an inserted one does. An image, and
// a drive that has read its disc in time, are there from the start, and one
// whose disc cannot be read ends the start with the reason.
TEST_F(DigitalBackend, StartUpWaitsOnlyAWhileForADriveToReadItsDisc)
{
    DriveTarget device{TARGET_DEVICE, 0, "/dev/sr0"};
    source.toc = make_toc({10, 20});
    source.load_delay_ms = 4000;
    auto started = Clock::now();
    ASSERT_EQ(drive.open(device), 0) << drive.error();
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(3000));
    DriveStatus status = refresh();
    EXPECT_EQ(status.state, DRIVE_NO_DISC);
    EXPECT_TRUE(status.reading);
    EXPECT_EQ(drive.play(0, 0, SPAN_TO_END), -1);
    // Reading until the disc is there, never a moment of neither.
    auto until_read = [&] {
        auto deadline = Clock::now() + std::chrono::seconds(10);
        DriveStatus s = refresh();
        while (s.state == DRIVE_NO_DISC && Clock::now() < deadline) {
            EXPECT_TRUE(s.reading);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            s = refresh();
        }
        return s;
    };
    status = until_read();
    EXPECT_EQ(status.state, DRIVE_STOPPED);
    EXPECT_FALSE(status.reading);
    EXPECT_EQ(status.toc.count, 2);

    // A disc put in while mivo runs is read the same way; an open tray is not.
    source.load_delay_ms = 300;
    source.load_state = DRIVE_NO_DISC;
    ASSERT_EQ(drive.eject(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    status = refresh();
    EXPECT_EQ(status.state, DRIVE_NO_DISC);
    EXPECT_FALSE(status.reading);
    source.load_state = DRIVE_STOPPED;
    source.changed_toc = make_toc({30, 40, 50});
    source.changed = true;
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!refresh().reading && refresh().state == DRIVE_NO_DISC && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    status = until_read();
    EXPECT_EQ(status.state, DRIVE_STOPPED);
    EXPECT_EQ(status.toc.count, 3);
    drive.close();

    source.load_delay_ms = 100;
    source.toc = make_toc({10, 20});
    for (TargetKind kind : {TARGET_IMAGE, TARGET_DEVICE}) {
        DriveTarget target{kind, 0, "disc"};
        ASSERT_EQ(drive.open(target), 0) << drive.error();
        EXPECT_EQ(refresh().toc.count, 2) << kind;
        drive.close();
    }

    source.load_state = DRIVE_ERROR;
    EXPECT_EQ(drive.open(device), -1);
    EXPECT_STREQ(drive.error(), "track07.flac: read failed");
}

// While a slow drive refills the ring the callback throws the stale frames
// away as fast as they come, so the ring never fills; the reader must still
// turn to the newest request at once.
TEST_F(DigitalBackend, ASlowSourceTurnsToASeekOrAnEjectAtOnce)
{
    for (bool eject : {false, true}) {
        SCOPED_TRACE(eject ? "eject" : "seek");
        source.read_delay_us = 2000;
        open_disc({40000, 40000});
        ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
        ASSERT_GE(collect(1000).size(), 1000u);
        if (eject)
            ASSERT_EQ(drive.eject(), 0);
        else
            ASSERT_EQ(drive.play(1, 0, SPAN_TO_END), 0);
        // Reading the rest of the old span would take more than four seconds.
        int pulls = 0;
        bool arrived = false;
        while (!arrived && pulls < 400) {
            std::vector<int16_t> buffer = pull();
            pulls++;
            if (eject)
                arrived = source.ejects == 1;
            else if (buffer[0] != 0 || buffer[1] != 0)
                arrived = decode_position(buffer[0], buffer[1]) >= 40150u * SAMPLES_PER_FRAME;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_TRUE(arrived) << "after " << pulls << " device buffers";
        drive.close();
    }
}

TEST_F(DigitalBackend, CloseEndsTheReaderEvenWithTheCommandQueueFull)
{
    // A drive's: an image's tray would close again at every other eject.
    open_disc({3000}, {}, TARGET_DEVICE);
    source.stall = true;
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!source.stalled && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(source.stalled);
    // Eject pressed again and again at a stuck drive fills the queue.
    int refused = 0;
    for (int i = 0; i < 100; i++)
        refused += drive.eject() != 0;
    ASSERT_GT(refused, 0);

    std::atomic<bool> closed{false};
    std::thread closer([&] {
        drive.close();
        closed = true;
    });
    // The drive gives up on its read after a while, as real ones do.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    source.stall = false;
    deadline = Clock::now() + std::chrono::seconds(5);
    while (!closed && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!closed) {
        // The reader never ends: nothing after this test could run.
        std::fprintf(stderr, "close hangs with the command queue full\n");
        std::_Exit(1);
    }
    closer.join();
    EXPECT_EQ(source.closes, 1);
    // The ejects pressed at the stuck drive open the tray once.
    EXPECT_EQ(source.ejects, 1);
}

// Counts the reader's wakes over about a tenth of a second of device buffers.
uint64_t wakes_over_buffers(const std::function<void()> &pull_one)
{
    uint64_t before = digital_reader_wakes();
    for (int i = 0; i < 100; i++) {
        pull_one();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return digital_reader_wakes() - before;
}

TEST_F(DigitalBackend, AnIdleReaderSleepsWhileTheSoundCardRuns)
{
    struct IdleCase {
        const char *name;
        std::function<void()> make_idle;
    };
    const IdleCase cases[] = {
        {"before any play", [] {}},
        {"after the disc ended",
         [this] {
             ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
             play_until(DRIVE_STOPPED);
         }},
        {"after a stop",
         [this] {
             ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
             collect(100);
             ASSERT_EQ(drive.stop(), 0);
         }},
        {"after an eject", [] { ASSERT_EQ(drive.eject(), 0); }},
    };
    for (const IdleCase &c : cases) {
        SCOPED_TRACE(c.name);
        open_disc({20});
        c.make_idle();
        // Let the reader settle after the last command.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        // The look at the disc every half second may fall in the window.
        EXPECT_LE(wakes_over_buffers([this] { pull(); }), 1u);
        drive.close();
    }
}

TEST_F(DigitalBackend, TheSoundCardStillWakesAReaderWaitingForRoom)
{
    // Sixteen rings' worth: were the reader left to its half-second naps,
    // this would take more than seven seconds.
    open_disc({8000});
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    auto started = Clock::now();
    std::vector<uint32_t> heard = play_until(DRIVE_STOPPED);
    EXPECT_EQ(heard.size(), 8000u * SAMPLES_PER_FRAME);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(4));
}

// Refreshes, as the main loop's turns do, until the sound card was closed.
bool refresh_until_closed(const DriveBackend &d, int closes)
{
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (output_closes < closes && Clock::now() < deadline) {
        DriveStatus status{};
        d.refresh(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return output_closes >= closes;
}

// Stopped or paused for a while, the sound card is let go, so nothing wakes;
// Play and Resume open it again and the audio goes on sample for sample.
TEST_F(DigitalBackend, TheSoundCardClosesWhenIdleAndOpensAgainOnPlay)
{
    set_digital_idle_close(50'000'000);
    open_disc({3000});
    ASSERT_EQ(drive.play(0, 100, SPAN_TO_END), 0);
    std::vector<uint32_t> before = collect(10 * SAMPLES_PER_FRAME);
    ASSERT_FALSE(before.empty());
    ASSERT_EQ(drive.pause(), 0);
    EXPECT_EQ(refresh().state, DRIVE_PAUSED);
    ASSERT_TRUE(refresh_until_closed(drive, 1));
    EXPECT_EQ(pulled_fill, nullptr);
    EXPECT_EQ(refresh().state, DRIVE_PAUSED);

    // A sound card that cannot open again leaves the pause as it was.
    output_open_result = -1;
    EXPECT_EQ(drive.resume(), -1);
    EXPECT_STREQ(drive.error(), "no sound card");
    EXPECT_EQ(refresh().state, DRIVE_PAUSED);
    output_open_result = 0;

    ASSERT_EQ(drive.resume(), 0);
    ASSERT_NE(pulled_fill, nullptr);
    std::vector<uint32_t> after = collect(10 * SAMPLES_PER_FRAME);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.front(), before.back() + 1);
    EXPECT_TRUE(runs_on(after, before.back() + 1));

    // Stopped, the same; Play opens it again.
    ASSERT_EQ(drive.stop(), 0);
    ASSERT_TRUE(refresh_until_closed(drive, 2));
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    ASSERT_NE(pulled_fill, nullptr);
    std::vector<uint32_t> again = collect(SAMPLES_PER_FRAME);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again.front(), (LEAD_IN_FRAMES)*SAMPLES_PER_FRAME);
    EXPECT_EQ(refresh().state, DRIVE_PLAYING);
}

// The clock shows what is heard: the samples the device still holds are not
// counted yet, and the main loop is woken when the next second is heard
// rather than at its next turn.
TEST_F(DigitalBackend, TheClockFollowsTheSoundTheDeviceHolds)
{
    set_digital_output(&buffered_output);
    open_disc({3000});
    int fd = drive.news_fd();
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    // Just past the first second handed over, the one heard still short of it.
    const auto handed = static_cast<int32_t>(collect(OUTPUT_RATE + 1).size());
    auto pulled = Clock::now();
    DriveStatus status = refresh();
    auto looked = Clock::now();
    EXPECT_GE(status.frame, (handed - DEVICE_LATENCY) / SAMPLES_PER_FRAME);
    // The device hears on while the test runs: a machine that stalls it some
    // 20 ms between the pull and the look has the second heard meanwhile.
    if (looked - pulled < std::chrono::milliseconds(10)) {
        EXPECT_LT(status.frame, 75) << "the second shown before it is heard";
    }
    ASSERT_TRUE(readable_within(fd, 2000)) << "no wake when the second is heard";
    EXPECT_GE(Clock::now() - pulled, std::chrono::milliseconds(20)) << "woken before the second";
    EXPECT_GE(refresh().frame, 75);
    // With nothing more handed over, the device plays out what it holds.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(refresh().frame, handed / SAMPLES_PER_FRAME);
}

// A disc image never changes, so its idle reader sleeps until woken: a
// stopped player costs no wake at all.
TEST_F(DigitalBackend, AnIdleImageReaderNeverWakes)
{
    imagetest::TempDir dir;
    imagetest::write_raw(dir.path / "disc.bin", imagetest::make_pcm(300, 1), false);
    imagetest::write_text(dir.path / "disc.cue",
                          "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    set_digital_source(nullptr);
    std::string sheet = (dir.path / "disc.cue").string();
    DriveTarget target{TARGET_IMAGE, 0, ""};
    snprintf(target.path, sizeof target.path, "%s", sheet.c_str());
    ASSERT_EQ(drive.open(target), 0) << drive.error();
    ASSERT_EQ(refresh().state, DRIVE_STOPPED);
    ASSERT_EQ(drive.play(0, 0, SPAN_TO_END), 0);
    play_until(DRIVE_STOPPED);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    uint64_t before = digital_reader_wakes();
    // Longer than two of a drive's looks at its disc.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(digital_reader_wakes(), before);
    // Woken, it still answers at once.
    ASSERT_EQ(drive.play(0, 0, SPAN_ONE_TRACK), 0);
    EXPECT_FALSE(collect(SAMPLES_PER_FRAME).empty());
}

} // namespace
