// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/curl_library.h"

#include "common/shared_library.h"
#include "curl_library_name.h"

CurlLibrary libcurl;

const char CURL_LIBRARY_NAME[] = MIVO_CURL_SONAME;

bool curl_library_open(const char *name, CurlLibrary &out, char *error, size_t size)
{
    CurlLibrary found;
    const LibraryFunction functions[] = {
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
    if (!open_shared_library(name, functions, sizeof functions / sizeof functions[0], error, size))
        return false;
    out = found;
    return true;
}
