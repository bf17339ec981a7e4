// SPDX-License-Identifier: GPL-3.0-or-later
#include "test_screen.h"
#include "ui/lookup_picker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{

CandidateList list;

void fill(int count)
{
    clear_candidates(list);
    for (int i = 0; i < count; i++) {
        Candidate &c = list.item[list.count++];
        memset(&c, 0, sizeof c);
        snprintf(c.artist, sizeof c.artist, "Artist %d", i);
        snprintf(c.title, sizeof c.title, "Album %d", i);
        c.exact = i == 0;
    }
}

TEST(LookupPicker, RowsNameEverythingTheUserChoosesBy)
{
    fill(2);
    Candidate &c = list.item[1];
    snprintf(c.year, sizeof c.year, "2012");
    snprintf(c.country, sizeof c.country, "DE");
    snprintf(c.format, sizeof c.format, "CD");
    snprintf(c.label, sizeof c.label, "Mercury");
    snprintf(c.catalog, sizeof c.catalog, "372 123-4");
    c.disc_number = 2;
    c.disc_total = 3;
    open_test_screen(24, 80);
    PickerView view = {1, 0};
    draw_lookup_picker(list, view, "");
    EXPECT_NE(row_text(0).find("Titles found"), std::string::npos);
    EXPECT_EQ(row_text(1, 2, 16), "Artist 0 / Album");
    EXPECT_EQ(row_text(2, 4, 5), "exact");
    EXPECT_EQ(row_text(3, 2, 18), "Artist 1 / Album 1");
    EXPECT_EQ(row_text(4, 4, 55), "2012, DE, CD, disc 2 of 3, Mercury 372 123-4, near     ");
    EXPECT_TRUE(cell_attrs(3, 2) & A_REVERSE) << "the selection is highlighted";
    EXPECT_FALSE(cell_attrs(1, 2) & A_REVERSE);
    EXPECT_NE(row_text(23).find("Enter"), std::string::npos);
}

TEST(LookupPicker, EscapesInTitlesShowAsOtherBytesDo)
{
    fill(1);
    snprintf(list.item[0].title, LOOKUP_TEXT_SIZE, "A\x1b[2JB");
    open_test_screen(24, 80);
    PickerView view = {0, 0};
    draw_lookup_picker(list, view, "");
    EXPECT_EQ(row_text(1, 2, 17), "Artist 0 / A?[2JB");
}

TEST(LookupPicker, SelectionScrollsIntoViewAndKeysEndTheChoice)
{
    fill(12);
    open_test_screen(10, 40); // room for four candidates
    PickerView view = {0, 0};
    for (int i = 0; i < 20; i++)
        EXPECT_EQ(picker_key(KEY_DOWN, view, list.count), PICKER_STAY);
    EXPECT_EQ(view.selected, 11);
    draw_lookup_picker(list, view, "");
    EXPECT_EQ(view.top, 8);
    EXPECT_EQ(row_text(7, 2, 20), "Artist 11 / Album 11");
    EXPECT_EQ(picker_key(KEY_UP, view, list.count), PICKER_STAY);
    EXPECT_EQ(view.selected, 10);
    EXPECT_EQ(picker_key('\n', view, list.count), PICKER_CHOSEN);
    EXPECT_EQ(picker_key('n', view, list.count), PICKER_NONE);
    EXPECT_EQ(picker_key(27, view, list.count), PICKER_NONE);
    EXPECT_EQ(picker_key('\n', view, 0), PICKER_STAY) << "nothing to take";
}

TEST(LookupPicker, StatusReplacesTheList)
{
    fill(3);
    open_test_screen(24, 80);
    PickerView view = {0, 0};
    draw_lookup_picker(list, view, "Looking up titles...");
    EXPECT_EQ(row_text(2, 2, 20), "Looking up titles...");
    EXPECT_EQ(row_text(0).find("Titles found"), std::string::npos) << "nothing found yet";
    EXPECT_EQ(row_text(3).find("Artist"), std::string::npos);
}

TEST(LookupPicker, ShowsTheHighlightedCandidatesTracks)
{
    fill(2);
    for (int i = 0; i < 2; i++) {
        list.item[i].track_count = 3;
        for (int t = 0; t < 3; t++)
            snprintf(list.item[i].track[t], LOOKUP_TEXT_SIZE, "Song %c%d", 'A' + i, t + 1);
    }
    struct Case {
        int cols, selected, row, col;
    } cases[] = {
        {80, 0, 6, 2}, // below the list, after its four rows and a blank
        {80, 1, 6, 2},
        {120, 1, 1, 62}, // beside it on a wide screen
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.cols) + " columns, candidate " + std::to_string(c.selected));
        open_test_screen(24, c.cols);
        PickerView view = {c.selected, 0};
        draw_lookup_picker(list, view, "");
        EXPECT_EQ(row_text(c.row, c.col, 7), "Tracks:");
        for (int t = 0; t < 3; t++)
            EXPECT_EQ(row_text(c.row + 1 + t, c.col, 10), "0" + std::to_string(t + 1) + " Song " +
                                                              std::string(1, 'A' + c.selected) +
                                                              std::to_string(t + 1));
    }
}

} // namespace
