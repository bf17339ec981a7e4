// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for what reaches the remote control and the covers from
// outside: a URI a bus client hands OpenUri, a disc note naming a release,
// a FLAC file's picture block and a reply's first bytes. The first byte picks
// the reader; the rest is its input.
//
// Every reader must stay within its input and its buffers: a path taken
// from a URI starts with "/", holds no NUL and fits; a URI made of that path
// reads back as the same path; a release id is 36 lowercase characters of
// the 8-4-4-4-12 form; a picture lies within its block.
#include "desktop/folder_cover.h"
#include "desktop/mpris.h"
#include "fuzz_target.h"
#include "lookup/cover_art.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char *const TOKENS[] = {
    "file://", "file:///", "localhost", "%", "%2F", "%00", "%zz", "?", "#",
    "musicbrainz.org/release/", "0c9ed8a5-60aa-4b02-bbb5-c1cd7b61b6a4", "image/jpeg",
    "\xff\xd8\xff", "\x89PNG\r\n\x1a\n",
};

// The seeds carry their own first byte.
const FuzzHints fuzz_hints = {TOKENS, sizeof TOKENS / sizeof TOKENS[0], "", 0};

static void check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "desktop input fuzz: %s\n", what);
        abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int reader = data[0] % 3;
    data++;
    size--;
    static char text[70000];
    if (size >= sizeof text)
        size = sizeof text - 1;
    memcpy(text, data, size);
    text[size] = '\0';
    if (reader == 0) {
        char path[64];
        if (mpris_uri_to_path(text, path, sizeof path)) {
            size_t n = strnlen(path, sizeof path);
            check(n < sizeof path && path[0] == '/', "a path from a URI is absolute and fits");
            static char uri[MPRIS_URL_SIZE];
            check(mpris_path_to_uri(path, uri, sizeof uri), "the path's URI fits");
            char back[64];
            check(mpris_uri_to_path(uri, back, sizeof back) && strcmp(back, path) == 0,
                  "the path's URI reads back as the path");
        }
    } else if (reader == 1) {
        char mbid[MBID_SIZE];
        if (cover_release_in(text, mbid)) {
            check(strlen(mbid) == MBID_SIZE - 1, "a release id is 36 characters");
            for (int i = 0; i < MBID_SIZE - 1; i++) {
                bool dash = i == 8 || i == 13 || i == 18 || i == 23;
                check(dash ? mbid[i] == '-' : strchr("0123456789abcdef", mbid[i]) != nullptr && mbid[i],
                      "a release id is lowercase hexadecimal in its groups");
            }
        }
    } else {
        size_t offset = 0;
        size_t length = 0;
        if (flac_picture_in_block(data, size, offset, length))
            check(length > 0 && offset <= size && length <= size - offset,
                  "a picture lies within its block");
        cover_image_kind(data, size);
    }
    return 0;
}
