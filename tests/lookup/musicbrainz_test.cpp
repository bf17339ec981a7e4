// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/musicbrainz.h"
#include "lookup_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace lookuptest;

namespace
{

struct Parsed {
    int result;
    CandidateList list;
};

// Static: a list holds 16 records of 25 KB each.
Parsed parsed;

const Parsed &parse(const std::string &body, const Toc &drive_toc)
{
    LookupToc toc;
    EXPECT_TRUE(musicbrainz_toc(drive_toc, toc));
    char id[MB_DISC_ID_SIZE];
    musicbrainz_disc_id(toc, id);
    clear_candidates(parsed.list);
    parsed.result = parse_musicbrainz_reply(body.data(), body.size(), toc, id, parsed.list);
    rank_candidates(parsed.list);
    return parsed;
}

TEST(MusicBrainzReply, RequestNamesTheDiscTheTableAndTheIncludes)
{
    LookupToc toc;
    ASSERT_TRUE(musicbrainz_toc(make_toc(FAMILY_JEWELS, FAMILY_JEWELS_LEADOUT), toc));
    char url[1024];
    ASSERT_GT(musicbrainz_request_url(url, sizeof url, "http://127.0.0.1:1/ws/2",
                                      "J9dlQIdlpgKkwDn.nHo8SlQ0ks4-", toc),
              0);
    EXPECT_STREQ(url, "http://127.0.0.1:1/ws/2/discid/J9dlQIdlpgKkwDn.nHo8SlQ0ks4-"
                      "?toc=1+13+205072+150+15239+29625+45763+61420+75862+91642+108918+123698+"
                      "139895+153589+169239+188495"
                      "&inc=recordings+artist-credits+labels+release-groups&fmt=json");
    EXPECT_EQ(musicbrainz_request_url(url, 40, "http://x", "id", toc), -1);
}

TEST(MusicBrainzReply, ExactMatchOnThreeReleasesAgrees)
{
    const Parsed &p = parse(read_data("musicbrainz/discid-exact-3releases-DERIVED.json"),
                            make_toc(FAMILY_JEWELS, FAMILY_JEWELS_LEADOUT));
    ASSERT_EQ(p.result, 3);
    ASSERT_EQ(p.list.count, 3);
    const char *countries[] = {"CA", "DE", "GB"}; // exact ones keep the server's order
    for (int i = 0; i < 3; i++) {
        const Candidate &c = p.list.item[i];
        EXPECT_TRUE(c.exact);
        EXPECT_STREQ(c.country, countries[i]);
        EXPECT_STREQ(c.artist, "Marina & the Diamonds");
        EXPECT_STREQ(c.title, "The Family Jewels");
        EXPECT_STREQ(c.year, "2010");
        EXPECT_STREQ(c.format, "CD");
        EXPECT_EQ(c.disc_number, 1);
        EXPECT_EQ(c.disc_total, 1);
        ASSERT_EQ(c.track_count, 13);
        EXPECT_STREQ(c.track[0], "Are You Satisfied?");
        EXPECT_STREQ(c.track[12], "Guilty");
    }
    EXPECT_STREQ(p.list.item[0].release, "2124ca6e-260e-4b45-b6f4-f95704e0d361");
    // The Canadian release spells track 5 with a typographic apostrophe, so
    // the user chooses.
    EXPECT_STREQ(p.list.item[0].track[4], "Mowgli\xe2\x80\x99s Road");
    EXPECT_STREQ(p.list.item[1].track[4], "Mowgli's Road");
    EXPECT_EQ(automatic_choice(p.list), -1);
}

TEST(MusicBrainzReply, NearMatchesAreRankedByTableDistance)
{
    // gnudb's table of the same CD ends 22 frames early: no exact match, and
    // the three releases holding the real disc come before the unrelated two.
    const Parsed &p =
        parse(read_data("musicbrainz/toc-fuzzy-5releases.json"), make_toc(FAMILY_JEWELS, 205050));
    ASSERT_EQ(p.result, 5);
    ASSERT_EQ(p.list.count, 5);
    for (int i = 0; i < 3; i++) {
        EXPECT_FALSE(p.list.item[i].exact);
        EXPECT_EQ(p.list.item[i].distance, 22u);
        EXPECT_STREQ(p.list.item[i].title, "The Family Jewels");
    }
    EXPECT_GT(p.list.item[3].distance, 22u);
    EXPECT_LE(p.list.item[3].distance, p.list.item[4].distance);
    EXPECT_EQ(automatic_choice(p.list), -1);

    // The same reply for the disc itself: the three are exact and first.
    const Parsed &q = parse(read_data("musicbrainz/toc-fuzzy-5releases.json"),
                            make_toc(FAMILY_JEWELS, FAMILY_JEWELS_LEADOUT));
    ASSERT_EQ(q.list.count, 5);
    for (int i = 0; i < 3; i++)
        EXPECT_TRUE(q.list.item[i].exact);
    EXPECT_FALSE(q.list.item[3].exact);
}

TEST(MusicBrainzReply, PregapOf182FramesMatchesExactly)
{
    const Parsed &p = parse(
        read_data("musicbrainz/toc-fuzzy-3releases-pregap182.json"),
        make_toc({182, 3250, 30272, 61607, 93215, 118357, 141452, 175105, 211805, 251415, 282740},
                 316732));
    ASSERT_EQ(p.list.count, 3);
    EXPECT_TRUE(p.list.item[0].exact);
    EXPECT_STREQ(p.list.item[0].title, "Before These Crowded Streets");
    EXPECT_FALSE(p.list.item[1].exact);
    EXPECT_LE(p.list.item[1].distance, p.list.item[2].distance);
}

TEST(MusicBrainzReply, MultiDiscReleaseGivesTheMediumHoldingTheDisc)
{
    const Parsed &p = parse(read_data("musicbrainz/toc-fuzzy-multimedium-genres.json"),
                            make_toc(PRIVATEERING_2, PRIVATEERING_2_LEADOUT));
    ASSERT_EQ(p.list.count, 3);
    const Candidate &first = p.list.item[0];
    EXPECT_TRUE(first.exact);
    EXPECT_EQ(first.disc_number, 2);
    EXPECT_EQ(first.disc_total, 2);
    EXPECT_STREQ(first.track[0], "Kingdom of Gold");
    EXPECT_STREQ(first.genre, "blues");
    EXPECT_TRUE(p.list.item[1].exact);
    EXPECT_EQ(p.list.item[1].disc_total, 3);
    // The third lists no discs: its medium is chosen by track lengths.
    const Candidate &near = p.list.item[2];
    EXPECT_FALSE(near.exact);
    EXPECT_EQ(near.disc_number, 2);
    EXPECT_STREQ(near.track[0], "Kingdom Of Gold");
    EXPECT_EQ(automatic_choice(p.list), 0);
}

TEST(MusicBrainzReply, TrackArtistsLabelsAndEscapes)
{
    // A small release: a guest artist on one track, a label, escapes and a
    // control character in the texts.
    const std::string body = R"({"releases":[{"id":"r1","title":"T\u00e9st \ud83c\udfb5",
        "date":"1999-01-02","country":"XW",
        "artist-credit":[{"name":"A","joinphrase":" & "},{"name":"B","joinphrase":""}],
        "label-info":[{"catalog-number":null,"label":null},
                      {"catalog-number":"CAT 1","label":{"name":"Lbl"}}],
        "release-group":{"first-release-date":"1998","genres":[{"name":"pop","count":2}]},
        "media":[{"position":1,"format":"CD","discs":[],"tracks":[
          {"title":"One\u001b[2J","length":20000,"artist-credit":[{"name":"A","joinphrase":" & "},{"name":"B"}]},
          {"title":"Two","length":20000,"artist-credit":[{"name":"Guest","joinphrase":""}]}]}]}]})";
    const Parsed &p = parse(body, make_toc({150, 1650}, 3150));
    ASSERT_EQ(p.result, 1);
    const Candidate &c = p.list.item[0];
    EXPECT_STREQ(c.artist, "A & B");
    EXPECT_STREQ(c.title, "T\xc3\xa9st \xf0\x9f\x8e\xb5");
    EXPECT_STREQ(c.year, "1999");
    EXPECT_STREQ(c.label, "Lbl");
    EXPECT_STREQ(c.catalog, "CAT 1");
    EXPECT_STREQ(c.genre, "pop");
    EXPECT_STREQ(c.track[0], "One [2J");
    EXPECT_STREQ(c.track[1], "Guest / Two");
    EXPECT_EQ(c.distance, 0u); // 20 s tracks: 1500 frames each
}

TEST(MusicBrainzReply, NothingFoundIsNoError)
{
    Toc toc = make_toc(FAMILY_JEWELS, FAMILY_JEWELS_LEADOUT);
    EXPECT_EQ(parse(read_data("musicbrainz/toc-fuzzy-no-match.json"), toc).result, 0);
    EXPECT_EQ(parse(read_data("musicbrainz/discid-404-not-found.json"), toc).result, 0);
    EXPECT_EQ(parsed.list.count, 0);
}

TEST(MusicBrainzReply, CdStubIsANearCandidate)
{
    const Parsed &p =
        parse(read_data("musicbrainz/cdstub-CONSTRUCTED.json"), make_toc({150, 15000}, 30000));
    ASSERT_EQ(p.result, 1);
    EXPECT_FALSE(p.list.item[0].exact);
    EXPECT_STREQ(p.list.item[0].artist, "Stub Artist");
    EXPECT_STREQ(p.list.item[0].track[1], "Guest Artist / Second Song");
    EXPECT_EQ(automatic_choice(p.list), -1);
}

TEST(MusicBrainzReply, BadRepliesAreRefusedWithoutCandidates)
{
    std::string exact = read_data("musicbrainz/discid-exact-3releases-DERIVED.json");
    std::string nested(100000, '[');
    std::string many = "{\"releases\":[";
    while (many.size() < 900000)
        many += "1,";
    many += "1]}";
    std::string extra_track =
        R"({"releases":[{"media":[{"discs":[{"id":"J9dlQIdlpgKkwDn.nHo8SlQ0ks4-"}],
        "tracks":[)";
    for (int i = 0; i < 14; i++)
        extra_track += std::string(i ? "," : "") + "{\"title\":\"t\"}";
    extra_track += "]}]}]}";
    struct Case {
        const char *what;
        std::string body;
        int result;
    } cases[] = {
        {"empty", "", REPLY_MALFORMED},
        {"truncated", exact.substr(0, exact.size() / 2), REPLY_MALFORMED},
        {"an HTML error page", "<html>Service Unavailable</html>", REPLY_MALFORMED},
        {"an array", "[1,2]", REPLY_MALFORMED},
        {"releases not a list", R"({"releases":{"a":1}})", REPLY_MALFORMED},
        {"an object without releases", R"({"id":"x"})", REPLY_MALFORMED},
        {"ISO-8859-1 text", "{\"releases\":[],\"x\":\"Ai\xef\"}", REPLY_ENCODING},
        {"deep nesting", nested, REPLY_MALFORMED},
        {"more values than tokens", many, REPLY_TOO_LARGE},
        {"our disc with 14 tracks", extra_track, 0},
    };
    Toc toc = make_toc(FAMILY_JEWELS, FAMILY_JEWELS_LEADOUT);
    for (const Case &c : cases) {
        const Parsed &p = parse(c.body, toc);
        EXPECT_EQ(p.result, c.result) << c.what;
        EXPECT_EQ(p.list.count, 0) << c.what;
    }
    EXPECT_EQ(parsed.list.rejected, 1) << "the 14-track medium is counted as not fitting";
}

TEST(MusicBrainzReply, ReleaseWithoutArtistCreditTakesTheTracksArtist)
{
    std::string body = R"({"releases":[
      {"id":"r1","title":"Same","artist-credit":[],"media":[{"position":1,"tracks":[
        {"title":"A","length":1000,"artist-credit":[{"name":"Duo","joinphrase":""}]},
        {"title":"B","length":1000,"artist-credit":[{"name":"Duo","joinphrase":""}]}]}]},
      {"id":"r2","title":"Mixed","media":[{"position":1,"tracks":[
        {"title":"A","length":1000,"artist-credit":[{"name":"X","joinphrase":""}]},
        {"title":"B","length":1000,"artist-credit":[{"name":"Y","joinphrase":""}]}]}]}]})";
    const Parsed &p = parse(body, make_toc({150, 225}, 300));
    ASSERT_EQ(p.result, 2);
    const Candidate &same = p.list.item[0];
    EXPECT_STREQ(same.title, "Same");
    EXPECT_STREQ(same.artist, "Duo");
    EXPECT_STREQ(same.track[0], "A");
    const Candidate &mixed = p.list.item[1];
    EXPECT_STREQ(mixed.artist, "") << "no one artist for the release";
    EXPECT_STREQ(mixed.track[1], "Y / B");
}

TEST(MusicBrainzReply, ControlAndBidiCharactersAreCleaned)
{
    std::string body = R"({"id":"s","title":"T\u001b[31mi\u0007t\r\u0085le",)"
                       R"("artist":"\u202eolleH\u202c \u2066x\u2069","tracks":[{"title":"a\tb"}]})";
    const Parsed &p = parse(body, make_toc({150}, 3000));
    ASSERT_EQ(p.result, 1);
    EXPECT_STREQ(p.list.item[0].title, "T [31mi t  le");
    EXPECT_STREQ(p.list.item[0].artist, "olleH x");
    EXPECT_STREQ(p.list.item[0].track[0], "a b");
}

} // namespace
