// The disc's texts on disk: loading and saving one xmcd-format file per disc.
#pragma once

#include "app/player.h"

#include <cstdint>
#include <cstdio>

// Clears the disc's texts and reads them from its file; -1 when the file
// cannot be opened, 0 otherwise.
int load_database(PlayerState &state, const Toc &toc);

// Writes the texts to the disc's file, replacing it only once the new contents
// are safely on disk; clears dirty on success. Returns 0 on success, -1 when
// the old file was left as it was.
int save_database(DiscDatabase &db, const Toc &toc);

// Writes one field, escaped and broken into lines of at most 62 value
// characters; index -1 means a keyword without an index. Returns 0, or -1 when
// the stream reported an error.
int write_field(FILE *file, const char *keyword, int32_t index, const char *text);
