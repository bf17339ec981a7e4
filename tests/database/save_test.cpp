#include "database/database.h"
#include "database_test_support.h"
#include "mivo_version.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

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
    return texts;
}

std::string field_output(const char *keyword, int index, const std::string &text)
{
    char *buffer = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&buffer, &size);
    EXPECT_EQ(write_field(out, keyword, index, text.c_str()), 0);
    fclose(out);
    std::string result(buffer, size);
    free(buffer);
    return result;
}

std::vector<std::string> files_in(const std::filesystem::path &dir)
{
    std::vector<std::string> names;
    for (const auto &f : std::filesystem::directory_iterator(dir))
        names.push_back(f.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(Save, WritesHeaderAndFieldsByteForByte)
{
    auto state = fresh_state();
    DiscDatabase &db = state->db;
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
        EXPECT_EQ(save_database(state->db, c.cd), 0) << c.what;
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
        for (TrackText &entry : state->db.entries) {
            for (char *field : {entry.title, entry.ext}) {
                int length = std::uniform_int_distribution<int>(0, 255)(random);
                for (int i = 0; i < length; i++) {
                    // Escaped characters often, so breaks fall on them.
                    int s = special(random);
                    field[i] = s == 0 ? "\t\n\\"[random() % 3] : static_cast<char>(byte(random));
                }
                field[length] = '\0';
            }
        }
        state->db.dirty = 1;
        ASSERT_EQ(save_database(state->db, cd), 0) << round;

        std::istringstream lines(read_file(file_of(cd)));
        for (std::string line; std::getline(lines, line);)
            ASSERT_LE(line.size() + 1, 72u) << round;

        auto loaded = fresh_state();
        ASSERT_EQ(load_database(*loaded, cd), 0) << round;
        ASSERT_EQ(texts_of(loaded->db, tracks), texts_of(state->db, tracks)) << round;
    }
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
        ASSERT_EQ(save_database(first->db, cd), 0) << f.path();
        std::string saved = read_file(file_of(cd));
        EXPECT_NE(saved, stored) << f.path();
        EXPECT_NE(saved.find("DISCID=" + id_text(compute_disc_id(cd)) + "\n"), std::string::npos);
        auto second = fresh_state();
        ASSERT_EQ(load_database(*second, cd), 0) << f.path();
        EXPECT_EQ(texts_of(second->db, cd.count), texts_of(first->db, cd.count)) << f.path();
    }
}

TEST_F(Save, KeepsThePermissionsOfTheFileItReplaces)
{
    auto state = fresh_state();
    mode_t old_mask = umask(022);
    ASSERT_EQ(save_database(state->db, two), 0);
    struct stat info;
    ASSERT_EQ(stat(file_of(two).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);

    chmod(file_of(two).c_str(), 0640);
    ASSERT_EQ(save_database(state->db, two), 0);
    ASSERT_EQ(stat(file_of(two).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    umask(old_mask);
}

TEST_F(Save, CreatesTheMissingDirectoriesOnThePath)
{
    std::string deep = home + "/a/b";
    setenv("HOME", deep.c_str(), 1);
    auto state = fresh_state();
    EXPECT_EQ(save_database(state->db, two), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(deep + "/.kel/06019002"));
}

// The target is a directory: nothing can replace it. The save fails, dirty
// stays set, and no temporary file is left behind.
TEST_F(Save, FileThatCannotBeReplacedLeavesDirtySet)
{
    std::filesystem::create_directories(file_of(two));
    write_file(file_of(two) / "inside", "kept");
    auto state = fresh_state();
    snprintf(state->db.entries[DISC_ENTRY].title, TEXT_FIELD_SIZE, "unsaved");
    state->db.dirty = 1;
    EXPECT_EQ(save_database(state->db, two), -1);
    EXPECT_EQ(state->db.dirty, 1);
    EXPECT_EQ(read_file(file_of(two) / "inside"), "kept");
    EXPECT_EQ(files_in(kel()), std::vector<std::string>{"06019002"});
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
    state->db.dirty = 1;
    EXPECT_EQ(save_database(state->db, two), -1);
    EXPECT_EQ(std::string(database_path).size(), 1022u);
    EXPECT_EQ(state->db.dirty, 1);
    EXPECT_TRUE(std::filesystem::is_directory(deep + "/.kel"));
    EXPECT_TRUE(std::filesystem::is_empty(deep + "/.kel"));
}

// Saves long texts under a file size limit, with the signal that would end
// the process ignored so that the writes fail instead; exits 0 when the save
// reported the failure and left dirty set.
[[noreturn]] void save_under_size_limit(const Toc &cd, rlim_t limit)
{
    signal(SIGXFSZ, SIG_IGN);
    rlimit small{limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &small) != 0)
        _exit(99);
    auto state = fresh_state();
    for (TrackText &entry : state->db.entries)
        memset(entry.title, 'n', TEXT_FIELD_SIZE - 1);
    state->db.dirty = 1;
    int result = save_database(state->db, cd);
    _exit(result == -1 && state->db.dirty == 1 ? 0 : 1);
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

// When the disc changes before edits could be saved, the edits are saved with
// the table of contents of the disc they belong to: the new disc's file is
// untouched and loads with its own texts.
TEST_F(Save, EditsOfThePreviousDiscGoToItsOwnFile)
{
    Toc previous = two;
    Toc next = make_disc({150, 20000, 40000}, 60000);
    write_file(file_of(next), "DTITLE=Next disc\nTTITLE2=third\n");
    const std::string next_file = read_file(file_of(next));

    auto state = fresh_state();
    ASSERT_EQ(load_database(*state, previous), -1);
    snprintf(state->db.entries[DISC_ENTRY].title, TEXT_FIELD_SIZE, "Edited");
    state->db.dirty = 1;

    ASSERT_EQ(save_database(state->db, previous), 0);
    ASSERT_EQ(load_database(*state, next), 0);
    EXPECT_STREQ(state->db.entries[DISC_ENTRY].title, "Next disc");
    EXPECT_STREQ(state->db.entries[2].title, "third");
    EXPECT_EQ(read_file(file_of(next)), next_file);
    ASSERT_EQ(load_database(*state, previous), 0);
    EXPECT_STREQ(state->db.entries[DISC_ENTRY].title, "Edited");
}

} // namespace
