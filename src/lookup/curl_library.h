// SPDX-License-Identifier: GPL-3.0-or-later
// libcurl, opened with dlopen when a transfer first needs it rather than
// linked: a run that looks nothing up never maps it nor its TLS stack, whose
// relocated pages would otherwise be private memory spent for nothing. The
// functions mivo calls are reached through one record of pointers; curl's
// headers still give the types and constants.
#pragma once

#include <curl/curl.h>

#include <cstddef>

struct CurlLibrary {
    decltype(&curl_global_init) global_init;
    decltype(&curl_global_cleanup) global_cleanup;
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_cleanup) easy_cleanup;
    decltype(&curl_easy_reset) easy_reset;
    decltype(&curl_easy_setopt) easy_setopt;
    decltype(&curl_easy_getinfo) easy_getinfo;
    decltype(&curl_easy_strerror) easy_strerror;
    decltype(&curl_multi_init) multi_init;
    decltype(&curl_multi_cleanup) multi_cleanup;
    decltype(&curl_multi_add_handle) multi_add_handle;
    decltype(&curl_multi_remove_handle) multi_remove_handle;
    decltype(&curl_multi_perform) multi_perform;
    decltype(&curl_multi_info_read) multi_info_read;
    decltype(&curl_multi_poll) multi_poll;
};

// The functions of the library that http_open loaded.
extern CurlLibrary libcurl;

// The libcurl the build was made against, by its SONAME.
extern const char CURL_LIBRARY_NAME[];

// Opens the shared library name (RTLD_NOW, RTLD_LOCAL) and resolves every
// function of the record into out. On failure error names the library and
// says why, in the dynamic loader's words where it has some, and out is left
// as it was. The library stays mapped until mivo ends.
bool curl_library_open(const char *name, CurlLibrary &out, char *error, size_t size);
