// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/shared_library.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

bool open_shared_library(const char *name, const LibraryFunction *functions, size_t count,
                         char *error, size_t size)
{
    void *handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        // The loader's text starts with the file it could not open, which is
        // the name itself unless one of the library's own dependencies is
        // missing; only the repeat is left out.
        const char *why = dlerror();
        if (why == nullptr)
            why = "unknown reason";
        size_t length = strlen(name);
        if (strncmp(why, name, length) == 0 && strncmp(why + length, ": ", 2) == 0)
            why += length + 2;
        snprintf(error, size, "%s could not be loaded: %s", name, why);
        return false;
    }
    for (size_t i = 0; i < count; i++) {
        void *address = dlsym(handle, functions[i].symbol);
        if (address == nullptr) {
            // An older library than the one mivo was built with, or another
            // library under its name.
            snprintf(error, size, "%s could not be loaded: it has no %s", name, functions[i].symbol);
            dlclose(handle);
            return false;
        }
        // POSIX gives function addresses as data pointers of the same size.
        static_assert(sizeof address == sizeof(void (*)()));
        memcpy(functions[i].slot, &address, sizeof address);
    }
    return true;
}
