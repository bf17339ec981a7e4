// SPDX-License-Identifier: GPL-3.0-or-later
// A FLAC picture block's fields, apart from the files they come from so that
// the fuzz targets need nothing else.
#include "desktop/folder_cover.h"

static uint32_t big_endian(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

bool flac_picture_in_block(const unsigned char *data, size_t size, size_t &offset, size_t &length)
{
    // Type, then the MIME type and the description, each a length and bytes,
    // then width, height, depth, colours, and the data's length and bytes.
    size_t at = 4;
    for (int field = 0; field < 2; field++) {
        if (size - at < 4 || at > size)
            return false;
        uint32_t n = big_endian(data + at);
        at += 4;
        if (n > size - at)
            return false;
        at += n;
    }
    if (at > size || size - at < 20)
        return false;
    at += 16;
    uint32_t n = big_endian(data + at);
    at += 4;
    if (n == 0 || n > size - at)
        return false;
    offset = at;
    length = n;
    return true;
}
