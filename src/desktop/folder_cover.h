// SPDX-License-Identifier: GPL-3.0-or-later
// The cover a rip's folder holds: an image file beside the audio files
// (cover.jpg, folder.jpg, front.jpg and the like), or else the first picture
// embedded in one of its FLAC files, which is copied out to a file of its own.
#pragma once

#include <cstddef>
#include <cstdint>

// The first of the folder's cover images by name, in the order cover,
// folder, front (each .jpg, .jpeg or .png, in any case): true with its path.
bool find_folder_image(const char *folder, char *path, int size);

// Where a FLAC file's first picture block keeps the image: its offset and
// length within data, which holds the block's body. False for a body that is
// not a well-formed picture.
bool flac_picture_in_block(const unsigned char *data, size_t size, size_t &offset, size_t &length);

// Copies the first picture of the folder's first FLAC file (by name) that has
// one to dir/name.<kind>; true with that path. Only JPEG and PNG pictures are
// taken, and only up to the cover size bound.
bool extract_flac_picture(const char *folder, const char *dir, const char *name, char *path,
                          int size);
