// SPDX-License-Identifier: GPL-3.0-or-later
#include "database/database.h"
#include "database_test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <utility>

using namespace dbtest;

namespace
{

// Names a field: entry and whether it is the extended data; the disc's year
// and genre stand outside the entries.
struct Field {
    int entry;
    bool ext;
    bool operator<(const Field &o) const
    {
        return std::pair(entry, ext) < std::pair(o.entry, o.ext);
    }
};

constexpr Field DISC_TITLE{DISC_ENTRY, false};
constexpr Field DISC_EXT{DISC_ENTRY, true};
constexpr Field YEAR{-1, false};
constexpr Field GENRE{-2, false};
constexpr Field title(int n) { return {n, false}; }
constexpr Field ext(int n) { return {n, true}; }

std::string text_of(const DiscDatabase &db, Field f)
{
    if (f.entry == YEAR.entry)
        return db.year;
    if (f.entry == GENRE.entry)
        return db.genre;
    return f.ext ? db.entries[f.entry].ext : db.entries[f.entry].title;
}

// A string literal with the NUL bytes inside it.
template <size_t N> std::string bytes(const char (&text)[N]) { return std::string(text, N - 1); }

// Every field the loader fills, for checking that nothing else was touched.
std::vector<Field> all_fields()
{
    std::vector<Field> fields{YEAR, GENRE};
    for (int e = 0; e < DB_ENTRY_COUNT; e++) {
        fields.push_back(title(e));
        fields.push_back(ext(e));
    }
    return fields;
}

class Load : public TempHomeTest
{
  protected:
    // A disc of ten tracks, so that indices up to 9 are its own.
    Toc disc = make_disc({150, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000}, 10000);
};

TEST_F(Load, ReadsTheFieldsOfSmallFiles)
{
    const std::string x253(246, 'a');
    struct Case {
        const char *what;
        std::string file;
        std::map<Field, std::string> texts; // every other field must be empty
    } cases[] = {
        {"empty file", "", {}},
        {"comments only", "# xmcd\n#\n# DTITLE=no\n", {}},
        {"header fields and ids",
         "DISCID=02019002\nDTITLE=Artist / Album\nTTITLE0=One\nTTITLE9=Ten\nEXTD=year\n"
         "EXTT9=last\nPLAYORDER=3,2,1\n",
         {{DISC_TITLE, "Artist / Album"},
          {title(0), "One"},
          {title(9), "Ten"},
          {DISC_EXT, "year"},
          {ext(9), "last"}}},
        {"continued lines join",
         "DTITLE=Abc\nTTITLE2=x\nDTITLE=def\nTTITLE2=y\n",
         {{DISC_TITLE, "Abcdef"}, {title(2), "xy"}}},
        {"no index is track 0", "TTITLE=Intro\nEXTT=x\n", {{title(0), "Intro"}, {ext(0), "x"}}},
        {"index as strtoul reads it",
         "TTITLE 3=a\nTTITLE+3=b\nTTITLE007=c\nEXTT\t4=d\nTTITLE -00=e\n",
         {{title(3), "ab"}, {title(7), "c"}, {ext(4), "d"}, {title(0), "e"}}},
        {"indices that do not count",
         "TTITLE-1=x\nTTITLE99=x\nTTITLE3 =x\nTTITLE4294967296=x\n"
         "TTITLE99999999999999999999999=x\nEXTT99=x\nTTITLE3x=x\nTTITLE =x\nTTITLE+=x\n"
         "TTITLE-0x=x\nTTITLE 0 =x\nEXTT--1=x\n",
         {}},
        {"indices beyond the disc up to 98",
         "TTITLE98=y\nEXTT42=z\n",
         {{title(98), "y"}, {ext(42), "z"}}},
        {"case, first column and exact keyword",
         "dtitle=x\n DTITLE=x\nDTITLEX=x\nEXTD x\nExtT1=x\n",
         {}},
        {"escapes",
         "DTITLE=a\\\\nb\nEXTD=a\\nb\nTTITLE0=a\\qb\nTTITLE1=a\\tb\nTTITLE2=abc\\\n"
         "TTITLE2=def\nTTITLE3=\\\\\\\\\n",
         {{DISC_TITLE, "a\\nb"},
          {DISC_EXT, "a\nb"},
          {title(0), "aqb"},
          {title(1), "a\tb"},
          {title(2), "abcdef"},
          {title(3), "\\\\"}}},
        {"# inside a value", "DTITLE=a#b\nTTITLE0=#\n", {{DISC_TITLE, "a#b"}, {title(0), "#"}}},
        {"bytes as they are",
         "DTITLE=Die \xc4rzte / M\xe4nner\nTTITLE0=\xe3\x83\x9e\xe3\x82\xaf\n",
         {{DISC_TITLE, "Die \xc4rzte / M\xe4nner"}, {title(0), "\xe3\x83\x9e\xe3\x82\xaf"}}},
        // Line ends: "\n", or "\r\n" as a whole; a CR elsewhere is text.
        {"CR before the newline is part of the line end",
         "DTITLE=abc\r\nTTITLE0=\r\nTTITLE1=x\\\\\r\n",
         {{DISC_TITLE, "abc"}, {title(1), "x\\"}}},
        {"escaped CR before the newline or the end of the file stays",
         "TTITLE1=x\\\r\nEXTD=\\\r\nDTITLE=ab\\\r",
         {{title(1), "x\r"}, {DISC_EXT, "\r"}, {DISC_TITLE, "ab\r"}}},
        {"CR inside a line stays",
         "DTITLE=a\rb\r\r\nEXTD=\r\r\n",
         {{DISC_TITLE, "a\rb\r"}, {DISC_EXT, "\r"}}},
        {"last line without newline is whole",
         "TTITLE0=one\nDTITLE=abc",
         {{title(0), "one"}, {DISC_TITLE, "abc"}}},
        {"CR that ends the file ends the line", "DTITLE=abc\r", {{DISC_TITLE, "abc"}}},
        {"backslash that ends the file", "DTITLE=ab\\", {{DISC_TITLE, "ab"}}},
        {"last line only a keyword", "TTITLE0=one\nTTITLE1", {{title(0), "one"}}},
        // NUL bytes are dropped and the bytes around them join.
        {"NUL inside a value",
         bytes("DTITLE=Artist\0Hidden / Album\nTTITLE0=\0\0x\0\n"),
         {{DISC_TITLE, "ArtistHidden / Album"}, {title(0), "x"}}},
        {"NUL inside a keyword, an index, an escape and a line end",
         bytes("DTI\0TLE=a\nTTITLE1\0"
               "2=b\nEXTD=c\\\0t\nTTITLE3=d\r\0\n"),
         {{DISC_TITLE, "a"}, {title(12), "b"}, {DISC_EXT, "c\t"}, {title(3), "d"}}},
        // Lines of any length are read whole; a field still keeps 255 bytes.
        {"253 characters read whole", "DTITLE=" + x253 + "\n", {{DISC_TITLE, x253}}},
        {"254 characters read whole",
         "DTITLE=" + x253 + "b\nTTITLE0=next\n",
         {{DISC_TITLE, x253 + "b"}, {title(0), "next"}}},
        {"keywords late in a long line are text",
         "EXTD=" + std::string(249, 'e') + "DTITLE=zz\n" + "DTITLE=" + std::string(300, 'x') +
             "TTITLE1=Sneaky\nTTITLE2=" + std::string(300, 't') + "\n",
         {{DISC_EXT, std::string(249, 'e') + "DTITLE"},
          {DISC_TITLE, std::string(255, 'x')},
          {title(2), std::string(255, 't')}}},
        {"long comment and long ignored line",
         "#" + std::string(5000, 'c') + "DTITLE=no\nDISCID=" + std::string(9000, '1') + "\nTTITLE" +
             std::string(5000, ' ') + "4=yes\n",
         {{title(4), "yes"}}},
        {"year and genre",
         "DYEAR=1994\nDGENRE=Rock\\tPop\nDGENRE= / Metal\r\n",
         {{YEAR, "1994"}, {GENRE, "Rock\tPop / Metal"}}},
        {"year and genre keywords exact", "dyear=x\nDYEAR 1=x\nDYEARS=x\n DGENRE=x\nDGENRE\n", {}},
    };
    for (const Case &c : cases) {
        write_file(file_of(disc), c.file);
        auto state = fresh_state();
        EXPECT_EQ(load_database(*state, disc), 0) << c.what;
        EXPECT_EQ(state->unreadable, 0) << c.what;
        for (Field f : all_fields()) {
            auto want = c.texts.find(f);
            EXPECT_EQ(text_of(*state, f), want == c.texts.end() ? "" : want->second)
                << c.what << ": entry " << f.entry << (f.ext ? " ext" : " title");
        }
    }
}

TEST_F(Load, CutsFieldsAt255Bytes)
{
    std::string file;
    std::string all;
    for (int line = 0; line < 5; line++) {
        std::string piece(60, static_cast<char>('a' + line));
        file += "TTITLE4=" + piece + "\n";
        all += piece;
    }
    // An escape counts as the one character it stands for; once the field is
    // full, later lines add nothing.
    file += "DTITLE=" + std::string(200, 'd') + "\n";
    file += "DTITLE=" + std::string(54, 'd') + "\\tx\n";
    file += "DTITLE=more\n";
    write_file(file_of(disc), file);
    auto state = fresh_state();
    ASSERT_EQ(load_database(*state, disc), 0);
    EXPECT_EQ(std::string(state->entries[4].title), all.substr(0, 255));
    EXPECT_EQ(std::string(state->entries[DISC_ENTRY].title), std::string(254, 'd') + "\t");
}

// Texts of the disc and its tracks go; entries past its tracks and the dirty
// flag stay as they were. Without a file the cleared texts stay empty.
TEST_F(Load, ClearsOnlyTheDiscsOwnEntries)
{
    Toc three = make_disc({150, 1000, 2000}, 3000);
    for (bool has_file : {true, false}) {
        if (has_file)
            write_file(file_of(three), "TTITLE1=new\n");
        else
            std::filesystem::remove(file_of(three));
        auto state = fresh_state();
        for (int e = 0; e < DB_ENTRY_COUNT; e++) {
            snprintf(state->entries[e].title, TEXT_FIELD_SIZE, "old title %d", e);
            snprintf(state->entries[e].ext, TEXT_FIELD_SIZE, "old ext %d", e);
        }
        state->dirty = 1;
        EXPECT_EQ(load_database(*state, three), has_file ? 0 : -1);
        for (int e = 0; e < DB_ENTRY_COUNT; e++) {
            bool own = e < 3 || e == DISC_ENTRY;
            std::string want_title = own ? "" : "old title " + std::to_string(e);
            if (has_file && e == 1)
                want_title = "new";
            EXPECT_EQ(std::string(state->entries[e].title), want_title) << e;
            EXPECT_EQ(std::string(state->entries[e].ext), own ? "" : "old ext " + std::to_string(e))
                << e;
        }
        EXPECT_EQ(state->dirty, 1);
    }
}

// A drive may report any count; the loader clears at most the 99 track
// entries and never writes past the table.
TEST_F(Load, TrackCountsOutsideTheTableStayInBounds)
{
    for (int count : {-5, 99, 100, 150, INT32_MAX}) {
        Toc cd{};
        cd.count = count;
        auto state = fresh_state();
        for (TrackText &entry : state->entries)
            snprintf(entry.title, TEXT_FIELD_SIZE, "old");
        write_file(file_of(cd), "TTITLE98=last\nDTITLE=disc\n");
        EXPECT_EQ(load_database(*state, cd), 0) << count;
        EXPECT_STREQ(state->entries[DISC_ENTRY].title, "disc") << count;
        EXPECT_STREQ(state->entries[98].title, count > 98 ? "last" : "oldlast") << count;
        EXPECT_STREQ(state->entries[0].title, count > 0 ? "" : "old") << count;
    }
}

TEST_F(Load, NoFileGivesMinusOne)
{
    auto state = fresh_state();
    snprintf(state->entries[DISC_ENTRY].title, TEXT_FIELD_SIZE, "previous disc");
    EXPECT_EQ(load_database(*state, disc), -1);
    EXPECT_STREQ(state->entries[DISC_ENTRY].title, "");
    EXPECT_EQ(std::string(database_path), file_of(disc).string());
}

// The file is read in chunks: a line whose keyword, index, escape or line end
// is split between two reads is read as if whole. The padding comment moves
// the line across every position around the boundaries of the first reads.
TEST_F(Load, LinesSplitBetweenReadsJoin)
{
    const std::string line = "TTITLE12=a\\tb\\\\c\r\n";
    for (size_t boundary : {4096u, 8192u}) {
        for (size_t at = 0; at <= line.size(); at++) {
            std::string padding = "#" + std::string(boundary - at - 2, '-') + "\n";
            write_file(file_of(disc), padding + line + "EXTD=end");
            auto state = fresh_state();
            ASSERT_EQ(load_database(*state, disc), 0) << boundary << " " << at;
            EXPECT_STREQ(state->entries[12].title, "a\tb\\c") << boundary << " " << at;
            EXPECT_STREQ(state->entries[DISC_ENTRY].ext, "end") << boundary << " " << at;
        }
    }
}

// Whatever stands in place of the file and is no regular file is refused at
// once: a FIFO without a writer, an endless device, a directory. The load
// runs in a child first, which an alarm ends should the load block or spin.
TEST_F(Load, RefusesWhatIsNoRegularFilePromptly)
{
    struct Case {
        const char *what;
        void (*make)(const std::filesystem::path &);
    } cases[] = {
        {"FIFO", [](const std::filesystem::path &p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }},
        {"link to /dev/zero",
         [](const std::filesystem::path &p) { std::filesystem::create_symlink("/dev/zero", p); }},
        {"directory", [](const std::filesystem::path &p) { std::filesystem::create_directory(p); }},
    };
    std::filesystem::create_directories(kel());
    for (const Case &c : cases) {
        std::filesystem::remove_all(file_of(disc));
        c.make(file_of(disc));
        EXPECT_EXIT(
            {
                alarm(5);
                auto state = fresh_state();
                _exit(load_database(*state, disc) == -1 && state->unreadable == 1 ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "")
            << c.what;

        auto state = fresh_state();
        snprintf(state->entries[DISC_ENTRY].title, TEXT_FIELD_SIZE, "previous disc");
        EXPECT_EQ(load_database(*state, disc), -1) << c.what;
        EXPECT_EQ(state->unreadable, 1) << c.what;
        EXPECT_STREQ(state->entries[DISC_ENTRY].title, "") << c.what;
        EXPECT_EQ(std::string(database_error()),
                  "could not load " + file_of(disc).string() + ": not a regular file")
            << c.what;
    }
}

// Only a missing file is the ordinary "nothing stored yet": it marks nothing
// and reports nothing. A file that is there and cannot be read is marked,
// the next successful load clears the mark, and what the loader managed to
// read before the failure stays.
TEST_F(Load, MarksAFileItCannotRead)
{
    auto state = fresh_state();
    EXPECT_EQ(load_database(*state, disc), -1);
    EXPECT_EQ(state->unreadable, 0);

    write_file(file_of(disc), "DTITLE=kept\n");
    chmod(file_of(disc).c_str(), 0);
    {
        PermissionBitsCount bits;
        if (!bits.works())
            GTEST_SKIP() << "cannot take away root's file overrides";
        EXPECT_EQ(load_database(*state, disc), -1);
    }
    EXPECT_EQ(state->unreadable, 1);
    EXPECT_EQ(std::string(database_error()),
              "could not load " + file_of(disc).string() + ": Permission denied");

    chmod(file_of(disc).c_str(), 0644);
    EXPECT_EQ(load_database(*state, disc), 0);
    EXPECT_EQ(state->unreadable, 0);
    EXPECT_STREQ(state->entries[DISC_ENTRY].title, "kept");

    // A file past the bound of one load is read up to the bound and marked.
    std::string big = "DTITLE=big\n";
    while (big.size() <= (1u << 20))
        big += "# " + std::string(1000, 'f') + "\n";
    write_file(file_of(disc), big + "TTITLE0=past the bound\n");
    EXPECT_EQ(load_database(*state, disc), -1);
    EXPECT_EQ(state->unreadable, 1);
    EXPECT_STREQ(state->entries[DISC_ENTRY].title, "big");
    EXPECT_STREQ(state->entries[0].title, "");
    EXPECT_NE(std::string(database_error()).find(file_of(disc).string()), std::string::npos);
}

// A few texts of stored entries, as the bytes stand in the file: encodings
// untouched, continued lines joined even mid-word, CRLF line ends gone.
TEST_F(Load, ReadsStoredEntriesAsTheyStand)
{
    struct Case {
        const char *entry;
        Field field;
        std::string text;
    } cases[] = {
        {"38043805", DISC_TITLE, "Die \xc4rzte / Ein Schwein namens M\xe4nner"},
        {"0a0f5811", DISC_TITLE,
         "Maria Venuti / Maria Venuti Sings Schubert, Schoenberg, Schumann"},
        {"0a0f5811", title(2),
         "4 Lieder Nach Texten V. Richard Dehmel Op. 2: Schenk Mir Deinen Goldenen Kamm"},
        {"1c11c714", title(14),
         "Christian Escoud\xe9, Dorado Schmitt, Babik Reinhardt: O\xf9 Es Tu Mon Amour"},
        {"8309a80a", DISC_EXT,
         "Bonus DVD\nQuinlan Road Limited  QRCD101Dred: 2004\nLimited Edition with"},
        {"a10b600c", title(1), "Killers"},
        {"4510fd16", title(1), "What 'bout my star? @Formo"},
        {"4510fd16", title(2), "\xe3\x82\xa2\xe3\x82\xa4\xe3\x83\xa2"},
        {"940c700b", title(6), "Spieluhr (Ein Kleiner Mensch  Mix)"},
        {"38043805", YEAR, "1998"},
        {"38043805", GENRE, "Deutsch"},
        {"a10b600c", GENRE, "Metal"},
    };
    for (const Case &c : cases) {
        std::string stored = read_file(test_data(std::string("xmcd/") + c.entry + ".xmcd"));
        Toc cd = disc_of_entry(stored);
        write_file(file_of(cd), stored);
        auto state = fresh_state();
        ASSERT_EQ(load_database(*state, cd), 0) << c.entry;
        EXPECT_EQ(text_of(*state, c.field), c.text) << c.entry;
    }
}

// Ids of 0x80000000 and above are named with 16 digits, but freedb and the
// other xmcd tools name them with 8: without a 16-digit file the 8-digit one
// is read, and saves keep to the name the load used.
TEST_F(Load, EightDigitNamesOfHighIdsAreFound)
{
    Toc high = make_disc({29925, 36675, 43425, 50175, 56925, 63675, 70425}, 90000);
    ASSERT_EQ(id_text(compute_disc_id(high)), "ffffffff93032107");
    std::filesystem::path long_name = kel() / "ffffffff93032107";
    std::filesystem::path short_name = kel() / "93032107";
    std::filesystem::create_directories(kel());

    write_file(short_name, "DISCID=93032107\nDTITLE=Short / Name\n");
    auto state = fresh_state();
    ASSERT_EQ(load_database(*state, high), 0);
    EXPECT_STREQ(state->entries[DISC_ENTRY].title, "Short / Name");
    snprintf(state->entries[0].title, TEXT_FIELD_SIZE, "Typed");
    ASSERT_EQ(save_database(*state, high), 0);
    EXPECT_FALSE(std::filesystem::exists(long_name));
    std::string saved = read_file(short_name);
    EXPECT_NE(saved.find("DISCID=93032107\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("TTITLE0=Typed\n"), std::string::npos) << saved;

    // The 16-digit file wins where both are.
    write_file(long_name, "DTITLE=Long / Name\n");
    ASSERT_EQ(load_database(*state, high), 0);
    EXPECT_STREQ(state->entries[DISC_ENTRY].title, "Long / Name");
    ASSERT_EQ(save_database(*state, high), 0);
    EXPECT_NE(read_file(long_name).find("DTITLE=Long / Name"), std::string::npos);
    EXPECT_NE(read_file(short_name).find("Short / Name"), std::string::npos);

    // Neither: a new file gets the 16-digit name, as ever.
    std::filesystem::remove(long_name);
    std::filesystem::remove(short_name);
    EXPECT_EQ(load_database(*state, high), -1);
    ASSERT_EQ(save_database(*state, high), 0);
    EXPECT_TRUE(std::filesystem::exists(long_name));
    EXPECT_FALSE(std::filesystem::exists(short_name));
}

} // namespace
