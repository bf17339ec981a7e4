// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commands.h"
#include "app/player.h"
#include "drive/sdl/sdl_volume.h"
#include "fake_sdl.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

// A fake of the driver's volume requests that keeps every request it was sent.
struct Request {
    char kind; // 'r' read, 'w' write
    int fd;
    std::array<unsigned char, 4> volume;
};
std::vector<Request> requests;
Volume drive_volume;
bool read_fails = false;

bool fake_is_drive(int fd) { return fd == 1000; }
int fake_read(int fd, Volume &v)
{
    requests.push_back({'r', fd, {}});
    if (read_fails)
        return -1;
    v = drive_volume;
    return 0;
}
int fake_write(int fd, const Volume &v)
{
    requests.push_back({'w', fd, {v.channel[0], v.channel[1], v.channel[2], v.channel[3]}});
    return -1; // a refused write changes nothing for the step
}

class VolumeSteps : public ::testing::Test
{
  protected:
    const VolumeRequests fake = {fake_is_drive, fake_read, fake_write};

    void SetUp() override
    {
        reset_fake_sdl();
        player = PlayerState{};
        open_fake_drive();
        fake_sdl.handle.id = 1000;
        requests.clear();
        read_fails = false;
        set_volume_requests(&fake);
    }
    void TearDown() override
    {
        set_volume_requests(nullptr);
        drive_close();
    }
};

TEST_F(VolumeSteps, StepsChannelsZeroAndOneWithinTheirRange)
{
    struct Case {
        VolumeStep step;
        std::array<unsigned char, 4> before, after;
    } cases[] = {
        {VOLUME_UP, {252, 253, 17, 200}, {255, 255, 17, 200}},
        {VOLUME_DOWN, {3, 8, 17, 200}, {0, 3, 17, 200}},
        {VOLUME_UP, {0, 250, 255, 0}, {5, 255, 255, 0}},
        {VOLUME_UP, {255, 251, 1, 2}, {255, 255, 1, 2}},
        {VOLUME_DOWN, {5, 4, 0, 255}, {0, 0, 0, 255}},
        {VOLUME_DOWN, {255, 0, 9, 9}, {250, 0, 9, 9}},
        {VOLUME_DOWN, {100, 6, 3, 4}, {95, 1, 3, 4}},
    };
    for (const Case &c : cases) {
        requests.clear();
        for (int i = 0; i < 4; i++)
            drive_volume.channel[i] = c.before[i];
        step_volume(c.step);
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].kind, 'r');
        EXPECT_EQ(requests[1].kind, 'w');
        EXPECT_EQ(requests[0].fd, 1000);
        EXPECT_EQ(requests[1].fd, 1000);
        EXPECT_EQ(requests[1].volume, c.after) << (c.step == VOLUME_UP ? "up" : "down") << " from "
                                               << int(c.before[0]) << "/" << int(c.before[1]);
    }
}

TEST_F(VolumeSteps, FailedReadWritesNothing)
{
    read_fails = true;
    step_volume(VOLUME_UP);
    step_volume(VOLUME_DOWN);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].kind, 'r');
    EXPECT_EQ(requests[1].kind, 'r');
}

TEST_F(VolumeSteps, DescriptorThatIsNoDriveGetsNoRequest)
{
    fake_sdl.handle.id = 1;
    step_volume(VOLUME_UP);
    dispatch_key('/');
    EXPECT_TRUE(requests.empty());
}

// Opens one of each kind of descriptor that a drive handle may wrongly hold.
struct NotADrive {
    std::string what;
    int fd;
};
std::vector<NotADrive> open_non_drives()
{
    std::vector<NotADrive> out;
    int p[2];
    if (pipe(p) == 0) {
        out.push_back({"pipe read end", p[0]});
        out.push_back({"pipe write end", p[1]});
    }
    out.push_back({"/dev/null", open("/dev/null", O_RDWR)});
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) {
        out.push_back({"pty master", master});
        out.push_back({"pty slave", open(ptsname(master), O_RDWR | O_NOCTTY)});
    }
    char file_name[] = "/tmp/mivo-volume-XXXXXX";
    int file = mkstemp(file_name);
    if (file >= 0)
        unlink(file_name);
    out.push_back({"regular file", file});
    out.push_back({"directory", open("/", O_RDONLY | O_DIRECTORY)});
    return out;
}

TEST_F(VolumeSteps, RealDriveCheckRefusesEverythingButADrive)
{
    const VolumeRequests real_check = {is_cdrom_descriptor, fake_read, fake_write};
    set_volume_requests(&real_check);
    std::vector<NotADrive> fds = open_non_drives();
    ASSERT_EQ(fds.size(), 7u) << "could not open every kind of descriptor";
    int closed = dup(0);
    close(closed);
    fds.push_back({"closed descriptor", closed});
    fds.push_back({"negative descriptor", -1});
    for (const NotADrive &d : fds) {
        ASSERT_TRUE(d.fd >= 0 || d.what == "negative descriptor") << d.what;
        requests.clear();
        fake_sdl.handle.id = d.fd;
        EXPECT_FALSE(is_cdrom_descriptor(d.fd)) << d.what;
        step_volume(VOLUME_UP);
        EXPECT_TRUE(requests.empty()) << d.what;
        Volume v;
        EXPECT_EQ(read_drive_volume(d.fd, v), -1) << d.what;
        EXPECT_EQ(write_drive_volume(d.fd, v), -1) << d.what;
        EXPECT_TRUE(requests.empty()) << d.what;
    }
    for (const NotADrive &d : fds)
        if (d.fd >= 0 && d.what != "closed descriptor")
            close(d.fd);
}

TEST_F(VolumeSteps, PlatformRequestsRefuseTheTerminalOfAVirtualDrive)
{
    // A virtual drive keeps 1 in id; whatever stdout is, no volume is read from it.
    set_volume_requests(nullptr);
    int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    Volume v{{7, 7, 7, 7}};
    EXPECT_EQ(read_drive_volume(terminal, v), -1);
    EXPECT_EQ(v.channel[0], 7);
    close(terminal);
}

} // namespace
