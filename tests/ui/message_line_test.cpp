// SPDX-License-Identifier: GPL-3.0-or-later
#include "test_screen.h"
#include "ui/draw.h"
#include "ui/message_line.h"
#include "ui/play_mode.h"
#include "ui/player_screen.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

// A clock the tests step by hand, in whole seconds.
timespec fake_now{100, 0};

int fake_clock(clockid_t, timespec *now)
{
    *now = fake_now;
    return 0;
}

class MessageLine : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        fake_now = {100, 0};
        set_message_clock(fake_clock);
        clear_message();
    }

    void TearDown() override
    {
        clear_message();
        set_message_clock(nullptr);
    }
};

} // namespace

TEST_F(MessageLine, LastsFiveSecondsUnlessCleared)
{
    EXPECT_STREQ(current_message(), "");
    show_message("Titles not saved: %s", "/home/u/.kel/2300a005: No space left on device");
    EXPECT_STREQ(current_message(),
                 "Titles not saved: /home/u/.kel/2300a005: No space left on device");
    fake_now.tv_sec += 4;
    EXPECT_STRNE(current_message(), "") << "gone before its time";
    fake_now.tv_sec += 1;
    EXPECT_STREQ(current_message(), "");
    fake_now.tv_sec += 100;
    EXPECT_STREQ(current_message(), "") << "an expired message came back";

    show_message("Drive refused to eject");
    clear_message();
    EXPECT_STREQ(current_message(), "");

    // A new message starts its own five seconds.
    show_message("first");
    fake_now.tv_sec += 4;
    show_message("second");
    fake_now.tv_sec += 4;
    EXPECT_STREQ(current_message(), "second");
}

TEST_F(MessageLine, CutsALongMessageToTheBuffer)
{
    const std::string long_text(400, 'm');
    show_message("%s", long_text.c_str());
    EXPECT_EQ(std::string(current_message()), long_text.substr(0, MESSAGE_SIZE - 1));
}

TEST_F(MessageLine, ShowsOverThePlayersBottomFrameLineOnlyWhileItLasts)
{
    DiscDatabase db{};
    DriveStatus drive{};
    open_test_screen(24, 80);
    draw_player_screen(db, drive, MODE_REPEAT_CD);
    const std::string bottom = row_text(23);

    show_message("Volume request refused");
    draw_player_screen(db, drive, MODE_REPEAT_CD);
    EXPECT_EQ(row_text(23, 2, 24), " Volume request refused ");
    EXPECT_TRUE(cell_attrs(23, 3) & A_REVERSE);
    EXPECT_TRUE(cell_is(23, 0, ACS_LLCORNER));
    EXPECT_TRUE(cell_is(23, 26, ACS_HLINE)) << "the frame after the message";
    EXPECT_TRUE(cell_is(23, 79, ACS_LRCORNER));
    for (int row = 0; row < 23; row++) {
        SCOPED_TRACE(row);
        EXPECT_FALSE(cell_attrs(row, 3) & A_REVERSE) << "the message left its row";
    }

    fake_now.tv_sec += 5;
    draw_player_screen(db, drive, MODE_REPEAT_CD);
    EXPECT_EQ(row_text(23), bottom) << "an expired message left a mark";
}

TEST_F(MessageLine, ALongMessageEndsWithDotsBeforeTheCorner)
{
    open_test_screen(10, 30);
    werase(stdscr);
    draw_border(stdscr);
    show_message("Titles not saved: /home/user/.kel/2300a005: Read-only file system");
    draw_message_line(stdscr);
    EXPECT_EQ(row_text(9, 2, 26), " Titles not saved: /ho... ");
    EXPECT_TRUE(cell_is(9, 28, ACS_HLINE));
    EXPECT_TRUE(cell_is(9, 29, ACS_LRCORNER));
}
