// SPDX-License-Identifier: GPL-3.0-or-later
// The player's use of lookups on the fake drive against the stand-in server:
// when a lookup starts by itself, what is stored without asking, and that a
// disc that left takes no titles with it.
#include "app/lookup_flow.h"
#include "app/main_loop.h"
#include "app/player.h"
#include "database/disc_id.h"
#include "drive/drive.h"
#include "drive/sdl/sdl_backend.h"
#include "fake_sdl.h"
#include "lookup/lookup.h"
#include "lookup_server_process.h"
#include "test_screen.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace
{

// Privateering, disc 2: both exact matches agree.
const std::vector<unsigned> AGREEING = {24246, 18051, 23475, 16212, 19092,
                                        15508, 22280, 23910, 21378, 17699};
// The Family Jewels: the exact matches differ in one apostrophe.
const std::vector<unsigned> DIFFERING = {15089, 14386, 16138, 15657, 14442, 15780, 17276,
                                         14780, 16197, 13694, 15650, 19256, 16577};

class LookupFlow : public ::testing::Test
{
  protected:
    static LookupServerProcess server;
    fs::path home;

    static void SetUpTestSuite()
    {
        server.start();
        char name[] = "mivo";
        char *argv[] = {name, nullptr};
        start_lookups(1, argv);
    }

    static void TearDownTestSuite()
    {
        // The other tests of this program must not look anything up.
        lookup_settings.automatic = false;
        stop_lookups();
        server.stop();
    }

    void SetUp() override
    {
        snprintf(lookup_settings.musicbrainz_url, LOOKUP_URL_SIZE, "%s", server.url("mb").c_str());
        lookup_settings.automatic = true;
        reset_fake_sdl();
        player = PlayerState{};
        player.play_mode = MODE_NORMAL;
        open_fake_drive();
        home = fs::temp_directory_path() / ("mivo-lookup-" + std::to_string(getpid()));
        fs::remove_all(home);
        fs::create_directories(home);
        setenv("HOME", home.c_str(), 1);
        drive_refresh(player.drive);
        remember_loaded_disc(player.drive.toc);
        player.disc_id = compute_disc_id(player.drive.toc);
        open_test_screen(24, 80);
    }

    void TearDown() override
    {
        cancel_lookup();
        finish_lookup();
        drain_keys();
        fs::remove_all(home);
    }

    // Turns of the main loop without the drawing until the lookup is over.
    void run_turns(double seconds = 10)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (lookup_phase() == LOOKUP_RUNNING && std::chrono::steady_clock::now() < end) {
            poll_drive();
            advance_lookup();
            wait_for_lookup_or_input(nullptr, 0, 100);
        }
        advance_lookup();
    }

    std::string disc_file()
    {
        build_database_path(player.disc_id);
        std::ifstream in(database_path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

LookupServerProcess LookupFlow::server;

TEST_F(LookupFlow, AgreeingResultIsStoredForADiscWithoutTexts)
{
    insert_fake_disc(AGREEING);
    poll_drive();
    ASSERT_EQ(lookup_phase(), LOOKUP_RUNNING);
    run_turns();
    EXPECT_STREQ(player.db.entries[DISC_ENTRY].title, "Mark Knopfler / Privateering (disc 2)");
    EXPECT_STREQ(player.db.entries[0].title, "Kingdom of Gold");
    EXPECT_EQ(player.db.dirty, 0);
    EXPECT_NE(disc_file().find("DTITLE=Mark Knopfler / Privateering (disc 2)"), std::string::npos);
}

TEST_F(LookupFlow, NoLookupByItselfForTitleFilesCdTextOrTheOffSwitch)
{
    // A title file of the user's.
    insert_fake_disc(AGREEING);
    build_database_path(compute_disc_id(toc_of(fake_sdl.reported)));
    fs::create_directories(home / ".kel");
    std::ofstream(database_path) << "DTITLE=Mine / Typed\n";
    poll_drive();
    EXPECT_EQ(lookup_phase(), LOOKUP_IDLE);
    EXPECT_STREQ(player.db.entries[DISC_ENTRY].title, "Mine / Typed");

    // Switched off.
    SetUp();
    lookup_settings.automatic = false;
    insert_fake_disc(AGREEING);
    poll_drive();
    EXPECT_EQ(lookup_phase(), LOOKUP_IDLE);

    // CD-TEXT on the disc.
    SetUp();
    static DriveBackend with_text = sdl_drive_backend;
    with_text.disc_text = [](DiscText &text) {
        memset(&text, 0, sizeof text);
        text.present = true;
        return 0;
    };
    set_drive_backend(&with_text);
    DriveTarget target{};
    target.kind = TARGET_SDL_NUMBER;
    ASSERT_EQ(drive_open(target), 0);
    insert_fake_disc(AGREEING);
    poll_drive();
    EXPECT_EQ(lookup_phase(), LOOKUP_IDLE);
    set_drive_backend(nullptr);
}

TEST_F(LookupFlow, ATitleFileOfEmptyFieldsIsLookedUpLikeNone)
{
    // What leaving the editor without an edit saves for a disc without titles.
    insert_fake_disc(AGREEING);
    build_database_path(compute_disc_id(toc_of(fake_sdl.reported)));
    fs::create_directories(home / ".kel");
    std::ofstream(database_path) << "DISCID=00000000\nDTITLE=\nTTITLE0=\nTTITLE1=\nEXTD=\n"
                                    "EXTT0=\nPLAYORDER=\n";
    poll_drive();
    ASSERT_EQ(lookup_phase(), LOOKUP_RUNNING);
    run_turns();
    EXPECT_STREQ(player.db.entries[DISC_ENTRY].title, "Mark Knopfler / Privateering (disc 2)");
    EXPECT_NE(disc_file().find("TTITLE0=Kingdom of Gold"), std::string::npos);
}

TEST_F(LookupFlow, TitlesOfADiscThatLeftAreNeverStored)
{
    // A drive that forgets the table when emptied, and one that keeps it.
    for (bool keeps_table : {false, true}) {
        SetUp();
        snprintf(lookup_settings.musicbrainz_url, LOOKUP_URL_SIZE, "%s",
                 server.url("slow-800").c_str());
        insert_fake_disc(AGREEING);
        poll_drive();
        ASSERT_EQ(lookup_phase(), LOOKUP_RUNNING);
        uint64_t looked_up = player.disc_id;
        if (!keeps_table)
            fake_sdl.reported = SDL_CD{};
        fake_sdl.reported.status = CD_TRAYEMPTY;
        poll_drive();
        if (!keeps_table) {
            EXPECT_EQ(lookup_phase(), LOOKUP_IDLE) << "the eject ends the lookup";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        run_turns(2);
        EXPECT_STREQ(player.db.entries[DISC_ENTRY].title, "") << keeps_table;
        build_database_path(looked_up);
        EXPECT_FALSE(fs::exists(database_path)) << keeps_table;
    }
}

TEST_F(LookupFlow, DifferingResultsAskAndNoneKeepsEverything)
{
    insert_fake_disc(DIFFERING);
    poll_drive();
    // The picker opens once the results are in; N takes none of them.
    feed_keys("n");
    run_turns();
    EXPECT_EQ(lookup_phase(), LOOKUP_IDLE);
    EXPECT_STREQ(player.db.entries[DISC_ENTRY].title, "");
    build_database_path(player.disc_id);
    EXPECT_FALSE(fs::exists(database_path));
}

TEST_F(LookupFlow, AQuitSignalClosesTheChoiceWithNothingStored)
{
    insert_fake_disc(DIFFERING);
    poll_drive();
    // The signal is in before the picker's first key, an Enter that would choose.
    player.quit = 1;
    feed_keys("\n");
    run_turns();
    EXPECT_STREQ(player.db.entries[DISC_ENTRY].title, "");
    build_database_path(player.disc_id);
    EXPECT_FALSE(fs::exists(database_path));
    EXPECT_EQ(player.quit, 1);
}

TEST_F(LookupFlow, TextsTypedMeanwhileAreNotOverwrittenWithoutAChoice)
{
    insert_fake_disc(AGREEING);
    poll_drive();
    ASSERT_EQ(lookup_phase(), LOOKUP_RUNNING);
    snprintf(player.db.entries[3].title, TEXT_FIELD_SIZE, "typed while waiting");
    player.db.dirty = 1;
    feed_keys("n");
    run_turns();
    EXPECT_STREQ(player.db.entries[3].title, "typed while waiting");
    EXPECT_STREQ(player.db.entries[DISC_ENTRY].title, "");

    // Choosing with L and Enter replaces them: the user asked.
    feed_keys("\n");
    choose_titles();
    EXPECT_STREQ(player.db.entries[3].title, "I Used to Could");
    EXPECT_NE(disc_file().find("TTITLE3=I Used to Could"), std::string::npos);
}

} // namespace
