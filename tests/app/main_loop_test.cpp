// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commands.h"
#include "app/main_loop.h"
#include "app/player.h"
#include "database/disc_id.h"
#include "drive/drive.h"
#include "fake_sdl.h"
#include "test_screen.h"
#include "ui/message_line.h"
#include "ui/player_screen.h"
#include "ui/screen.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace
{

class MainLoop : public ::testing::Test
{
  protected:
    fs::path home;

    void SetUp() override
    {
        reset_fake_sdl();
        player = PlayerState{};
        player.play_mode = MODE_NORMAL;
        open_fake_drive();
        home = fs::temp_directory_path() / ("mivo-loop-" + std::to_string(getpid()));
        fs::remove_all(home);
        fs::create_directories(home);
        setenv("HOME", home.c_str(), 1);
        // Start-up's view of an empty drive: nothing loaded yet.
        drive_refresh(player.drive);
        remember_loaded_disc(player.drive.toc);
        player.disc_id = compute_disc_id(player.drive.toc);
        fake_sdl.calls.clear();
    }

    void TearDown() override { fs::remove_all(home); }

    std::string file_of(const SDL_CD &disc)
    {
        build_database_path(compute_disc_id(toc_of(disc)));
        return database_path;
    }

    void write_file(const SDL_CD &disc, const std::string &text)
    {
        fs::create_directories(home / ".kel");
        std::ofstream(file_of(disc)) << text;
    }

    std::string read_file(const SDL_CD &disc)
    {
        std::ifstream in(file_of(disc));
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

const char *disc_title() { return player.db.entries[DISC_ENTRY].title; }

TEST_F(MainLoop, StoppedDriveFollowsThePlayModeAndIsAskedAgain)
{
    struct Case {
        int32_t mode;
        std::vector<RecordedCall> plays;
    } cases[] = {
        {MODE_NORMAL, {}},
        {MODE_REPEAT_CD, {{CdCall::Play, {0, 0, 0, 0}}}},
        {MODE_REPEAT_TRACK, {{CdCall::Play, {0, 0, 1, 0}}}},
    };
    for (const Case &c : cases) {
        SetUp();
        insert_fake_disc({3000, 4000, 5000});
        player.play_mode = c.mode;
        poll_drive();
        EXPECT_EQ(calls_of(CdCall::Play), c.plays) << "mode " << c.mode;
        // The second refresh shows the drive's state after the restart.
        EXPECT_EQ(calls_of(CdCall::Status).size(), 2u) << "mode " << c.mode;
        EXPECT_EQ(player.drive.state, c.plays.empty() ? DRIVE_STOPPED : DRIVE_PLAYING);
    }
}

TEST_F(MainLoop, PlayingOrPausedDriveIsAskedOnceAndLeftAlone)
{
    for (CDstatus status : {CD_PLAYING, CD_PAUSED}) {
        SetUp();
        insert_fake_disc({3000, 4000});
        fake_sdl.reported.status = status;
        player.play_mode = MODE_REPEAT_CD;
        poll_drive();
        EXPECT_TRUE(calls_of(CdCall::Play).empty());
        EXPECT_EQ(calls_of(CdCall::Status).size(), 1u);
    }
}

// Once a track ends, classic SDL reports track 0 and a virtual drive the next
// track; Repeat Track must restart the one that was playing either way.
TEST_F(MainLoop, RepeatTrackRestartsTheTrackThatEnded)
{
    struct Case {
        const char *drive;
        int playing_track;
        int track_reported_when_stopped;
        RecordedCall expected;
    } cases[] = {
        {"classic", 1, 0, {CdCall::Play, {1, 0, 1, 0}}},
        {"virtual", 1, 2, {CdCall::Play, {1, 0, 1, 0}}},
        // The last track is played to the end of the disc: the same audio,
        // and the only way a virtual drive accepts it.
        {"last track", 3, 0, {CdCall::Play, {3, 0, 0, 0}}},
    };
    for (const Case &c : cases) {
        SetUp();
        insert_fake_disc({3000, 4000, 5000, 6000});
        fake_sdl.reported.status = CD_PLAYING;
        fake_sdl.reported.cur_track = c.playing_track;
        player.play_mode = MODE_REPEAT_TRACK;
        poll_drive();
        fake_sdl.reported.status = CD_STOPPED;
        fake_sdl.reported.cur_track = c.track_reported_when_stopped;
        fake_sdl.reported.cur_frame = 0;
        poll_drive();
        EXPECT_EQ(calls_of(CdCall::Play), std::vector<RecordedCall>{c.expected}) << c.drive;
    }
}

// After the end of the disc a virtual drive names the track after the last:
// the screen shows the last track and the next track is the first.
TEST_F(MainLoop, EndOfTheDiscOnAVirtualDriveIsTheLastTrack)
{
    open_test_screen(24, 80);
    insert_fake_disc({3000, 4000, 5000, 6000});
    fake_sdl.reported.status = CD_PLAYING;
    fake_sdl.reported.cur_track = 3;
    poll_drive();
    fake_sdl.reported.status = CD_STOPPED;
    fake_sdl.reported.cur_track = 4;
    fake_sdl.reported.cur_frame = 0;
    poll_drive();
    draw_player_screen(player.db, player.drive, player.play_mode);
    EXPECT_EQ(row_text(4, 14, 6), "4 of 4");
    fake_sdl.calls.clear();
    dispatch_key('+');
    EXPECT_EQ(fake_sdl.calls, (std::vector<RecordedCall>{{CdCall::Play, {0, 0, 0, 0}}}));
}

// Classic SDL names track 0 while stopped; the screen shows just that.
TEST_F(MainLoop, StoppedClassicDriveShowsTheTrackItReports)
{
    open_test_screen(24, 80);
    insert_fake_disc({3000, 4000, 5000, 6000});
    fake_sdl.reported.status = CD_PLAYING;
    fake_sdl.reported.cur_track = 2;
    poll_drive();
    fake_sdl.reported.status = CD_STOPPED;
    fake_sdl.reported.cur_track = 0;
    poll_drive();
    draw_player_screen(player.db, player.drive, player.play_mode);
    EXPECT_EQ(row_text(4, 14, 6), "1 of 4");
}

TEST_F(MainLoop, NewDiscInRepeatModeLoadsItsTextsThenStartsFromItsFirstTrack)
{
    insert_fake_disc({3000, 4000});
    fake_sdl.reported.status = CD_PLAYING;
    fake_sdl.reported.cur_track = 1;
    poll_drive();

    insert_fake_disc({5000, 6000, 7000});
    write_file(fake_sdl.reported, "DTITLE=Second disc\n");
    player.play_mode = MODE_REPEAT_TRACK;
    fake_sdl.calls.clear();
    poll_drive();
    EXPECT_STREQ(disc_title(), "Second disc");
    EXPECT_EQ(calls_of(CdCall::Play), (std::vector<RecordedCall>{{CdCall::Play, {0, 0, 1, 0}}}));
}

TEST_F(MainLoop, DiscChangeIsNoticedOnce)
{
    insert_fake_disc({3000, 4000});
    write_file(fake_sdl.reported, "DTITLE=Artist / Album\nTTITLE1=Second\n");
    poll_drive();
    EXPECT_STREQ(disc_title(), "Artist / Album");
    EXPECT_STREQ(player.db.entries[1].title, "Second");
    EXPECT_EQ(player.disc_id, compute_disc_id(toc_of(fake_sdl.reported)));

    // The same disc in later turns is not read again.
    strcpy(player.db.entries[DISC_ENTRY].title, "kept");
    poll_drive();
    poll_drive();
    EXPECT_STREQ(disc_title(), "kept");
}

TEST_F(MainLoop, EmptyingTheTrayClearsEveryTextOnce)
{
    insert_fake_disc({3000, 4000});
    write_file(fake_sdl.reported, "DTITLE=Album\nTTITLE0=One\nEXTD=notes\n");
    poll_drive();
    strcpy(player.db.entries[50].title, "left from a longer disc");
    strcpy(player.db.year, "1994");
    strcpy(player.db.genre, "Rock");
    player.db.dirty = 1;
    player.db.unreadable = 1;

    fake_sdl.reported = SDL_CD{};
    fake_sdl.reported.status = CD_TRAYEMPTY;
    poll_drive();
    for (const TrackText &e : player.db.entries) {
        EXPECT_STREQ(e.title, "");
        EXPECT_STREQ(e.ext, "");
    }
    EXPECT_STREQ(player.db.year, "");
    EXPECT_STREQ(player.db.genre, "");
    EXPECT_EQ(player.db.dirty, 0);
    EXPECT_EQ(player.db.unreadable, 0);

    // An empty drive keeps its id, so its texts are not cleared in every turn.
    strcpy(player.db.entries[DISC_ENTRY].title, "typed while empty");
    poll_drive();
    EXPECT_STREQ(disc_title(), "typed while empty");
}

TEST_F(MainLoop, DriveErrorCountsAsNoDisc)
{
    insert_fake_disc({3000, 4000});
    write_file(fake_sdl.reported, "DTITLE=Album\n");
    poll_drive();
    fake_sdl.reported.status = CD_ERROR;
    fake_sdl.reported.numtracks = 0;
    poll_drive();
    EXPECT_STREQ(disc_title(), "");
    EXPECT_TRUE(calls_of(CdCall::Play).empty());
}

// Unsaved texts belong to the disc they were typed for: at a disc change they
// go to that disc's file, never to the new disc's.
TEST_F(MainLoop, UnsavedTextsAtADiscChangeLandInThePreviousDiscsFile)
{
    insert_fake_disc({3000, 4000});
    SDL_CD first = fake_sdl.reported;
    poll_drive();
    strcpy(player.db.entries[DISC_ENTRY].title, "Edited first");
    strcpy(player.db.entries[0].title, "Opening");
    player.db.dirty = 1;

    insert_fake_disc({5000, 6000, 7000});
    SDL_CD second = fake_sdl.reported;
    write_file(second, "DTITLE=Second as stored\n");
    poll_drive();

    EXPECT_NE(read_file(first).find("DTITLE=Edited first\n"), std::string::npos);
    EXPECT_NE(read_file(first).find("TTITLE0=Opening\n"), std::string::npos);
    EXPECT_EQ(read_file(second), "DTITLE=Second as stored\n");
    EXPECT_STREQ(disc_title(), "Second as stored");
    EXPECT_EQ(player.db.dirty, 0);
}

TEST_F(MainLoop, TextsLostAtADiscChangeAreSaidThenAndAtShutDown)
{
    insert_fake_disc({3000, 4000});
    SDL_CD first = fake_sdl.reported;
    poll_drive();
    strcpy(player.db.entries[0].title, "Opening");
    player.db.dirty = 1;
    // A directory where the first disc's file goes: its save must fail.
    fs::create_directories(file_of(first));
    insert_fake_disc({5000, 6000, 7000});
    // In a child, so the lost titles are not counted against this process.
    EXPECT_EXIT(
        {
            poll_drive();
            fprintf(stderr, "%s|%d\n", current_message(), player.db.dirty);
            exit(shut_down());
        },
        ::testing::ExitedWithCode(1),
        "^Titles not saved: [^\n]*\\|0\nmivo: titles not saved: [^\n]*\n$");
}

// A title file that cannot be read is said at once, with its name, and the
// disc's texts stay empty.
TEST_F(MainLoop, UnreadableTitleFileOfANewDiscIsSaid)
{
    clear_message();
    insert_fake_disc({3000, 4000});
    fs::create_directories(home / ".kel");
    ASSERT_EQ(mkfifo(file_of(fake_sdl.reported).c_str(), 0644), 0);
    poll_drive();
    EXPECT_STREQ(disc_title(), "");
    EXPECT_EQ(player.db.unreadable, 1);
    EXPECT_EQ(std::string(current_message()), "Titles not read, file kept: could not load " +
                                                  file_of(fake_sdl.reported) +
                                                  ": not a regular file");
}

TEST_F(MainLoop, QuitDuringATurnEndsTheLoopAfterItsKey)
{
    open_test_screen(24, 80);
    insert_fake_disc({3000, 4000});
    fake_sdl.reported.status = CD_PLAYING;
    // The signal arrives while the turn runs; the turn's key still counts.
    fake_sdl.before_status = [](FakeSdl &) { raise(SIGINT); };
    signal(SIGINT, handle_quit_signal);
    feed_keys("c");
    run_main_loop();
    signal(SIGINT, SIG_DFL);
    EXPECT_EQ(calls_of(CdCall::Status).size(), 1u);
    EXPECT_EQ(player.play_mode, MODE_REPEAT_CD);
}

TEST_F(MainLoop, QuitKeyEndsTheLoop)
{
    open_test_screen(24, 80);
    insert_fake_disc({3000, 4000});
    fake_sdl.reported.status = CD_PLAYING;
    feed_keys("xq");
    run_main_loop();
    EXPECT_EQ(player.quit, 1);
    EXPECT_EQ(calls_of(CdCall::Status).size(), 2u);
}

} // namespace

// The editor and the go-to prompt hold the drive as it was when they opened:
// no turn polls it until they close, whatever keys they take meanwhile.
TEST_F(MainLoop, TheEditorAndTheGoToPromptHoldTheDrive)
{
    struct Case {
        const char *what;
        std::string keys;
        std::vector<RecordedCall> plays;
    } cases[] = {
        {"editor", "tddq", {}},
        {"go-to prompt", "g2\n", {RecordedCall{CdCall::Play, {1, 0, 0, 0}}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        open_test_screen(24, 80);
        insert_fake_disc({3000, 4000, 5000});
        fake_sdl.reported.status = CD_PLAYING;
        feed_keys(c.keys + "q");
        run_main_loop();
        // One poll before the key that opened the screen, one after it closed.
        EXPECT_EQ(calls_of(CdCall::Status).size(), 2u);
        EXPECT_EQ(calls_of(CdCall::Play), c.plays);
        EXPECT_EQ(top_screen(), nullptr) << "a screen was left open";
    }
}

namespace
{

timespec test_now{};

int test_clock(clockid_t, timespec *now)
{
    *now = test_now;
    return 0;
}

void let_seconds_pass(int seconds) { test_now.tv_sec += seconds; }

const Screen dialog = {"dialog", [] {}, [](int) {}, nullptr, 0};

} // namespace

// An idle turn leaves the player screen as it was drawn, but anything it shows
// that changes, a key or news has the next turn draw it, and a dialog is drawn
// on every turn.
TEST_F(MainLoop, AnUnchangedPlayerScreenIsNotDrawnAgain)
{
    struct Case {
        const char *what;
        void (*before)();
        void (*change)();
    } cases[] = {
        {"a new frame", [] {}, [] { player.drive.frame++; }},
        {"a new state", [] {}, [] { player.drive.state = DRIVE_PAUSED; }},
        {"the play mode", [] {}, [] { player.play_mode = MODE_REPEAT_CD; }},
        {"a message", [] {}, [] { show_message("Saved"); }},
        {"a message's end", [] { show_message("Saved"); }, [] { let_seconds_pass(6); }},
        {"the cursor", [] {}, [] { move_track_cursor(CURSOR_DOWN, player.drive); }},
        {"the cursor's rest",
         [] { move_track_cursor(CURSOR_DOWN, player.drive); },
         [] { let_seconds_pass(6); }},
        {"edited titles", [] {}, [] { player.db.dirty = 1; }},
        {"a key or news", [] {}, [] { note_loop_news(); }},
        {"a new size", [] {}, [] { open_test_screen(30, 100); }},
        {"a dialog closed", [] { open_screen(dialog); }, [] { close_screen(dialog); }},
    };
    set_message_clock(test_clock);
    set_track_cursor_clock(test_clock);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        open_test_screen(24, 80);
        insert_fake_disc({3000, 4000, 5000});
        poll_drive();
        clear_message();
        follow_playing_track();
        open_screen(player_screen);
        c.before();
        screens_need_drawing();
        EXPECT_EQ(screens_need_drawing(), top_screen() != &player_screen) << "an idle turn";
        c.change();
        EXPECT_TRUE(screens_need_drawing());
        EXPECT_FALSE(screens_need_drawing()) << "drawn once, the screen is as it shows";
        close_screen(player_screen);
    }
    set_message_clock(nullptr);
    set_track_cursor_clock(nullptr);
}
