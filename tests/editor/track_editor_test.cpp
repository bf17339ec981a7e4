// SPDX-License-Identifier: GPL-3.0-or-later
#include "database/database.h"
#include "database/disc_id.h"
#include "editor/track_editor.h"
#include "fake_sdl.h"
#include "test_screen.h"
#include "ui/message_line.h"
#include "ui/prompt.h"
#include "ui/terminal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;

// What the player hands the editor: the disc's texts and the drive's status,
// and the quit request a signal sets.
struct EditedDisc {
    DiscDatabase db;
    DriveStatus drive;
    volatile int quit;
} edited;

// What the test terminal (xterm-256color, keypad on) sends for these keys.
const std::string KEY_DOWN_SEQ = "\033OB";
const std::string KEY_UP_SEQ = "\033OA";
const std::string KEY_ENTER_SEQ = "\033OM";

std::string padded(const std::string &text, size_t width)
{
    std::string out = text.substr(0, width);
    out.resize(width, ' ');
    return out;
}

void set_title(int entry, const std::string &text)
{
    snprintf(edited.db.entries[entry].title, TEXT_FIELD_SIZE, "%s", text.c_str());
}

std::string title(int entry) { return edited.db.entries[entry].title; }

// Every run gets its own home, so saves land under /tmp and never in ~/.kel.
class TrackEditor : public ::testing::Test
{
  protected:
    fs::path home;

    void SetUp() override
    {
        reset_fake_sdl();
        edited = EditedDisc{};
        // The editor sees a quit signal through the terminal, as start-up sets it.
        set_quit_check([] { return edited.quit != 0; });
        editor_cursor_row = 0;
        editor_scroll_offset = 0;
        char pattern[] = "/tmp/mivo-editor-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home = pattern;
        setenv("HOME", pattern, 1);
    }

    void TearDown() override
    {
        set_quit_check(nullptr);
        clear_message();
        drain_keys();
        fs::remove_all(home);
    }

    // A clean slate for one case of a table.
    void fresh()
    {
        TearDown();
        SetUp();
    }

    // A disc of the given number of tracks in the drive, as the main loop last saw it.
    void insert_disc(int tracks)
    {
        std::vector<unsigned> lengths;
        for (int i = 0; i < tracks; i++)
            lengths.push_back(12000 + 75 * static_cast<unsigned>(i));
        insert_fake_disc(lengths);
        edited.drive = DriveStatus{};
        edited.drive.state = DRIVE_STOPPED;
        edited.drive.toc = toc_of(fake_sdl.reported);
    }

    // Opens the editor on a rows by cols screen, types keys and then leaves it.
    void run_editor(int rows, int cols, const std::string &keys)
    {
        open_test_screen(rows, cols);
        feed_keys(keys + "q");
        run_track_editor(edited.db, edited.drive);
    }

    // Puts a directory where the disc's file goes, so that saving it must fail.
    fs::path block_save()
    {
        build_database_path(compute_disc_id(edited.drive.toc));
        fs::path path = database_path;
        EXPECT_EQ(path.parent_path(), home / ".kel");
        fs::create_directories(path);
        return path;
    }

    // The files in $HOME/.kel after a save.
    std::vector<fs::path> saved_files()
    {
        std::vector<fs::path> out;
        if (fs::is_directory(home / ".kel"))
            for (const auto &entry : fs::directory_iterator(home / ".kel"))
                out.push_back(entry.path());
        return out;
    }
};

// Rows of the list area (rows 3 to rows - 6) whose first cell is reversed.
std::vector<int> highlighted_rows(int rows)
{
    std::vector<int> out;
    for (int r = 3; r <= rows - 6; r++)
        if (cell_attrs(r, 2) & A_REVERSE)
            out.push_back(r);
    return out;
}

TEST_F(TrackEditor, DrawsTheWholeScreenAt24x80)
{
    insert_disc(3);
    const std::string disc_title = "Artist / Album " + std::string(80, 'z');
    const std::string long_track = "Long " + std::string(90, 'y');
    set_title(DISC_ENTRY, disc_title);
    set_title(0, "Intro");
    set_title(1, long_track);
    set_title(2, "Outro");
    run_editor(24, 80, "");

    EXPECT_TRUE(cell_is(0, 0, ACS_ULCORNER));
    EXPECT_EQ(cell_pair(0, 0), 4);
    EXPECT_EQ(row_text(0, 2, 21), "KEL Track List Editor");
    EXPECT_TRUE(cell_attrs(0, 2) & A_BOLD);
    EXPECT_EQ(cell_pair(0, 2), 7);
    EXPECT_TRUE(cell_is(0, 23, ACS_HLINE));
    EXPECT_TRUE(cell_is(0, 79, ACS_URCORNER));

    // The disc title is cut to the 76 columns between the borders.
    EXPECT_EQ(row_text(1, 2, 76), disc_title.substr(0, 76));
    EXPECT_EQ(cell_pair(1, 2), 7);
    EXPECT_TRUE(cell_attrs(1, 77) & A_BOLD);
    EXPECT_EQ(row_text(1, 78, 1), " ");
    EXPECT_TRUE(cell_is(1, 79, ACS_VLINE));
    EXPECT_EQ(row_text(2, 1, 78), std::string(78, ' '));

    // Each list line fills the list's width; only the selected one is reversed.
    EXPECT_EQ(row_text(3, 2, 76), padded("01: Intro", 76));
    EXPECT_EQ(row_text(4, 2, 76), "02: " + long_track.substr(0, 72));
    EXPECT_EQ(row_text(5, 2, 76), padded("03: Outro", 76));
    EXPECT_TRUE(cell_attrs(3, 77) & A_REVERSE);
    EXPECT_EQ(highlighted_rows(24), std::vector<int>{3});
    EXPECT_FALSE(cell_attrs(3, 78) & A_REVERSE);
    EXPECT_EQ(row_text(6, 1, 78), std::string(78, ' '));
    EXPECT_EQ(title(1), long_track);

    // The separator joins the side borders with tees.
    EXPECT_TRUE(cell_is(19, 0, ACS_LTEE));
    EXPECT_TRUE(cell_is(19, 1, ACS_HLINE));
    EXPECT_TRUE(cell_is(19, 78, ACS_HLINE));
    EXPECT_TRUE(cell_is(19, 79, ACS_RTEE));
    EXPECT_EQ(cell_pair(19, 0), 4);
    EXPECT_EQ(cell_pair(19, 79), 4);
    EXPECT_TRUE(cell_is(18, 0, ACS_VLINE));
    EXPECT_EQ(row_text(20, 1, 78), std::string(78, ' '));

    struct Item {
        int row, col;
        const char *label, *text;
    } items[] = {
        {21, 2, "[E]", " - Edit track name"},
        {21, 27, "[T]", " - Change disc title"},
        {22, 2, "[Q]", " - Exit to player"},
        {22, 27, "[C]", " - Clear all tracks"},
    };
    for (const Item &item : items) {
        SCOPED_TRACE(item.label);
        EXPECT_EQ(row_text(item.row, item.col, 3), item.label);
        EXPECT_TRUE(cell_attrs(item.row, item.col) & A_BOLD);
        EXPECT_EQ(cell_pair(item.row, item.col), 3);
        int length = static_cast<int>(strlen(item.text));
        EXPECT_EQ(row_text(item.row, item.col + 3, length), item.text);
        EXPECT_EQ(cell_attrs(item.row, item.col + 4), A_NORMAL);
    }
    EXPECT_TRUE(cell_is(23, 0, ACS_LLCORNER));
    EXPECT_TRUE(cell_is(23, 40, ACS_HLINE));
    EXPECT_TRUE(cell_is(23, 79, ACS_LRCORNER));
}

TEST_F(TrackEditor, TitlesGoOutWholeCharactersAndNoControls)
{
    insert_disc(3);
    // A newline would break the line; a character cut by the width shows as a blank.
    set_title(0, "Line\nbreak\tend");
    set_title(1, std::string(71, 'a') + "\xc3\xa9");
    set_title(DISC_ENTRY, "Caf\xc3\xa9 " + std::string(80, 'z'));
    run_editor(24, 80, "");
    EXPECT_EQ(row_text(3, 2, 76), padded("01: Line?break?end", 76));
    EXPECT_TRUE(cell_is(3, 79, ACS_VLINE));
    EXPECT_EQ(row_text(4, 2, 76), "02: " + std::string(71, 'a') + " ");
    EXPECT_TRUE(cell_attrs(3, 77) & A_REVERSE);
    // Widths count bytes: the two-byte letter leaves one blank at the end.
    EXPECT_EQ(row_text(1, 2, 5), "Caf\xc3\xa9 ");
    EXPECT_EQ(row_text(1, 7, 70), std::string(70, 'z'));
    EXPECT_EQ(row_text(1, 77, 2), "  ");
    EXPECT_TRUE(cell_is(1, 79, ACS_VLINE));
}

TEST_F(TrackEditor, WalksFifteenTracksThroughATenRowList)
{
    insert_disc(15);
    // Each step is a visit of its own, so the selection also has to survive leaving.
    struct Step {
        std::string keys;
        int cursor_row, scroll_offset;
        const char *top, *highlighted;
    } steps[] = {
        {std::string(9, 'd'), 9, 0, "01", "10"},
        {"d", 9, 1, "02", "11"},
        {KEY_DOWN_SEQ + "Ddd", 9, 5, "06", "15"},
        {"dd" + KEY_DOWN_SEQ, 9, 5, "06", "15"},
        {std::string(9, 'u'), 0, 5, "06", "06"},
        {"u" + KEY_UP_SEQ + "Uuu", 0, 0, "01", "01"},
        {"uU" + KEY_UP_SEQ, 0, 0, "01", "01"},
        {std::string(14, 'd') + std::string(12, 'u'), 0, 2, "03", "03"},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.keys);
        run_editor(18, 80, step.keys);
        EXPECT_EQ(editor_cursor_row, step.cursor_row);
        EXPECT_EQ(editor_scroll_offset, step.scroll_offset);
        EXPECT_EQ(row_text(3, 2, 2), step.top);
        EXPECT_EQ(row_text(12, 2, 2), std::to_string(std::stoi(step.top) + 9));
        ASSERT_EQ(highlighted_rows(18).size(), 1u);
        EXPECT_EQ(row_text(highlighted_rows(18)[0], 2, 2), step.highlighted);
    }
}

TEST_F(TrackEditor, EnterAloneChangesNothing)
{
    insert_disc(4);
    set_title(1, "Keep me");
    set_title(DISC_ENTRY, "Keep the album");
    block_save();
    run_editor(24, 80, "d\n\nT\n");
    EXPECT_EQ(title(1), "Keep me");
    EXPECT_EQ(title(DISC_ENTRY), "Keep the album");
    EXPECT_EQ(edited.db.dirty, 0);
}

TEST_F(TrackEditor, EveryEditKeyStoresTheTypedTitleInTheSelectedTrack)
{
    for (const std::string &key :
         {std::string("\n"), std::string("E"), std::string("e"), KEY_ENTER_SEQ}) {
        SCOPED_TRACE(key == "\n" ? "newline" : key);
        fresh();
        insert_disc(5);
        set_title(1, "Old second");
        set_title(2, "Old third");
        block_save();
        run_editor(24, 80, "dd" + key + "New third\n");
        EXPECT_EQ(title(2), "New third");
        EXPECT_EQ(title(1), "Old second");
        EXPECT_EQ(row_text(5, 2, 13), "03: New third");
        EXPECT_EQ(edited.db.dirty, 1);
    }
}

TEST_F(TrackEditor, EditsTheSelectedTrackOfAScrolledList)
{
    insert_disc(15);
    run_editor(18, 80, std::string(12, 'd') + "eThirteenth\n");
    EXPECT_EQ(title(12), "Thirteenth");
    EXPECT_EQ(title(9), "");
    EXPECT_EQ(row_text(12, 2, 14), "13: Thirteenth");
}

TEST_F(TrackEditor, KeysThatAreNoCommandOnlyRedraw)
{
    insert_disc(5);
    set_title(0, "First");
    block_save();
    run_editor(24, 80, "xZ 7\033[Z!");
    EXPECT_EQ(title(0), "First");
    EXPECT_EQ(edited.db.dirty, 0);
    EXPECT_EQ(editor_cursor_row, 0);
    EXPECT_EQ(editor_scroll_offset, 0);
    EXPECT_EQ(row_text(3, 2, 9), "01: First");
}

TEST_F(TrackEditor, ALongestTitleIsStoredWhole)
{
    insert_disc(2);
    run_editor(24, 80, "e" + std::string(300, 'a') + "\n");
    EXPECT_EQ(title(0), std::string(TEXT_FIELD_SIZE - 1, 'a'));
}

TEST_F(TrackEditor, DiscTitleThroughT)
{
    for (const char *key : {"T", "t"}) {
        SCOPED_TRACE(key);
        fresh();
        insert_disc(3);
        set_title(0, "Track title");
        block_save();
        run_editor(24, 80, std::string(key) + "Someone / Something\n");
        EXPECT_EQ(title(DISC_ENTRY), "Someone / Something");
        EXPECT_EQ(title(0), "Track title");
        EXPECT_EQ(row_text(1, 2, 19), "Someone / Something");
        EXPECT_EQ(edited.db.dirty, 1);
    }
}

TEST_F(TrackEditor, ClearGivesNumberedTitlesToTheDiscsTracksOnly)
{
    for (const char *key : {"C", "c"}) {
        SCOPED_TRACE(key);
        fresh();
        insert_disc(12);
        set_title(DISC_ENTRY, "The album");
        set_title(12, "Beyond the disc");
        snprintf(edited.db.entries[3].ext, TEXT_FIELD_SIZE, "notes");
        for (int i = 0; i < 12; i++)
            set_title(i, "Named " + std::to_string(i));
        block_save();
        run_editor(24, 80, key);
        for (int i = 0; i < 12; i++)
            EXPECT_EQ(title(i), "Track " + std::to_string(i + 1));
        EXPECT_EQ(title(12), "Beyond the disc");
        EXPECT_EQ(title(DISC_ENTRY), "The album");
        EXPECT_STREQ(edited.db.entries[3].ext, "notes");
        EXPECT_EQ(edited.db.dirty, 1);
        EXPECT_EQ(row_text(14, 2, 12), "12: Track 12");
    }
}

TEST_F(TrackEditor, ClearOnADiscWithoutTracksChangesNothing)
{
    insert_disc(0);
    set_title(0, "Left alone");
    block_save();
    run_editor(24, 80, "c");
    EXPECT_EQ(title(0), "Left alone");
    EXPECT_EQ(edited.db.dirty, 0);
    EXPECT_TRUE(highlighted_rows(24).empty());
}

TEST_F(TrackEditor, ABogusTrackCountNeverReachesPastTheTracks)
{
    struct Case {
        int numtracks;
        int renamed;
    } cases[] = {{150, 99}, {-4, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.numtracks);
        fresh();
        insert_disc(3);
        block_save();
        edited.drive.toc.count = c.numtracks;
        set_title(DISC_ENTRY, "The album");
        run_editor(24, 80, "c" + std::string(120, 'd'));
        for (int i = 0; i < c.renamed; i++)
            ASSERT_EQ(title(i), "Track " + std::to_string(i + 1));
        EXPECT_EQ(title(DISC_ENTRY), "The album");
        EXPECT_LE(editor_cursor_row + editor_scroll_offset, 98);
        EXPECT_EQ(editor_cursor_row + editor_scroll_offset, c.renamed > 0 ? 98 : 0);
    }
}

TEST_F(TrackEditor, TheSelectionStaysInViewAndTheListFilledAfterAResize)
{
    struct Case {
        const char *name;
        int tracks;
        int rows;
        int downs;
        int new_tracks;
        int new_rows;
        int selected;
        int first_shown;
    };
    const Case cases[] = {
        // A 16-row list scrolled to track 21, then a 4-row one.
        {"shrunk below the selection", 30, 24, 20, 30, 12, 20, 17},
        // A 4-row list at the last track, then room for 16 rows: no empty rows.
        {"grown past the end", 30, 12, 29, 30, 24, 29, 14},
        {"grown past every track", 30, 12, 29, 30, 40, 29, 0},
        // A shorter disc than the kept selection: its last track is selected.
        {"a disc of fewer tracks", 15, 18, 12, 5, 18, 4, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
        insert_disc(c.tracks);
        run_editor(c.rows, 80, std::string(static_cast<size_t>(c.downs), 'd'));
        insert_disc(c.new_tracks);
        run_editor(c.new_rows, 80, "");

        EXPECT_EQ(editor_scroll_offset + editor_cursor_row, c.selected);
        EXPECT_EQ(editor_scroll_offset, c.first_shown);
        const int row = 3 + c.selected - c.first_shown;
        EXPECT_EQ(highlighted_rows(c.new_rows), std::vector<int>{row});
        char number[16];
        snprintf(number, sizeof number, "%02d:", c.selected + 1);
        EXPECT_EQ(row_text(row, 2, 3), number);
        // The list is filled: its last row shows a track unless the disc has
        // fewer tracks than rows.
        const int list_rows = c.new_rows - 8;
        const int last_shown = c.first_shown + list_rows - 1;
        if (last_shown < c.new_tracks) {
            snprintf(number, sizeof number, "%02d:", last_shown + 1);
            EXPECT_EQ(row_text(3 + list_rows - 1, 2, 3), number);
        }
        // E edits the selected track, the one on screen.
        run_editor(c.new_rows, 80, "eSeen\n");
        EXPECT_EQ(title(c.selected), "Seen");
    }
}

TEST_F(TrackEditor, APromptWithoutAnAnswerStoresNothing)
{
    insert_disc(3);
    run_editor(24, 80, "eFirst\n");
    ASSERT_EQ(title(0), "First");
    // Too narrow for the dialog's input line: the dialog fails and stores nothing new.
    run_editor(24, 10, "de");
    EXPECT_EQ(title(1), "");
    EXPECT_EQ(editor_cursor_row, 1);
    // Escape cancels a half-typed title, and so does a second visit's prompt.
    set_escdelay(50);
    run_editor(24, 80, "ehalf a tit\033tAlbum\033");
    EXPECT_EQ(title(1), "");
    EXPECT_EQ(title(DISC_ENTRY), "");
    EXPECT_EQ(title(0), "First");
}

TEST_F(TrackEditor, LeavingSavesTheDiscsFileEvenWithoutChanges)
{
    insert_disc(3);
    set_title(DISC_ENTRY, "Artist / Album");
    set_title(0, "Opening");
    edited.db.dirty = 1;
    run_editor(24, 80, "");

    std::vector<fs::path> files = saved_files();
    ASSERT_EQ(files.size(), 1u);
    std::ifstream in(files[0]);
    std::stringstream contents;
    contents << in.rdbuf();
    EXPECT_NE(contents.str().find("\nDTITLE=Artist / Album\n"), std::string::npos);
    EXPECT_NE(contents.str().find("\nTTITLE0=Opening\n"), std::string::npos);
    EXPECT_EQ(edited.db.dirty, 0);

    // A second visit without any change writes the file again.
    fs::remove(files[0]);
    run_editor(24, 80, "");
    EXPECT_EQ(saved_files().size(), 1u);
}

// The prompt's keys when a quit signal comes while it waits: nothing at first,
// then Escape.
int quit_while_prompting(wint_t *key)
{
    if (!edited.quit) {
        edited.quit = 1;
        return ERR;
    }
    *key = 27;
    return OK;
}

TEST_F(TrackEditor, AQuitSignalLeavesAndSavesBeforeTheNextKey)
{
    insert_disc(3);
    set_title(0, "Opening");
    edited.db.dirty = 1;
    set_prompt_key_reader(quit_while_prompting);
    // The signal comes in the prompt of E; D and Q are typed after it.
    run_editor(24, 80, "ed");
    set_prompt_key_reader(nullptr);
    EXPECT_EQ(editor_cursor_row, 0) << "a key after the signal was obeyed";
    EXPECT_EQ(title(0), "Opening");
    EXPECT_EQ(saved_files().size(), 1u);
    EXPECT_EQ(edited.db.dirty, 0);
}

TEST_F(TrackEditor, AFailedSaveKeepsTheEditsUnsaved)
{
    insert_disc(3);
    fs::path blocked = block_save();
    run_editor(24, 80, "c");
    EXPECT_EQ(title(0), "Track 1");
    EXPECT_EQ(edited.db.dirty, 1);
    EXPECT_TRUE(fs::is_directory(blocked));
    EXPECT_EQ(saved_files(), std::vector<fs::path>{blocked});
    const std::string message = current_message();
    EXPECT_EQ(message.rfind("Titles not saved: ", 0), 0u) << message;
    EXPECT_EQ(message, std::string("Titles not saved: ") + database_error());
    EXPECT_NE(message.find(blocked.string()), std::string::npos) << "the file is not named";
}

TEST_F(TrackEditor, ATitleAnotherCopySavedMeanwhileIsNamedOnTheMessageLine)
{
    insert_disc(3);
    build_database_path(compute_disc_id(edited.drive.toc));
    fs::create_directories(home / ".kel");
    std::ofstream(database_path) << "TTITLE0=first\nTTITLE1=second\n";
    ASSERT_EQ(load_database(edited.db, edited.drive.toc), 0);
    // Another copy of mivo saves both tracks while this one edits the first.
    std::ofstream(database_path) << "TTITLE0=first elsewhere\nTTITLE1=second elsewhere\n";
    run_editor(24, 80, "eFirst here\n");
    EXPECT_EQ(title(0), "First here");
    EXPECT_EQ(title(1), "second elsewhere");
    EXPECT_EQ(std::string(current_message()),
              "Track 1's title was also changed elsewhere since it was loaded; this copy's was "
              "saved.");
}

TEST_F(TrackEditor, TheMessageLineShowsOverTheBottomRowUntilAKey)
{
    insert_disc(3);
    show_message("Drive refused the command");
    // The screen the key was read on showed the message over the frame line.
    run_editor(24, 80, "");
    EXPECT_EQ(row_text(23, 2, 27), " Drive refused the command ");
    EXPECT_TRUE(cell_attrs(23, 3) & A_REVERSE);
    EXPECT_TRUE(cell_is(23, 0, ACS_LLCORNER));
    EXPECT_TRUE(cell_is(23, 29, ACS_HLINE));
    EXPECT_STREQ(current_message(), "") << "the key did not clear it";
}

TEST_F(TrackEditor, ShowsTheCursorAgainWhenLeft)
{
    insert_disc(3);
    open_test_screen(24, 80);
    curs_set(0);
    run_editor(24, 80, "d");
    EXPECT_EQ(curs_set(0), 1);
}

TEST_F(TrackEditor, SurvivesTinyTerminals)
{
    struct Case {
        int rows, cols;
        int cursor_row, scroll_offset;
    } cases[] = {
        {1, 1, 0, 3},  {2, 2, 0, 3},  {5, 10, 0, 3}, {8, 30, 0, 3},
        {9, 30, 0, 3}, {3, 80, 0, 3}, {24, 3, 3, 0}, {11, 5, 1, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.rows) + "x" + std::to_string(c.cols));
        fresh();
        insert_disc(15);
        set_title(DISC_ENTRY, std::string(200, 'D'));
        for (int i = 0; i < 15; i++)
            set_title(i, std::string(200, 'a' + static_cast<char>(i)));
        run_editor(c.rows, c.cols, "dddd" + std::string("u") + "e\nTx\nC");
        EXPECT_EQ(editor_cursor_row, c.cursor_row);
        EXPECT_EQ(editor_scroll_offset, c.scroll_offset);
        EXPECT_EQ(title(3), "Track 4");
    }
}

TEST_F(TrackEditor, NarrowTerminalsKeepTheFrameWhole)
{
    for (int cols : {40, 15, 6}) {
        SCOPED_TRACE(cols);
        fresh();
        insert_disc(15);
        set_title(DISC_ENTRY, std::string(100, 'D'));
        run_editor(24, cols, "");
        // Texts that do not fit stop short of the right border, never wrap past it.
        for (int row = 1; row < 23; row++) {
            EXPECT_TRUE(cell_is(row, 0, row == 19 ? ACS_LTEE : ACS_VLINE)) << row;
            EXPECT_TRUE(cell_is(row, cols - 1, row == 19 ? ACS_RTEE : ACS_VLINE)) << row;
        }
        EXPECT_TRUE(cell_is(0, cols - 1, ACS_URCORNER));
        const std::string heading = std::string("KEL Track List Editor").substr(0, cols - 3);
        EXPECT_EQ(row_text(0, 2, static_cast<int>(heading.size())), heading);
        EXPECT_EQ(row_text(1, 2, cols - 4), std::string(cols - 4, 'D'));
    }
}

TEST_F(TrackEditor, AOneRowListScrollsAndShowsTheSelection)
{
    insert_disc(15);
    run_editor(9, 40, "ddd");
    EXPECT_EQ(editor_cursor_row, 0);
    EXPECT_EQ(editor_scroll_offset, 3);
    EXPECT_EQ(row_text(3, 2, 36), padded("04: ", 36));
    EXPECT_EQ(highlighted_rows(9), std::vector<int>{3});
    EXPECT_TRUE(cell_is(4, 0, ACS_LTEE));
}

} // namespace
