// SPDX-License-Identifier: GPL-3.0-or-later
// What a disc note and a reply's first bytes say about a cover, apart from
// the transfers so that the fuzz targets need no network library.
#include "lookup/cover_art.h"

#include <cctype>
#include <cstring>

bool cover_release_in(const char *text, char *mbid)
{
    static constexpr char MARK[] = "musicbrainz.org/release/";
    const char *p = strstr(text, MARK);
    if (p == nullptr)
        return false;
    p += sizeof MARK - 1;
    // 8-4-4-4-12 hexadecimal digits.
    for (int i = 0; i < MBID_SIZE - 1; i++) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? p[i] != '-' : !isxdigit(static_cast<unsigned char>(p[i])))
            return false;
    }
    if (isalnum(static_cast<unsigned char>(p[MBID_SIZE - 1])))
        return false;
    for (int i = 0; i < MBID_SIZE - 1; i++)
        mbid[i] = static_cast<char>(tolower(static_cast<unsigned char>(p[i])));
    mbid[MBID_SIZE - 1] = '\0';
    return true;
}

const char *cover_image_kind(const unsigned char *data, size_t size)
{
    if (size >= 3 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff)
        return "jpg";
    if (size >= 8 && memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0)
        return "png";
    return nullptr;
}
