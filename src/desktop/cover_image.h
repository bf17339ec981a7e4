// SPDX-License-Identifier: GPL-3.0-or-later
// A cover image file decoded into pixels: JPEG (scaled down while decoding
// to fit the bound) and PNG, into one fixed buffer of RGBA bytes.
#pragma once

#include <cstdint>

// Images are decoded to at most this many pixels a side.
inline constexpr int COVER_PIXELS_MAX = 1024;

struct CoverPixels {
    const uint8_t *rgba; // width * height * 4 bytes, rows without padding
    int32_t width;
    int32_t height;
};

// Decodes the file into the buffer, replacing what it held; false, with
// pixels empty, for a file that is not a readable JPEG or PNG, or a PNG
// larger than the bound.
bool decode_cover(const char *path, CoverPixels &pixels);
