// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/drive_target.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace
{

// A scratch folder with a file "7", a file "disc.cue" and a folder "folder".
class DriveTargetTest : public ::testing::Test
{
  protected:
    char dir[32] = "/tmp/mivo-target-XXXXXX";
    char old_cwd[4096] = {};

    void SetUp() override
    {
        ASSERT_NE(mkdtemp(dir), nullptr);
        ASSERT_NE(getcwd(old_cwd, sizeof old_cwd), nullptr);
        ASSERT_EQ(chdir(dir), 0);
        for (const char *name : {"7", "disc.cue", "abc.cue"}) {
            FILE *f = fopen(name, "w");
            ASSERT_NE(f, nullptr);
            fclose(f);
        }
        ASSERT_EQ(mkdir("folder", 0700), 0);
    }
    void TearDown() override
    {
        for (const char *name : {"7", "disc.cue", "abc.cue"})
            unlink(name);
        rmdir("folder");
        ASSERT_EQ(chdir(old_cwd), 0);
        rmdir(dir);
    }
};

struct TargetCase {
    const char *argument;
    TargetKind kind;
    int32_t number;
    const char *path;
};

TEST_F(DriveTargetTest, NumbersNameDrivesExistingFilesAndFoldersImagesAndTheRestTheOldWay)
{
    const TargetCase cases[] = {
        {nullptr, TARGET_SDL_NUMBER, 0, ""},
        {"1", TARGET_SDL_NUMBER, 1, ""},
        {"0x10", TARGET_SDL_NUMBER, 16, ""},
        {"010", TARGET_SDL_NUMBER, 8, ""},
        {" -2", TARGET_SDL_NUMBER, -2, ""},
        // A whole number wins over a file of that name.
        {"7", TARGET_SDL_NUMBER, 7, ""},
        {"disc.cue", TARGET_IMAGE, 0, "disc.cue"},
        {"./7", TARGET_IMAGE, 0, "./7"},
        // Not a file: the number as far as it goes, or drive 0.
        {"abc", TARGET_SDL_NUMBER, 0, ""},
        {"3abc", TARGET_SDL_NUMBER, 3, ""},
        {"missing.cue", TARGET_SDL_NUMBER, 0, ""},
        // A folder is a rip's.
        {"folder", TARGET_IMAGE, 0, "folder"},
        {"", TARGET_SDL_NUMBER, 0, ""},
    };
    for (const TargetCase &c : cases) {
        SCOPED_TRACE(c.argument ? c.argument : "(none)");
        DriveTarget target{};
        ASSERT_EQ(drive_target_for(c.argument, target), 0);
        EXPECT_EQ(target.kind, c.kind);
        EXPECT_EQ(target.number, c.number);
        EXPECT_STREQ(target.path, c.path);
    }
}

// A block device is a CD drive to read digitally; any other device is not.
TEST_F(DriveTargetTest, BlockDevicesNameDrivesReadDigitally)
{
    DriveTarget target{};
    ASSERT_EQ(drive_target_for("/dev/null", target), 0);
    EXPECT_EQ(target.kind, TARGET_SDL_NUMBER);

    const char *block = nullptr;
    for (const char *candidate : {"/dev/sr0", "/dev/loop0", "/dev/vda", "/dev/sda", "/dev/zram0"}) {
        struct stat st {
        };
        if (stat(candidate, &st) == 0 && S_ISBLK(st.st_mode)) {
            block = candidate;
            break;
        }
    }
    if (block == nullptr)
        GTEST_SKIP() << "no block device on this machine";
    ASSERT_EQ(drive_target_for(block, target), 0);
    EXPECT_EQ(target.kind, TARGET_DEVICE);
    EXPECT_STREQ(target.path, block);
}

TEST_F(DriveTargetTest, AnImageNameTooLongToKeepIsRefused)
{
    std::string name = "./";
    while (name.size() < DRIVE_PATH_SIZE + 10)
        name += "./";
    name += "disc.cue";
    DriveTarget target{};
    EXPECT_EQ(drive_target_for(name.c_str(), target), -1);
}

} // namespace
