// SPDX-License-Identifier: GPL-3.0-or-later
// The disc's texts as the title file holds them: one title and one note per
// track and for the disc, its year and genre, and whether they need saving.
#pragma once

#include <cstdint>

inline constexpr int TEXT_FIELD_SIZE = 256;
inline constexpr int MAX_DB_TRACKS = 99;
inline constexpr int DISC_ENTRY = 99;
inline constexpr int DB_ENTRY_COUNT = 100;

struct TrackText {
    char title[TEXT_FIELD_SIZE];
    char ext[TEXT_FIELD_SIZE];
};

// Entries 0 to 98 are the tracks (0-based), entry DISC_ENTRY the disc itself.
struct DiscDatabase {
    TrackText entries[DB_ENTRY_COUNT];
    char year[TEXT_FIELD_SIZE];  // DYEAR
    char genre[TEXT_FIELD_SIZE]; // DGENRE
    int32_t dirty;
    // Set by a load that found a file it could not read (or could not name),
    // cleared by the next load: such a file is never replaced by a save.
    int32_t unreadable;
    // Set by a load that found the disc's file under its 8-digit xmcd name
    // in place of the 16-digit one (ids of 0x80000000 and above): saves keep
    // to the name the file had.
    int32_t short_name;
    // The texts as the last load or save left them, one hash per field (the
    // disc's year and genre in year_genre_hash), so that a save can tell the
    // fields this copy edited since from those another program changed in the
    // file meanwhile. Until a load sets them (loaded is 0) every text counts
    // as edited.
    int32_t loaded;
    uint64_t field_hash[DB_ENTRY_COUNT][2];
    uint64_t year_genre_hash[2];
    // Fields the last save found edited both here and in the file since the
    // load; this copy's text was written.
    int32_t conflicts;
};
