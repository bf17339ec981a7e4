// SPDX-License-Identifier: GPL-3.0-or-later
// Times the disc database on its heaviest inputs: loading a 10 MB junk file,
// loading the largest file the saver can write, and saving a 99-track disc
// whose every text is 255 bytes. Prints one line per figure (scripts/bench.sh).
#include "database/database.h"
#include "database/disc_id.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// A full disc: 99 tracks of three minutes.
static Toc full_disc()
{
    Toc cd{};
    cd.count = 99;
    uint32_t offset = 150;
    for (int i = 0; i <= cd.count; i++) {
        cd.track[i].offset = offset;
        cd.track[i].length = i < cd.count ? 13500 : 0;
        offset += cd.track[i].length;
    }
    return cd;
}

// Fills every text with 255 bytes, half of them characters the saver escapes.
static void fill_texts(DiscDatabase &db)
{
    const char pattern[] = "ab\\c\td\ne";
    for (auto &entry : db.entries) {
        for (int k = 0; k < TEXT_FIELD_SIZE - 1; k++) {
            entry.title[k] = pattern[k % (sizeof pattern - 1)];
            entry.ext[k] = pattern[(k + 3) % (sizeof pattern - 1)];
        }
        entry.title[TEXT_FIELD_SIZE - 1] = '\0';
        entry.ext[TEXT_FIELD_SIZE - 1] = '\0';
    }
}

// Median and worst of repeated runs of fn, in milliseconds.
static void report(const char *what, int runs, const std::function<void()> &fn)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; i++) {
        auto t0 = std::chrono::steady_clock::now();
        fn();
        auto t1 = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s median %8.3f ms  max %8.3f ms  (%d runs)\n", what, ms[ms.size() / 2],
                ms.back(), runs);
}

int main()
{
    fs::path home = fs::temp_directory_path() / ("mivo-db-bench-" + std::to_string(getpid()));
    fs::create_directories(home);
    setenv("HOME", home.c_str(), 1);

    static DiscDatabase db;
    Toc cd = full_disc();
    build_database_path(compute_disc_id(cd));
    std::string path = database_path;

    fill_texts(db);
    report("save 99 tracks, 255-byte texts", 50, [&] { save_database(db, cd); });
    auto saved = fs::exists(path) ? fs::file_size(path) : 0;
    std::printf("%-44s %8ju bytes\n", "  size of that file", static_cast<uintmax_t>(saved));

    report("load the largest legal file", 50, [&] { load_database(db, cd); });
    std::memset(&db, 0, sizeof db);
    load_database(db, cd);
    bool same = true;
    DiscDatabase expected{};
    fill_texts(expected);
    for (int i = 0; i < cd.count; i++)
        same = same && std::strcmp(db.entries[i].title, expected.entries[i].title) == 0;
    std::printf("%-44s %s\n", "  texts read back unchanged", same ? "yes" : "NO");

    {
        std::mt19937 rng(7);
        std::ofstream junk(path, std::ios::binary | std::ios::trunc);
        std::string block(1 << 20, '\0');
        for (int mb = 0; mb < 10; mb++) {
            for (auto &c : block) {
                unsigned r = rng() % 100;
                c = r < 2 ? '\n' : static_cast<char>(rng() % 256);
            }
            junk.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    report("load a 10 MB junk file", 10, [&] { load_database(db, cd); });

    fs::remove_all(home);
    return 0;
}
