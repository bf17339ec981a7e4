// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/disc_toc.h"
#include "lookup/sha1.h"
#include "lookup_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace lookuptest;

namespace
{

std::string hex(const uint8_t *digest)
{
    char text[2 * SHA1_DIGEST_SIZE + 1];
    for (int i = 0; i < SHA1_DIGEST_SIZE; i++)
        snprintf(text + 2 * i, 3, "%02x", digest[i]);
    return text;
}

TEST(Sha1, MatchesThePublishedDigests)
{
    struct Case {
        std::string input;
        const char *digest;
    } cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        // 56 bytes: the length no longer fits the first padding block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        // A whole block of message, then a block of padding alone.
        {std::string(64, 'x'), "bb2fa3ee7afb9f54c6dfb5d021f14b1ffe40c163"},
    };
    for (const Case &c : cases) {
        uint8_t digest[SHA1_DIGEST_SIZE];
        sha1(c.input.data(), c.input.size(), digest);
        EXPECT_EQ(hex(digest), c.digest) << "length " << c.input.size();
    }
}

struct IdCase {
    const char *id;
    uint32_t leadout;
    std::vector<uint32_t> offsets;
};

// Published vectors, and every disc the recorded MusicBrainz replies list
// with its table of contents (pregap of 182 frames among them).
const IdCase ID_CASES[] = {
    {"xUp1F2NkfP8s8jaeFn_Av3jNEI4-",
     303602,
     {150,    9700,   25887,  39297,  53795,  63735,  77517,  94877,  107270, 123552, 135522,
      148422, 161197, 174790, 192022, 205545, 218010, 228700, 239590, 255470, 266932, 288750}},
    {"xp5tz6rE4OHrBafj0bLfDRMGK48-",
     212075,
     {182, 33322, 52597, 73510, 98882, 136180, 169185, 187490}},
    {"IeldkVfIh1wep_M8CMuDvA0nQ7Q-",
     189343,
     {150, 6614, 32287, 54041, 61236, 88129, 92729, 115276, 153877}},
    {"6jCVgqiBloWPfG27I5IfdbECRQU-",
     205050,
     {150, 15239, 29625, 45763, 61420, 75862, 91642, 108918, 123698, 139895, 153589, 169239,
      188495}},
    {"5Kmqj4OALmN4oJNUnFE5frqZ.nk-", 30000, {150, 15000}},
    {"J9dlQIdlpgKkwDn.nHo8SlQ0ks4-",
     205072,
     {150, 15239, 29625, 45763, 61420, 75862, 91642, 108918, 123698, 139895, 153589, 169239,
      188495}},
    {"cdg6qoKrzyU8Mr9rVFw2Knj8cOo-",
     203937,
     {150, 13862, 29115, 46920, 63165, 76360, 94490, 109272, 121987, 138872, 154897, 169232,
      186887}},
    {"lEvymbtLakTbvv7l_9KkiwyAjfE-",
     203787,
     {150, 13862, 29115, 46920, 63165, 76360, 94490, 109272, 121987, 138872, 154897, 169232,
      186887}},
    {"8azb6eNzc6zWfFlt5CGj9NcJeUg-",
     316678,
     {150, 3184, 30210, 61548, 93160, 118305, 141405, 175063, 211767, 251381, 282709}},
    {"cjHcIwcM.pqRzRTSyWWyG_49t70-",
     316732,
     {182, 3250, 30272, 61607, 93215, 118357, 141452, 175105, 211805, 251415, 282740}},
    {"gFYHaPUQVkGUwvP5waPzrTNeQSY-",
     306686,
     {150, 3152, 30169, 61479, 91211, 118167, 141146, 172692, 211484, 248818, 279691}},
    {"h_V.jBfcSt6S2x_8ThOxqfGw5Nc-",
     316635,
     {150, 3180, 30202, 61537, 93145, 118287, 141382, 175035, 211735, 251345, 282670}},
    {"x9pqLXoVpKKCJlmhUCqgBH0lcEA-",
     316607,
     {150, 3157, 30180, 61517, 93127, 118267, 141292, 175009, 211715, 251322, 282647}},
    {"zbTiNGuFlo69h1N6ojHaYxUvZJk-",
     316700,
     {150, 3218, 30240, 61575, 93183, 118325, 141420, 175073, 211773, 251383, 282708}},
    {"77diLBmOzvdQyy.JKG10eMh2STU-",
     203826,
     {150, 15103, 33211, 56815, 85230, 104576, 120450, 142378, 164415, 184395}},
    {"wMr.cvfMuhfUKZQ4cTUL48rPo1Y-",
     202001,
     {150, 24396, 42447, 65922, 82134, 101226, 116734, 139014, 162924, 184302}},
    {"0r3DPbEib9LyymmnZxFNGyauzN0-", 130039, {150, 32579, 53839, 73788, 106178}},
    {"7Nz4XI2avmjJkZno9SlDJY7s36E-", 73170, {150, 19804, 36537}},
};

TEST(MusicBrainzDiscId, MatchesTheServicesIds)
{
    for (const IdCase &c : ID_CASES) {
        LookupToc toc;
        ASSERT_TRUE(musicbrainz_toc(make_toc(c.offsets, c.leadout), toc));
        char id[MB_DISC_ID_SIZE];
        musicbrainz_disc_id(toc, id);
        EXPECT_STREQ(id, c.id);
    }
}

TEST(MusicBrainzDiscId, LeavesATrailingDataTrackOut)
{
    // An enhanced CD: the audio session of the first vector, then a data
    // track starting 11400 frames after its lead-out.
    const IdCase &audio = ID_CASES[1];
    std::vector<uint32_t> offsets = audio.offsets;
    offsets.push_back(audio.leadout + DATA_TRACK_GAP);
    LookupToc toc;
    ASSERT_TRUE(
        musicbrainz_toc(make_toc(offsets, audio.leadout + DATA_TRACK_GAP + 40000, true), toc));
    EXPECT_EQ(toc.last, 8);
    EXPECT_EQ(toc.leadout, audio.leadout);
    char id[MB_DISC_ID_SIZE];
    musicbrainz_disc_id(toc, id);
    EXPECT_STREQ(id, audio.id);

    char argument[256];
    ASSERT_GT(format_toc_argument(toc, argument, sizeof argument), 0);
    EXPECT_STREQ(argument, "1+8+212075+182+33322+52597+73510+98882+136180+169185+187490");
}

TEST(MusicBrainzDiscId, RefusesADiscWithoutTracks)
{
    LookupToc toc;
    EXPECT_FALSE(musicbrainz_toc(make_toc({}, 0), toc));
    Toc bad = make_toc({150}, 1000);
    bad.count = 1000; // a confused drive
    EXPECT_FALSE(musicbrainz_toc(bad, toc));
}

TEST(CddbQuery, NamesEveryTrackAndTheLengthInSeconds)
{
    Toc toc = make_toc(FAMILY_JEWELS, 205050);
    char query[512];
    ASSERT_GT(format_cddb_query(toc, 0x940aac0d, query, sizeof query), 0);
    EXPECT_STREQ(query, "940aac0d+13+150+15239+29625+45763+61420+75862+91642+108918+123698+139895+"
                        "153589+169239+188495+2734");
    EXPECT_EQ(format_cddb_query(toc, 0x940aac0d, query, 20), -1);
}

TEST(TocDistance, SumsTheDifferencesAndRefusesOtherTrackCounts)
{
    LookupToc toc;
    ASSERT_TRUE(musicbrainz_toc(make_toc({150, 1000, 2000}, 3000), toc));
    const uint32_t same[] = {150, 1000, 2000};
    const uint32_t moved[] = {160, 990, 2000};
    EXPECT_EQ(toc_distance(toc, same, 3, 3000), 0u);
    EXPECT_EQ(toc_distance(toc, moved, 3, 3005), 25u);
    EXPECT_EQ(toc_distance(toc, same, 2, 3000), UINT32_MAX);
}

} // namespace
