// SPDX-License-Identifier: GPL-3.0-or-later
#include "database/disc_id.h"

#include "database/disc_texts.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

char database_path[DATABASE_PATH_SIZE];

static_assert(MAX_TRACKS == MAX_DB_TRACKS, "one track count bounds the table and the texts");

int usable_track_count(const Toc &toc)
{
    if (toc.count < 0)
        return 0;
    return toc.count > MAX_TRACKS ? MAX_TRACKS : toc.count;
}

// Sums the tracks' own lengths, wrapping in 32 bits as the drive's counters do.
int32_t disc_length_frames(const Toc &toc)
{
    uint32_t total = 0;
    int tracks = usable_track_count(toc);
    for (int i = 0; i < tracks; i++)
        total += toc.track[i].length;
    return static_cast<int32_t>(total);
}

// Sum of the decimal digits of a track's start in whole seconds.
static uint32_t digit_sum(uint32_t seconds)
{
    uint32_t sum = 0;
    for (; seconds > 0; seconds /= 10)
        sum += seconds % 10;
    return sum;
}

// Forms the id in 32 bits and sign-extends it, because files already stored
// under 16-digit names are found only through exactly this widening.
uint64_t compute_disc_id(const Toc &toc)
{
    int32_t n = toc.count;
    if (n < 1)
        return static_cast<uint64_t>(static_cast<int64_t>(n));

    int tracks = usable_track_count(toc);
    uint32_t sum = 0;
    for (int i = 0; i < tracks; i++) {
        uint32_t offset = toc.track[i].offset;
        if (offset >= FRAMES_PER_SECOND)
            sum += digit_sum(offset / FRAMES_PER_SECOND);
    }
    uint32_t seconds =
        toc.track[tracks].offset / FRAMES_PER_SECOND - toc.track[0].offset / FRAMES_PER_SECOND;
    uint32_t id = (sum % 255) << 24 | seconds << 8 | static_cast<uint32_t>(n);
    return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(id)));
}

// Looks the home directory up afresh each time, so a changed HOME takes effect;
// a path cut short would name another disc's file, so it names none instead.
int build_database_path(uint64_t disc_id)
{
    const char *home = getenv("HOME");
    if (home == nullptr) {
        const passwd *entry = getpwuid(getuid());
        if (entry != nullptr)
            home = entry->pw_dir;
    }
    if (home == nullptr) {
        fputs("$HOME not set. giving up.\n", stderr);
        exit(1);
    }
    int needed =
        snprintf(database_path, DATABASE_PATH_SIZE - 1, "%s/.kel/%08" PRIx64, home, disc_id);
    if (needed < 0 || needed >= DATABASE_PATH_SIZE - 1) {
        database_path[0] = '\0';
        return -1;
    }
    return 0;
}
