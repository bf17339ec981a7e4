// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/cddb.h"
#include "lookup_test_support.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

using namespace lookuptest;

namespace
{

TEST(CddbRequest, HelloCarriesTheEscapedAddressAndProtocolSix)
{
    char url[512];
    ASSERT_GT(cddb_request_url(url, sizeof url, "http://127.0.0.1:9/cddb.cgi", "query+940aac0d+1",
                               "a.b+c@example.org", "1.0.0"),
              0);
    EXPECT_STREQ(url, "http://127.0.0.1:9/cddb.cgi?cmd=cddb+query+940aac0d+1"
                      "&hello=a.b%2Bc%40example.org+example.org+mivo+1.0.0&proto=6");
    EXPECT_EQ(cddb_request_url(url, 50, "http://127.0.0.1:9/cddb.cgi", "query", "a@b", "1"), -1);
}

struct QueryCase {
    const char *file;
    int code;
    int count;
    const char *first_category;
    const char *first_title;
};

TEST(CddbQueryReply, EveryCodeOfTheRecordedReplies)
{
    const QueryCase cases[] = {
        {"query-200-exact-940aac0d.txt", 200, 1, "data",
         "Marina & The Diamonds / The Family Jewels"},
        {"query-200-exact-820e770a.txt", 200, 1, "jazz", "Joshua Redman / Wish 1993"},
        {"query-202-no-match.txt", 202, 0, nullptr, nullptr},
        {"query-210-multiple-exact-940aac0d-CONSTRUCTED.txt", 210, 2, "data",
         "Marina & The Diamonds / The Family Jewels"},
        {"query-211-inexact-d50dd30f.txt", 211, 2, "reggae", "Various / Ska Island"},
        {"any-409-no-handshake.txt", 409, 0, nullptr, nullptr},
        {"any-500-syntax-error.txt", 500, 0, nullptr, nullptr},
        {"gnudb-500-unknown-developer-email-PARTIAL.txt", 500, 0, nullptr, nullptr},
        {"read-403-corrupt.txt", 403, 0, nullptr, nullptr},
    };
    for (const QueryCase &c : cases) {
        std::string body = read_data(std::string("cddb/") + c.file);
        CddbMatch matches[MAX_CDDB_MATCHES];
        int count = -1;
        EXPECT_EQ(parse_cddb_query(body.data(), body.size(), matches, MAX_CDDB_MATCHES, count),
                  c.code)
            << c.file;
        EXPECT_EQ(count, c.count) << c.file;
        if (c.first_category != nullptr && count > 0) {
            EXPECT_STREQ(matches[0].category, c.first_category) << c.file;
            EXPECT_STREQ(matches[0].title, c.first_title) << c.file;
        }
    }
}

TEST(CddbQueryReply, MalformedListsAreRefused)
{
    const char *cases[] = {
        "",
        "hello",
        "21",
        "210 Found exact matches\r\ndata 940aac0d A / B\r\n", // no terminating "."
        "200 data\r\n",                                       // no disc id
        "200 #x&y 940aac0d A / B\r\n",                        // no category of the protocol
    };
    for (const char *body : cases) {
        CddbMatch matches[MAX_CDDB_MATCHES];
        int count = -1;
        EXPECT_EQ(parse_cddb_query(body, strlen(body), matches, MAX_CDDB_MATCHES, count),
                  REPLY_MALFORMED)
            << body;
        EXPECT_EQ(count, 0) << body;
    }
}

// Static: a record is 25 KB.
Candidate entry;

TEST(CddbReadReply, FullEntryWithEitherLineEnd)
{
    for (const char *file : {"read-210-940aac0d-proto5.txt", "read-210-940aac0d-proto5-crlf.txt"}) {
        std::string body = read_data(std::string("cddb/") + file);
        ASSERT_EQ(parse_cddb_read(body.data(), body.size(), 13, entry), 210) << file;
        EXPECT_EQ(entry.source, SOURCE_GNUDB);
        EXPECT_STREQ(entry.artist, "Marina & The Diamonds") << file;
        EXPECT_STREQ(entry.title, "The Family Jewels") << file;
        EXPECT_STREQ(entry.release, "data 940aac0d");
        ASSERT_EQ(entry.track_count, 13);
        EXPECT_STREQ(entry.track[4], "Mowgli's Road") << file;
        EXPECT_STREQ(entry.track[12], "Guilty") << file;
    }
}

TEST(CddbReadReply, Latin1EntryReadsAsTheUtf8One)
{
    std::string utf8 = read_data("cddb/read-210-utf8-12340000-proto6.txt");
    std::string latin1 = read_data("cddb/read-210-latin1-12340000-proto5.txt");
    for (const std::string &body : {utf8, latin1}) {
        ASSERT_EQ(parse_cddb_read(body.data(), body.size(), 1, entry), 210);
        EXPECT_STREQ(entry.artist, "A\xc3\xafi");
        EXPECT_STREQ(entry.title, "A\xc3\xafi");
        EXPECT_STREQ(entry.track[0], "A\xc3\xafi");
        EXPECT_STREQ(entry.year, "2004");
        EXPECT_STREQ(entry.genre, "misc");
    }
}

TEST(CddbReadReply, ErrorsAndBadEntries)
{
    std::string full = read_data("cddb/read-210-940aac0d-proto5.txt");
    struct Case {
        const char *what;
        std::string body;
        int32_t tracks;
        int result;
    } cases[] = {
        {"not found", read_data("cddb/read-401-not-found.txt"), 13, 401},
        {"corrupt", read_data("cddb/read-403-corrupt.txt"), 13, 403},
        {"no handshake", read_data("cddb/any-409-no-handshake.txt"), 13, 409},
        {"syntax error", read_data("cddb/any-500-syntax-error.txt"), 13, 500},
        {"cut before the end", full.substr(0, full.size() - 20), 13, REPLY_MALFORMED},
        {"more tracks than the disc", full, 12, REPLY_MISFIT},
        {"index out of any range", "210 misc 00000001 x\nTTITLE999999999999=x\n.\n", 99,
         REPLY_MALFORMED},
        {"unknown category", "210 misc&x 00000001 x\nTTITLE0=x\n.\n", 1, REPLY_MALFORMED},
        {"short id", "210 misc 0001 x\nTTITLE0=x\n.\n", 1, REPLY_MALFORMED},
        {"no header", "DTITLE=x\n.\n", 1, REPLY_MALFORMED},
    };
    for (const Case &c : cases)
        EXPECT_EQ(parse_cddb_read(c.body.data(), c.body.size(), c.tracks, entry), c.result)
            << c.what;
}

TEST(CddbReadReply, ContinuedFieldsAndEscapesJoin)
{
    const char body[] = "210 rock 01020304 entry follows\r\n"
                        "DTITLE=Long Artist Na\r\nDTITLE=me / Title\r\n"
                        "TTITLE0=Line\\none\\ttab\\\\\r\nTTITLE0= more\r\n.\r\n";
    ASSERT_EQ(parse_cddb_read(body, sizeof body - 1, 2, entry), 210);
    EXPECT_STREQ(entry.artist, "Long Artist Name");
    EXPECT_STREQ(entry.title, "Title");
    EXPECT_STREQ(entry.track[0], "Line one tab\\ more") << "newline and tab shown as spaces";
    EXPECT_EQ(entry.track_count, 1);
}

// A reply at the very end of a readable page, the next one unmapped: a parser
// that reads one byte past the reply stops the test with a fault, in any build.
class GuardedReply
{
  public:
    GuardedReply()
    {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void *mapped = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        EXPECT_NE(mapped, MAP_FAILED);
        base_ = static_cast<char *>(mapped);
        EXPECT_EQ(mprotect(base_ + page_, page_, PROT_NONE), 0);
    }
    ~GuardedReply() { munmap(base_, 2 * page_); }
    const char *place(const std::string &body)
    {
        char *at = base_ + page_ - body.size();
        memcpy(at, body.data(), body.size());
        return at;
    }

  private:
    size_t page_;
    char *base_;
};

TEST(CddbReplies, ShortLinesAreReadWithinTheReply)
{
    GuardedReply guard;
    const char *bodies[] = {"200", "200 ", "200 data", "210", "211", "210 rock", "210 rock 0102",
                            "200 data 940aac0d", "210 rock 01020304 x\nTTITLE", "210 a b\n."};
    for (const char *text : bodies) {
        std::string body = text;
        const char *at = guard.place(body);
        CddbMatch matches[MAX_CDDB_MATCHES];
        int count = -1;
        int code = parse_cddb_query(at, body.size(), matches, MAX_CDDB_MATCHES, count);
        EXPECT_TRUE(code == REPLY_MALFORMED || count <= 1) << body;
        parse_cddb_read(at, body.size(), 2, entry);
    }
    std::string bare = "200";
    CddbMatch match;
    int count = -1;
    EXPECT_EQ(parse_cddb_query(guard.place(bare), bare.size(), &match, 1, count), REPLY_MALFORMED);
    EXPECT_EQ(count, 0);
}

TEST(CddbQueryReply, OnlyTheProtocolsCategoriesAndIdsAreListed)
{
    const char body[] = "211 close matches\r\n"
                        "rock 0102030g Bad / Id\r\n"
                        "rock#x 01020304 Bad / Category\r\n"
                        "rock&cmd=x 01020304 Bad / Category\r\n"
                        "r\xf6" "ck 01020304 Bad / Category\r\n"
                        "misc 010203040 Bad / Long id\r\n"
                        "newage ABCDEF01 Good / \x1b[2JOne\r\n"
                        "soundtrack 01020304 Good / Two\r\n"
                        ".\r\n";
    CddbMatch matches[MAX_CDDB_MATCHES];
    int count = -1;
    ASSERT_EQ(parse_cddb_query(body, sizeof body - 1, matches, MAX_CDDB_MATCHES, count), 211);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(matches[0].category, "newage");
    EXPECT_STREQ(matches[0].discid, "ABCDEF01");
    EXPECT_STREQ(matches[0].title, "Good /  [2JOne");
    EXPECT_STREQ(matches[1].category, "soundtrack");

    char command[128];
    ASSERT_GT(cddb_read_command(command, sizeof command, matches[1]), 0);
    EXPECT_STREQ(command, "read+soundtrack+01020304");
    CddbMatch odd = {"a#b&c", "1 2", ""};
    ASSERT_GT(cddb_read_command(command, sizeof command, odd), 0);
    EXPECT_STREQ(command, "read+a%23b%26c+1%202");
}

TEST(CddbReadReply, ControlCharactersBecomeSpaces)
{
    // ESC, BEL, BS, a CR inside the line and, read as Latin-1, NEL (0x85).
    const char body[] = "210 rock 01020304 entry follows\n"
                        "DTITLE=A\x1b]0;x\x07rtist / T\bitle\n"
                        "TTITLE0=One\rTTITLE1=Two\x85\n"
                        ".\n";
    ASSERT_EQ(parse_cddb_read(body, sizeof body - 1, 2, entry), 210);
    EXPECT_STREQ(entry.artist, "A ]0;x rtist");
    EXPECT_STREQ(entry.title, "T itle");
    EXPECT_STREQ(entry.track[0], "One TTITLE1=Two ");
    EXPECT_EQ(entry.track_count, 1);
}

} // namespace
