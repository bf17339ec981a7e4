// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/apply_titles.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{

Candidate found;
DiscDatabase db;

void prepare()
{
    memset(&found, 0, sizeof found);
    memset(&db, 0, sizeof db);
    found.source = SOURCE_MUSICBRAINZ;
    snprintf(found.artist, sizeof found.artist, "Mark Knopfler");
    snprintf(found.title, sizeof found.title, "Privateering");
    snprintf(found.year, sizeof found.year, "2012");
    snprintf(found.release, sizeof found.release, "a196e795");
    found.disc_number = 1;
    found.disc_total = 1;
    found.track_count = 2;
    snprintf(found.track[0], sizeof found.track[0], "Kingdom of Gold");
    snprintf(found.track[1], sizeof found.track[1], "Guest / Duet");
    snprintf(db.entries[0].title, TEXT_FIELD_SIZE, "typed 0");
    snprintf(db.entries[2].title, TEXT_FIELD_SIZE, "typed 2");
    snprintf(db.entries[0].ext, TEXT_FIELD_SIZE, "my note");
    snprintf(db.genre, TEXT_FIELD_SIZE, "folk");
}

TEST(ApplyTitles, FillsTheTitleFilesFields)
{
    prepare();
    ASSERT_TRUE(apply_candidate(found, 3, db));
    EXPECT_STREQ(db.entries[DISC_ENTRY].title, "Mark Knopfler / Privateering");
    EXPECT_STREQ(db.entries[0].title, "Kingdom of Gold");
    EXPECT_STREQ(db.entries[1].title, "Guest / Duet");
    EXPECT_STREQ(db.entries[2].title, "") << "a track the result does not name";
    EXPECT_STREQ(db.entries[0].ext, "my note");
    EXPECT_STREQ(db.year, "2012");
    EXPECT_STREQ(db.genre, "folk") << "an unknown genre leaves the old one";
    EXPECT_STREQ(db.entries[DISC_ENTRY].ext,
                 "Titles from MusicBrainz, release https://musicbrainz.org/release/a196e795");
    EXPECT_EQ(db.dirty, 1);
}

TEST(ApplyTitles, MultiDiscAndGnudb)
{
    prepare();
    found.disc_number = 2;
    found.disc_total = 3;
    ASSERT_TRUE(apply_candidate(found, 2, db));
    EXPECT_STREQ(db.entries[DISC_ENTRY].title, "Mark Knopfler / Privateering (disc 2)");

    prepare();
    found.source = SOURCE_GNUDB;
    snprintf(found.release, sizeof found.release, "rock 940aac0d");
    ASSERT_TRUE(apply_candidate(found, 2, db));
    EXPECT_STREQ(db.entries[DISC_ENTRY].ext, "Titles from gnudb, entry rock 940aac0d");
}

TEST(ApplyTitles, MoreTracksThanTheDiscChangesNothing)
{
    prepare();
    EXPECT_FALSE(apply_candidate(found, 1, db));
    EXPECT_STREQ(db.entries[0].title, "typed 0");
    EXPECT_STREQ(db.entries[DISC_ENTRY].title, "");
    EXPECT_EQ(db.dirty, 0);
}

TEST(ApplyTitles, LongTextsAreCutAtACharacterBoundary)
{
    prepare();
    memset(found.artist, 'a', 201);
    found.artist[201] = '\0';
    memset(found.title, 0, sizeof found.title);
    for (int i = 0; i < 120; i++)
        memcpy(found.title + 2 * i, "\xc3\xa9", 2);
    ASSERT_TRUE(apply_candidate(found, 2, db));
    const char *t = db.entries[DISC_ENTRY].title;
    EXPECT_EQ(strlen(t), 254u) << "201 + 3 + 25 letters of two bytes, the 26th cut";
    EXPECT_EQ(static_cast<unsigned char>(t[253]), 0xa9);
}

TEST(ApplyTitles, WithoutAnArtistTheTitleStandsAlone)
{
    prepare();
    found.artist[0] = '\0';
    ASSERT_TRUE(apply_candidate(found, 2, db));
    EXPECT_STREQ(db.entries[DISC_ENTRY].title, "Privateering");
    found.disc_number = 2;
    found.disc_total = 2;
    ASSERT_TRUE(apply_candidate(found, 2, db));
    EXPECT_STREQ(db.entries[DISC_ENTRY].title, "Privateering (disc 2)");
}

} // namespace
