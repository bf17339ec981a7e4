// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for the database loader: any bytes as a disc's file.
//
// Each input is loaded, and every text must be what an independent reading
// of the file's bytes gives: lines split at "\n", NUL bytes dropped, a CR
// before the line end dropped unless a backslash escapes it, keywords and
// indices as strtoul reads them, escapes undone, 255 bytes kept. The texts
// must stay NUL-terminated within their buffers, and saving them and loading
// the result must give the same texts back, in a file of lines no longer than
// 72 characters. The first byte picks the drive's track count, counts a real
// drive never reports included.
//
// ctest runs it briefly; README's "Fuzzing" gives the longer run.
#include "database/database.h"
#include "database/disc_id.h"
#include "fuzz_target.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

namespace
{

char fuzz_home[64];

// Names the broken property and ends the run, so the fuzzer keeps the input.
[[noreturn]] void fail(const char *why)
{
    fprintf(stderr, "load_database fuzz: %s\n", why);
    abort();
}

// A drive of the given track count, every offset 0, so that each count has a
// file name of its own.
Toc drive_with(int count)
{
    Toc cd{};
    cd.count = count;
    return cd;
}

// Removes what the target leaves behind: the file of every track count it can
// use, then the directories.
void remove_fuzz_home()
{
    char path[256];
    for (int count = -8; count < 120; count++) {
        snprintf(path, sizeof path, "%s/.kel/%08" PRIx64, fuzz_home,
                 compute_disc_id(drive_with(count)));
        unlink(path);
    }
    snprintf(path, sizeof path, "%s/.kel", fuzz_home);
    rmdir(path);
    rmdir(fuzz_home);
}

// A home of its own on a memory file system when there is one, since every
// save syncs its file.
bool set_up_home()
{
    const char *bases[] = {"/dev/shm", "/tmp"};
    for (const char *base : bases) {
        snprintf(fuzz_home, sizeof fuzz_home, "%s/mivo-fuzz-XXXXXX", base);
        if (mkdtemp(fuzz_home) != nullptr) {
            setenv("HOME", fuzz_home, 1);
            atexit(remove_fuzz_home);
            return true;
        }
    }
    fail("no directory for a home");
}

void check_terminated(const DiscDatabase &db)
{
    for (const TrackText &entry : db.entries) {
        if (memchr(entry.title, '\0', TEXT_FIELD_SIZE) == nullptr ||
            memchr(entry.ext, '\0', TEXT_FIELD_SIZE) == nullptr)
            fail("a text without its NUL");
    }
    if (memchr(db.year, '\0', TEXT_FIELD_SIZE) == nullptr ||
        memchr(db.genre, '\0', TEXT_FIELD_SIZE) == nullptr)
        fail("a text without its NUL");
}

void check_lines_short(const char *path)
{
    FILE *file = fopen(path, "r");
    if (file == nullptr)
        fail("the saved file cannot be read");
    char line[128];
    while (fgets(line, sizeof line, file) != nullptr) {
        size_t length = strlen(line);
        if (length > 72 || line[length - 1] != '\n')
            fail("a saved line longer than 72 characters");
    }
    fclose(file);
}

DiscDatabase loaded;
DiscDatabase reloaded;

// The texts a file should give, as plain strings.
struct Texts {
    std::string title[DB_ENTRY_COUNT];
    std::string ext[DB_ENTRY_COUNT];
    std::string year;
    std::string genre;
};

Texts texts_of(const DiscDatabase &db)
{
    Texts t;
    for (int e = 0; e < DB_ENTRY_COUNT; e++) {
        t.title[e] = db.entries[e].title;
        t.ext[e] = db.entries[e].ext;
    }
    t.year = db.year;
    t.genre = db.genre;
    return t;
}

// Appends a value as the format has it: "\\t" a tab, "\\n" a newline, a
// backslash and any other character that character, a lone backslash at the
// end dropped; at most 255 bytes in the field.
void append_value(std::string &field, const std::string &value)
{
    for (size_t i = 0; i < value.size() && field.size() < TEXT_FIELD_SIZE - 1; i++) {
        char c = value[i];
        if (c == '\\') {
            if (++i == value.size())
                break;
            c = value[i] == 't' ? '\t' : value[i] == 'n' ? '\n' : value[i];
        }
        field += c;
    }
}

// Reads one line, its "\n" already split off, into the field it names.
void reference_line(Texts &t, std::string line)
{
    bool cr_at_end = !line.empty() && line.back() == '\r';
    if (cr_at_end)
        line.pop_back();
    std::string *field = nullptr;
    size_t value_at = 0;
    auto starts = [&line](const char *keyword) { return line.rfind(keyword, 0) == 0; };
    if (starts("DTITLE=")) {
        field = &t.title[DISC_ENTRY], value_at = 7;
    } else if (starts("EXTD=")) {
        field = &t.ext[DISC_ENTRY], value_at = 5;
    } else if (starts("DYEAR=")) {
        field = &t.year, value_at = 6;
    } else if (starts("DGENRE=")) {
        field = &t.genre, value_at = 7;
    } else if (starts("TTITLE") || starts("EXTT")) {
        bool ext = line[0] == 'E';
        const char *after = line.c_str() + (ext ? 4 : 6);
        char *end = nullptr;
        unsigned long n = strtoul(after, &end, 10);
        if (*end != '=' || n >= static_cast<unsigned long>(MAX_DB_TRACKS))
            return;
        field = ext ? &t.ext[n] : &t.title[n];
        value_at = static_cast<size_t>(end + 1 - line.c_str());
    } else {
        return;
    }
    std::string value = line.substr(value_at);
    // A CR before the line end stays only when an odd run of backslashes,
    // which pair up from the left, leaves one to escape it.
    size_t last = value.find_last_not_of('\\');
    size_t run = last == std::string::npos ? value.size() : value.size() - last - 1;
    if (cr_at_end && run % 2 == 1)
        value += '\r';
    append_value(*field, value);
}

// What loading the bytes into a state that held before should give: the
// disc's own texts start empty, texts of other entries are kept.
Texts reference_load(const uint8_t *data, size_t size, const Texts &before, int tracks)
{
    Texts t = before;
    for (int e = 0; e < tracks; e++)
        t.title[e].clear(), t.ext[e].clear();
    t.title[DISC_ENTRY].clear();
    t.ext[DISC_ENTRY].clear();
    t.year.clear();
    t.genre.clear();
    std::string line;
    for (size_t i = 0; i < size; i++) {
        char c = static_cast<char>(data[i]);
        if (c == '\0')
            continue;
        if (c == '\n') {
            reference_line(t, line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty())
        reference_line(t, line);
    return t;
}

// Names the first text that differs, for the fuzzer's report.
void compare(const Texts &got, const Texts &want, int tracks, bool own_only, const char *what)
{
    for (int e = 0; e < DB_ENTRY_COUNT; e++) {
        if (own_only && e >= tracks && e != DISC_ENTRY)
            continue;
        if (got.title[e] != want.title[e] || got.ext[e] != want.ext[e]) {
            fprintf(stderr, "entry %d\n", e);
            fail(what);
        }
    }
    if (got.year != want.year || got.genre != want.genre)
        fail(what);
}

const char *const TOKENS[] = {
    "DTITLE=", "EXTD=", "TTITLE", "EXTT", "DISCID=", "PLAYORDER=", "DYEAR=", "DGENRE=",
    "#",       "=",     "\\\\",  "\\n",  "\\t",     "\r",         "\\\r",   "007",
};

} // namespace

// Seeds load as the file of a twelve-track disc.
const FuzzHints fuzz_hints = {TOKENS, std::size(TOKENS), "\x14", 1};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = set_up_home();
    (void)ready;
    int count = size > 0 ? data[0] % 128 - 8 : 0;
    Toc drive = drive_with(count);
    if (size > 0) {
        data++;
        size--;
    }

    build_database_path(compute_disc_id(drive));
    FILE *file = fopen(database_path, "w");
    if (file == nullptr) {
        // First use of this name: the directory is made by a save.
        save_database(loaded, drive);
        file = fopen(database_path, "w");
        if (file == nullptr)
            fail("the database file cannot be written");
    }
    if (size > 0 && fwrite(data, 1, size, file) != size)
        fail("the database file cannot be written");
    fclose(file);

    int tracks = count < 0 ? 0 : (count > MAX_DB_TRACKS ? MAX_DB_TRACKS : count);
    Texts want = reference_load(data, size, texts_of(loaded), tracks);
    if (load_database(loaded, drive) != 0 || loaded.unreadable != 0)
        fail("the file cannot be loaded");
    check_terminated(loaded);
    compare(texts_of(loaded), want, tracks, false, "a text differs from what the file holds");

    if (save_database(loaded, drive) != 0)
        fail("the texts cannot be saved");
    check_lines_short(database_path);
    if (load_database(reloaded, drive) != 0)
        fail("the saved file cannot be loaded");
    check_terminated(reloaded);
    compare(texts_of(reloaded), texts_of(loaded), tracks, true,
            "a text changed through save and load");
    return 0;
}
