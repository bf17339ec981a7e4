// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/disc_titles.h"

#include "database/database.h"

#include <algorithm>
#include <cstring>

// Appends src to the text of field at length used, cut at the field's end
// between two UTF-8 characters; returns the new length.
static size_t append_cut(char (&field)[TEXT_FIELD_SIZE], size_t used, const char *src)
{
    size_t room = sizeof field - 1 - used;
    size_t n = strnlen(src, room + 1);
    if (n > room) {
        n = room;
        while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80)
            n--;
    }
    memcpy(field + used, src, n);
    field[used + n] = '\0';
    return used + n;
}

void fill_titles_from_disc_text(DiscDatabase &db, const DiscText &text, int tracks)
{
    if (!text.present)
        return;
    const CdTextEntry &disc = text.entry[MAX_TRACKS];
    char(&title)[TEXT_FIELD_SIZE] = db.entries[DISC_ENTRY].title;
    if (disc.performer[0] && disc.title[0]) {
        size_t used = append_cut(title, 0, disc.performer);
        used = append_cut(title, used, " / ");
        append_cut(title, used, disc.title);
    } else {
        append_cut(title, 0, disc.performer[0] ? disc.performer : disc.title);
    }
    int count = std::min({tracks, MAX_DB_TRACKS, MAX_TRACKS});
    for (int i = 0; i < count; i++)
        append_cut(db.entries[i].title, 0, text.entry[i].title);
}

int load_disc_titles(PlayerState &state, const Toc &toc, const DiscText &text)
{
    int result = load_database(state.db, toc);
    // A title file that is there but unreadable still wins: it is kept, and
    // titles from elsewhere must not be saved over it.
    if (result != 0 && !state.db.unreadable) {
        fill_titles_from_disc_text(state.db, text, toc.count);
        remember_loaded_texts(state.db);
    }
    return result;
}
