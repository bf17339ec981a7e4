// SPDX-License-Identifier: GPL-3.0-or-later
#include "database/disc_texts.h"
#include "drive/drive.h"
#include "mivo_version.h"
#include "test_screen.h"
#include "ui/play_mode.h"
#include "ui/player_screen.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace
{

// The minutes and seconds that track i of a test disc lasts.
int track_minutes(int i) { return i % 60; }
int track_seconds(int i) { return i * 7 % 60; }

// What the track list shows for track index i of a test disc.
std::string track_entry(int i)
{
    char text[32];
    snprintf(text, sizeof text, "%02d - %02d:%02d", i + 1, track_minutes(i), track_seconds(i));
    return text;
}

// A player with a drive holding a disc of the given number of tracks; the
// few frames beyond the whole second show that they are dropped.
struct Player {
    // What the screen reads; the texts are large, so they live on the heap.
    struct Records {
        DiscDatabase db;
        DriveStatus drive;
        int32_t play_mode;
    };
    std::unique_ptr<Records> state = std::make_unique<Records>();
    DriveStatus &drive = state->drive;

    explicit Player(int tracks = 0, int status = DRIVE_STOPPED, int current = 0)
    {
        state->play_mode = MODE_NORMAL;
        drive.state = status;
        drive.toc.count = tracks;
        drive.track = current;
        for (int i = 0; i < tracks && i < MAX_TRACKS; i++)
            drive.toc.track[i].length =
                static_cast<uint32_t>(track_minutes(i) * 4500 + track_seconds(i) * 75 + 74);
    }

    void draw(int rows, int cols)
    {
        open_test_screen(rows, cols);
        draw_player_screen(state->db, state->drive, state->play_mode);
    }
};

bool is_bright(int row, int col)
{
    return (cell_attrs(row, col) & A_BOLD) != 0 && cell_pair(row, col) == 3;
}

bool is_dim(int row, int col)
{
    return (cell_attrs(row, col) & A_DIM) != 0 && (cell_attrs(row, col) & A_BOLD) == 0 &&
           cell_pair(row, col) == 0;
}

bool is_plain(int row, int col)
{
    return cell_attrs(row, col) == A_NORMAL && cell_pair(row, col) == 0;
}

// Every cell from col to last (both included) holds the line character.
void expect_line(int row, int first_col, int last_col, chtype acs)
{
    for (int col = first_col; col <= last_col; col++)
        EXPECT_TRUE(cell_is(row, col, acs)) << "row " << row << " col " << col;
}

void expect_column(int col, int first_row, int last_row, chtype acs)
{
    for (int row = first_row; row <= last_row; row++)
        EXPECT_TRUE(cell_is(row, col, acs)) << "row " << row << " col " << col;
}

// The text at (row, col), followed by blanks up to width cells.
void expect_text(int row, int col, const std::string &text, int width = 0)
{
    std::string padded = text;
    if (static_cast<int>(padded.size()) < width)
        padded.append(width - padded.size(), ' ');
    EXPECT_EQ(row_text(row, col, static_cast<int>(padded.size())), padded)
        << "row " << row << " col " << col;
}

// The key hints: row within the panel, right group or not, key.
struct Hint {
    int row;
    bool right;
    char key;
    const char *label;
};
const Hint hints[] = {
    {1, false, 'P', "- Start playing"},
    {2, false, 'U', "- Pause or restart"},
    {3, false, 'E', "- Eject CDROM"},
    {4, false, 'S', "- Stop playing"},
    {5, false, 'M', "- Change play mode"},
    {1, true, '-', "- Previous track"},
    {2, true, '+', "- Next track"},
    {3, true, 'G', "- Go to track"},
    {4, true, ']', "- Skip ahead"},
    {5, true, '[', "- Skip back"},
    {7, false, '*', "- Increase volume"},
    {8, false, '/', "- Decrease volume"},
    {10, false, 'T', "- Edit track database"},
    {11, false, 'Q', "- Quit"},
};

} // namespace

TEST(PlayerScreen, LaysOutTheWorkedExampleOn24By80)
{
    Player p(25, DRIVE_PLAYING, 2);
    p.drive.toc.track[2].length = 4 * 4500 + 27 * 75;
    p.drive.frame = 3 * 4500 + 7 * 75 + 20;
    strcpy(p.state->db.entries[DISC_ENTRY].title, "Kind of Blue");
    strcpy(p.state->db.entries[2].title, "So What");
    p.draw(24, 80);

    // The border with its default corners and the tees of the three dividers.
    EXPECT_TRUE(cell_is(0, 0, ACS_ULCORNER));
    EXPECT_TRUE(cell_is(0, 79, ACS_URCORNER));
    EXPECT_TRUE(cell_is(23, 0, ACS_LLCORNER));
    EXPECT_TRUE(cell_is(23, 79, ACS_LRCORNER));
    expect_line(0, 1, 1, ACS_HLINE);
    expect_line(0, 12, 27, ACS_HLINE);
    expect_line(0, 29, 29, ACS_HLINE);
    expect_line(0, 43, 78, ACS_HLINE);
    expect_line(23, 1, 27, ACS_HLINE);
    expect_line(23, 29, 78, ACS_HLINE);
    expect_column(0, 1, 7, ACS_VLINE);
    expect_column(0, 9, 22, ACS_VLINE);
    expect_column(79, 1, 17, ACS_VLINE);
    expect_column(79, 19, 22, ACS_VLINE);
    EXPECT_TRUE(cell_is(0, 28, ACS_TTEE));
    EXPECT_TRUE(cell_is(23, 28, ACS_BTEE));
    expect_column(28, 1, 7, ACS_VLINE);
    expect_column(28, 9, 17, ACS_VLINE);
    expect_column(28, 19, 22, ACS_VLINE);
    EXPECT_TRUE(cell_is(18, 28, ACS_LTEE));
    expect_line(18, 29, 29, ACS_HLINE);
    expect_line(18, 46, 78, ACS_HLINE);
    EXPECT_TRUE(cell_is(18, 79, ACS_RTEE));
    EXPECT_TRUE(cell_is(8, 0, ACS_LTEE));
    expect_line(8, 1, 1, ACS_HLINE);
    expect_line(8, 12, 27, ACS_HLINE);
    EXPECT_TRUE(cell_is(8, 28, ACS_RTEE));
    for (auto [row, col] :
         {std::pair{0, 0}, {0, 28}, {8, 0}, {8, 28}, {18, 79}, {23, 40}, {12, 28}}) {
        EXPECT_EQ(cell_pair(row, col), 4) << row << "," << col;
        EXPECT_EQ(cell_attrs(row, col) & A_BOLD, 0u) << row << "," << col;
    }

    // Banner and box titles.
    expect_text(0, 2, MIVO_NAME_VERSION);
    expect_text(0, 30, "Control Panel");
    expect_text(8, 2, "Track List");
    expect_text(18, 30, "Disc Information");
    for (int col = 2; col < 12; col++) {
        EXPECT_TRUE(cell_attrs(0, col) & A_BOLD);
        EXPECT_EQ(cell_pair(0, col), 7);
    }
    for (auto [row, col] : {std::pair{0, 30}, {0, 42}, {8, 2}, {8, 11}, {18, 30}, {18, 45}}) {
        EXPECT_TRUE(cell_attrs(row, col) & A_BOLD) << row << "," << col;
        EXPECT_EQ(cell_pair(row, col), 4) << row << "," << col;
    }

    // Row top of every box stays empty.
    expect_text(1, 1, "", 27);
    expect_text(1, 29, "", 50);
    expect_text(9, 1, "", 27);
    expect_text(19, 29, "", 50);

    // Status box: labels in column 2, values in column 14, all plain.
    const char *labels[] = {"Status:", "Play mode:", "Track:", "Time:", "CD:"};
    for (int k = 0; k < 5; k++)
        expect_text(2 + k, 1, std::string(" ") + labels[k], 13);
    expect_text(2, 14, "Playing", 14);
    expect_text(3, 14, "Normal", 14);
    expect_text(4, 14, "3 of 25", 14);
    expect_text(5, 14, "03:07", 14);
    // The disc's length: the sum of the test disc's track lengths.
    int total = 0;
    for (int i = 0; i < 25; i++)
        total += static_cast<int>(p.drive.toc.track[i].length);
    char cd_time[16];
    snprintf(cd_time, sizeof cd_time, "%02d:%02d", total / 4500, total / 75 % 60);
    expect_text(6, 14, cd_time, 14);
    for (int row = 2; row <= 6; row++)
        for (int col : {2, 14})
            EXPECT_TRUE(is_plain(row, col)) << row << "," << col;

    // Track list: 1 to 13 on the left in column 3, 14 to 25 on the right in
    // column 15; track 3 (4:27) bold, as it is playing.
    for (int k = 0; k < 13; k++) {
        const std::string right = k < 12 ? track_entry(13 + k) : "";
        const std::string left = k == 2 ? "03 - 04:27" : track_entry(k);
        expect_text(10 + k, 1, "  " + left + "  " + right, 27);
    }
    for (int col = 3; col < 13; col++)
        EXPECT_TRUE(cell_attrs(12, col) & A_BOLD) << col;
    EXPECT_FALSE(cell_attrs(12, 13) & A_BOLD);
    EXPECT_FALSE(cell_attrs(11, 3) & A_BOLD);
    EXPECT_FALSE(cell_attrs(13, 3) & A_BOLD);
    EXPECT_EQ(cell_pair(12, 3), 0);

    // Control panel: hints in columns 30 and 55, labels in 34 and 59.
    for (const Hint &hint : hints) {
        SCOPED_TRACE(hint.label);
        const int row = 1 + hint.row;
        const int col = hint.right ? 55 : 30;
        expect_text(row, col, std::string("[") + hint.key + "] " + hint.label);
        EXPECT_TRUE(is_bright(row, col));
        EXPECT_TRUE(is_bright(row, col + 2));
        EXPECT_TRUE(is_plain(row, col + 3));
        EXPECT_TRUE(is_plain(row, col + 4));
    }
    expect_text(7, 29, "", 50);
    expect_text(10, 29, "", 50);
    expect_text(13, 29, "", 50);

    // Disc information: labels in column 30, titles in column 39.
    expect_text(20, 29, " Title:   Kind of Blue", 50);
    expect_text(21, 29, " Track:   So What", 50);
    EXPECT_TRUE(is_plain(20, 30));
    EXPECT_TRUE(is_plain(21, 38));
    for (auto [row, col] : {std::pair{20, 39}, {20, 50}, {21, 39}, {21, 45}}) {
        EXPECT_TRUE(cell_attrs(row, col) & A_BOLD) << row << "," << col;
        EXPECT_EQ(cell_pair(row, col), 1) << row << "," << col;
    }
    EXPECT_TRUE(is_plain(20, 51));
    expect_text(22, 29, "", 50);

    // Drawing leaves the window's attributes as it found them.
    EXPECT_EQ(getattrs(stdscr), static_cast<int>(A_NORMAL));
}

TEST(PlayerScreen, TrackListFollowsTheCurrentTrack)
{
    struct Case {
        int rows, tracks, current, first, last;
    };
    const Case cases[] = {
        {20, 25, 0, 0, 17},  {20, 25, 9, 0, 17},  {20, 25, 12, 3, 20},  {20, 25, 20, 7, 24},
        {20, 25, 24, 7, 24}, {24, 25, 20, 0, 24}, {24, 99, 50, 37, 62}, {24, 99, 98, 73, 98},
        {24, 99, 0, 0, 25},  {12, 5, 3, 2, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.rows) + " rows, " + std::to_string(c.tracks) +
                     " tracks, current " + std::to_string(c.current));
        Player p(c.tracks, DRIVE_PAUSED, c.current);
        p.draw(c.rows, 80);
        const int per_column = c.rows - 11;
        for (int k = 0; k < per_column; k++) {
            const int left = c.first + k;
            const int right = c.first + per_column + k;
            expect_text(
                10 + k, 1,
                "  " + track_entry(left) + "  " + (right <= c.last ? track_entry(right) : ""), 27);
        }
    }
}

TEST(PlayerScreen, TrackListIsEmptyBelowTwelveRows)
{
    Player p(10, DRIVE_PLAYING, 0);
    p.draw(11, 80);
    for (int row = 1; row < 10; row++)
        EXPECT_EQ(row_text(row, 1, 27).find(" - "), std::string::npos) << row;
    EXPECT_EQ(row_text(10, 0).find("01 - "), std::string::npos);
}

TEST(PlayerScreen, CurrentTrackIsBoldOnlyWhilePlaying)
{
    for (int status : {DRIVE_PLAYING, DRIVE_PAUSED, DRIVE_STOPPED}) {
        SCOPED_TRACE(status);
        Player p(8, status, 4);
        p.draw(24, 80);
        for (int k = 0; k < 8; k++)
            EXPECT_EQ((cell_attrs(10 + k, 3) & A_BOLD) != 0, status == DRIVE_PLAYING && k == 4)
                << k;
    }
}

TEST(PlayerScreen, KeyHintsAreDimWhenTheDriveCannotUseThem)
{
    struct Case {
        int status;
        const char *bright;
    };
    const Case cases[] = {
        {DRIVE_NO_DISC, "MQ"},
        {DRIVE_ERROR, "EMQ"},
        {DRIVE_STOPPED, "PUESM-+G][*/TQ"},
        {DRIVE_PLAYING, "PUESM-+G][*/TQ"},
        {DRIVE_PAUSED, "PUESM-+G][*/TQ"},
        {7, "EMQ"},
        {-2, "EMQ"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        Player p(3, c.status, 0);
        p.draw(24, 80);
        for (const Hint &hint : hints) {
            const int row = 1 + hint.row;
            const int col = hint.right ? 55 : 30;
            const bool bright = strchr(c.bright, hint.key) != nullptr;
            for (int cell = col; cell < col + 3; cell++) {
                EXPECT_EQ(is_bright(row, cell), bright) << hint.key;
                EXPECT_EQ(is_dim(row, cell), !bright) << hint.key;
            }
            EXPECT_TRUE(is_plain(row, col + 4)) << hint.key;
        }
    }
}

TEST(PlayerScreen, ShowsTheStatusAndPlayModeTexts)
{
    struct Case {
        int status;
        bool reading;
        int play_mode;
        const char *status_text;
        const char *mode_text;
    };
    const Case cases[] = {
        {DRIVE_ERROR, false, MODE_REPEAT_CD, "Error", "Repeat CD"},
        {DRIVE_NO_DISC, false, MODE_REPEAT_TRACK, "No Audio", "Repeat Track"},
        {DRIVE_NO_DISC, true, MODE_NORMAL, "Reading disc", "Normal"},
        {DRIVE_STOPPED, false, MODE_NORMAL, "Stopped", "Normal"},
        // Only a drive without a disc is reading one.
        {DRIVE_STOPPED, true, MODE_NORMAL, "Stopped", "Normal"},
        {DRIVE_PLAYING, false, 3, "Playing", "(Unknown)"},
        {DRIVE_PAUSED, false, -1, "Paused", "(Unknown)"},
        {4, false, INT_MIN, "(Unknown)", "(Unknown)"},
        {-2, false, INT_MAX, "(Unknown)", "(Unknown)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status_text);
        Player p(3, c.status, 0);
        p.state->play_mode = c.play_mode;
        p.state->drive.reading = c.reading;
        p.draw(24, 80);
        expect_text(2, 14, c.status_text, 14);
        expect_text(3, 14, c.mode_text, 14);
    }
}

// Which way the disc plays: "digital" under the status when mivo reads the
// audio itself, nothing more for a drive's own output.
TEST(PlayerScreen, TellsADiscReadDigitallyFromOnePlayedByTheDrive)
{
    static DriveBackend backend{};
    backend.open = [](const DriveTarget &) { return 0; };
    backend.close = [] {};
    DriveTarget target{};
    for (const char *name : {"digital", "sdl"}) {
        backend.name = name;
        set_drive_backend(&backend);
        ASSERT_EQ(drive_open(target), 0);
        Player p(3);
        p.draw(24, 80);
        if (strcmp(name, "digital") == 0) {
            expect_text(7, 1, " Audio:", 13);
            expect_text(7, 14, "digital", 14);
        } else {
            expect_text(7, 1, "", 27);
        }
        drive_close();
        set_drive_backend(nullptr);
    }
}

TEST(PlayerScreen, EmptyDriveShowsNoTracksAndNoTime)
{
    Player p(0, DRIVE_NO_DISC, 0);
    p.draw(24, 80);
    expect_text(2, 14, "No Audio", 14);
    expect_text(4, 14, "1 of 0", 14);
    expect_text(5, 14, "00:00", 14);
    expect_text(6, 14, "00:00", 14);
    for (int row = 9; row <= 22; row++)
        expect_text(row, 1, "", 27);
}

TEST(PlayerScreen, NarrowScreensCutTheLabelsWithDots)
{
    Player p(3, DRIVE_STOPPED, 0);
    p.draw(24, 76);
    for (const Hint &hint : hints)
        expect_text(1 + hint.row, hint.right ? 59 : 34, hint.label);

    p.draw(24, 70);
    expect_text(2, 59, "- Previ...");
    expect_text(3, 59, "- Next ...");
    expect_text(4, 59, "- Go to...");
    expect_text(5, 59, "- Skip ...");
    for (int row = 2; row <= 6; row++)
        EXPECT_TRUE(cell_is(row, 69, ACS_VLINE)) << row;
    expect_text(2, 34, "- Start playing");
}

TEST(PlayerScreen, CutsALongDiscTitleToTheBox)
{
    Player p(3, DRIVE_STOPPED, 0);
    const std::string title = "A title of forty-five bytes, far too long!!!!";
    ASSERT_EQ(title.size(), 45u);
    strcpy(p.state->db.entries[DISC_ENTRY].title, title.c_str());
    strcpy(p.state->db.entries[0].title, title.substr(0, 40).c_str());
    p.draw(24, 80);
    expect_text(20, 39, title.substr(0, 37) + "...");
    expect_text(21, 39, title.substr(0, 40));
    EXPECT_TRUE(cell_is(20, 79, ACS_VLINE));
    EXPECT_TRUE(cell_is(21, 79, ACS_VLINE));
}

TEST(PlayerScreen, ShowsUtf8AndIso88591TitlesAsTheirLetters)
{
    Player p(3, DRIVE_STOPPED, 1);
    strcpy(p.state->db.entries[DISC_ENTRY].title, "Caf\xc3\xa9 \xe2\x80\x93 Bj\xc3\xb6rk");
    strcpy(p.state->db.entries[1].title, "Caf\xe9 cr\xe8me");
    p.draw(24, 80);
    // Read back by cells: twelve and ten of them.
    EXPECT_EQ(row_text(20, 39, 12), "Café – Björk");
    expect_text(20, 51, "", 28);
    EXPECT_EQ(row_text(21, 39, 10), "Café crème");
    expect_text(21, 49, "", 30);
    EXPECT_TRUE(cell_is(20, 79, ACS_VLINE));
}

// A drive can report anything; the screen reads no entry or track that does
// not exist, and a current track that names no entry shows no title.
TEST(PlayerScreen, SurvivesCountsAndPositionsOutsideTheDisc)
{
    struct Case {
        int tracks, current;
    };
    const Case cases[] = {{500, 50}, {500, 700}, {-3, 0}, {INT_MIN, INT_MIN}, {INT_MAX, INT_MAX},
                          {99, 99},  {99, 100},  {5, -1}, {120, -7},          {10, INT_MAX}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.tracks) + " tracks, current " + std::to_string(c.current));
        Player p(c.tracks, DRIVE_PLAYING, c.current);
        for (int i = 0; i < DB_ENTRY_COUNT; i++)
            snprintf(p.state->db.entries[i].title, TEXT_FIELD_SIZE, "entry %d", i);
        p.draw(24, 80);
        const std::string track_title = row_text(21, 39, 40);
        if (c.current >= 0 && c.current < DB_ENTRY_COUNT)
            expect_text(21, 39, "entry " + std::to_string(c.current), 40);
        else
            expect_text(21, 39, "", 40);
        for (int row = 10; row <= 22; row++)
            EXPECT_EQ(row_text(row, 1, 27).find("100 - "), std::string::npos) << row;
    }
    Player too_many(500, DRIVE_PLAYING, 700);
    too_many.draw(24, 80);
    expect_text(22, 15, track_entry(98));
}

TEST(PlayerScreen, DrawsOnAnyScreenSize)
{
    Player p(99, DRIVE_PLAYING, 40);
    for (int i = 0; i < DB_ENTRY_COUNT; i++)
        memset(p.state->db.entries[i].title, 'x', TEXT_FIELD_SIZE - 1);
    const int sizes[] = {1, 2, 3, 5, 8, 11, 12, 18, 19, 24, 29, 30, 31, 34, 60, 300};
    for (int rows : sizes)
        for (int cols : {1, 2, 3, 4, 5, 10, 27, 28, 29, 30, 31, 33, 40, 59, 80, 1000}) {
            SCOPED_TRACE(std::to_string(rows) + "x" + std::to_string(cols));
            p.draw(rows, cols);
            EXPECT_EQ(getmaxy(stdscr), rows);
            EXPECT_EQ(getmaxx(stdscr), cols);
        }
    p.draw(300, 1000);
    EXPECT_TRUE(cell_is(299, 999, ACS_LRCORNER));
    // A wide screen's left column is 40 columns wider, for the titles.
    EXPECT_TRUE(cell_is(294, 68, ACS_LTEE));
    EXPECT_TRUE(cell_is(294, 999, ACS_RTEE));
    expect_text(10, 3, track_entry(0));
    expect_text(108, 3, track_entry(98));
    expect_text(109, 3, "", 10);
}

TEST(PlayerScreen, AZeroStatusShowsAnEmptyDrive)
{
    Player p;
    p.state->drive = DriveStatus{};
    p.draw(24, 80);
    expect_text(2, 14, "No Audio", 14);
    expect_text(4, 14, "1 of 0", 14);
}

namespace
{

// The cursor's clock, stepped by the test.
timespec cursor_now = {1000, 0};
int cursor_clock(clockid_t, timespec *t)
{
    *t = cursor_now;
    return 0;
}

// The entry drawn in reverse video in the track list of an 80-column screen,
// or "" when none is.
std::string entry_with(attr_t attr, int rows)
{
    for (int row = 10; row < rows - 1; row++)
        for (int col : {3, 15})
            if (cell_attrs(row, col) & attr)
                return row_text(row, col, 10);
    return "";
}

std::string entry_under_cursor(int rows) { return entry_with(A_REVERSE, rows); }

} // namespace

TEST(PlayerScreen, TheCursorMovesThroughTheTrackListAndReturnsToThePlayingTrack)
{
    set_track_cursor_clock(cursor_clock);
    struct Case {
        const char *what;
        std::vector<CursorMove> moves;
        int under_cursor;
    };
    // 24 rows: two columns of 13 entries, so a page is 13 tracks.
    const Case cases[] = {
        {"on the playing track at first", {}, 5},
        {"down", {CURSOR_DOWN, CURSOR_DOWN}, 7},
        {"up", {CURSOR_UP}, 4},
        {"up stops at the first", {CURSOR_FIRST, CURSOR_UP}, 0},
        {"down stops at the last", {CURSOR_LAST, CURSOR_DOWN}, 29},
        {"a page down", {CURSOR_PAGE_DOWN}, 18},
        {"pages down stop at the last", {CURSOR_PAGE_DOWN, CURSOR_PAGE_DOWN}, 29},
        {"a page up stops at the first", {CURSOR_PAGE_UP}, 0},
        {"a page back up", {CURSOR_LAST, CURSOR_PAGE_UP}, 16},
        {"home", {CURSOR_DOWN, CURSOR_FIRST}, 0},
        {"end", {CURSOR_LAST}, 29},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        follow_playing_track();
        Player p(30, DRIVE_PLAYING, 5);
        p.draw(24, 80);
        for (CursorMove move : c.moves) {
            cursor_now.tv_sec += 1;
            move_track_cursor(move, p.drive);
        }
        p.draw(24, 80);
        EXPECT_EQ(track_under_cursor(p.drive), c.under_cursor);
        EXPECT_EQ(entry_under_cursor(24), track_entry(c.under_cursor))
            << "not in view or not shown";
        // The playing track stays bold wherever the cursor is.
        EXPECT_EQ(entry_with(A_BOLD, 24), track_entry(5));
        // The cursor rests on its track 5 seconds after the last move, then
        // follows the playing track again.
        cursor_now.tv_sec += 4;
        EXPECT_EQ(track_under_cursor(p.drive), c.under_cursor);
        cursor_now.tv_sec += 1;
        p.drive.track = 9;
        p.draw(24, 80);
        EXPECT_EQ(entry_under_cursor(24), track_entry(9));
    }
    // A disc without tracks has no cursor to move.
    Player empty(0, DRIVE_NO_DISC, 0);
    move_track_cursor(CURSOR_DOWN, empty.drive);
    EXPECT_EQ(track_under_cursor(empty.drive), -1);
    set_track_cursor_clock(nullptr);
    follow_playing_track();
}

TEST(PlayerScreen, WideScreensShowTheTitlesInTheTrackList)
{
    Player p(4, DRIVE_STOPPED, 0);
    snprintf(p.state->db.entries[0].title, TEXT_FIELD_SIZE, "Opening");
    snprintf(p.state->db.entries[1].title, TEXT_FIELD_SIZE, "A title far too long for its column");
    // 140 columns: the left boxes are 30 columns wider, 27 columns an entry.
    p.draw(24, 140);
    EXPECT_TRUE(cell_is(8, 58, ACS_RTEE));
    expect_text(10, 3, track_entry(0) + " Opening");
    expect_text(11, 3, track_entry(1) + " A title far ...");
    expect_text(12, 3, track_entry(2) + "  ", 12);
    // 80 columns keep the numbers and times alone.
    p.draw(24, 80);
    expect_text(10, 1, "  " + track_entry(0) + "  ", 14);
}
