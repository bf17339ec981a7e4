// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/apply_titles.h"

#include <cstdio>
#include <cstring>

static_assert(LOOKUP_TEXT_SIZE == TEXT_FIELD_SIZE, "a found title fits a text field whole");

bool apply_candidate(const Candidate &c, int32_t disc_tracks, DiscDatabase &db)
{
    if (c.track_count > disc_tracks || disc_tracks > MAX_DB_TRACKS || c.track_count < 0)
        return false;
    char text[2 * LOOKUP_TEXT_SIZE + 32];
    // Without an artist the title stands alone: " / Title" would read back
    // as an artist of nothing.
    if (c.artist[0] == '\0' && c.disc_total > 1)
        snprintf(text, sizeof text, "%s (disc %d)", c.title, c.disc_number);
    else if (c.artist[0] == '\0')
        snprintf(text, sizeof text, "%s", c.title);
    else if (c.disc_total > 1)
        snprintf(text, sizeof text, "%s / %s (disc %d)", c.artist, c.title, c.disc_number);
    else
        snprintf(text, sizeof text, "%s / %s", c.artist, c.title);
    copy_text(db.entries[DISC_ENTRY].title, TEXT_FIELD_SIZE, text, strlen(text));
    for (int i = 0; i < disc_tracks; i++)
        memcpy(db.entries[i].title, i < c.track_count ? c.track[i] : "",
               i < c.track_count ? TEXT_FIELD_SIZE : 1);
    if (c.year[0] != '\0')
        copy_text(db.year, TEXT_FIELD_SIZE, c.year, strlen(c.year));
    if (c.genre[0] != '\0')
        copy_text(db.genre, TEXT_FIELD_SIZE, c.genre, strlen(c.genre));
    if (c.source == SOURCE_GNUDB)
        snprintf(text, sizeof text, "Titles from gnudb, entry %s", c.release);
    else
        snprintf(text, sizeof text,
                 "Titles from MusicBrainz, release https://musicbrainz.org/release/%s", c.release);
    copy_text(db.entries[DISC_ENTRY].ext, TEXT_FIELD_SIZE, text, strlen(text));
    db.dirty = 1;
    return true;
}
