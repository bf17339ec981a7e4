// SPDX-License-Identifier: GPL-3.0-or-later
#include "database/database.h"
#include "lookup/candidate.h"
#include "database_test_support.h"
#include "mivo_version.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <random>

using namespace dbtest;

namespace
{

class Save : public TempHomeTest
{
  protected:
    Toc two = make_disc({150, 15150}, 30150);
};

// Everything the loader gives for the disc's own entries, for comparing.
std::vector<std::string> texts_of(const DiscDatabase &db, int tracks)
{
    std::vector<std::string> texts;
    for (int e = 0; e < tracks; e++) {
        texts.push_back(db.entries[e].title);
        texts.push_back(db.entries[e].ext);
    }
    texts.push_back(db.entries[DISC_ENTRY].title);
    texts.push_back(db.entries[DISC_ENTRY].ext);
    texts.push_back(db.year);
    texts.push_back(db.genre);
    return texts;
}

std::string field_output(const char *keyword, int index, const std::string &text)
{
    static char buffer[8192];
    TextBuffer out{buffer, sizeof buffer, 0, false};
    EXPECT_EQ(write_field(out, keyword, index, text.c_str()), 0);
    EXPECT_FALSE(out.overflowed);
    return std::string(buffer, out.used);
}

TEST_F(Save, WritesHeaderAndFieldsByteForByte)
{
    auto state = fresh_state();
    DiscDatabase &db = *state;
    snprintf(db.entries[DISC_ENTRY].title, TEXT_FIELD_SIZE, "Artist / Album");
    snprintf(db.entries[0].title, TEXT_FIELD_SIZE, "One");
    snprintf(db.entries[1].title, TEXT_FIELD_SIZE, "Two\tTabs\\");
    snprintf(db.entries[1].ext, TEXT_FIELD_SIZE, "x\ny\r\xe9");
    snprintf(db.entries[2].title, TEXT_FIELD_SIZE, "not a track of this disc");
    db.dirty = 1;

    EXPECT_EQ(save_database(db, two), 0);
    EXPECT_EQ(db.dirty, 0);
    EXPECT_EQ(files_in(kel()), std::vector<std::string>{"06019002"});
    EXPECT_EQ(read_file(kel() / "06019002"), "# xmcd CD Database Entry\n"
                                             "#\n"
                                             "# Track frame offsets:\n"
                                             "# 150\n"
                                             "# 15150\n"
                                             "#\n"
                                             "# Disc length: 400 seconds\n"
                                             "# Submitted via: " MIVO_NAME_VERSION "\n"
                                             "#\n"
                                             "DISCID=06019002\n"
                                             "DTITLE=Artist / Album\n"
                                             "TTITLE0=One\n"
                                             "TTITLE1=Two\\tTabs\\\\\n"
                                             "EXTD=\n"
                                             "EXTT0=\n"
                                             "EXTT1=x\\ny\r\xe9\n"
                                             "PLAYORDER=\n");
}

TEST_F(Save, HeaderOfUnusualTablesOfContents)
{
    struct Case {
        const char *what;
        Toc cd;
        std::string file_name;
        std::string expected;
    } cases[] = {
        {"no tracks", make_disc({}, 0), "00000000",
         "# xmcd CD Database Entry\n#\n# Track frame offsets:\n#\n# Disc length: 0 seconds\n"
         "# Submitted via: " MIVO_NAME_VERSION
         "\n#\nDISCID=00000000\nDTITLE=\nEXTD=\nPLAYORDER=\n"},
        {"16-digit id, negative length",
         make_disc({29925, 36675, 43425, 50175, 56925, 63675, 70425}, 90000), "ffffffff93032107",
         "# xmcd CD Database Entry\n#\n# Track frame offsets:\n# 29925\n# 36675\n# 43425\n"
         "# 50175\n# 56925\n# 63675\n# 70425\n#\n# Disc length: -28632575 seconds\n"
         "# Submitted via: " MIVO_NAME_VERSION "\n#\nDISCID=ffffffff93032107\nDTITLE=\nTTITLE0=\n"
         "TTITLE1=\nTTITLE2=\nTTITLE3=\nTTITLE4=\nTTITLE5=\nTTITLE6=\nEXTD=\nEXTT0=\n"
         "EXTT1=\nEXTT2=\nEXTT3=\nEXTT4=\nEXTT5=\nEXTT6=\nPLAYORDER=\n"},
    };
    // A length the drive reports near 2^31 frames makes the sum a negative
    // count, which is divided truncating toward zero.
    cases[1].cd.track[6].length = 0x80000000u;
    for (Case &c : cases) {
        auto state = fresh_state();
        EXPECT_EQ(id_text(compute_disc_id(c.cd)), c.file_name) << c.what;
        EXPECT_EQ(save_database(*state, c.cd), 0) << c.what;
        EXPECT_EQ(read_file(kel() / c.file_name), c.expected) << c.what;
    }
}

TEST(WriteField, BreaksAfter61Or62EscapedCharacters)
{
    const std::string p59(59, 'p'), p60(60, 'p'), p61(61, 'p');
    struct Case {
        const char *keyword;
        int index;
        std::string text;
        std::string expected;
    } cases[] = {
        {"EXTD", -1, "", "EXTD=\n"},
        {"DTITLE", -1, p60, "DTITLE=" + p60 + "\n"},
        {"DTITLE", -1, p61, "DTITLE=" + p61 + "\nDTITLE=\n"},
        {"DTITLE", -1, p61 + "q", "DTITLE=" + p61 + "\nDTITLE=q\n"},
        {"TTITLE", 5, p60 + "\t", "TTITLE5=" + p60 + "\\t\nTTITLE5=\n"},
        {"TTITLE", 5, p59 + "\\more", "TTITLE5=" + p59 + "\\\\\nTTITLE5=more\n"},
        {"EXTT", 12, p59 + "\nx", "EXTT12=" + p59 + "\\n\nEXTT12=x\n"},
        // A CR is escaped where it would end a line, and only there.
        {"DTITLE", -1, "a\rb\r", "DTITLE=a\rb\\\r\n"},
        {"DTITLE", -1, p59 + "\rx", "DTITLE=" + p59 + "\rx\nDTITLE=\n"},
        {"DTITLE", -1, p60 + "\rx", "DTITLE=" + p60 + "\\\r\nDTITLE=x\n"},
        // A UTF-8 character that would pass 62 starts the next line whole.
        {"DTITLE", -1, p60 + "\xc3\xa9", "DTITLE=" + p60 + "\xc3\xa9\nDTITLE=\n"},
        {"DTITLE", -1, p60 + "\xe3\x83\x9e", "DTITLE=" + p60 + "\nDTITLE=\xe3\x83\x9e\n"},
        {"DTITLE", -1, p59 + "\xf0\x9f\x8e\xb5", "DTITLE=" + p59 + "\nDTITLE=\xf0\x9f\x8e\xb5\n"},
        {"TTITLE", 0, std::string(255, 'w'),
         "TTITLE0=" + std::string(61, 'w') + "\nTTITLE0=" + std::string(61, 'w') +
             "\nTTITLE0=" + std::string(61, 'w') + "\nTTITLE0=" + std::string(61, 'w') +
             "\nTTITLE0=" + std::string(11, 'w') + "\n"},
        {"TTITLE", 98, std::string(124, '\\'),
         "TTITLE98=" + std::string(62, '\\') + "\nTTITLE98=" + std::string(62, '\\') +
             "\nTTITLE98=" + std::string(62, '\\') + "\nTTITLE98=" + std::string(62, '\\') +
             "\nTTITLE98=\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(field_output(c.keyword, c.index, c.text), c.expected) << c.text;
}

// Any text of bytes 1 to 255 up to 255 bytes long comes back unchanged, and
// no line of the file is longer than 72 characters.
TEST_F(Save, AnyTextComesBackUnchanged)
{
    std::mt19937 random(20240601);
    std::uniform_int_distribution<int> byte(1, 255);
    std::uniform_int_distribution<int> special(0, 3);
    for (int round = 0; round < 60; round++) {
        int tracks = std::uniform_int_distribution<int>(0, MAX_DB_TRACKS)(random);
        std::vector<uint32_t> offsets;
        for (int t = 0; t < tracks; t++)
            offsets.push_back(150 + static_cast<uint32_t>(t) * 9000 + random() % 8000);
        Toc cd = make_disc(offsets, 150 + static_cast<uint32_t>(tracks) * 9000);

        auto state = fresh_state();
        std::vector<char *> fields{state->year, state->genre};
        for (TrackText &entry : state->entries) {
            fields.push_back(entry.title);
            fields.push_back(entry.ext);
        }
        for (char *field : fields) {
            int length = std::uniform_int_distribution<int>(0, 255)(random);
            for (int i = 0; i < length; i++) {
                // Escaped characters and CRs often, so breaks fall on them.
                int s = special(random);
                field[i] = s == 0 ? "\t\n\\\r"[random() % 4] : static_cast<char>(byte(random));
            }
            field[length] = '\0';
        }
        state->dirty = 1;
        ASSERT_EQ(save_database(*state, cd), 0) << round;

        std::istringstream lines(read_file(file_of(cd)));
        for (std::string line; std::getline(lines, line);)
            ASSERT_LE(line.size() + 1, 72u) << round;

        auto loaded = fresh_state();
        ASSERT_EQ(load_database(*loaded, cd), 0) << round;
        ASSERT_EQ(texts_of(*loaded, tracks), texts_of(*state, tracks)) << round;
    }
}

// Titles of multi-byte characters at every offset against the line breaks:
// each saved line is valid UTF-8 on its own, and the texts read back the same.
TEST_F(Save, LinesBreakBetweenCharacters)
{
    const std::string characters[] = {"\xc3\xa9", "\xe3\x83\x9e", "\xf0\x9f\x8e\xb5"};
    Toc cd = make_disc({150, 9150, 18150, 27150}, 36150);
    for (const std::string &character : characters) {
        auto state = fresh_state();
        std::vector<char *> fields;
        for (int e = 0; e < 4; e++)
            fields.push_back(state->entries[e].title);
        fields.push_back(state->entries[DISC_ENTRY].title);
        fields.push_back(state->entries[DISC_ENTRY].ext);
        for (size_t f = 0; f < fields.size(); f++) {
            // ASCII runs of every length modulo the character, so that the
            // character falls on each place of the break.
            std::string text(f % 4, 'a');
            while (text.size() + character.size() < TEXT_FIELD_SIZE)
                text += character;
            snprintf(fields[f], TEXT_FIELD_SIZE, "%s", text.c_str());
        }
        state->dirty = 1;
        ASSERT_EQ(save_database(*state, cd), 0);

        std::istringstream lines(read_file(file_of(cd)));
        for (std::string line; std::getline(lines, line);) {
            EXPECT_TRUE(valid_utf8(line.data(), line.size())) << line;
            EXPECT_LE(line.size() + 1, 72u) << line;
        }
        auto loaded = fresh_state();
        ASSERT_EQ(load_database(*loaded, cd), 0);
        EXPECT_EQ(texts_of(*loaded, 4), texts_of(*state, 4)) << character;
    }
}

// The longest entry there can be, every field full of characters that are
// escaped to two, is saved whole and reads back the same.
TEST_F(Save, TheLongestEntrySavesWhole)
{
    std::vector<uint32_t> offsets;
    for (int t = 0; t < MAX_DB_TRACKS; t++)
        offsets.push_back(150 + static_cast<uint32_t>(t) * 9000);
    Toc cd = make_disc(offsets, 150 + MAX_DB_TRACKS * 9000);
    auto state = fresh_state();
    std::vector<char *> fields{state->year, state->genre};
    for (TrackText &entry : state->entries) {
        fields.push_back(entry.title);
        fields.push_back(entry.ext);
    }
    for (char *field : fields) {
        memset(field, '\\', TEXT_FIELD_SIZE - 1);
        field[TEXT_FIELD_SIZE - 1] = '\0';
    }
    state->dirty = 1;
    ASSERT_EQ(save_database(*state, cd), 0) << database_error();
    const std::string saved = read_file(file_of(cd));
    EXPECT_GT(saved.size(), 100u * 1024u);
    EXPECT_EQ(saved.substr(saved.size() - 11), "PLAYORDER=\n");
    auto loaded = fresh_state();
    ASSERT_EQ(load_database(*loaded, cd), 0);
    EXPECT_EQ(texts_of(*loaded, MAX_DB_TRACKS), texts_of(*state, MAX_DB_TRACKS));
}

// Stored entries made by other programs lose nothing of their texts through
// one load and save.
TEST_F(Save, StoredEntriesKeepEveryTextThroughLoadAndSave)
{
    for (const auto &f : std::filesystem::directory_iterator(test_data("xmcd"))) {
        if (f.path().extension() != ".xmcd")
            continue;
        std::string stored = read_file(f.path());
        Toc cd = disc_of_entry(stored);
        write_file(file_of(cd), stored);
        auto first = fresh_state();
        ASSERT_EQ(load_database(*first, cd), 0) << f.path();
        ASSERT_EQ(save_database(*first, cd), 0) << f.path();
        std::string saved = read_file(file_of(cd));
        EXPECT_NE(saved, stored) << f.path();
        EXPECT_NE(saved.find("DISCID=" + id_text(compute_disc_id(cd)) + "\n"), std::string::npos);
        auto second = fresh_state();
        ASSERT_EQ(load_database(*second, cd), 0) << f.path();
        EXPECT_EQ(texts_of(*second, cd.count), texts_of(*first, cd.count)) << f.path();
    }
}

// A new file takes the read and write bits of the file it replaces, never
// execute, set-id or sticky bits; without a file to replace, what the
// file-creation mask allows. A link is replaced by a file, its target kept.
TEST_F(Save, PermissionBitsOfTheNewFile)
{
    struct Case {
        const char *what;
        int old_mode; // -1: no old file
        mode_t mask;
        mode_t expected;
    } cases[] = {
        {"no old file", -1, 022, 0644}, {"no old file, private mask", -1, 077, 0600},
        {"0644", 0644, 077, 0644},      {"0640", 0640, 022, 0640},
        {"0600", 0600, 022, 0600},      {"0444", 0444, 022, 0444},
        {"0755", 0755, 022, 0644},      {"04755", 04755, 022, 0644},
        {"02775", 02775, 022, 0664},    {"01666", 01666, 022, 0666},
        {"07777", 07777, 022, 0666},
    };
    for (const Case &c : cases) {
        std::filesystem::remove_all(kel());
        if (c.old_mode >= 0) {
            write_file(file_of(two), "DTITLE=old\n");
            ASSERT_EQ(chmod(file_of(two).c_str(), static_cast<mode_t>(c.old_mode)), 0);
        }
        mode_t old_mask = umask(c.mask);
        auto state = fresh_state();
        EXPECT_EQ(save_database(*state, two), 0) << c.what;
        umask(old_mask);
        struct stat info;
        ASSERT_EQ(stat(file_of(two).c_str(), &info), 0) << c.what;
        EXPECT_EQ(info.st_mode & 07777, c.expected) << c.what;
    }

    std::filesystem::remove_all(kel());
    std::filesystem::create_directories(kel());
    std::filesystem::path target = std::filesystem::path(home) / "program";
    write_file(target, "#!/bin/sh\n");
    ASSERT_EQ(chmod(target.c_str(), 04755), 0);
    std::filesystem::create_symlink(target, file_of(two));
    auto state = fresh_state();
    EXPECT_EQ(save_database(*state, two), 0);
    struct stat info;
    ASSERT_EQ(lstat(file_of(two).c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 04755u);
    EXPECT_EQ(read_file(target), "#!/bin/sh\n");

    // A device's bits are no file's: the new file gets the mask's.
    std::filesystem::remove(file_of(two));
    std::filesystem::create_symlink("/dev/null", file_of(two));
    mode_t old_mask = umask(022);
    EXPECT_EQ(save_database(*state, two), 0);
    umask(old_mask);
    ASSERT_EQ(lstat(file_of(two).c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0644u);
}

TEST_F(Save, CreatesTheMissingDirectoriesOnThePath)
{
    std::string deep = home + "/a/b";
    setenv("HOME", deep.c_str(), 1);
    auto state = fresh_state();
    EXPECT_EQ(save_database(*state, two), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(deep + "/.kel/06019002"));
}

// Every way a save can fail leaves dirty set, what stood there as it was, no
// temporary behind, and a line naming the file and the reason.
TEST_F(Save, FailuresAreReportedAndLeaveEverythingAsItWas)
{
    struct Case {
        const char *what;
        void (*make)(const std::filesystem::path &kel, const std::filesystem::path &file);
        std::string reason;
        bool needs_permission_bits;
    } cases[] = {
        {"directory in place of the file",
         [](const std::filesystem::path &, const std::filesystem::path &file) {
             std::filesystem::create_directories(file);
             write_file(file / "inside", "kept");
         },
         "Is a directory", false},
        {"~/.kel a file",
         [](const std::filesystem::path &kel, const std::filesystem::path &) {
             write_file(kel, "not a directory");
         },
         "Not a directory", false},
        {"~/.kel a dangling link",
         [](const std::filesystem::path &kel, const std::filesystem::path &) {
             std::filesystem::create_symlink(kel.string() + "-gone", kel);
         },
         "No such file or directory", false},
        {"~/.kel read-only",
         [](const std::filesystem::path &kel, const std::filesystem::path &file) {
             write_file(file, "DTITLE=old\n");
             chmod(kel.c_str(), 0555);
         },
         "Permission denied", true},
    };
    for (const Case &c : cases) {
        std::filesystem::permissions(home, std::filesystem::perms::owner_all);
        std::filesystem::remove_all(home);
        std::filesystem::create_directories(home);
        c.make(kel(), file_of(two));
        std::string before = listing(home);

        auto state = fresh_state();
        snprintf(state->entries[DISC_ENTRY].title, TEXT_FIELD_SIZE, "unsaved");
        state->dirty = 1;
        {
            PermissionBitsCount bits;
            if (c.needs_permission_bits && !bits.works()) {
                ADD_FAILURE() << c.what << ": cannot take away root's file overrides";
                continue;
            }
            EXPECT_EQ(save_database(*state, two), -1) << c.what;
        }
        EXPECT_EQ(state->dirty, 1) << c.what;
        EXPECT_STREQ(state->entries[DISC_ENTRY].title, "unsaved") << c.what;
        EXPECT_EQ(std::string(database_error()),
                  "could not save " + file_of(two).string() + ": " + c.reason)
            << c.what;
        EXPECT_EQ(listing(home), before) << c.what;
        std::error_code ignored;
        std::filesystem::permissions(kel(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
}

// A path with no room for the temporary name fails the save, after the
// directories on it were made.
TEST_F(Save, PathTooLongForTheTemporaryNameFails)
{
    std::string deep = home;
    while (deep.size() + 200 < 1022 - 14)
        deep += "/" + std::string(199, 'd');
    deep += "/" + std::string(1022 - 14 - deep.size() - 1, 'e');
    setenv("HOME", deep.c_str(), 1);
    auto state = fresh_state();
    state->dirty = 1;
    EXPECT_EQ(save_database(*state, two), -1);
    EXPECT_EQ(std::string(database_path).size(), 1022u);
    EXPECT_EQ(state->dirty, 1);
    EXPECT_TRUE(std::filesystem::is_directory(deep + "/.kel"));
    EXPECT_TRUE(std::filesystem::is_empty(deep + "/.kel"));
}

// The year and genre follow the disc title, each only when it has a text.
TEST_F(Save, WritesYearAndGenreAfterTheDiscTitle)
{
    const std::string head = "# xmcd CD Database Entry\n#\n# Track frame offsets:\n# 150\n"
                             "# 15150\n#\n# Disc length: 400 seconds\n"
                             "# Submitted via: mivo 1.0.0\n#\nDISCID=06019002\nDTITLE=A / B\n";
    const std::string tail = "TTITLE0=\nTTITLE1=\nEXTD=\nEXTT0=\nEXTT1=\nPLAYORDER=\n";
    struct Case {
        const char *year;
        const char *genre;
        std::string fields;
    } cases[] = {
        {"", "", ""},
        {"1994", "", "DYEAR=1994\n"},
        {"", "Rock\tPop", "DGENRE=Rock\\tPop\n"},
        {"1994", "Rock", "DYEAR=1994\nDGENRE=Rock\n"},
    };
    for (const Case &c : cases) {
        auto state = fresh_state();
        snprintf(state->entries[DISC_ENTRY].title, TEXT_FIELD_SIZE, "A / B");
        snprintf(state->year, TEXT_FIELD_SIZE, "%s", c.year);
        snprintf(state->genre, TEXT_FIELD_SIZE, "%s", c.genre);
        ASSERT_EQ(save_database(*state, two), 0);
        EXPECT_EQ(read_file(file_of(two)), head + c.fields + tail) << c.year << c.genre;
    }
}

// A file that is there and could not be read (no permission, no regular
// file, past the bound of one load) is never replaced, however often the
// texts are saved; once a load reads it again, saves go on as usual.
TEST_F(Save, AFileThatCouldNotBeReadIsNeverReplaced)
{
    struct Case {
        const char *what;
        void (*make)(const std::filesystem::path &file);
        bool needs_permission_bits;
    } cases[] = {
        {"mode 000",
         [](const std::filesystem::path &file) {
             write_file(file, "DTITLE=precious\n");
             chmod(file.c_str(), 0);
         },
         true},
        {"FIFO", [](const std::filesystem::path &file) { mkfifo(file.c_str(), 0644); }, false},
        {"link to /dev/zero",
         [](const std::filesystem::path &file) {
             std::filesystem::create_symlink("/dev/zero", file);
         },
         false},
        {"larger than one load reads",
         [](const std::filesystem::path &file) {
             write_file(file, "DTITLE=precious\n# " + std::string(1 << 20, 'x') + "\n");
         },
         false},
    };
    for (const Case &c : cases) {
        std::filesystem::remove_all(kel());
        std::filesystem::create_directories(kel());
        c.make(file_of(two));
        std::string before = listing(home);

        auto state = fresh_state();
        {
            PermissionBitsCount bits;
            if (c.needs_permission_bits && !bits.works()) {
                ADD_FAILURE() << c.what << ": cannot take away root's file overrides";
                continue;
            }
            EXPECT_EQ(load_database(*state, two), -1) << c.what;
        }
        snprintf(state->entries[DISC_ENTRY].title, TEXT_FIELD_SIZE, "typed over it");
        for (int dirty : {0, 1}) {
            state->dirty = dirty;
            EXPECT_EQ(save_database(*state, two), -1) << c.what;
            EXPECT_EQ(state->dirty, dirty) << c.what;
            EXPECT_EQ(std::string(database_error()),
                      "could not save " + file_of(two).string() +
                          ": the file there could not be read, so it is left as it is")
                << c.what;
        }
        EXPECT_EQ(listing(home), before) << c.what;

        std::filesystem::remove_all(file_of(two));
        write_file(file_of(two), "DTITLE=readable now\n");
        EXPECT_EQ(load_database(*state, two), 0) << c.what;
        state->dirty = 1;
        EXPECT_EQ(save_database(*state, two), 0) << c.what;
        EXPECT_EQ(state->dirty, 0) << c.what;
    }
}

// Temporaries of this disc's saves that never finished go once they are a
// minute old; younger ones may be another instance's save in progress, and
// other names are not the save's to touch.
TEST_F(Save, ClearsLeftoversOfSavesThatNeverFinished)
{
    const std::string id = id_text(compute_disc_id(two));
    std::filesystem::create_directories(kel());
    struct Entry {
        std::string name;
        int age_seconds;
        bool directory;
        bool stays;
    } entries[] = {
        {id + ".a1B2c3", 120, false, false}, {id + ".ZZZZZZ", 61 + 60, false, false},
        {id + ".young1", 10, false, true},   {id + ".abc12", 120, false, true},
        {id + ".abc1234", 120, false, true}, {id + ".ab-c12", 120, false, true},
        {id + ".dir123", 120, true, true},   {"06019003.a1B2c3", 120, false, true},
        {"notes", 120, false, true},
    };
    time_t now = time(nullptr);
    for (const Entry &e : entries) {
        std::filesystem::path p = kel() / e.name;
        if (e.directory)
            std::filesystem::create_directory(p);
        else
            write_file(p, "left over");
        timespec times[2] = {{now - e.age_seconds, 0}, {now - e.age_seconds, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
    }
    auto state = fresh_state();
    ASSERT_EQ(save_database(*state, two), 0);
    std::vector<std::string> expected{id};
    for (const Entry &e : entries) {
        if (e.stays)
            expected.push_back(e.name);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files_in(kel()), expected);
}

// A home so long that the disc's path does not fit: nothing is read from or
// written to the name the path would be cut to, and both report it.
TEST_F(Save, APathThatDoesNotFitIsAFailedLoadAndSave)
{
    std::string deep = home;
    while (deep.size() < 1011 - 200)
        deep += "/" + std::string(199, 'd');
    deep += "/" + std::string(1011 - deep.size() - 1, 'e');
    ASSERT_EQ(deep.size(), 1011u);
    setenv("HOME", deep.c_str(), 1);
    // What the cut path would name: the home, "/.kel/" and the id's first digits.
    std::string cut = (deep + "/.kel/" + id_text(compute_disc_id(two))).substr(0, 1022);
    write_file(cut, "DTITLE=planted\n");
    const std::string expected_error = ": File name too long";

    auto state = fresh_state();
    EXPECT_EQ(load_database(*state, two), -1);
    EXPECT_STREQ(state->entries[DISC_ENTRY].title, "");
    EXPECT_EQ(std::string(database_error()),
              "could not load ~/.kel/" + id_text(compute_disc_id(two)) + expected_error);

    state->unreadable = 0;
    state->dirty = 1;
    EXPECT_EQ(save_database(*state, two), -1);
    EXPECT_EQ(state->dirty, 1);
    EXPECT_EQ(std::string(database_error()),
              "could not save ~/.kel/" + id_text(compute_disc_id(two)) + expected_error);
    EXPECT_EQ(read_file(cut), "DTITLE=planted\n");
    EXPECT_EQ(files_in(deep + "/.kel"), std::vector<std::string>{cut.substr(cut.rfind('/') + 1)});
}

// Runs a save on a small file system of its own, mounted over the home in a
// mount namespace of a child, full or read-only; exits 0 when the save failed
// with the reason expected and the old file stayed whole, 77 when this
// machine lets no test mount a file system.
[[noreturn]] void save_on_own_file_system(const std::string &home, const Toc &disc, bool read_only)
{
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", home.c_str(), "tmpfs", 0, "size=64k") != 0)
        _exit(77);
    std::filesystem::path kel = std::filesystem::path(home) / ".kel";
    std::filesystem::path file = kel / id_text(compute_disc_id(disc));
    write_file(file, "DTITLE=old\n");
    if (read_only) {
        if (mount(nullptr, home.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            _exit(77);
    } else {
        // Fill every block, so the save's first write finds no room.
        FILE *filler = fopen((std::filesystem::path(home) / "filler").c_str(), "w");
        char block[4096] = {};
        while (filler != nullptr && fwrite(block, 1, sizeof block, filler) == sizeof block &&
               fflush(filler) == 0) {
        }
        if (filler != nullptr)
            fclose(filler);
    }
    auto state = fresh_state();
    snprintf(state->entries[DISC_ENTRY].title, TEXT_FIELD_SIZE, "new");
    state->dirty = 1;
    int result = save_database(*state, disc);
    std::string expected = "could not save " + file.string() +
                           (read_only ? ": Read-only file system" : ": No space left on device");
    bool ok = result == -1 && state->dirty == 1 && database_error() == expected &&
              read_file(file) == "DTITLE=old\n" &&
              files_in(kel) == std::vector<std::string>{file.filename().string()};
    if (!ok)
        fprintf(stderr, "result %d, error \"%s\"\n", result, database_error());
    _exit(ok ? 0 : 1);
}

// A full file system and a read-only one each fail the save by name.
TEST_F(Save, FullAndReadOnlyFileSystemsFailTheSave)
{
    for (bool read_only : {false, true}) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            save_on_own_file_system(home, two, read_only);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << read_only;
        if (WEXITSTATUS(status) == 77)
            GTEST_SKIP() << "no file system can be mounted here";
        EXPECT_EQ(WEXITSTATUS(status), 0) << (read_only ? "read-only" : "full");
    }
}

// Saves long texts under a file size limit, with the signal that would end
// the process ignored so that the writes fail instead; exits 0 when the save
// reported the failure by name and left dirty set.
[[noreturn]] void save_under_size_limit(const Toc &cd, rlim_t limit)
{
    signal(SIGXFSZ, SIG_IGN);
    rlimit small{limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &small) != 0)
        _exit(99);
    auto state = fresh_state();
    for (TrackText &entry : state->entries)
        memset(entry.title, 'n', TEXT_FIELD_SIZE - 1);
    state->dirty = 1;
    int result = save_database(*state, cd);
    std::string expected = "could not save " + std::string(database_path) + ": File too large";
    _exit(result == -1 && state->dirty == 1 && database_error() == expected ? 0 : 1);
}

// A disk that fills up in the middle of a save: the old file must stay whole.
// A small limit fails at the final flush, a larger one in the middle of the
// writes.
TEST_F(Save, FullDiskLeavesTheOldFileIntact)
{
    const std::string old_contents = "DTITLE=old title\n# a file that must survive\n";
    std::vector<uint32_t> offsets;
    for (uint32_t t = 0; t < MAX_DB_TRACKS; t++)
        offsets.push_back(150 + t * 3000);
    Toc full = make_disc(offsets, 150 + MAX_DB_TRACKS * 3000);
    for (rlim_t limit : {rlim_t{100}, rlim_t{5000}}) {
        write_file(file_of(full), old_contents);
        EXPECT_EXIT(save_under_size_limit(full, limit), ::testing::ExitedWithCode(0), "") << limit;
        EXPECT_EQ(read_file(file_of(full)), old_contents) << limit;
        EXPECT_EQ(files_in(kel()), std::vector<std::string>{id_text(compute_disc_id(full))})
            << limit;
    }
}

// A save goes to the file of the table of contents it is given, whatever
// file the last load or save named: after the next disc's file was loaded,
// the previous disc's texts still land in the previous disc's file. (The main
// loop's own disc change is tested with the main loop.)
TEST_F(Save, GoesToTheFileOfTheTocItIsGivenNotTheLastOneNamed)
{
    Toc previous = two;
    Toc next = make_disc({150, 20000, 40000}, 60000);
    write_file(file_of(next), "DTITLE=Next disc\nTTITLE2=third\n");
    const std::string next_file = read_file(file_of(next));

    auto edited = fresh_state();
    snprintf(edited->entries[DISC_ENTRY].title, TEXT_FIELD_SIZE, "Edited");
    edited->dirty = 1;
    auto other = fresh_state();
    ASSERT_EQ(load_database(*other, next), 0);
    ASSERT_EQ(std::string(database_path), file_of(next).string());

    ASSERT_EQ(save_database(*edited, previous), 0);
    EXPECT_EQ(read_file(file_of(next)), next_file);
    ASSERT_EQ(load_database(*other, previous), 0);
    EXPECT_STREQ(other->entries[DISC_ENTRY].title, "Edited");
}

// Two copies of mivo on one disc: each save writes only what its copy edited
// since its load over what the file holds by then.
TEST_F(Save, TwoCopiesKeepEachOthersEdits)
{
    Toc five = make_disc({150, 9150, 18150, 27150, 36150}, 45150);
    write_file(file_of(five), "DTITLE=Artist / Album\nTTITLE0=one\nTTITLE1=two\nTTITLE3=four\n");
    auto a = fresh_state();
    auto b = fresh_state();
    ASSERT_EQ(load_database(*a, five), 0);
    ASSERT_EQ(load_database(*b, five), 0);

    // B saves track 1, then A, open since before, track 4: both stay.
    snprintf(b->entries[0].title, TEXT_FIELD_SIZE, "one by B");
    ASSERT_EQ(save_database(*b, five), 0);
    snprintf(a->entries[3].title, TEXT_FIELD_SIZE, "four by A");
    ASSERT_EQ(save_database(*a, five), 0);
    EXPECT_EQ(a->conflicts, 0);
    EXPECT_STREQ(database_conflict_note(), "");
    auto reread = fresh_state();
    ASSERT_EQ(load_database(*reread, five), 0);
    EXPECT_STREQ(reread->entries[0].title, "one by B");
    EXPECT_STREQ(reread->entries[3].title, "four by A");
    EXPECT_STREQ(reread->entries[1].title, "two");
    EXPECT_STREQ(a->entries[0].title, "one by B") << "A now shows what the file holds";

    // A save of a copy that edited nothing leaves the file as the other wrote it.
    snprintf(a->entries[2].title, TEXT_FIELD_SIZE, "three by A");
    ASSERT_EQ(save_database(*a, five), 0);
    std::string written = read_file(file_of(five));
    b->dirty = 1;
    ASSERT_EQ(save_database(*b, five), 0);
    EXPECT_EQ(read_file(file_of(five)), written);
    EXPECT_STREQ(b->entries[2].title, "three by A");

    // Both edit track 2: the later save wins that field alone, and says so.
    snprintf(b->entries[1].title, TEXT_FIELD_SIZE, "two by B");
    snprintf(b->entries[4].title, TEXT_FIELD_SIZE, "five by B");
    ASSERT_EQ(save_database(*b, five), 0);
    snprintf(a->entries[1].title, TEXT_FIELD_SIZE, "two by A");
    ASSERT_EQ(save_database(*a, five), 0);
    EXPECT_EQ(a->conflicts, 1);
    EXPECT_EQ(std::string(database_conflict_note()),
              "Track 2's title was also changed elsewhere since it was loaded; this copy's was "
              "saved.");
    ASSERT_EQ(load_database(*reread, five), 0);
    EXPECT_STREQ(reread->entries[1].title, "two by A");
    EXPECT_STREQ(reread->entries[4].title, "five by B");
}

// A save waits for another program's save of the directory and reads the
// file only once that save is over, so the two cannot interleave.
TEST_F(Save, SavesOfTheDirectoryTakeTurns)
{
    Toc two_tracks = two;
    write_file(file_of(two_tracks), "TTITLE0=zero\nTTITLE1=one\n");
    auto a = fresh_state();
    ASSERT_EQ(load_database(*a, two_tracks), 0);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t other = fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        // The other program: holds the lock, writes its edit late, lets go.
        int dir = open(kel().c_str(), O_RDONLY | O_DIRECTORY);
        if (dir < 0 || flock(dir, LOCK_EX) != 0 || write(ready[1], "x", 1) != 1)
            _exit(1);
        usleep(300 * 1000);
        write_file(file_of(two_tracks), "TTITLE0=zero by the other\nTTITLE1=one\n");
        _exit(0);
    }
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    snprintf(a->entries[1].title, TEXT_FIELD_SIZE, "one by A");
    EXPECT_EQ(save_database(*a, two_tracks), 0) << database_error();
    int status = 0;
    waitpid(other, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    close(ready[0]);
    close(ready[1]);
    auto reread = fresh_state();
    ASSERT_EQ(load_database(*reread, two_tracks), 0);
    EXPECT_STREQ(reread->entries[0].title, "zero by the other");
    EXPECT_STREQ(reread->entries[1].title, "one by A");
}

} // namespace
