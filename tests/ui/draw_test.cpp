// SPDX-License-Identifier: GPL-3.0-or-later
#include "test_screen.h"
#include "ui/draw.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

// A screen of '#' so that every cell a primitive writes shows.
void open_filled_screen(int rows, int cols)
{
    open_test_screen(rows, cols);
    for (int row = 0; row < rows; row++)
        mvwhline(stdscr, row, 0, '#', cols);
}

} // namespace

TEST(SetRect, StoresEdgesAndTheirDifferencesUnclamped)
{
    struct Case {
        int top, left, bottom, right, height, width;
    };
    const Case cases[] = {
        {0, 0, 24, 80, 24, 80},
        {9, 1, 23, 28, 14, 27},
        {19, 29, 8, 1, -11, -28},
    };
    for (const Case &c : cases) {
        Rect rect{-1, -1, -1, -1, -1, -1};
        set_rect(rect, c.top, c.left, c.bottom, c.right);
        EXPECT_EQ(rect.top, c.top);
        EXPECT_EQ(rect.left, c.left);
        EXPECT_EQ(rect.bottom, c.bottom);
        EXPECT_EQ(rect.right, c.right);
        EXPECT_EQ(rect.height, c.height);
        EXPECT_EQ(rect.width, c.width);
    }
}

TEST(DrawClipped, CutsToTheWidthWithDots)
{
    struct Case {
        int width;
        const char *printed;
    };
    const Case cases[] = {
        {20, "Disc Information"},
        {16, "Disc Information"},
        {15, "Disc Informa..."},
        {5, "Di..."},
        {4, "D..."},
        {3, "..."},
        {2, ".."},
        {1, "."},
        {0, ""},
        {-5, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.width);
        open_filled_screen(3, 30);
        draw_clipped(stdscr, 1, 2, "Disc Information", c.width);
        const std::string printed = c.printed;
        if (!printed.empty()) {
            EXPECT_EQ(getcury(stdscr), 1);
            EXPECT_EQ(getcurx(stdscr), 2 + static_cast<int>(printed.size()));
        }
        EXPECT_EQ(row_text(1, 2, 22), printed + std::string(22 - printed.size(), '#'));
        EXPECT_EQ(row_text(0), std::string(30, '#'));
        EXPECT_EQ(row_text(1, 0, 2), "##");
    }
}

TEST(DrawClipped, EmptyTextPrintsNothingAndLeavesTheCursorAtTheStart)
{
    for (int width : {-1, 0, 1, 10}) {
        open_filled_screen(3, 30);
        draw_clipped(stdscr, 2, 7, "", width);
        EXPECT_EQ(getcury(stdscr), 2);
        EXPECT_EQ(getcurx(stdscr), 7);
        EXPECT_EQ(row_text(2), std::string(30, '#'));
    }
}

TEST(DrawClipped, PrintsNothingWhenTheStartIsOffTheScreen)
{
    open_filled_screen(3, 30);
    wmove(stdscr, 0, 0);
    draw_clipped(stdscr, 3, 0, "text", 10);
    draw_clipped(stdscr, 1, 30, "text", 10);
    draw_clipped(stdscr, -1, 0, "text", 10);
    for (int row = 0; row < 3; row++)
        EXPECT_EQ(row_text(row), std::string(30, '#'));
}

// Titles come in UTF-8 or in ISO-8859-1 and are measured and cut in bytes; what
// shows must be whole characters, one cell at most per byte, with nothing left
// over to corrupt the next text.
TEST(DrawClipped, MeasuresInBytesAndShowsWholeCharacters)
{
    struct Case {
        const char *text;
        int width;
        const char *printed;
    };
    const Case cases[] = {
        // "ÄÖÜäöü": six characters, twelve bytes.
        {"\xc3\x84\xc3\x96\xc3\x9c\xc3\xa4\xc3\xb6\xc3\xbc", 12, "ÄÖÜäöü"},
        {"\xc3\x84\xc3\x96\xc3\x9c\xc3\xa4\xc3\xb6\xc3\xbc", 11, "ÄÖÜä..."},
        // The cut falls inside 'ä': its first byte is dropped.
        {"\xc3\x84\xc3\x96\xc3\x9c\xc3\xa4\xc3\xb6\xc3\xbc", 10, "ÄÖÜ..."},
        // A three-byte character cut after one and after two of its bytes.
        {"ab\xe2\x82\xac"
         "cdef",
         6, "ab..."},
        {"ab\xe2\x82\xac"
         "cdefg",
         7, "ab..."},
        {"ab\xe2\x82\xac"
         "cdefgh",
         9, "ab€c..."},
        // ISO-8859-1 bytes are not UTF-8; each shows as its own letter.
        {"Caf\xe9 au lait", 12, "Café au lait"},
        {"Caf\xe9 au lait", 8, "Café ..."},
        {"\xc3(\xff", 3, "Ã(ÿ"},
        // A lead byte at the very end of the text starts nothing.
        {"abc\xe9", 4, "abcé"},
        // Control bytes would move the cursor or take several cells.
        {"a\tb\x01"
         "c\x7f",
         6, "a?b?c?"},
        {"\x85x", 2, "?x"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.printed);
        open_filled_screen(3, 30);
        draw_clipped(stdscr, 1, 2, c.text, c.width);
        waddstr(stdscr, "|z");
        const std::string printed = std::string(c.printed) + "|z";
        const std::string row = row_text(1, 2);
        EXPECT_EQ(row.substr(0, printed.size()), printed);
        // One cell per character: the row keeps its width of 30 cells.
        EXPECT_EQ(row_text(1, 0, 2), "##");
        EXPECT_EQ(cell_text(1, 29), "#");
    }
}

TEST(DrawBytes, DropsACharacterCutByTheLimitWithoutJoiningLaterOutput)
{
    open_filled_screen(2, 20);
    wmove(stdscr, 0, 0);
    // Two of the three bytes of '€', then the last one on its own: had the
    // first two been left pending, the third would complete a '€'.
    draw_bytes(stdscr, "x\xe2\x82\xac", 3);
    draw_bytes(stdscr, "\xac", 1);
    waddstr(stdscr, "y");
    EXPECT_EQ(row_text(0, 0, 4), "x¬y#");
}

TEST(Dividers, DrawTeesAtBothEndsAndALineBetween)
{
    open_filled_screen(10, 10);
    draw_hdivider(stdscr, 2, 1, 5);
    EXPECT_EQ(cell_text(2, 0), "#");
    EXPECT_TRUE(cell_is(2, 1, ACS_LTEE));
    for (int col = 2; col <= 4; col++)
        EXPECT_TRUE(cell_is(2, col, ACS_HLINE)) << col;
    EXPECT_TRUE(cell_is(2, 5, ACS_RTEE));
    EXPECT_EQ(cell_text(2, 6), "#");

    draw_vdivider(stdscr, 4, 8, 4);
    EXPECT_EQ(cell_text(3, 8), "#");
    EXPECT_TRUE(cell_is(4, 8, ACS_TTEE));
    EXPECT_TRUE(cell_is(5, 8, ACS_VLINE));
    EXPECT_TRUE(cell_is(6, 8, ACS_VLINE));
    EXPECT_TRUE(cell_is(7, 8, ACS_BTEE));
    EXPECT_EQ(cell_text(8, 8), "#");
}

TEST(Dividers, ShortLengthsLeaveOnlyTheTees)
{
    open_filled_screen(10, 10);
    draw_hdivider(stdscr, 1, 3, 2);
    EXPECT_TRUE(cell_is(1, 3, ACS_LTEE));
    EXPECT_TRUE(cell_is(1, 4, ACS_RTEE));
    EXPECT_EQ(cell_text(1, 5), "#");

    draw_hdivider(stdscr, 3, 3, 1);
    EXPECT_TRUE(cell_is(3, 3, ACS_RTEE));
    EXPECT_EQ(row_text(3, 4), std::string(6, '#'));

    draw_vdivider(stdscr, 5, 5, 2);
    EXPECT_TRUE(cell_is(5, 5, ACS_TTEE));
    EXPECT_TRUE(cell_is(6, 5, ACS_BTEE));
    EXPECT_EQ(cell_text(7, 5), "#");

    draw_vdivider(stdscr, 5, 8, 1);
    EXPECT_TRUE(cell_is(5, 8, ACS_BTEE));
    EXPECT_EQ(cell_text(6, 8), "#");
}

TEST(Dividers, StepsOffTheScreenAreSkippedAndTheOthersStillDone)
{
    open_filled_screen(10, 10);
    // Right end beyond the edge: the line is cut there, the right tee is lost.
    draw_hdivider(stdscr, 2, 7, 6);
    EXPECT_TRUE(cell_is(2, 7, ACS_LTEE));
    EXPECT_TRUE(cell_is(2, 8, ACS_HLINE));
    EXPECT_TRUE(cell_is(2, 9, ACS_HLINE));
    EXPECT_EQ(cell_text(3, 0), "#");
    // Left end beyond the edge: no left tee, and no line from a start off the
    // screen, but the right tee.
    draw_hdivider(stdscr, 4, -2, 5);
    EXPECT_EQ(row_text(4, 0, 2), "##");
    EXPECT_TRUE(cell_is(4, 2, ACS_RTEE));
    draw_hdivider(stdscr, 5, -1, 5);
    EXPECT_TRUE(cell_is(5, 0, ACS_HLINE));
    EXPECT_TRUE(cell_is(5, 2, ACS_HLINE));
    EXPECT_TRUE(cell_is(5, 3, ACS_RTEE));

    draw_vdivider(stdscr, 7, 1, 6);
    EXPECT_TRUE(cell_is(7, 1, ACS_TTEE));
    EXPECT_TRUE(cell_is(8, 1, ACS_VLINE));
    EXPECT_TRUE(cell_is(9, 1, ACS_VLINE));
    draw_vdivider(stdscr, -3, 4, 5);
    EXPECT_EQ(cell_text(0, 4), "#");
    EXPECT_TRUE(cell_is(1, 4, ACS_BTEE));
    EXPECT_EQ(cell_text(2, 4), "#");
}
