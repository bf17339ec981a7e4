// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/candidate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{

CandidateList list;

Candidate &add(int32_t source, bool exact, uint32_t distance, int32_t order, const char *title)
{
    static Candidate c;
    memset(&c, 0, sizeof c);
    c.source = source;
    c.exact = exact;
    c.distance = distance;
    c.order = order;
    snprintf(c.artist, sizeof c.artist, "Artist");
    snprintf(c.title, sizeof c.title, "%s", title);
    c.track_count = 2;
    snprintf(c.track[0], sizeof c.track[0], "One");
    snprintf(c.track[1], sizeof c.track[1], "Two");
    add_candidate(list, c);
    return list.item[list.count - 1];
}

TEST(Candidates, ExactFirstThenDistanceThenGnudbInServerOrder)
{
    clear_candidates(list);
    add(SOURCE_GNUDB, false, 0, 1, "g1");
    add(SOURCE_MUSICBRAINZ, false, 500, 0, "near500");
    add(SOURCE_GNUDB, false, 0, 0, "g0");
    add(SOURCE_MUSICBRAINZ, true, 0, 3, "exact3");
    add(SOURCE_MUSICBRAINZ, false, 20, 1, "near20");
    add(SOURCE_MUSICBRAINZ, true, 0, 2, "exact2");
    rank_candidates(list);
    const char *order[] = {"exact2", "exact3", "near20", "near500", "g0", "g1"};
    ASSERT_EQ(list.count, 6);
    for (int i = 0; i < 6; i++)
        EXPECT_STREQ(list.item[i].title, order[i]);
}

TEST(Candidates, AFullListKeepsTheBest)
{
    clear_candidates(list);
    for (int i = 0; i < MAX_CANDIDATES; i++)
        add(SOURCE_MUSICBRAINZ, false, 100 + static_cast<uint32_t>(i), i, "near");
    static Candidate better;
    better = list.item[0];
    better.exact = true;
    snprintf(better.title, sizeof better.title, "exact");
    EXPECT_TRUE(add_candidate(list, better));
    EXPECT_EQ(list.count, MAX_CANDIDATES);
    rank_candidates(list);
    EXPECT_STREQ(list.item[0].title, "exact");
    EXPECT_EQ(list.item[MAX_CANDIDATES - 1].distance, 100u + MAX_CANDIDATES - 2);
    better.exact = false;
    better.distance = 1000;
    EXPECT_FALSE(add_candidate(list, better));
}

TEST(Candidates, AppliedWithoutAskingOnlyWhenEveryExactOneAgrees)
{
    struct Case {
        const char *what;
        void (*fill)();
        int choice;
    } cases[] = {
        {"nothing", [] {}, -1},
        {"only near ones", [] { add(SOURCE_MUSICBRAINZ, false, 3, 0, "A"); }, -1},
        {"only gnudb", [] { add(SOURCE_GNUDB, false, 0, 0, "A"); }, -1},
        {"one exact", [] { add(SOURCE_MUSICBRAINZ, true, 0, 0, "A"); }, 0},
        {"two exact alike, a different near one",
         [] {
             add(SOURCE_MUSICBRAINZ, true, 0, 0, "A");
             add(SOURCE_MUSICBRAINZ, true, 0, 1, "A");
             add(SOURCE_MUSICBRAINZ, false, 9, 2, "B");
         },
         0},
        {"exact ones with other titles",
         [] {
             add(SOURCE_MUSICBRAINZ, true, 0, 0, "A");
             add(SOURCE_MUSICBRAINZ, true, 0, 1, "B");
         },
         -1},
        {"exact ones with another track",
         [] {
             add(SOURCE_MUSICBRAINZ, true, 0, 0, "A");
             snprintf(add(SOURCE_MUSICBRAINZ, true, 0, 1, "A").track[1], LOOKUP_TEXT_SIZE, "2");
         },
         -1},
        {"exact ones with another artist",
         [] {
             add(SOURCE_MUSICBRAINZ, true, 0, 0, "A");
             snprintf(add(SOURCE_MUSICBRAINZ, true, 0, 1, "A").artist, LOOKUP_TEXT_SIZE, "X");
         },
         -1},
    };
    for (const Case &c : cases) {
        clear_candidates(list);
        c.fill();
        rank_candidates(list);
        EXPECT_EQ(automatic_choice(list), c.choice) << c.what;
    }
}

TEST(Utf8, ValidationAndCopies)
{
    struct Case {
        std::string text;
        bool valid;
    } cases[] = {
        {"plain", true},
        {"A\xc3\xafi", true},
        {"\xf0\x9f\x8e\xb5", true},
        {"A\xefi", false},           // ISO-8859-1
        {"\xc0\xaf", false},         // overlong
        {"\xed\xa0\x80", false},     // surrogate
        {"\xe2\x82", false},         // cut short
        {"\xf4\x90\x80\x80", false}, // beyond U+10FFFF
    };
    for (const Case &c : cases)
        EXPECT_EQ(valid_utf8(c.text.data(), c.text.size()), c.valid) << c.text;

    char out[4];
    copy_text(out, sizeof out, "ab\xc3\xaf", 4); // the two-byte letter does not fit whole
    EXPECT_STREQ(out, "ab");
    latin1_to_utf8(out, sizeof out, "A\xef", 2);
    EXPECT_STREQ(out, "A\xc3\xaf");
    latin1_to_utf8(out, sizeof out, "AB\xef", 3);
    EXPECT_STREQ(out, "AB");
}

} // namespace
