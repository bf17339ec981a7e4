// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commands.h"
#include "app/disc_titles.h"
#include "app/main_loop.h"
#include "app/player.h"
#include "database/database.h"
#include "database/disc_id.h"
#include "drive/digital/digital_backend.h"
#include "drive/drive.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace
{

using Clock = std::chrono::steady_clock;

// A disc image of three tracks whose reads can hang for as long as the test
// wants, like a file on a network share that stopped answering.
std::atomic<bool> stall{false};
std::atomic<bool> stalled{false};
DiscText sheet_text{};

Toc three_tracks()
{
    Toc toc{};
    toc.count = 3;
    uint32_t offset = LEAD_IN_FRAMES;
    for (int i = 0; i < 3; i++) {
        toc.track[i] = {offset, 3000, true};
        offset += 3000;
    }
    toc.track[3] = {offset, 0, false};
    return toc;
}

int source_open(const char *) { return 0; }
void source_close() {}
bool source_media_changed() { return false; }
int32_t source_load(Toc &toc, DiscText &text)
{
    toc = three_tracks();
    text = sheet_text;
    return DRIVE_STOPPED;
}
int32_t source_read(uint32_t, int32_t count, int16_t *samples)
{
    while (stall.load()) {
        stalled = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    memset(samples, 0, static_cast<size_t>(count) * FRAME_BYTES);
    return count;
}
int source_eject() { return 0; }
const char *source_error() { return "stalled"; }
const AudioSource stalling_source = {"stalling",  source_open, source_close, source_media_changed,
                                     source_load, source_read, source_eject, source_error, nullptr};

int output_open(AudioFill) { return 0; }
void output_close() {}
const char *output_error() { return ""; }
const AudioOutput silent_output = {output_open, output_close, output_error, 0};

void prompt_two(void (*chosen)(int)) { chosen(2); }
void no_editor(DiscDatabase &, const DriveStatus &) {}
const CommandDialogs test_dialogs = {prompt_two, no_editor};

class DigitalPlayback : public ::testing::Test
{
  protected:
    fs::path home;

    void SetUp() override
    {
        stall = false;
        stalled = false;
        sheet_text = DiscText{};
        player = PlayerState{};
        player.play_mode = MODE_NORMAL;
        home = fs::temp_directory_path() / ("mivo-digital-" + std::to_string(getpid()));
        fs::remove_all(home);
        fs::create_directories(home);
        setenv("HOME", home.c_str(), 1);
        set_digital_source(&stalling_source);
        set_digital_output(&silent_output);
        set_command_dialogs(&test_dialogs);
        use_player_commands();
    }

    void TearDown() override
    {
        stall = false;
        drive_close();
        set_digital_source(nullptr);
        set_digital_output(nullptr);
        set_command_dialogs(nullptr);
        fs::remove_all(home);
    }

    void open_image()
    {
        DriveTarget target{TARGET_IMAGE, 0, "disc.cue"};
        ASSERT_EQ(drive_open(target), 0) << drive_error();
        // Start-up's view before the first turn: no disc loaded yet.
        remember_loaded_disc(Toc{});
        player.disc_id = compute_disc_id(Toc{});
    }
};

TEST_F(DigitalPlayback, EveryKeyIsHandledWithinOneTurnWhileTheImageStalls)
{
    open_image();
    poll_drive();
    // Stalled before the play, so the reader's first read hangs: set after
    // it, a busy machine may let the reader fill the whole ring first, and
    // with no sound card draining it the reader would never read again.
    stall = true;
    dispatch_key('p');
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!stalled && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(stalled);

    // The drive's part of a turn (poll, then the key) for every key that
    // reaches the drive, several times over; a turn of the loop is 500 ms.
    const char keys[] = "u"
                        "u"
                        "+"
                        "-"
                        "]"
                        "["
                        "g"
                        "*"
                        "/"
                        "s"
                        "p"
                        "c"
                        "r"
                        "m"
                        "s";
    auto worst = Clock::duration::zero();
    for (int round = 0; round < 20; round++) {
        for (char key : std::string(keys)) {
            auto started = Clock::now();
            poll_drive();
            dispatch_key(key);
            worst = std::max(worst, Clock::now() - started);
        }
    }
    EXPECT_LT(worst, std::chrono::milliseconds(50));
    // The last key stopped the drive, whatever the reader is doing.
    poll_drive();
    EXPECT_EQ(player.drive.state, DRIVE_STOPPED);
    EXPECT_TRUE(stalled);
}

TEST_F(DigitalPlayback, CdTextNamesADiscWithoutATitleFileAndIsNotSaved)
{
    sheet_text.present = true;
    snprintf(sheet_text.entry[MAX_TRACKS].performer, CDTEXT_FIELD_SIZE, "Anna Blume");
    snprintf(sheet_text.entry[MAX_TRACKS].title, CDTEXT_FIELD_SIZE, "Grüne Lieder");
    snprintf(sheet_text.entry[0].title, CDTEXT_FIELD_SIZE, "Eins");
    snprintf(sheet_text.entry[2].title, CDTEXT_FIELD_SIZE, "Drei");
    open_image();
    poll_drive();
    EXPECT_STREQ(player.db.entries[DISC_ENTRY].title, "Anna Blume / Grüne Lieder");
    EXPECT_STREQ(player.db.entries[0].title, "Eins");
    EXPECT_STREQ(player.db.entries[1].title, "");
    EXPECT_STREQ(player.db.entries[2].title, "Drei");
    EXPECT_EQ(player.db.dirty, 0);
    EXPECT_FALSE(fs::exists(home / ".kel"));
}

// The sheet's titles are what this copy loaded, not its edits: another copy's
// save of a track since then survives this copy's save of another track.
TEST_F(DigitalPlayback, CdTextIsNoEditOverAnotherCopysSave)
{
    sheet_text.present = true;
    snprintf(sheet_text.entry[MAX_TRACKS].title, CDTEXT_FIELD_SIZE, "Album");
    snprintf(sheet_text.entry[0].title, CDTEXT_FIELD_SIZE, "Eins");
    snprintf(sheet_text.entry[1].title, CDTEXT_FIELD_SIZE, "Zwei");
    open_image();
    poll_drive();
    ASSERT_STREQ(player.db.entries[0].title, "Eins");

    // The other copy showed the same sheet, edited track 1 and saved.
    build_database_path(compute_disc_id(three_tracks()));
    fs::create_directories(home / ".kel");
    std::ofstream(database_path) << "DTITLE=Album\nTTITLE0=Eins by the other\nTTITLE1=Zwei\n";

    snprintf(player.db.entries[2].title, TEXT_FIELD_SIZE, "Drei");
    player.db.dirty = 1;
    ASSERT_EQ(save_database(player.db, player.drive.toc), 0) << database_error();
    EXPECT_EQ(player.db.conflicts, 0);
    DiscDatabase reread{};
    ASSERT_EQ(load_database(reread, three_tracks()), 0);
    EXPECT_STREQ(reread.entries[0].title, "Eins by the other");
    EXPECT_STREQ(reread.entries[1].title, "Zwei");
    EXPECT_STREQ(reread.entries[2].title, "Drei");
    EXPECT_STREQ(reread.entries[DISC_ENTRY].title, "Album");
}

TEST_F(DigitalPlayback, ATitleFileWinsOverCdText)
{
    sheet_text.present = true;
    snprintf(sheet_text.entry[MAX_TRACKS].title, CDTEXT_FIELD_SIZE, "From the sheet");
    snprintf(sheet_text.entry[0].title, CDTEXT_FIELD_SIZE, "Sheet track");
    build_database_path(compute_disc_id(three_tracks()));
    fs::create_directories(home / ".kel");
    std::ofstream(database_path) << "DTITLE=From the file\nTTITLE0=File track\n";
    open_image();
    poll_drive();
    EXPECT_STREQ(player.db.entries[DISC_ENTRY].title, "From the file");
    EXPECT_STREQ(player.db.entries[0].title, "File track");
}

TEST_F(DigitalPlayback, AnUnreadableTitleFileKeepsCdTextOut)
{
    sheet_text.present = true;
    snprintf(sheet_text.entry[MAX_TRACKS].title, CDTEXT_FIELD_SIZE, "From the sheet");
    build_database_path(compute_disc_id(three_tracks()));
    fs::create_directories(home / ".kel");
    ASSERT_EQ(mkfifo(database_path, 0644), 0);
    open_image();
    poll_drive();
    EXPECT_EQ(player.db.unreadable, 1);
    EXPECT_STREQ(player.db.entries[DISC_ENTRY].title, "");
}

struct TitleCase {
    const char *performer;
    const char *title;
    const char *shown;
};

TEST(DiscTextTitles, TheDiscTitleIsPerformerSlashTitleOrWhicheverThereIs)
{
    const TitleCase cases[] = {
        {"Band", "Album", "Band / Album"},
        {"", "Album", "Album"},
        {"Band", "", "Band"},
        {"", "", ""},
    };
    for (const TitleCase &c : cases) {
        DiscText text{};
        text.present = true;
        snprintf(text.entry[MAX_TRACKS].performer, CDTEXT_FIELD_SIZE, "%s", c.performer);
        snprintf(text.entry[MAX_TRACKS].title, CDTEXT_FIELD_SIZE, "%s", c.title);
        DiscDatabase db{};
        fill_titles_from_disc_text(db, text, 1);
        EXPECT_STREQ(db.entries[DISC_ENTRY].title, c.shown);
    }
    // Long texts are cut at the field's end, never past it.
    DiscText text{};
    text.present = true;
    memset(text.entry[MAX_TRACKS].performer, 'p', CDTEXT_FIELD_SIZE - 1);
    memset(text.entry[MAX_TRACKS].title, 't', CDTEXT_FIELD_SIZE - 1);
    DiscDatabase db{};
    fill_titles_from_disc_text(db, text, 1);
    EXPECT_EQ(strlen(db.entries[DISC_ENTRY].title), static_cast<size_t>(TEXT_FIELD_SIZE - 1));
    // A cut never splits a character: "ü" is two bytes and would end at 256.
    memset(text.entry[MAX_TRACKS].performer, 0, CDTEXT_FIELD_SIZE);
    memset(text.entry[MAX_TRACKS].performer, 'p', 250);
    snprintf(text.entry[MAX_TRACKS].title, CDTEXT_FIELD_SIZE, "%s", "xü");
    fill_titles_from_disc_text(db, text, 1);
    EXPECT_EQ(strlen(db.entries[DISC_ENTRY].title), 254u);
    EXPECT_EQ(db.entries[DISC_ENTRY].title[253], 'x');
}

} // namespace
