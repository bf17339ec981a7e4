// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the names a directory holds without the heap: readdir's stream is
// allocated, so the records come from getdents64 into a buffer the caller
// owns (static or on its stack, one per thread that reads). Opening and
// closing the directory stay with the caller, which often wants the
// descriptor for fstatat or unlinkat as well.
#pragma once

#include <cstddef>

// A buffer for DirectoryReader must be aligned as the kernel's records are.
#define DIRECTORY_BUFFER_ALIGN 8

struct DirectoryReader {
    int fd;
    char *buffer;
    size_t size;
    // Bytes the last read filled, and where the next record starts.
    long filled;
    long at;
};

// Starts reading the open directory fd through buffer, aligned to
// DIRECTORY_BUFFER_ALIGN and large enough for one record (a name of 255 bytes).
void directory_begin(DirectoryReader &reader, int fd, char *buffer, size_t size);

// The next entry's name, "." and ".." included, valid until the next call; nullptr
// at the end and on a read error, which ends the listing as the end does.
const char *directory_next(DirectoryReader &reader);
