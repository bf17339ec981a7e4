// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/directory.h"

#include <dirent.h>
#include <unistd.h>

static_assert(alignof(dirent64) <= DIRECTORY_BUFFER_ALIGN, "the buffer holds dirent64 records");

void directory_begin(DirectoryReader &reader, int fd, char *buffer, size_t size)
{
    reader.fd = fd;
    reader.buffer = buffer;
    reader.size = size;
    reader.filled = 0;
    reader.at = 0;
}

const char *directory_next(DirectoryReader &reader)
{
    if (reader.at >= reader.filled) {
        ssize_t got = getdents64(reader.fd, reader.buffer, reader.size);
        if (got <= 0) {
            reader.filled = 0;
            reader.at = 0;
            return nullptr;
        }
        reader.filled = static_cast<long>(got);
        reader.at = 0;
    }
    const dirent64 *entry = reinterpret_cast<const dirent64 *>(reader.buffer + reader.at);
    reader.at += entry->d_reclen;
    return entry->d_name;
}
