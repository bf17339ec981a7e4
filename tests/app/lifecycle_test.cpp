#include "app/player.h"
#include "fake_sdl.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace
{

class Lifecycle : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        reset_fake_sdl();
        player = PlayerState{};
    }
};

// Runs the player in a child whose terminal is /dev/null, and reports through
// stderr what the drive was asked, so the parent can match it.
[[noreturn]] void run_in_child(int argc, const char **argv)
{
    setenv("TERM", "xterm", 1);
    setenv("HOME", "/nonexistent-mivo-home", 1);
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "r", stdin))
        _exit(99);
    int status = run_player(argc, const_cast<char **>(argv));
    fprintf(stderr, "opened=%d statuses=%zu closes=%zu plays=%zu\n", fake_sdl.opened_drive,
            calls_of(CdCall::Status).size(), calls_of(CdCall::Close).size(),
            calls_of(CdCall::Play).size());
    _exit(status);
}

TEST_F(Lifecycle, DriveNumberIsReadWithBasePrefixes)
{
    struct Case {
        std::vector<const char *> args;
        int expected;
    } cases[] = {
        {{"mivo"}, 0},           {{"mivo", "010"}, 8},  {{"mivo", "0x1"}, 1}, {{"mivo", "abc"}, 0},
        {{"mivo", "2", "5"}, 2}, {{"mivo", " -3"}, -3}, {{"mivo", "7z"}, 7},
    };
    for (const Case &c : cases) {
        std::vector<char *> argv;
        for (const char *a : c.args)
            argv.push_back(const_cast<char *>(a));
        argv.push_back(nullptr);
        EXPECT_EQ(parse_drive_number(static_cast<int>(c.args.size()), argv.data()), c.expected)
            << (c.args.size() > 1 ? c.args[1] : "(none)");
    }
}

TEST_F(Lifecycle, SdlInitFailureNamesTheErrorOfItsResult)
{
    fake_sdl.init_result = ENODEV;
    const char *argv[] = {"mivo", nullptr};
    EXPECT_EXIT(run_in_child(1, argv), ::testing::ExitedWithCode(1),
                "^Error: No such device\\.\n$");
}

TEST_F(Lifecycle, NoDriveAtAll)
{
    fake_sdl.num_drives = 0;
    const char *argv[] = {"mivo", nullptr};
    EXPECT_EXIT(run_in_child(1, argv), ::testing::ExitedWithCode(1),
                "^No CDROM devices available\n$");
}

TEST_F(Lifecycle, DriveThatCannotBeOpenedGivesSdlsText)
{
    fake_sdl.open_fails = true;
    fake_sdl.error_text = "Invalid CD-ROM drive index";
    const char *argv[] = {"mivo", "3", nullptr};
    EXPECT_EXIT(run_in_child(2, argv), ::testing::ExitedWithCode(1),
                "^Could not open drive: Invalid CD-ROM drive index\n$");
}

TEST_F(Lifecycle, QuitSignalDuringStartUpSkipsTheLoopAndEndsCleanly)
{
    insert_fake_disc({3000, 4000});
    fake_sdl.before_status = [](FakeSdl &) { raise(SIGTERM); };
    const char *argv[] = {"mivo", "0x1", nullptr};
    // One status refresh (start-up's own), no turn of the loop, the drive closed.
    EXPECT_EXIT(run_in_child(2, argv), ::testing::ExitedWithCode(0),
                "^opened=1 statuses=1 closes=1 plays=0\n$");
}

TEST_F(Lifecycle, SigintDuringStartUpAlsoEndsWithStatusZero)
{
    fake_sdl.before_status = [](FakeSdl &) { raise(SIGINT); };
    const char *argv[] = {"mivo", nullptr};
    EXPECT_EXIT(run_in_child(1, argv), ::testing::ExitedWithCode(0),
                "^opened=0 statuses=1 closes=1 plays=0\n$");
}

TEST_F(Lifecycle, QuitSignalInTheLoopEndsItAfterThatTurn)
{
    insert_fake_disc({3000});
    // The terminal reads from /dev/null, so every key read ends at once; the
    // quit comes from the drive's third refresh instead.
    fake_sdl.before_status = [](FakeSdl &f) {
        if (calls_of(CdCall::Status).size() == 3)
            f.reported.status = CD_PLAYING, handle_quit_signal(SIGINT);
    };
    const char *argv[] = {"mivo", nullptr};
    EXPECT_EXIT(run_in_child(1, argv), ::testing::ExitedWithCode(0),
                "^opened=0 statuses=3 closes=1 plays=0\n$");
}

} // namespace
