// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/player.h"
#include "drive/drive.h"
#include "fake_sdl.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace
{

class Lifecycle : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // A drive another test left open would be closed by the child's
        // start-up and counted as its close.
        drive_close();
        reset_fake_sdl();
        player = PlayerState{};
        // The players the tests start never look titles up on the internet.
        setenv("MIVO_NO_LOOKUP", "1", 1);
    }
};

// Gives the child a pseudo-terminal of its own as standard input and output;
// a grandchild reads the screen away until the child's side closes.
void use_pseudo_terminal()
{
    int master = -1, slave = -1;
    winsize size = {24, 80, 0, 0};
    if (openpty(&master, &slave, nullptr, nullptr, &size) != 0)
        _exit(98);
    if (fork() == 0) {
        close(slave);
        char buffer[4096];
        while (read(master, buffer, sizeof buffer) > 0) {
        }
        _exit(0);
    }
    close(master);
    fflush(stdout);
    if (dup2(slave, 0) < 0 || dup2(slave, 1) < 0)
        _exit(99);
    close(slave);
}

// Runs the player in a child on a terminal of its own (or, with
// no_terminal, on /dev/null), and reports through stderr what the drive was
// asked, so the parent can match it.
[[noreturn]] void run_in_child(int argc, const char **argv, bool no_terminal = false,
                               const char *term = "xterm")
{
    setenv("TERM", term, 1);
    if (getenv("HOME") == nullptr || strncmp(getenv("HOME"), "/tmp/mivo-lifecycle", 19) != 0)
        setenv("HOME", "/nonexistent-mivo-home", 1);
    if (no_terminal) {
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "r", stdin))
            _exit(99);
    } else {
        use_pseudo_terminal();
    }
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

// A file-size limit reached while saving must fail the save, not end mivo
// with the terminal raw: once started, the signal that limit sends is ignored.
TEST_F(Lifecycle, FileSizeLimitSignalDoesNotEndMivo)
{
    fake_sdl.before_status = [](FakeSdl &) {
        raise(SIGXFSZ);
        raise(SIGTERM);
    };
    const char *argv[] = {"mivo", nullptr};
    EXPECT_EXIT(run_in_child(1, argv), ::testing::ExitedWithCode(0),
                "^opened=0 statuses=1 closes=1 plays=0\n$");
}

TEST_F(Lifecycle, QuitSignalInTheLoopEndsItAfterThatTurn)
{
    insert_fake_disc({3000});
    // No key comes, so every key read waits its half second; the quit comes
    // from the drive's third refresh.
    fake_sdl.before_status = [](FakeSdl &f) {
        if (calls_of(CdCall::Status).size() == 3)
            f.reported.status = CD_PLAYING, handle_quit_signal(SIGINT);
    };
    const char *argv[] = {"mivo", nullptr};
    EXPECT_EXIT(run_in_child(1, argv), ::testing::ExitedWithCode(0),
                "^opened=0 statuses=3 closes=1 plays=0\n$");
}

TEST_F(Lifecycle, ATerminalThatCannotBeUsedEndsWithTheCursesMessage)
{
    insert_fake_disc({3000});
    const char *argv[] = {"mivo", nullptr};
    // Standard input from /dev/null: before, the loop redrew without a pause.
    // run_player returns, so the drive opened before is closed.
    const char *closed =
        "^Error: Could not start ncurses\nopened=0 statuses=[0-9]+ closes=1 plays=0\n$";
    EXPECT_EXIT(run_in_child(1, argv, true), ::testing::ExitedWithCode(1), closed);
    EXPECT_EXIT(run_in_child(1, argv, false, "dumb"), ::testing::ExitedWithCode(1), closed);
}

TEST_F(Lifecycle, AFinalSaveThatFailsIsReportedAndEndsWithStatusOne)
{
    char pattern[] = "/tmp/mivo-lifecycle-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    // ~/.kel is a file: no title file can be written under it.
    std::ofstream(std::string(pattern) + "/.kel") << "not a directory\n";
    setenv("HOME", pattern, 1);
    insert_fake_disc({3000, 4000});
    fake_sdl.before_status = [](FakeSdl &) {
        if (calls_of(CdCall::Status).size() == 2) {
            player.db.dirty = 1;
            handle_quit_signal(SIGTERM);
        }
    };
    const char *argv[] = {"mivo", nullptr};
    EXPECT_EXIT(run_in_child(1, argv), ::testing::ExitedWithCode(1),
                "^mivo: titles not saved: [^\n]*\nopened=0 statuses=3 closes=1 plays=0\n$");
    std::filesystem::remove_all(pattern);
    unsetenv("HOME");
}

} // namespace
