#include "app/disc_titles.h"

#include "database/database.h"

#include <algorithm>
#include <cstdio>

// Copies src into a title field, cut at the field's size.
static void set_title(char (&field)[TEXT_FIELD_SIZE], const char *src)
{
    snprintf(field, sizeof field, "%s", src);
}

void fill_titles_from_disc_text(DiscDatabase &db, const DiscText &text, int tracks)
{
    if (!text.present)
        return;
    const CdTextEntry &disc = text.entry[MAX_TRACKS];
    char(&title)[TEXT_FIELD_SIZE] = db.entries[DISC_ENTRY].title;
    if (disc.performer[0] && disc.title[0]) {
        // Cut where the field ends, as the title file's reader does.
        int n = snprintf(title, sizeof title, "%.*s / ", TEXT_FIELD_SIZE, disc.performer);
        if (n >= 0 && n < TEXT_FIELD_SIZE)
            snprintf(title + n, sizeof title - static_cast<size_t>(n), "%s", disc.title);
    } else {
        set_title(title, disc.performer[0] ? disc.performer : disc.title);
    }
    int count = std::min({tracks, MAX_DB_TRACKS, MAX_TRACKS});
    for (int i = 0; i < count; i++)
        set_title(db.entries[i].title, text.entry[i].title);
}

int load_disc_titles(PlayerState &state, const Toc &toc, const DiscText &text)
{
    int result = load_database(state, toc);
    if (result != 0)
        fill_titles_from_disc_text(state.db, text, toc.count);
    return result;
}
