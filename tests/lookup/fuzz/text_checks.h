// SPDX-License-Identifier: GPL-3.0-or-later
// Properties every text a lookup keeps must have, for the lookup fuzz targets:
// held within its buffer, valid UTF-8, and free of control characters and
// bidirectional overrides.
#pragma once

#include "lookup/candidate.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzzcheck
{

[[noreturn]] inline void fail(const char *what, const char *text)
{
    fprintf(stderr, "fuzz: %s: \"%s\"\n", what, text);
    abort();
}

inline void check_clean(const char *text, size_t size, const char *what)
{
    const char *end = static_cast<const char *>(memchr(text, '\0', size));
    if (end == nullptr)
        fail("a text without its NUL", what);
    size_t length = static_cast<size_t>(end - text);
    if (!valid_utf8(text, length))
        fail("a text that is not UTF-8", text);
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    for (size_t i = 0; i < length; i++) {
        if (p[i] < 0x20 || p[i] == 0x7f || (p[i] == 0xc2 && p[i + 1] < 0xa0))
            fail("a control character in a text", text);
        if (p[i] == 0xe2 && ((p[i + 1] == 0x80 && p[i + 2] >= 0xaa && p[i + 2] <= 0xae) ||
                             (p[i + 1] == 0x81 && p[i + 2] >= 0xa6 && p[i + 2] <= 0xa9)))
            fail("a bidirectional override in a text", text);
    }
}

#define FUZZ_CHECK_CLEAN(field) fuzzcheck::check_clean(field, sizeof(field), #field)

inline void check_candidate(const Candidate &c, int32_t disc_tracks)
{
    FUZZ_CHECK_CLEAN(c.artist);
    FUZZ_CHECK_CLEAN(c.title);
    FUZZ_CHECK_CLEAN(c.year);
    FUZZ_CHECK_CLEAN(c.country);
    FUZZ_CHECK_CLEAN(c.format);
    FUZZ_CHECK_CLEAN(c.label);
    FUZZ_CHECK_CLEAN(c.catalog);
    FUZZ_CHECK_CLEAN(c.genre);
    FUZZ_CHECK_CLEAN(c.release);
    if (c.track_count < 0 || c.track_count > disc_tracks || c.track_count > MAX_TRACKS)
        fail("a track count beyond the disc", c.title);
    for (int i = 0; i < c.track_count; i++)
        FUZZ_CHECK_CLEAN(c.track[i]);
}

} // namespace fuzzcheck
