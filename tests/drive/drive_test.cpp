// SPDX-License-Identifier: GPL-3.0-or-later
#include "bin_cue_image.h"
#include "drive/digital/cdio_source.h"
#include "drive/drive.h"
#include "fake_sdl.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace
{

// A backend that records what reaches it and answers as the test sets.
std::string calls;
int open_result = 0;
int refresh_result = 0;
DriveTarget opened{};

int fake_open(const DriveTarget &target)
{
    calls += "open ";
    opened = target;
    return open_result;
}
void fake_close() { calls += "close "; }
int fake_refresh(DriveStatus &status)
{
    calls += "refresh ";
    status.state = DRIVE_PLAYING;
    status.track = 4;
    return refresh_result;
}
int fake_play(int32_t track, int32_t frame, PlaySpan span)
{
    calls += "play " + std::to_string(track) + " " + std::to_string(frame) + " " +
             std::to_string(span) + " ";
    return track < 0 ? -1 : 0;
}
int fake_pause()
{
    calls += "pause ";
    return 0;
}
int fake_resume()
{
    calls += "resume ";
    return 0;
}
int fake_stop()
{
    calls += "stop ";
    return 0;
}
int fake_eject()
{
    calls += "eject ";
    return 0;
}
int fake_get_volume(Volume &volume)
{
    calls += "get ";
    volume = Volume{{1, 2, 3, 4}};
    return 0;
}
int fake_set_volume(const Volume &)
{
    calls += "set ";
    return 0;
}
int fake_disc_text(DiscText &text)
{
    calls += "text ";
    text.present = true;
    return 0;
}
const char *fake_error() { return "the fake says no"; }

const DriveBackend fake_backend = {
    "fake",          fake_open,      fake_close, fake_refresh, fake_play,
    fake_pause,      fake_resume,    fake_stop,  fake_eject,   fake_get_volume,
    fake_set_volume, fake_disc_text, fake_error, nullptr,      nullptr,
};

class Drive : public ::testing::Test
{
  protected:
    DriveTarget target{};

    void SetUp() override
    {
        drive_close();
        calls.clear();
        open_result = 0;
        refresh_result = 0;
        set_drive_backend(&fake_backend);
        target.kind = TARGET_IMAGE;
        snprintf(target.path, sizeof target.path, "disc.cue");
    }
    void TearDown() override
    {
        drive_close();
        set_drive_backend(nullptr);
    }
};

TEST_F(Drive, EveryCallReachesTheOpenBackend)
{
    ASSERT_EQ(drive_open(target), 0);
    EXPECT_STREQ(opened.path, "disc.cue");
    EXPECT_STREQ(drive_backend_name(), "fake");
    DriveStatus status{};
    Volume volume{};
    DiscText text{};
    EXPECT_EQ(drive_refresh(status), 0);
    EXPECT_EQ(status.track, 4);
    EXPECT_EQ(drive_play(2, 75, SPAN_ONE_TRACK), 0);
    EXPECT_EQ(drive_pause(), 0);
    EXPECT_EQ(drive_resume(), 0);
    EXPECT_EQ(drive_stop(), 0);
    EXPECT_EQ(drive_get_volume(volume), 0);
    EXPECT_EQ(volume.channel[3], 4);
    EXPECT_EQ(drive_set_volume(volume), 0);
    EXPECT_EQ(drive_disc_text(text), 0);
    EXPECT_TRUE(text.present);
    EXPECT_EQ(drive_eject(), 0);
    drive_close();
    EXPECT_EQ(calls, "open refresh play 2 75 0 pause resume stop get set text eject close ");
    EXPECT_STREQ(drive_backend_name(), "none");
}

TEST_F(Drive, FailuresCarryTheBackendsReason)
{
    open_result = -1;
    EXPECT_EQ(drive_open(target), -1);
    EXPECT_STREQ(drive_error(), "the fake says no");
    EXPECT_EQ(drive_play(0, 0, SPAN_TO_END), -1);
    EXPECT_EQ(calls, "open ") << "nothing reaches a backend that failed to open";

    open_result = 0;
    ASSERT_EQ(drive_open(target), 0);
    EXPECT_EQ(drive_play(-1, 0, SPAN_TO_END), -1);
    EXPECT_STREQ(drive_error(), "the fake says no");
    // A failed refresh leaves no half-read status behind.
    refresh_result = -1;
    DriveStatus status{};
    EXPECT_EQ(drive_refresh(status), -1);
    EXPECT_EQ(status.state, DRIVE_NO_DISC);
    EXPECT_EQ(status.track, 0);
}

TEST_F(Drive, KindsWithoutABackendAreRefused)
{
    set_drive_backend(nullptr);
    EXPECT_EQ(drive_open(target), -1);
    EXPECT_NE(std::string(drive_error()), "");
    EXPECT_TRUE(calls.empty());
}

TEST_F(Drive, OpeningAgainClosesTheFirst)
{
    ASSERT_EQ(drive_open(target), 0);
    ASSERT_EQ(drive_open(target), 0);
    EXPECT_EQ(calls, "open close open ");
}

} // namespace

namespace
{

// No drive named on the command line: SDL's drive 0 where SDL has one, else
// the system's default CD drive read digitally (here a BIN/CUE image that the
// test hook puts in its place), else SDL's own words.
class DefaultDriveTest : public ::testing::Test
{
  protected:
    char dir[64] = "/tmp/mivo-default-drive-XXXXXX";
    char cue[1024] = "";

    void SetUp() override
    {
        ASSERT_NE(mkdtemp(dir), nullptr);
        reset_fake_sdl();
        set_drive_backend(nullptr);
        unsetenv("MIVO_TEST_CDIO_IMAGE");
        ImageLayout layout{};
        layout.count = 2;
        layout.track[0] = {120, true};
        layout.track[1] = {90, true};
        ASSERT_TRUE(write_bin_cue(dir, "disc", layout, cue, sizeof cue));
    }

    void TearDown() override
    {
        drive_close();
        unsetenv("MIVO_TEST_CDIO_IMAGE");
        for (const char *file : {"disc.cue", "disc.bin"})
            remove((std::string(dir) + "/" + file).c_str());
        rmdir(dir);
    }
};

TEST_F(DefaultDriveTest, SdlDriveZeroWhereSdlHasOne)
{
    setenv("MIVO_TEST_CDIO_IMAGE", cue, 1);
    ASSERT_EQ(drive_open_default(), 0) << drive_error();
    EXPECT_STREQ(drive_backend_name(), "sdl");
}

TEST_F(DefaultDriveTest, WithoutSdlDrivesTheDefaultCdDriveIsReadDigitally)
{
    fake_sdl.num_drives = 0;
    setenv("MIVO_TEST_CDIO_IMAGE", cue, 1);
    ASSERT_EQ(drive_open_default(), 0) << drive_error();
    EXPECT_STREQ(drive_backend_name(), "digital");
    DriveStatus status{};
    ASSERT_EQ(drive_refresh(status), 0) << drive_error();
    EXPECT_EQ(status.state, DRIVE_STOPPED);
    EXPECT_EQ(status.toc.count, 2);
    EXPECT_EQ(status.toc.track[2].offset, 150u + 120 + 90);
}

TEST_F(DefaultDriveTest, WithoutAnyDriveSdlsMessageStands)
{
    fake_sdl.num_drives = 0;
    char device[DRIVE_PATH_SIZE];
    if (find_default_cd_device(device, sizeof device))
        GTEST_SKIP() << "this machine has a CD drive: " << device;
    EXPECT_EQ(drive_open_default(), -1);
    EXPECT_STREQ(drive_error(), "No CDROM devices available");
    EXPECT_STREQ(drive_backend_name(), "none");
}

} // namespace
