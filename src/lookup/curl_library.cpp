// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/curl_library.h"

#include "curl_library_name.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

CurlLibrary libcurl;

const char CURL_LIBRARY_NAME[] = MIVO_CURL_SONAME;

bool curl_library_open(const char *name, CurlLibrary &out, char *error, size_t size)
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
    CurlLibrary found;
    const struct {
        const char *symbol;
        void *slot;
    } functions[] = {
        {"curl_global_init", &found.global_init},
        {"curl_global_cleanup", &found.global_cleanup},
        {"curl_easy_init", &found.easy_init},
        {"curl_easy_cleanup", &found.easy_cleanup},
        {"curl_easy_reset", &found.easy_reset},
        {"curl_easy_setopt", &found.easy_setopt},
        {"curl_easy_getinfo", &found.easy_getinfo},
        {"curl_easy_strerror", &found.easy_strerror},
        {"curl_multi_init", &found.multi_init},
        {"curl_multi_cleanup", &found.multi_cleanup},
        {"curl_multi_add_handle", &found.multi_add_handle},
        {"curl_multi_remove_handle", &found.multi_remove_handle},
        {"curl_multi_perform", &found.multi_perform},
        {"curl_multi_info_read", &found.multi_info_read},
        {"curl_multi_poll", &found.multi_poll},
    };
    static_assert(sizeof functions / sizeof functions[0] == sizeof(CurlLibrary) / sizeof(void (*)()),
                  "every function of the record is looked up");
    for (const auto &f : functions) {
        void *address = dlsym(handle, f.symbol);
        if (address == nullptr) {
            // An older libcurl than the one mivo was built with, or another
            // library under its name.
            snprintf(error, size, "%s could not be loaded: it has no %s", name, f.symbol);
            dlclose(handle);
            return false;
        }
        // POSIX gives function addresses as data pointers of the same size.
        static_assert(sizeof address == sizeof(void (*)()));
        memcpy(f.slot, &address, sizeof address);
    }
    out = found;
    return true;
}
