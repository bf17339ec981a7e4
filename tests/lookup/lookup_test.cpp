// SPDX-License-Identifier: GPL-3.0-or-later
// The whole lookup against the project's own stand-in server on 127.0.0.1
// (lookup_server.py): requests, time-outs, busy and bad servers, gnudb.
#include "lookup/lookup.h"
#include "lookup_server_process.h"
#include "lookup_test_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

using namespace lookuptest;
using Clock = std::chrono::steady_clock;

namespace
{

class LookupServer : public ::testing::Test
{
  protected:
    static LookupServerProcess server;

    static void SetUpTestSuite()
    {
        server.start();
        lookup_init("1.0.0");
    }

    static void TearDownTestSuite()
    {
        lookup_shutdown();
        server.stop();
    }

    void SetUp() override
    {
        snprintf(lookup_settings.musicbrainz_url, LOOKUP_URL_SIZE, "%s", url("mb").c_str());
        lookup_settings.gnudb_email[0] = '\0';
        lookup_settings.timeout_ms = 10000;
    }

    static std::string url(const std::string &mode) { return server.url(mode); }

    // Every request the server has seen, one JSON object a line.
    static std::string server_log()
    {
        std::string base = "http://127.0.0.1:" + std::to_string(server.port) + "/log";
        std::string command = "/usr/bin/python3 -c \"import urllib.request,sys;"
                              "sys.stdout.write(urllib.request.urlopen('" +
                              base + "').read().decode())\"";
        std::string log;
        FILE *p = popen(command.c_str(), "r");
        char buffer[4096];
        size_t n;
        while (p != nullptr && (n = fread(buffer, 1, sizeof buffer, p)) > 0)
            log.append(buffer, n);
        if (p != nullptr)
            pclose(p);
        return log;
    }

    // Runs the lookup as the main loop does; the longest time a call took
    // apart from the wait shows whether anything blocked.
    struct Run {
        LookupPhase phase;
        double seconds;
        double longest_poll_ms;
    };

    static Run run_lookup(double limit_seconds = 20)
    {
        Run run = {LOOKUP_RUNNING, 0, 0};
        auto start = Clock::now();
        for (;;) {
            auto before = Clock::now();
            run.phase = poll_lookup();
            double ms = std::chrono::duration<double, std::milli>(Clock::now() - before).count();
            if (ms > run.longest_poll_ms)
                run.longest_poll_ms = ms;
            run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
            if (run.phase != LOOKUP_RUNNING || run.seconds > limit_seconds)
                return run;
            wait_for_lookup_or_input(nullptr, 0, 500);
        }
    }
};

LookupServerProcess LookupServer::server;

const Toc &family_jewels()
{
    static Toc toc = make_toc(FAMILY_JEWELS, FAMILY_JEWELS_LEADOUT);
    return toc;
}

TEST_F(LookupServer, ExactMatchArrivesWithTheRequestMusicBrainzAsksFor)
{
    start_lookup(family_jewels(), 0x940aac0d);
    Run run = run_lookup();
    ASSERT_EQ(run.phase, LOOKUP_DONE) << lookup_message();
    EXPECT_EQ(lookup_candidates().count, 3);
    EXPECT_TRUE(lookup_candidates().item[0].exact);
    EXPECT_STREQ(lookup_disc_id(), "J9dlQIdlpgKkwDn.nHo8SlQ0ks4-");
    std::string log = server_log();
    EXPECT_NE(log.find("/mb/ws/2/discid/J9dlQIdlpgKkwDn.nHo8SlQ0ks4-?toc=1+13+205072+150+15239"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("&inc=recordings+artist-credits+labels+release-groups&fmt=json"),
              std::string::npos);
    EXPECT_NE(log.find("\"user_agent\": \"mivo/1.0.0 ( "), std::string::npos) << log;
    EXPECT_EQ(log.find("cddb"), std::string::npos) << "gnudb is off without an address";
    finish_lookup();
}

TEST_F(LookupServer, NothingFoundSaysSoWithTheLinkAndIsRemembered)
{
    Toc toc = make_toc({150, 20000, 40000}, 60000);
    EXPECT_FALSE(lookup_missed(toc));
    start_lookup(toc, 0x1234);
    Run run = run_lookup();
    ASSERT_EQ(run.phase, LOOKUP_FAILED);
    EXPECT_NE(strstr(lookup_message(), "No titles found"), nullptr) << lookup_message();
    EXPECT_NE(strstr(lookup_message(), "https://musicbrainz.org/cdtoc/attach?id="), nullptr);
    EXPECT_NE(strstr(lookup_message(), "&toc=1+3+60000+150+20000+40000"), nullptr)
        << lookup_message();
    EXPECT_TRUE(lookup_missed(toc));
    finish_lookup();
}

TEST_F(LookupServer, SlowAndSilentServersNeverBlockAPoll)
{
    snprintf(lookup_settings.musicbrainz_url, LOOKUP_URL_SIZE, "%s", url("slow-1500").c_str());
    start_lookup(family_jewels(), 0);
    Run slow = run_lookup();
    EXPECT_EQ(slow.phase, LOOKUP_DONE);
    EXPECT_GE(slow.seconds, 1.4);
    EXPECT_LT(slow.longest_poll_ms, 50) << "a poll waited for the server";

    snprintf(lookup_settings.musicbrainz_url, LOOKUP_URL_SIZE, "%s", url("never").c_str());
    lookup_settings.timeout_ms = 1500;
    start_lookup(family_jewels(), 0);
    Run silent = run_lookup();
    EXPECT_EQ(silent.phase, LOOKUP_FAILED);
    EXPECT_GE(silent.seconds, 1.4);
    EXPECT_LT(silent.seconds, 5);
    EXPECT_LT(silent.longest_poll_ms, 50);
    EXPECT_NE(strstr(lookup_message(), "Lookup failed"), nullptr) << lookup_message();
    EXPECT_FALSE(lookup_missed(family_jewels())) << "a server that did not answer is no miss";
    finish_lookup();
}

TEST_F(LookupServer, BadRepliesEndInAMessage)
{
    struct Case {
        const char *mode;
        const char *message;
    } cases[] = {{"huge", "too large"}, {"garbage", "unreadable"}};
    for (const Case &c : cases) {
        const char *mode = c.mode;
        snprintf(lookup_settings.musicbrainz_url, LOOKUP_URL_SIZE, "%s", url(mode).c_str());
        start_lookup(family_jewels(), 0);
        Run run = run_lookup();
        EXPECT_EQ(run.phase, LOOKUP_FAILED) << mode;
        EXPECT_NE(strstr(lookup_message(), c.message), nullptr) << lookup_message();
        EXPECT_EQ(lookup_candidates().count, 0) << mode;
        finish_lookup();
    }
}

TEST_F(LookupServer, BusyServerIsAskedAgainAfterABackOff)
{
    snprintf(lookup_settings.musicbrainz_url, LOOKUP_URL_SIZE, "%s", url("busy-once").c_str());
    start_lookup(family_jewels(), 0);
    Run run = run_lookup();
    ASSERT_EQ(run.phase, LOOKUP_DONE) << lookup_message();
    EXPECT_GE(run.seconds, 1.9) << "the second request went out before the back-off";
    finish_lookup();
}

TEST_F(LookupServer, RequestsAreAtLeastASecondApart)
{
    Toc other = make_toc({150, 5000}, 9000);
    start_lookup(other, 0);
    EXPECT_EQ(run_lookup().phase, LOOKUP_FAILED);
    auto start = Clock::now();
    start_lookup(other, 0);
    EXPECT_EQ(run_lookup().phase, LOOKUP_FAILED);
    EXPECT_GE(std::chrono::duration<double>(Clock::now() - start).count(), 0.9);
    finish_lookup();
}

TEST_F(LookupServer, CancelledLookupYieldsNothing)
{
    snprintf(lookup_settings.musicbrainz_url, LOOKUP_URL_SIZE, "%s", url("slow-800").c_str());
    start_lookup(family_jewels(), 0);
    poll_lookup();
    cancel_lookup();
    usleep(1200 * 1000);
    EXPECT_EQ(poll_lookup(), LOOKUP_IDLE);
    EXPECT_EQ(lookup_candidates().count, 0);
}

TEST_F(LookupServer, GnudbEntriesFollowMusicBrainzsWithTheHello)
{
    snprintf(lookup_settings.gnudb_url, LOOKUP_URL_SIZE, "http://127.0.0.1:%d/cddb/cddb.cgi",
             server.port);
    snprintf(lookup_settings.gnudb_email, LOOKUP_URL_SIZE, "me@example.org");
    // gnudb's table of the disc: MusicBrainz has only near matches for it.
    start_lookup(make_toc(FAMILY_JEWELS, 205050), 0x940aac0d);
    Run run = run_lookup();
    ASSERT_EQ(run.phase, LOOKUP_DONE) << lookup_message();
    const CandidateList &list = lookup_candidates();
    ASSERT_EQ(list.count, 6) << "five near ones and the readable gnudb entry";
    const Candidate &last = list.item[5];
    EXPECT_EQ(last.source, SOURCE_GNUDB);
    EXPECT_STREQ(last.release, "data 940aac0d");
    EXPECT_STREQ(last.track[4], "Mowgli's Road");
    std::string log = server_log();
    EXPECT_NE(log.find("cmd=cddb+query+940aac0d+13+150+15239"), std::string::npos) << log;
    EXPECT_NE(log.find("hello=me%40example.org+example.org+mivo+1.0.0&proto=6"), std::string::npos);
    EXPECT_NE(log.find("cmd=cddb+read+misc+940aac0d"), std::string::npos);
    finish_lookup();
}

} // namespace
