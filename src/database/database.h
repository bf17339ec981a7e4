// SPDX-License-Identifier: GPL-3.0-or-later
// The disc's texts on disk: loading and saving one xmcd-format file per disc.
#pragma once

#include "database/disc_texts.h"
#include "drive/drive.h"

#include <cstdint>
#include <cstdio>

// Clears the disc's texts and reads them from its file. Returns 0 when the
// whole file was read, -1 otherwise. No file yet is the ordinary -1; any other
// failure (no permission, no regular file, a read error, a file past 1 MiB, a
// path that does not fit) also sets db.unreadable and database_error(), and
// keeps what was read before it.
int load_database(DiscDatabase &db, const Toc &toc);

// Writes the texts to the disc's file, replacing it only once the new contents
// are safely on disk; clears dirty on success. Returns 0 on success, or -1 with
// database_error() set and dirty as it was; a file the last load could not
// read is never replaced.
//
// Another copy of mivo may have saved the same disc since the load: under a
// lock on the directory's lock file, the save reads the file again and writes
// only the fields this copy edited since the load over what the file holds
// (nothing at all when it edited none), and db then holds the result. A
// field both edited keeps this copy's text; db.conflicts counts them and
// database_conflict_note() says so.
int save_database(DiscDatabase &db, const Toc &toc);

// One line about the fields the last save found edited both here and by
// another program, such as "Track 2's title was also changed elsewhere; this
// copy's was saved."; empty when there were none.
const char *database_conflict_note();

// A fixed buffer a title file is formatted into before it is written out;
// overflowed once something did not fit.
struct TextBuffer {
    char *data;
    size_t size;
    size_t used;
    bool overflowed;
};

// Writes one field, escaped and broken into lines of at most 62 value
// characters; index -1 means a keyword without an index. Returns 0, or -1 when
// the buffer had no room left.
int write_field(TextBuffer &out, const char *keyword, int32_t index, const char *text);

// True when every text is empty, as in a file an editor visit saved without
// an edit: such a file holds nothing of the user's.
bool database_is_empty(const DiscDatabase &db);

// Empties every text, the year and genre included, and forgets that a file
// could not be read: the state of a drive without a disc.
void clear_database(DiscDatabase &db);

// One line naming the file and the reason of the last failed load or save,
// such as "could not save /home/u/.kel/2300a005: No space left on device";
// empty until one fails.
const char *database_error();
