// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/folder_cover.h"

#include "common/directory.h"
#include "lookup/cover_art.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

// Calls visit for each name in folder until it returns true; false when the
// folder cannot be read.
template <typename Visit> static bool each_name(const char *folder, Visit visit)
{
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    alignas(DIRECTORY_BUFFER_ALIGN) static char buffer[16384];
    DirectoryReader reader;
    directory_begin(reader, fd, buffer, sizeof buffer);
    while (const char *name = directory_next(reader)) {
        if (visit(name))
            break;
    }
    close(fd);
    return true;
}

static bool is_regular(const char *folder, const char *name)
{
    char path[COVER_PATH_SIZE];
    if (snprintf(path, sizeof path, "%s/%s", folder, name) >= static_cast<int>(sizeof path))
        return false;
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool find_folder_image(const char *folder, char *path, int size)
{
    static const char *const stems[] = {"cover", "folder", "front"};
    static const char *const kinds[] = {"jpg", "jpeg", "png"};
    // Rank of the best name seen so far; lower is better.
    int best = 99;
    static char best_name[256];
    each_name(folder, [&](const char *name) {
        const char *dot = strrchr(name, '.');
        if (dot == nullptr)
            return false;
        for (int s = 0; s < 3; s++) {
            size_t stem_length = strlen(stems[s]);
            if (static_cast<size_t>(dot - name) != stem_length ||
                strncasecmp(name, stems[s], stem_length) != 0)
                continue;
            for (int k = 0; k < 3; k++) {
                int rank = s * 3 + k;
                if (strcasecmp(dot + 1, kinds[k]) == 0 && rank < best &&
                    strlen(name) < sizeof best_name && is_regular(folder, name)) {
                    best = rank;
                    snprintf(best_name, sizeof best_name, "%s", name);
                }
            }
        }
        return false;
    });
    if (best == 99)
        return false;
    return snprintf(path, static_cast<size_t>(size), "%s/%s", folder, best_name) < size;
}

static bool read_exactly(int fd, void *buffer, size_t size, off_t at)
{
    size_t done = 0;
    while (done < size) {
        ssize_t got = pread(fd, static_cast<char *>(buffer) + done, size - done,
                            at + static_cast<off_t>(done));
        if (got <= 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

// The first picture of one FLAC file, into block; its image's place in it.
static bool picture_of(const char *file, unsigned char *block, size_t capacity, size_t &offset,
                       size_t &length)
{
    int fd = open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    unsigned char head[4];
    bool found = false;
    off_t at = 4;
    if (read_exactly(fd, head, 4, 0) && memcmp(head, "fLaC", 4) == 0) {
        // A file has a few metadata blocks; a hostile one cannot keep us long.
        for (int blocks = 0; blocks < 64 && !found; blocks++) {
            if (!read_exactly(fd, head, 4, at))
                break;
            bool last = (head[0] & 0x80) != 0;
            int type = head[0] & 0x7f;
            size_t size = static_cast<size_t>(head[1]) << 16 | static_cast<size_t>(head[2]) << 8 | head[3];
            at += 4;
            if (type == 6 && size <= capacity && read_exactly(fd, block, size, at))
                found = flac_picture_in_block(block, size, offset, length);
            at += static_cast<off_t>(size);
            if (last)
                break;
        }
    }
    close(fd);
    return found;
}

bool extract_flac_picture(const char *folder, const char *dir, const char *name, char *path,
                          int size)
{
    static char first[256];
    first[0] = '\0';
    each_name(folder, [&](const char *entry) {
        const char *dot = strrchr(entry, '.');
        if (dot != nullptr && strcasecmp(dot, ".flac") == 0 && strlen(entry) < sizeof first &&
            (first[0] == '\0' || strcmp(entry, first) < 0))
            snprintf(first, sizeof first, "%s", entry);
        return false;
    });
    if (first[0] == '\0')
        return false;
    char file[COVER_PATH_SIZE];
    if (snprintf(file, sizeof file, "%s/%s", folder, first) >= static_cast<int>(sizeof file))
        return false;
    static unsigned char block[COVER_MAX_BYTES];
    size_t offset = 0;
    size_t length = 0;
    if (!picture_of(file, block, sizeof block, offset, length))
        return false;
    const char *kind = cover_image_kind(block + offset, length);
    if (kind == nullptr)
        return false;
    char file_name[256];
    snprintf(file_name, sizeof file_name, "%s.%s", name, kind);
    if (cover_make_dirs(dir) != 0 || cover_write_atomically(dir, file_name, block + offset, length) != 0)
        return false;
    // The copies share the archive's cache, and its bound: a user who only
    // plays rips would otherwise gather one picture per disc for ever.
    cover_trim_cache(dir, cover_settings.cache_bytes, file_name);
    return snprintf(path, static_cast<size_t>(size), "%s/%s", dir, file_name) < size;
}
