// SPDX-License-Identifier: GPL-3.0-or-later
#include "database/disc_id.h"
#include "database_test_support.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstring>

using namespace dbtest;

namespace
{

TEST(DiscId, IsComputedFromTheTableOfContents)
{
    struct Case {
        const char *what;
        std::vector<uint32_t> offsets;
        uint32_t leadout;
        uint64_t id;
    } cases[] = {
        {"no tracks", {}, 0, 0},
        {"two tracks of 200 s", {0, 15000}, 30000, 0x02019002},
        {"digit sum 147 sign-extends",
         {399 * 75, 489 * 75, 579 * 75, 669 * 75, 759 * 75, 849 * 75, 939 * 75},
         1200 * 75,
         0xffffffff93032107},
        {"frame 74 adds nothing", {74}, 750, 0x00000a01},
        {"frame 75 adds one", {75}, 750, 0x01000901},
        {"1234 s adds 10", {1234 * 75}, 1300 * 75, 0x0a004201},
        {"seconds run into the top byte", {0}, 70000u * 75, 0x01117001},
        {"lead-out before the first track wraps", {750}, 0, 0xfffffffffffff601},
        {"sum 255 gives top byte 0",
         {69 * 75, 69 * 75, 69 * 75, 69 * 75, 69 * 75, 69 * 75, 69 * 75, 69 * 75, 69 * 75, 69 * 75,
          69 * 75, 69 * 75, 69 * 75, 69 * 75, 69 * 75, 69 * 75, 69 * 75},
         100 * 75,
         0x00001f11},
    };
    for (const Case &c : cases) {
        Toc cd = make_disc(c.offsets, c.leadout);
        EXPECT_EQ(id_text(compute_disc_id(cd)), id_text(c.id)) << c.what;
    }
}

TEST(DiscId, NegativeTrackCountIsTheIdItselfWidened)
{
    Toc cd{};
    cd.count = -1;
    EXPECT_EQ(compute_disc_id(cd), 0xffffffffffffffffu);
    EXPECT_EQ(disc_length_frames(cd), 0);
}

// Track counts beyond the handle's table must not read past it; the count
// itself still goes into the low byte.
TEST(DiscId, TrackCountBeyondTheTableReadsOnlyTheTable)
{
    Toc cd{};
    cd.count = 150;
    for (int i = 0; i <= MAX_TRACKS; i++) {
        cd.track[i].offset = static_cast<uint32_t>(i) * 750;
        cd.track[i].length = 750;
    }
    EXPECT_EQ(compute_disc_id(cd) & 0xff, 150u);
    EXPECT_EQ(disc_length_frames(cd), MAX_TRACKS * 750);
}

// Stored entries carry the id that other programs computed from the same
// offsets; ids whose top byte is 0x80 or more are found under 16 digits.
TEST(DiscId, MatchesTheIdsOfStoredEntries)
{
    const char *entries[] = {"0a0dd914", "0a0f5811", "12025d03", "1c11c714", "2f0d8939",
                             "38043805", "4510fd16", "6f0c6509", "7908090a", "8309a80a",
                             "940c700b", "a10b600c", "a70c310c", "a80b460c", "d1115d11"};
    for (const char *name : entries) {
        std::string text = read_file(test_data(std::string("xmcd/") + name + ".xmcd"));
        ASSERT_FALSE(text.empty()) << name;
        Toc cd = disc_of_entry(text);
        ASSERT_GT(cd.count, 0) << name;
        std::string expected = name;
        EXPECT_NE(text.find("DISCID=" + expected), std::string::npos) << name;
        if (std::stoul(expected.substr(0, 2), nullptr, 16) >= 0x80)
            expected = "ffffffff" + expected;
        EXPECT_EQ(id_text(compute_disc_id(cd)), expected) << name;
    }
}

TEST(DiscLength, SumsTheTrackLengthsWithoutTheLeadOut)
{
    struct Case {
        const char *what;
        std::vector<uint32_t> lengths;
        uint32_t leadout_length;
        int32_t frames;
    } cases[] = {
        {"no tracks", {}, 500, 0},
        {"lengths, not offsets", {100, 200}, 999, 300},
        {"wraps in 32 bits", {0xffffffffu, 2}, 0, 1},
        {"may come out negative", {0x80000000u, 5}, 0, INT32_MIN + 5},
    };
    for (const Case &c : cases) {
        Toc cd{};
        cd.count = static_cast<int>(c.lengths.size());
        for (size_t i = 0; i < c.lengths.size(); i++) {
            cd.track[i].length = c.lengths[i];
            cd.track[i].offset = 99999;
        }
        cd.track[c.lengths.size()].length = c.leadout_length;
        EXPECT_EQ(disc_length_frames(cd), c.frames) << c.what;
    }
}

class DatabasePath : public TempHomeTest
{
};

TEST_F(DatabasePath, FollowsHomeWhenItIsSet)
{
    build_database_path(0x02019002);
    EXPECT_EQ(std::string(database_path), home + "/.kel/02019002");
    build_database_path(0xffffffff93032107);
    EXPECT_EQ(std::string(database_path), home + "/.kel/ffffffff93032107");

    setenv("HOME", "", 1);
    build_database_path(0);
    EXPECT_STREQ(database_path, "/.kel/00000000");
}

TEST_F(DatabasePath, FallsBackToThePasswordDatabase)
{
    const passwd *entry = getpwuid(getuid());
    if (entry == nullptr || entry->pw_dir == nullptr)
        GTEST_SKIP() << "this user has no password-database entry";
    std::string expected = std::string(entry->pw_dir) + "/.kel/02019002";
    unsetenv("HOME");
    build_database_path(0x02019002);
    EXPECT_EQ(std::string(database_path), expected);
}

// A path longer than the buffer holds is never cut to another name: the
// call fails and leaves no path at all. The longest that fits is 1022.
TEST_F(DatabasePath, APathThatDoesNotFitNamesNoFile)
{
    for (size_t home_length : {1009u, 1100u}) {
        std::string long_home = "/" + std::string(home_length - 1, 'h');
        setenv("HOME", long_home.c_str(), 1);
        memset(database_path, 'x', sizeof database_path - 1);
        EXPECT_EQ(build_database_path(0x02019002), -1) << home_length;
        EXPECT_STREQ(database_path, "") << home_length;
    }

    std::string fits = "/" + std::string(1022 - 1 - 14, 'h');
    setenv("HOME", fits.c_str(), 1);
    EXPECT_EQ(build_database_path(0x02019002), 0);
    EXPECT_EQ(std::string(database_path), fits + "/.kel/02019002");
    EXPECT_EQ(strlen(database_path), 1022u);
}

// The user id must have no password-database entry, which only root can
// arrange by switching to an unused id inside the dying child.
TEST_F(DatabasePath, NoHomeAnywhereEndsTheProcess)
{
    uid_t nobody = 0;
    if (getuid() == 0) {
        for (uid_t candidate = 54321; candidate < 64000 && nobody == 0; candidate++) {
            if (getpwuid(candidate) == nullptr)
                nobody = candidate;
        }
    } else if (getpwuid(getuid()) == nullptr) {
        nobody = getuid();
    }
    if (nobody == 0)
        GTEST_SKIP() << "cannot become a user without a password-database entry";

    EXPECT_EXIT(
        {
            unsetenv("HOME");
            if (setuid(nobody) != 0)
                _exit(99);
            build_database_path(0x02019002);
            _exit(0);
        },
        ::testing::ExitedWithCode(1), "\\$HOME not set\\. giving up\\.");
}

} // namespace
