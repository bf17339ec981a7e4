// Fuzz target for the database loader: any bytes as a disc's file.
//
// Each input is loaded; the texts must stay NUL-terminated within their
// buffers, and saving them and loading the result must give the same texts
// back, in a file of lines no longer than 72 characters. The first byte picks
// the drive's track count, counts a real drive never reports included.
//
// ctest runs it briefly. A longer run with libFuzzer (clang and
// libclang-rt-14-dev, installed by scripts/setup.sh), from the project root:
//
//   cmake --build build --target database_libfuzzer
//   mkdir -p /tmp/mivo-fuzz-corpus
//   build/tests/database_libfuzzer -max_total_time=600 -max_len=8192 /tmp/mivo-fuzz-corpus
//   tests/data/xmcd
//
// Without clang the standalone driver does the same over a generated corpus:
//
//   build/tests/database_fuzz_driver 200000 tests/data/xmcd
#include "database/database.h"
#include "database/disc_id.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
}

bool same_field(const char *a, const char *b) { return strcmp(a, b) == 0; }

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

PlayerState loaded;
PlayerState reloaded;

} // namespace

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
        save_database(loaded.db, drive);
        file = fopen(database_path, "w");
        if (file == nullptr)
            fail("the database file cannot be written");
    }
    if (size > 0 && fwrite(data, 1, size, file) != size)
        fail("the database file cannot be written");
    fclose(file);

    if (load_database(loaded, drive) != 0)
        fail("the file cannot be loaded");
    check_terminated(loaded.db);

    if (save_database(loaded.db, drive) != 0)
        fail("the texts cannot be saved");
    check_lines_short(database_path);
    if (load_database(reloaded, drive) != 0)
        fail("the saved file cannot be loaded");
    check_terminated(reloaded.db);

    int tracks = count < 0 ? 0 : (count > MAX_DB_TRACKS ? MAX_DB_TRACKS : count);
    for (int e = 0; e < DB_ENTRY_COUNT; e++) {
        if (e >= tracks && e != DISC_ENTRY)
            continue;
        if (!same_field(loaded.db.entries[e].title, reloaded.db.entries[e].title) ||
            !same_field(loaded.db.entries[e].ext, reloaded.db.entries[e].ext))
            fail("a text changed through save and load");
    }
    return 0;
}
