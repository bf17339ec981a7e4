// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a shared library at run time and resolving a table of its
// functions, with the reason in words when it cannot be done: the libraries
// only some runs need (the lookups' libcurl, the cover's chafa) are opened on
// first use instead of linked, so a run without them never maps their pages.
#pragma once

#include <cstddef>

// A function to look up, and where its address goes.
struct LibraryFunction {
    const char *symbol;
    void *slot;
};

// Opens the shared library name (RTLD_NOW, RTLD_LOCAL) and writes the
// address of each of the count functions into its slot; symbols the library
// takes from its own dependencies are found too. On failure error names the
// library and says why, in the dynamic loader's words where it has some, the
// library is closed again and slots may have been written. On success the
// library stays mapped until mivo ends.
bool open_shared_library(const char *name, const LibraryFunction *functions, size_t count,
                         char *error, size_t size);
