// SPDX-License-Identifier: GPL-3.0-or-later
#include "test_screen.h"
#include "ui/prompt.h"
#include "ui/screen.h"
#include "ui/terminal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace
{

// Covers the whole screen with 'x' so that cells the dialog must not touch,
// and cells it must clear, can be told apart.
void fill_screen()
{
    for (int row = 0; row < getmaxy(stdscr); row++)
        mvwhline(stdscr, row, 0, 'x', getmaxx(stdscr));
}

// Puts the terminal in modes the dialog must undo: a slow half-delay, the
// cursor shown and leaveok off.
void leave_idle_input_mode()
{
    halfdelay(20);
    curs_set(1);
    leaveok(stdscr, FALSE);
}

// Checks that the terminal is back in the idle input mode: the cursor hidden,
// leaveok on, no echo, and a key read that gives up after half a second.
void expect_idle_input_mode()
{
    EXPECT_EQ(curs_set(0), 0) << "cursor left visible";
    EXPECT_TRUE(is_leaveok(stdscr));

    const int row = getcury(stdscr);
    const std::string before = row_text(row);
    feed_keys("Z");
    EXPECT_EQ(wgetch(stdscr), 'Z');
    EXPECT_EQ(row_text(row), before) << "a key read outside the dialog was echoed";

    // Should the read wait for ever, the late key ends it and fails the check.
    std::atomic<bool> done{false};
    std::thread late_key([&done] {
        for (int i = 0; i < 60 && !done; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!done)
            feed_keys("L");
    });
    const auto start = std::chrono::steady_clock::now();
    const int key = wgetch(stdscr);
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    done = true;
    late_key.join();
    EXPECT_EQ(key, ERR);
    EXPECT_GT(waited, 0.3);
    EXPECT_LT(waited, 1.5) << "not the half-delay of half a second";
    drain_keys();
}

// One step of a scripted prompt: a key as wget_wch gives it, or a resize of
// the screen to rows by cols, which the reader reports as KEY_RESIZE.
struct ScriptStep {
    int result;
    wint_t key;
    int rows;
    int cols;
    // A quit signal comes while this step's key is read.
    bool quit = false;
};

std::vector<ScriptStep> script;
size_t script_at;

ScriptStep typed(wint_t key) { return {OK, key, 0, 0}; }
ScriptStep resized(int rows, int cols) { return {KEY_CODE_YES, KEY_RESIZE, rows, cols}; }
ScriptStep with_quit(ScriptStep step)
{
    step.quit = true;
    return step;
}

std::vector<ScriptStep> typed_text(const std::wstring &text)
{
    std::vector<ScriptStep> steps;
    for (wchar_t c : text)
        steps.push_back(typed(static_cast<wint_t>(c)));
    return steps;
}

// What the prompt answered, for the helpers below.
char *answer_buffer;
int answer_result;
void store_answer(const char *answer)
{
    strcpy(answer_buffer, answer);
    answer_result = 0;
}

// Opens the prompt as a title prompt does (the line empty) for the keys fed
// before; 0 and the answer in buffer when Enter answered, -1 otherwise.
int prompt_string(char *buffer, int size, const char *title)
{
    answer_buffer = buffer;
    answer_result = -1;
    // An answer needs somewhere to go.
    if (buffer == nullptr || !open_prompt(title, "", size, store_answer))
        return -1;
    run_screens("");
    leave_all_screens();
    return answer_result;
}

// The go-to prompt over the keys fed before: the track chosen, or -1.
int chosen_track;
int prompt_track_number()
{
    chosen_track = -1;
    ::prompt_track_number([](int track) { chosen_track = track; });
    run_screens("");
    leave_all_screens();
    return chosen_track;
}

// Hands the prompt's key function the script in order, a step a turn: a
// typed character as the bytes of its UTF-8 form, a resize as KEY_RESIZE.
// A quit signal leaves the prompt as the main loop does; past the end of the
// script Escape is pressed, so a prompt that wants more keys ends.
int run_script(std::vector<ScriptStep> steps, char *buffer, int size)
{
    script = std::move(steps);
    script_at = 0;
    answer_buffer = buffer;
    answer_result = -1;
    if (!open_prompt("Track name", "", size, store_answer))
        return -1;
    while (prompt_open()) {
        draw_screens();
        if (script_at >= script.size()) {
            screens_key(27);
            break;
        }
        const ScriptStep step = script[script_at++];
        if (step.quit) {
            leave_all_screens();
            break;
        }
        if (step.rows > 0) {
            resizeterm(step.rows, step.cols);
            screens_key(KEY_RESIZE);
        } else if (step.result == OK) {
            char bytes[MB_LEN_MAX];
            mbstate_t state{};
            const size_t n = wcrtomb(bytes, static_cast<wchar_t>(step.key), &state);
            for (size_t i = 0; i < n && n != static_cast<size_t>(-1); i++)
                screens_key(static_cast<unsigned char>(bytes[i]));
        }
    }
    draw_screens();
    return answer_result;
}

} // namespace

TEST(PromptDialog, DrawsTheBoxAndCentresEachTitleOn80By24)
{
    struct Case {
        const char *title;
        int column;
    };
    const Case cases[] = {{"Track name", 35}, {"Artist / Album", 33}, {"Go to which track?", 31}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.title);
        open_test_screen(24, 80);
        fill_screen();
        feed_keys("\n");
        char buffer[256] = "old";
        ASSERT_EQ(prompt_string(buffer, sizeof buffer, c.title), 0);

        const int n = static_cast<int>(strlen(c.title));
        EXPECT_EQ(row_text(11, c.column, n), c.title);
        EXPECT_TRUE(cell_is(11, c.column - 1, ACS_HLINE));
        EXPECT_TRUE(cell_is(11, c.column + n, ACS_HLINE));
        EXPECT_TRUE(cell_is(11, 11, ACS_HLINE));
        EXPECT_TRUE(cell_is(11, 68, ACS_HLINE));
        EXPECT_TRUE(cell_is(11, 10, ACS_ULCORNER));
        EXPECT_TRUE(cell_is(11, 69, ACS_URCORNER));
        EXPECT_TRUE(cell_is(12, 10, ACS_VLINE));
        EXPECT_EQ(row_text(12, 11, 58), std::string(58, ' '));
        EXPECT_TRUE(cell_is(12, 69, ACS_VLINE));
        EXPECT_TRUE(cell_is(13, 10, ACS_LLCORNER));
        for (int col = 11; col <= 68; col++)
            EXPECT_TRUE(cell_is(13, col, ACS_HLINE)) << col;
        EXPECT_TRUE(cell_is(13, 69, ACS_LRCORNER));

        // Nothing outside rows 11 to 13 and columns 10 to 69.
        EXPECT_EQ(row_text(10), std::string(80, 'x'));
        EXPECT_EQ(row_text(14), std::string(80, 'x'));
        for (int row = 11; row <= 13; row++) {
            EXPECT_EQ(row_text(row, 0, 10), std::string(10, 'x'));
            EXPECT_EQ(row_text(row, 70, 10), std::string(10, 'x'));
        }
    }
}

TEST(PromptDialog, CutsALongTitleToColsMinus24)
{
    open_test_screen(24, 40);
    feed_keys("\n");
    char buffer[8];
    ASSERT_EQ(prompt_string(buffer, sizeof buffer, "Go to which track?"), 0);
    // 16 of the 18 bytes fit; they start at column 12.
    EXPECT_EQ(row_text(11, 12, 16), "Go to which trac");
    EXPECT_TRUE(cell_is(11, 11, ACS_HLINE));
    EXPECT_TRUE(cell_is(11, 28, ACS_HLINE));
}

TEST(PromptDialog, EchoesTheTypedLineAtTheInputPositionAndReturnsIt)
{
    open_test_screen(24, 80);
    leave_idle_input_mode();
    feed_keys("Side B\n");
    char buffer[256] = "old";
    ASSERT_EQ(prompt_string(buffer, sizeof buffer, "Track name"), 0);
    EXPECT_STREQ(buffer, "Side B");
    EXPECT_EQ(row_text(12, 11, 6), "Side B");
    expect_idle_input_mode();
}

TEST(PromptDialog, EnterAloneGivesAnEmptyLine)
{
    open_test_screen(24, 80);
    leave_idle_input_mode();
    feed_keys("\n");
    char buffer[256] = "old";
    ASSERT_EQ(prompt_string(buffer, sizeof buffer, "Track name"), 0);
    EXPECT_STREQ(buffer, "");
    expect_idle_input_mode();
}

TEST(PromptDialog, AcceptsAtMostSizeMinusOneCharacters)
{
    struct Case {
        int size;
        size_t kept;
    };
    for (const Case c : {Case{256, 255}, Case{5, 4}}) {
        SCOPED_TRACE(c.size);
        open_test_screen(24, 80);
        feed_keys(std::string(c.kept, 'a') + "bc\n");
        char buffer[256 + 16];
        memset(buffer, '#', sizeof buffer);
        ASSERT_EQ(prompt_string(buffer, c.size, "Track name"), 0);
        EXPECT_EQ(std::string(buffer), std::string(c.kept, 'a'));
        EXPECT_EQ(buffer[c.size], '#') << "written past the buffer";
    }
}

TEST(PromptDialog, FailsWithoutReadingWhenTheInputPositionIsOffScreen)
{
    open_test_screen(24, 11);
    feed_keys("5\n");
    char buffer[8] = "kept";
    EXPECT_EQ(prompt_string(buffer, sizeof buffer, "Go to which track?"), -1);
    EXPECT_STREQ(buffer, "kept");
    EXPECT_TRUE(cell_is(11, 10, ACS_ULCORNER));
    // The keys are still waiting: nothing was read.
    nodelay(stdscr, TRUE);
    EXPECT_EQ(wgetch(stdscr), '5');
    nodelay(stdscr, FALSE);
    drain_keys();
    leave_idle_input_mode();
    ASSERT_EQ(prompt_string(buffer, sizeof buffer, "Go to which track?"), -1);
    expect_idle_input_mode();
}

TEST(PromptDialog, RefusesABufferWithNoRoomForItsEnd)
{
    open_test_screen(24, 80);
    feed_keys("5\n");
    char buffer[4] = "abc";
    leave_idle_input_mode();
    EXPECT_EQ(prompt_string(buffer, 0, "Track name"), -1);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(prompt_string(nullptr, 8, "Track name"), -1);
    nodelay(stdscr, TRUE);
    EXPECT_EQ(wgetch(stdscr), '5') << "keys were read";
    nodelay(stdscr, FALSE);
    drain_keys();
    expect_idle_input_mode();
}

TEST(PromptDialog, TinyScreensDrawWithoutACrash)
{
    for (int rows : {1, 2, 3, 5})
        for (int cols : {1, 2, 10, 11, 12, 20, 23, 24, 25}) {
            SCOPED_TRACE(std::to_string(rows) + "x" + std::to_string(cols));
            open_test_screen(rows, cols);
            feed_keys("1\n");
            char buffer[8] = "";
            const int result = prompt_string(buffer, sizeof buffer, "Go to which track?");
            EXPECT_EQ(result, cols >= 12 ? 0 : -1);
            // curses keeps the bottom right cell free of echoed input, so a
            // key typed there is refused.
            const bool bottom_right = rows / 2 == rows - 1 && cols == 12;
            if (result == 0 && !bottom_right) {
                EXPECT_STREQ(buffer, "1");
            }
        }
    expect_idle_input_mode();
}

TEST(PromptTrackNumber, ReadsTheAnswerAsAtoiDoesAndShiftsItToZeroBased)
{
    struct Case {
        const char *keys;
        int expected;
    };
    const Case cases[] = {
        {"7\n", 6},   {" 12\n", 11}, {"12ab\n", 11}, {"0\n", -1},       {"ab\n", -1},
        {"-3\n", -4}, {"99\n", 98},  {"\n", -1},     {"12345\n", 1233},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.keys);
        open_test_screen(24, 80);
        feed_keys(c.keys);
        EXPECT_EQ(prompt_track_number(), c.expected);
    }
    EXPECT_EQ(row_text(11, 31, 18), "Go to which track?");
}

TEST(PromptTrackNumber, GivesMinusOneWhenTheDialogFails)
{
    open_test_screen(24, 8);
    feed_keys("7\n");
    EXPECT_EQ(prompt_track_number(), -1);
}

TEST(PromptEditing, EditsWholeCharactersWithinTheByteLimit)
{
    struct Case {
        const char *name;
        std::string keys;
        int size;
        int result;
        const char *stored;
    };
    const Case cases[] = {
        {"backspace takes whole characters", "R\xc3\xb3\xe9\xbe\x8d\x7f\x7fx\n", 256, 0, "Rx"},
        {"one backspace leaves the rest whole", "R\xc3\xb3\xe9\xbe\x8d\x7fx\n", 256, 0,
         "R\xc3\xb3x"},
        {"backspace key and ^H", "ab\b\xe9\xbe\x8d\x7f\n", 256, 0, "a"},
        {"backspace on an empty line", "\x7f\x7fz\n", 256, 0, "z"},
        {"a character that would pass the limit is refused", "\xc3\xa9\xc3\xa9\xc3\xa9\n", 5, 0,
         "\xc3\xa9\xc3\xa9"},
        {"three bytes do not fit in one", "aaa\xe9\xbe\x8dz\n", 5, 0, "aaaz"},
        {"controls but a tab are not text", std::string("a\tb\x02\x1c") + "c\n", 256, 0, "a\tbc"},
        {"Escape cancels what was typed", "half a tit\033", 256, -1, "kept"},
    };
    set_escdelay(50);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        open_test_screen(24, 80);
        feed_keys(c.keys);
        char buffer[256] = "kept";
        EXPECT_EQ(prompt_string(buffer, c.size, "Track name"), c.result);
        EXPECT_STREQ(buffer, c.stored);
    }
}

TEST(PromptEditing, ALongLineScrollsInsideTheBox)
{
    struct Case {
        const char *name;
        std::wstring text;
        std::string shown_end;
        int end_col;
    };
    // The field spans columns 11 to 68 on 80 columns; one cell stays free for
    // the cursor after the last character.
    const Case cases[] = {
        {"narrow letters", std::wstring(70, L'a') + L"Z", "aaaZ", 67},
        {"wide letters", std::wstring(40, L'\x9f8d'), "\xe9\xbe\x8d", 66},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        open_test_screen(24, 80);
        fill_screen();
        std::vector<ScriptStep> steps = typed_text(c.text);
        char buffer[256] = "";
        EXPECT_EQ(run_script(steps, buffer, sizeof buffer), -1);
        const int n = static_cast<int>(c.shown_end.size() > 3 ? c.shown_end.size() : 1);
        EXPECT_EQ(row_text(12, c.end_col - n + 1, n), c.shown_end);
        EXPECT_EQ(cell_text(12, 68), " ") << "the cursor's cell";
        EXPECT_TRUE(cell_is(12, 10, ACS_VLINE));
        EXPECT_TRUE(cell_is(12, 69, ACS_VLINE));
        EXPECT_EQ(row_text(12, 70, 10), std::string(10, 'x')) << "typing ran over the frame";
        EXPECT_EQ(row_text(13, 0, 10), std::string(10, 'x'));
    }
}

TEST(PromptEditing, AResizeRedrawsTheBoxAndKeepsTheLine)
{
    open_test_screen(24, 80);
    std::vector<ScriptStep> steps = typed_text(L"R\xf3");
    steps.push_back(resized(20, 40));
    steps.push_back(typed(L'x'));
    steps.push_back(typed(L'\n'));
    char buffer[256] = "";
    ASSERT_EQ(run_script(steps, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "R\xc3\xb3x");
    // The box of a 20 by 40 screen: middle row 10, frame at columns 10 and 29.
    EXPECT_EQ(row_text(10, 11, 3), "R\xc3\xb3x");
    EXPECT_TRUE(cell_is(10, 10, ACS_VLINE));
    EXPECT_TRUE(cell_is(10, 29, ACS_VLINE));
    EXPECT_TRUE(cell_is(9, 10, ACS_ULCORNER));
}

TEST(PromptEditing, KeysTypedWhileTheLineHasNoRoomChangeNothing)
{
    open_test_screen(24, 80);
    std::vector<ScriptStep> steps = typed_text(L"ab");
    steps.push_back(resized(24, 11));
    for (const ScriptStep &s : typed_text(L"zz\x7f\n"))
        steps.push_back(s);
    steps.push_back(resized(24, 80));
    steps.push_back(typed(L'c'));
    steps.push_back(typed(L'\n'));
    char buffer[256] = "";
    ASSERT_EQ(run_script(steps, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(script_at, script.size());
}

TEST(PromptEditing, AQuitSignalCancelsWithTheLineUnstored)
{
    struct Case {
        const char *what;
        ScriptStep step;
    } cases[] = {
        {"while no key came", with_quit({ERR, 0, 0, 0})},
        {"with Enter", with_quit(typed(L'\n'))},
    };
    for (const Case &c : cases) {
        open_test_screen(24, 80);
        std::vector<ScriptStep> steps = typed_text(L"half");
        steps.push_back(c.step);
        steps.push_back(typed(L'\n'));
        char buffer[256] = "kept";
        EXPECT_EQ(run_script(steps, buffer, sizeof buffer), -1) << c.what;
        EXPECT_STREQ(buffer, "kept") << c.what;
        EXPECT_EQ(script_at, script.size() - 1) << c.what << ": read on after the signal";
    }
}

// A title prompt opens with the title selected: a printable key replaces it
// all, the editing keys change it in place, whole characters at a time.
TEST(PromptEditing, ATitlePromptEditsTheTextItOpensWith)
{
    const int LEFT = KEY_LEFT, RIGHT = KEY_RIGHT, HOME = KEY_HOME, END = KEY_END;
    const int BS = KEY_BACKSPACE, DEL = KEY_DC;
    struct Case {
        const char *what;
        const char *text;
        std::vector<int> keys;
        int result;
        const char *answer;
    } cases[] = {
        {"Enter keeps it", "Hello world", {}, 0, "Hello world"},
        {"typing replaces it", "Hello world", {'N', 'e', 'w'}, 0, "New"},
        {"left then type inserts", "Hello world", {LEFT, 'X'}, 0, "Hello worlXd"},
        {"right at the end stays there", "Hello", {RIGHT, '!'}, 0, "Hello!"},
        {"home", "Hello world", {HOME, 'A'}, 0, "AHello world"},
        {"control-a", "Hello world", {1, 'A'}, 0, "AHello world"},
        {"end after home", "Hello world", {HOME, END, '!'}, 0, "Hello world!"},
        {"control-e after home", "Hello world", {HOME, 5, '!'}, 0, "Hello world!"},
        {"backspace takes the selection", "Hello world", {BS, 'z'}, 0, "z"},
        {"backspace in place", "Hello world", {LEFT, 127}, 0, "Hello word"},
        {"delete at the start", "Hello world", {HOME, DEL}, 0, "ello world"},
        {"delete at the end does nothing", "Hello", {END, DEL}, 0, "Hello"},
        {"control-u to the start", "Hello world", {LEFT, LEFT, LEFT, LEFT, LEFT, 21}, 0, "world"},
        {"control-w the word before",
         "Hello big world",
         {LEFT, LEFT, LEFT, LEFT, LEFT, 23},
         0,
         "Hello world"},
        {"control-k to the end", "Hello world", {HOME, RIGHT, 11}, 0, "H"},
        {"whole characters left and back", "R\xc3\xb3x", {LEFT, 8}, 0, "Rx"},
        {"whole characters right and delete",
         "\xc3\xa9t\xc3\xa9",
         {HOME, RIGHT, RIGHT, DEL},
         0,
         "\xc3\xa9t"},
        {"a character typed in two bytes",
         "ab",
         {LEFT, 0xc3, 0xa9},
         0,
         "a\xc3\xa9"
         "b"},
        {"escape stores nothing", "Hello", {'x', 27}, -1, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        open_test_screen(24, 80);
        char buffer[256] = "";
        answer_buffer = buffer;
        answer_result = -1;
        ASSERT_TRUE(open_prompt("Track name", c.text, sizeof buffer, store_answer));
        draw_screens();
        // The text shows selected until the first key.
        EXPECT_EQ(row_text(12, 11).rfind(c.text, 0), 0u) << row_text(12, 11);
        EXPECT_TRUE(cell_attrs(12, 11) & A_REVERSE);
        for (int key : c.keys) {
            screens_key(key);
            draw_screens();
        }
        if (prompt_open())
            screens_key('\n');
        EXPECT_FALSE(prompt_open());
        EXPECT_EQ(answer_result, c.result);
        EXPECT_STREQ(buffer, c.answer);
    }
}

TEST(PromptEditing, TheOpeningTextIsCutToTheLimitBetweenCharacters)
{
    open_test_screen(24, 80);
    char buffer[8] = "";
    answer_buffer = buffer;
    answer_result = -1;
    // Four bytes fit: the second é would end past them.
    ASSERT_TRUE(open_prompt("Track name", "ab\xc3\xa9\xc3\xa9", 5, store_answer));
    screens_key('\n');
    EXPECT_STREQ(buffer, "ab\xc3\xa9");
}
