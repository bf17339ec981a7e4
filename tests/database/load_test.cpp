#include "database/database.h"
#include "database_test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

using namespace dbtest;

namespace
{

// Names a field: entry and whether it is the extended data.
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
constexpr Field title(int n) { return {n, false}; }
constexpr Field ext(int n) { return {n, true}; }

std::string text_of(const DiscDatabase &db, Field f)
{
    return f.ext ? db.entries[f.entry].ext : db.entries[f.entry].title;
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
         "TTITLE 3=a\nTTITLE+3=b\nTTITLE007=c\nEXTT\t4=d\n",
         {{title(3), "ab"}, {title(7), "c"}, {ext(4), "d"}}},
        {"indices that do not count",
         "TTITLE-1=x\nTTITLE99=x\nTTITLE3 =x\nTTITLE4294967296=x\n"
         "TTITLE99999999999999999999999=x\nEXTT99=x\nTTITLE3x=x\n",
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
        {"carriage returns stay",
         "DTITLE=abc\r\nTTITLE0=\r\n",
         {{DISC_TITLE, "abc\r"}, {title(0), "\r"}}},
        {"# inside a value", "DTITLE=a#b\nTTITLE0=#\n", {{DISC_TITLE, "a#b"}, {title(0), "#"}}},
        {"last line without newline",
         "TTITLE0=one\nDTITLE=abc",
         {{title(0), "one"}, {DISC_TITLE, "ab"}}},
        {"bytes as they are",
         "DTITLE=Die \xc4rzte / M\xe4nner\nTTITLE0=\xe3\x83\x9e\xe3\x82\xaf\n",
         {{DISC_TITLE, "Die \xc4rzte / M\xe4nner"}, {title(0), "\xe3\x83\x9e\xe3\x82\xaf"}}},
        {"253 characters read whole", "DTITLE=" + x253 + "\n", {{DISC_TITLE, x253}}},
        {"254 characters lose the last",
         "DTITLE=" + x253 + "b\nTTITLE0=next\n",
         {{DISC_TITLE, x253}, {title(0), "next"}}},
        {"the rest of a long line is a line of its own",
         "EXTD=" + std::string(249, 'e') + "DTITLE=zz\n" + "TTITLE1=" + std::string(300, 't') +
             "\n",
         {{DISC_EXT, std::string(248, 'e')},
          {DISC_TITLE, "zz"},
          {title(1), std::string(245, 't')}}},
    };
    for (const Case &c : cases) {
        write_file(file_of(disc), c.file);
        auto state = fresh_state();
        EXPECT_EQ(load_database(*state, disc), 0) << c.what;
        for (int e = 0; e < DB_ENTRY_COUNT; e++) {
            for (bool is_ext : {false, true}) {
                Field f{e, is_ext};
                auto want = c.texts.find(f);
                EXPECT_EQ(text_of(state->db, f), want == c.texts.end() ? "" : want->second)
                    << c.what << ": entry " << e << (is_ext ? " ext" : " title");
            }
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
    EXPECT_EQ(std::string(state->db.entries[4].title), all.substr(0, 255));
    EXPECT_EQ(std::string(state->db.entries[DISC_ENTRY].title), std::string(254, 'd') + "\t");
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
            snprintf(state->db.entries[e].title, TEXT_FIELD_SIZE, "old title %d", e);
            snprintf(state->db.entries[e].ext, TEXT_FIELD_SIZE, "old ext %d", e);
        }
        state->db.dirty = 1;
        EXPECT_EQ(load_database(*state, three), has_file ? 0 : -1);
        for (int e = 0; e < DB_ENTRY_COUNT; e++) {
            bool own = e < 3 || e == DISC_ENTRY;
            std::string want_title = own ? "" : "old title " + std::to_string(e);
            if (has_file && e == 1)
                want_title = "new";
            EXPECT_EQ(std::string(state->db.entries[e].title), want_title) << e;
            EXPECT_EQ(std::string(state->db.entries[e].ext),
                      own ? "" : "old ext " + std::to_string(e))
                << e;
        }
        EXPECT_EQ(state->db.dirty, 1);
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
        for (TrackText &entry : state->db.entries)
            snprintf(entry.title, TEXT_FIELD_SIZE, "old");
        write_file(file_of(cd), "TTITLE98=last\nDTITLE=disc\n");
        EXPECT_EQ(load_database(*state, cd), 0) << count;
        EXPECT_STREQ(state->db.entries[DISC_ENTRY].title, "disc") << count;
        EXPECT_STREQ(state->db.entries[98].title, count > 98 ? "last" : "oldlast") << count;
        EXPECT_STREQ(state->db.entries[0].title, count > 0 ? "" : "old") << count;
    }
}

TEST_F(Load, NoFileGivesMinusOne)
{
    auto state = fresh_state();
    snprintf(state->db.entries[DISC_ENTRY].title, TEXT_FIELD_SIZE, "previous disc");
    EXPECT_EQ(load_database(*state, disc), -1);
    EXPECT_STREQ(state->db.entries[DISC_ENTRY].title, "");
    EXPECT_EQ(std::string(database_path), file_of(disc).string());
}

// A few texts of stored entries, as the bytes stand in the file: encodings
// untouched, continued lines joined even mid-word, carriage returns kept.
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
        {"a10b600c", title(1), "Killers\r"},
        {"4510fd16", title(1), "What 'bout my star? @Formo\r"},
        {"4510fd16", title(2), "\xe3\x82\xa2\xe3\x82\xa4\xe3\x83\xa2\r"},
        {"940c700b", title(6), "Spieluhr (Ein Kleiner Mensch  Mix)"},
    };
    for (const Case &c : cases) {
        std::string stored = read_file(test_data(std::string("xmcd/") + c.entry + ".xmcd"));
        Toc cd = disc_of_entry(stored);
        write_file(file_of(cd), stored);
        auto state = fresh_state();
        ASSERT_EQ(load_database(*state, cd), 0) << c.entry;
        EXPECT_EQ(text_of(state->db, c.field), c.text) << c.entry;
    }
}

} // namespace
