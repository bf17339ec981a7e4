// SPDX-License-Identifier: GPL-3.0-or-later
// The audio file a sheet's FILE line means, as people's rips have it on disk:
// written on Windows with backslashes, renamed in another case, or compressed
// to another format after the sheet was written. The search stays inside the
// sheet's folder tree and allocates nothing (directories are read with a
// fixed buffer).
#pragma once

#include <cstddef>
#include <cstdint>

// The extensions a file of the same stem may have, in the order tried.
inline constexpr const char *SHEET_AUDIO_EXTENSIONS[] = {
    ".flac", ".wv", ".wav", ".aiff", ".aif", ".ogg", ".opus", ".mp3", ".ape", ".tak",
};

// Finds the regular file meant by written, which is the sheet's folder (its
// first folder_length bytes, ending in '/', or none) joined with the name as
// the sheet writes it. Tried in order, the first regular file wins:
//   1. the name as written;
//   2. with every '\' read as '/';
//   3. each part of the name matched in any (ASCII) case, from the sheet's
//      folder down;
//   4. the last part's stem with an extension of SHEET_AUDIO_EXTENSIONS, in
//      their order and in any case.
// A name holding a ".." part is searched no further than step 2. decoded,
// when not nullptr, is the same path with the name decoded to UTF-8, tried in
// the same steps after the bytes. Writes the path found to out and returns 0;
// -1 when nothing was found or the path would not fit.
int find_sheet_file(const char *written, int32_t folder_length, const char *decoded, char *out,
                    size_t out_size);
