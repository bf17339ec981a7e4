// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/digital/cue_sheet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace
{

// Parses sheet text and returns the disc title it gives.
std::string disc_title_of(const std::string &text)
{
    auto sheet = std::make_unique<CueSheet>();
    char error[CUE_ERROR_SIZE];
    std::string full = text + "FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    EXPECT_EQ(parse_cue_text("/d/disc.cue", full.data(), static_cast<int32_t>(full.size()), *sheet,
                             error, sizeof error),
              0)
        << error;
    return sheet->title;
}

// Titles longer than the field are cut between characters, never inside one,
// whether the sheet is UTF-8 or Latin-1; control bytes become spaces.
TEST(CueSheetText, LongTitlesAreCutBetweenCharacters)
{
    auto repeat = [](const char *piece, int times) {
        std::string s;
        for (int i = 0; i < times; i++)
            s += piece;
        return s;
    };
    // The field keeps CUE_TEXT_SIZE - 1 bytes: 127 characters of two bytes.
    std::string cut = repeat("\xc3\xa9", (CUE_TEXT_SIZE - 1) / 2);
    struct Case {
        const char *what;
        std::string title;
        std::string expected;
    } cases[] = {
        {"UTF-8 of two bytes a character", repeat("\xc3\xa9", 200), cut},
        {"Latin-1 grows to two bytes a character", repeat("\xe9", 300), cut},
        {"control bytes", "a\x1b[31mb\tc", "a [31mb c"},
    };
    for (const Case &c : cases) {
        std::string got = disc_title_of("TITLE \"" + c.title + "\"\n");
        EXPECT_EQ(got, c.expected) << c.what;
        EXPECT_LT(got.size(), static_cast<size_t>(CUE_TEXT_SIZE)) << c.what;
    }
}

// A sheet that is not UTF-8 is Windows-1252, whose 0x80..0x9f are
// punctuation and letters, not control characters; UTF-8, with a byte-order
// mark or without, stays as it is, and control characters become spaces in
// either.
TEST(CueSheetText, WindowsCodePageOrUtf8)
{
    struct Case {
        const char *what;
        std::string sheet;
        std::string title;
    } cases[] = {
        {"Windows-1252 punctuation", "TITLE \"Don\x92t \x96 stop\x85 \x80\x99\"\n",
         "Don\u2019t \u2013 stop\u2026 \u20ac\u2122"},
        {"Windows-1252 letters of Latin-1", "TITLE \"Caf\xe9 \xdc" "ber\"\n", "Caf\u00e9 \u00dcber"},
        {"code points Windows-1252 leaves out are spaces", "TITLE \"a\x81" "b\x9d" "c\"\n", "a b c"},
        {"UTF-8", "TITLE \"Don\u2019t \u2013 Caf\u00e9\"\n", "Don\u2019t \u2013 Caf\u00e9"},
        {"UTF-8 after a byte-order mark", "\xef\xbb\xbfTITLE \"\u20ac\u2026\"\n", "\u20ac\u2026"},
        {"C1 controls in UTF-8 are spaces", "TITLE \"a\u0085b\u009bc\"\n", "a b c"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(disc_title_of(c.sheet), c.title) << c.what;
}

// A sheet's tracks may reach 99; the table of contents then holds 99 and the
// lead-out, the gaps all in place.
TEST(CueSheetLayout, NinetyNineTracksWithEveryGapFit)
{
    std::string text = "FILE a.bin BINARY\n";
    for (int t = 1; t <= 99; t++) {
        char lines[160];
        snprintf(lines, sizeof lines,
                 "TRACK %02d AUDIO\nPREGAP 00:00:01\nINDEX 00 00:%02d:%02d\n"
                 "INDEX 01 00:%02d:%02d\nPOSTGAP 00:00:02\n",
                 t, (3 * t) / 75, (3 * t) % 75, (3 * t + 1) / 75, (3 * t + 1) % 75);
        text += lines;
    }
    auto sheet = std::make_unique<CueSheet>();
    auto layout = std::make_unique<CueLayout>();
    char error[CUE_ERROR_SIZE];
    ASSERT_EQ(parse_cue_text("disc.cue", text.data(), static_cast<int32_t>(text.size()), *sheet,
                             error, sizeof error),
              0)
        << error;
    uint32_t frames = 400;
    ASSERT_EQ(layout_cue_sheet(*sheet, &frames, *layout, error, sizeof error), 0) << error;
    const Toc &toc = layout->toc;
    ASSERT_EQ(toc.count, 99);
    // Track t starts after its own frames in the file and 1 + 2 frames of
    // gap for each track before it, and its own PREGAP.
    for (int t = 1; t <= 99; t++)
        EXPECT_EQ(toc.track[t - 1].offset, LEAD_IN_FRAMES + 3u * t + 1 + 3u * (t - 1) + 1)
            << "track " << t;
    EXPECT_EQ(toc.track[99].offset, LEAD_IN_FRAMES + 400u + 99 * 3);
}

} // namespace
