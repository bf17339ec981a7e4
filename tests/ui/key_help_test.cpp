// SPDX-License-Identifier: GPL-3.0-or-later
#include "test_screen.h"
#include "ui/command.h"
#include "ui/key_help.h"
#include "ui/play_mode.h"
#include "ui/player_screen.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{

// Whether any row of the screen holds text.
bool screen_has(const std::string &text)
{
    for (int row = 0; row < getmaxy(stdscr); row++)
        if (row_text(row).find(text) != std::string::npos)
            return true;
    return false;
}

} // namespace

TEST(KeyHelp, ThePanelPointsToTheHelpAndTheTitlesWhereItHasRoom)
{
    DiscDatabase db{};
    DriveStatus drive{};
    open_test_screen(24, 80);
    draw_player_screen(db, drive, MODE_REPEAT_CD);
    EXPECT_EQ(row_text(14, 30, 42), "[?] - Help: all keys, what the screen says");
    EXPECT_EQ(row_text(16, 30, 39), "Space pauses. Titles are kept in ~/.kel");
    EXPECT_TRUE(cell_is(18, 28, ACS_LTEE)) << "the divider below the panel";

    // On 20 rows the divider is row 14: neither line may reach the divider.
    open_test_screen(20, 80);
    draw_player_screen(db, drive, MODE_REPEAT_CD);
    EXPECT_FALSE(screen_has("[?]"));
    EXPECT_FALSE(screen_has("~/.kel"));
    EXPECT_TRUE(cell_is(14, 28, ACS_LTEE));
    EXPECT_TRUE(cell_is(14, 50, ACS_HLINE));
}

TEST(KeyHelp, TheBoxListsEveryCommandWithKeysAndTheWordsWhereThereIsRoom)
{
    DiscDatabase db{};
    DriveStatus drive{};
    open_key_help();
    open_test_screen(40, 80);
    draw_player_screen(db, drive, MODE_REPEAT_CD);
    EXPECT_TRUE(screen_has(" Keys and words on screen "));
    EXPECT_TRUE(screen_has(" Any key closes this box "));
    // Every command a key runs, with its keys and its help line.
    for (int i = 0; i < command_count(); i++) {
        const Command &c = commands()[i];
        if (c.keys[0] == 0)
            continue;
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(screen_has(std::string(c.key_names) +
                               std::string(8 - strlen(c.key_names), ' ') + c.help));
    }
    EXPECT_TRUE(screen_has("In the title editor:"));
    EXPECT_TRUE(screen_has("Status: No Audio means no disc, or one without audio;"));
    EXPECT_TRUE(screen_has("Reading disc: the drive is still spinning it up;"));
    EXPECT_TRUE(screen_has("Titles are kept in ~/.kel, one file per disc; T opens"));
    // The panel under the box does not show through.
    EXPECT_FALSE(screen_has("Edit track database"));

    // A screen too short for the words keeps the keys.
    open_test_screen(20, 80);
    draw_player_screen(db, drive, MODE_REPEAT_CD);
    EXPECT_TRUE(screen_has("P       Start playing"));
    EXPECT_FALSE(screen_has("No Audio means"));

    close_key_help();
    open_test_screen(40, 80);
    draw_player_screen(db, drive, MODE_REPEAT_CD);
    EXPECT_FALSE(screen_has("Keys and words"));
    EXPECT_TRUE(screen_has("Edit track database"));
}

TEST(KeyHelp, TheBoxIsCutToSmallScreens)
{
    DiscDatabase db{};
    DriveStatus drive{};
    open_key_help();
    for (auto [rows, cols] : {std::pair{1, 1}, {5, 10}, {12, 40}, {18, 57}}) {
        SCOPED_TRACE(std::to_string(rows) + "x" + std::to_string(cols));
        open_test_screen(rows, cols);
        draw_player_screen(db, drive, MODE_REPEAT_CD);
        EXPECT_TRUE(cols < 20 || screen_has("Keys and")) << "the box's heading is lost";
    }
    close_key_help();
}
