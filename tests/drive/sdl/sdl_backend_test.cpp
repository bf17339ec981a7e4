// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/drive.h"
#include "drive/sdl/sdl_backend.h"
#include "fake_sdl.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace
{

RecordedCall Play(int track, int frame, int ntracks, int nframes)
{
    return RecordedCall{CdCall::Play, {track, frame, ntracks, nframes}};
}

class SdlBackend : public ::testing::Test
{
  protected:
    DriveStatus status{};

    void SetUp() override
    {
        reset_fake_sdl();
        open_fake_drive();
    }
    void TearDown() override { drive_close(); }

    // Puts the fake drive in state at track and frame, and refreshes.
    void refresh_at(CDstatus state, int track, int frame = 0)
    {
        fake_sdl.reported.status = state;
        fake_sdl.reported.cur_track = track;
        fake_sdl.reported.cur_frame = frame;
        ASSERT_EQ(drive_refresh(status), 0);
    }
};

TEST_F(SdlBackend, StartUpFailuresKeepTheirWords)
{
    struct Case {
        const char *what;
        int init_result;
        int drives;
        bool open_fails;
        std::string message;
        // Whether SDL's CD-ROM subsystem came up and must be taken down again.
        bool quits;
    } cases[] = {
        {"init", EACCES, 1, false, std::string("Error: ") + strerror(EACCES) + ".", false},
        {"no drives", 0, 0, false, "No CDROM devices available", true},
        {"open", 0, 2, true, "Could not open drive: fake drive error", true},
    };
    DriveTarget target{};
    target.kind = TARGET_SDL_NUMBER;
    for (const Case &c : cases) {
        drive_close();
        reset_fake_sdl();
        fake_sdl.init_result = c.init_result;
        fake_sdl.num_drives = c.drives;
        fake_sdl.open_fails = c.open_fails;
        EXPECT_EQ(drive_open(target), -1) << c.what;
        EXPECT_EQ(std::string(drive_error()), c.message) << c.what;
        EXPECT_STREQ(drive_backend_name(), "none") << c.what;
        int quits = 0;
        for (const RecordedCall &call : fake_sdl.calls)
            quits += call.call == CdCall::QuitCdrom || call.call == CdCall::Quit;
        EXPECT_EQ(quits, c.quits ? 1 : 0) << c.what;
        if (c.quits) {
            EXPECT_EQ(fake_sdl.calls.back().call, CdCall::QuitCdrom) << c.what;
        }
    }
}

TEST_F(SdlBackend, OpensTheDriveNumberItIsGiven)
{
    drive_close();
    DriveTarget target{};
    target.kind = TARGET_SDL_NUMBER;
    target.number = 3;
    fake_sdl.num_drives = 4;
    ASSERT_EQ(drive_open(target), 0);
    EXPECT_EQ(fake_sdl.opened_drive, 3);
    EXPECT_STREQ(drive_backend_name(), "sdl");
}

TEST_F(SdlBackend, PlaySpansBecomeTrackCounts)
{
    struct Case {
        const char *what;
        int track, frame;
        PlaySpan span;
        RecordedCall sent;
    } cases[] = {
        {"one track", 1, 10, SPAN_ONE_TRACK, Play(1, 10, 1, 0)},
        {"to the end", 1, 10, SPAN_TO_END, Play(1, 10, 0, 0)},
        // Some drives refuse a one-track play of the last track.
        {"the last track alone", 3, 20, SPAN_ONE_TRACK, Play(3, 20, 0, 0)},
        {"the last track to the end", 3, 0, SPAN_TO_END, Play(3, 0, 0, 0)},
    };
    insert_fake_disc({3000, 4000, 5000, 6000});
    refresh_at(CD_STOPPED, 0);
    for (const Case &c : cases) {
        fake_sdl.calls.clear();
        EXPECT_EQ(drive_play(c.track, c.frame, c.span), 0) << c.what;
        EXPECT_EQ(fake_sdl.calls, std::vector<RecordedCall>{c.sent}) << c.what;
    }
    fake_sdl.play_result = -1;
    EXPECT_EQ(drive_play(0, 0, SPAN_TO_END), -1);
}

// Once a track ends, classic SDL reports track 0 and a virtual drive the next
// track; the restart track is the one that was playing either way, while the
// position shown stays what the drive reports.
TEST_F(SdlBackend, RestartTrackIsTheLastTrackSeenPlaying)
{
    struct Case {
        const char *drive;
        int track_reported_when_stopped;
    } cases[] = {{"classic", 0}, {"virtual", 2}};
    for (const Case &c : cases) {
        insert_fake_disc({3000, 4000, 5000, 6000});
        refresh_at(CD_PLAYING, 1, 2000);
        EXPECT_EQ(status.restart_track, 1) << c.drive;
        refresh_at(CD_PAUSED, 1, 2500);
        EXPECT_EQ(status.restart_track, 1) << c.drive;
        refresh_at(CD_STOPPED, c.track_reported_when_stopped);
        EXPECT_EQ(status.track, c.track_reported_when_stopped) << c.drive;
        EXPECT_EQ(status.restart_track, 1) << c.drive;
        // Another disc starts over at its first track.
        insert_fake_disc({7000, 8000});
        refresh_at(CD_STOPPED, 0);
        EXPECT_EQ(status.restart_track, 0) << c.drive;
    }
}

// After the end of the disc a virtual drive reports the track after the last.
TEST_F(SdlBackend, TrackPastTheLastIsTheEndOfTheLastTrack)
{
    insert_fake_disc({3000, 4000, 5000, 6000});
    refresh_at(CD_PLAYING, 3, 5900);
    refresh_at(CD_STOPPED, 4, 0);
    EXPECT_EQ(status.state, DRIVE_STOPPED);
    EXPECT_EQ(status.track, 3);
    EXPECT_EQ(status.frame, 6000);
    EXPECT_EQ(status.restart_track, 3);
    refresh_at(CD_PLAYING, 9, 0);
    EXPECT_EQ(status.track, 3);
}

TEST_F(SdlBackend, TableIsCopiedWithItsCountHeldWithinRange)
{
    struct Case {
        int numtracks;
        int count;
    } cases[] = {{-3, 0}, {0, 0}, {1, 1}, {99, 99}, {100, 99}, {150, 99}, {INT32_MAX, 99}};
    for (const Case &c : cases) {
        SDL_CD &r = fake_sdl.reported;
        r = SDL_CD{};
        r.status = CD_STOPPED;
        r.numtracks = c.numtracks;
        for (int i = 0; i <= SDL_MAX_TRACKS; i++) {
            r.track[i].offset = 150 + static_cast<Uint32>(i) * 1000;
            r.track[i].length = 1000;
            r.track[i].type = i % 2 ? SDL_DATA_TRACK : SDL_AUDIO_TRACK;
        }
        ASSERT_EQ(drive_refresh(status), 0);
        ASSERT_EQ(status.toc.count, c.count) << c.numtracks;
        for (int i = 0; i < c.count; i++) {
            EXPECT_EQ(status.toc.track[i].offset, 150u + static_cast<unsigned>(i) * 1000);
            EXPECT_EQ(status.toc.track[i].length, 1000u);
            EXPECT_EQ(status.toc.track[i].audio, i % 2 == 0);
        }
        // The lead-out ends the last track; nothing lies beyond it.
        EXPECT_EQ(status.toc.track[c.count].offset, 150u + static_cast<unsigned>(c.count) * 1000);
        EXPECT_EQ(status.toc.track[c.count].length, 0u);
        for (int i = c.count + 1; i <= MAX_TRACKS; i++)
            EXPECT_EQ(status.toc.track[i].offset, 0u) << c.numtracks << " entry " << i;
    }
}

TEST_F(SdlBackend, StatesPassThroughByNumber)
{
    insert_fake_disc({3000});
    for (int state : {-1, 0, 1, 2, 3}) {
        fake_sdl.reported.status = static_cast<CDstatus>(state);
        ASSERT_EQ(drive_refresh(status), 0);
        EXPECT_EQ(status.state, state);
    }
}

TEST_F(SdlBackend, ClosedDriveIsNeverReached)
{
    drive_close();
    fake_sdl.calls.clear();
    Volume volume{};
    DiscText text{};
    status.state = DRIVE_PLAYING;
    EXPECT_EQ(drive_refresh(status), -1);
    EXPECT_EQ(status.state, DRIVE_NO_DISC);
    EXPECT_EQ(drive_play(0, 0, SPAN_TO_END), -1);
    EXPECT_EQ(drive_pause(), -1);
    EXPECT_EQ(drive_resume(), -1);
    EXPECT_EQ(drive_stop(), -1);
    EXPECT_EQ(drive_eject(), -1);
    EXPECT_EQ(drive_get_volume(volume), -1);
    EXPECT_EQ(drive_set_volume(volume), -1);
    EXPECT_EQ(drive_disc_text(text), -1);
    EXPECT_TRUE(fake_sdl.calls.empty());
}

} // namespace
