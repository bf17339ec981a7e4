// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/mpris.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{

TEST(MprisUri, LocalFilesOnlyPercentDecoded)
{
    struct Case {
        const char *uri;
        const char *path; // nullptr: refused
    } cases[] = {
        {"file:///home/a/disc.cue", "/home/a/disc.cue"},
        {"FILE:///x", "/x"},
        {"file://localhost/music/b%20c.cue", "/music/b c.cue"},
        {"file:///caf%C3%A9/%25.cue", "/caf\xc3\xa9/%.cue"},
        {"file:///a.cue?query#frag", "/a.cue"},
        {"file://otherhost/a.cue", nullptr},
        {"file:relative.cue", nullptr},
        {"http://example.org/a.cue", nullptr},
        {"file:///bad%2", nullptr},
        {"file:///bad%zz", nullptr},
        {"file:///nul%00byte", nullptr},
        {"", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.uri);
        char path[64];
        bool ok = mpris_uri_to_path(c.uri, path, sizeof path);
        ASSERT_EQ(ok, c.path != nullptr);
        if (ok) {
            EXPECT_STREQ(path, c.path);
        }
    }
}

TEST(MprisUri, PathsThatDoNotFitAreRefusedNotCut)
{
    std::string uri = "file:///" + std::string(20, 'a');
    char path[21];
    EXPECT_FALSE(mpris_uri_to_path(uri.c_str(), path, sizeof path));
    char uri_out[20];
    EXPECT_FALSE(mpris_path_to_uri("/a/long/enough/path.jpg", uri_out, sizeof uri_out));
}

TEST(MprisUri, PathToUriRoundTrips)
{
    const char *paths[] = {"/home/a/cover.jpg", "/x y/%#?/caf\xc3\xa9.png", "/"};
    for (const char *p : paths) {
        SCOPED_TRACE(p);
        char uri[256];
        ASSERT_TRUE(mpris_path_to_uri(p, uri, sizeof uri));
        EXPECT_EQ(strncmp(uri, "file:///", 8), 0);
        EXPECT_EQ(strpbrk(uri, " #?"), nullptr);
        char back[256];
        ASSERT_TRUE(mpris_uri_to_path(uri, back, sizeof back));
        EXPECT_STREQ(back, p);
    }
}

TEST(MprisTrackId, NamesDiscAndTrackOrNoTrack)
{
    MprisFacts f{};
    char id[128];
    mpris_track_id(f, id, sizeof id);
    EXPECT_STREQ(id, "/org/mpris/MediaPlayer2/TrackList/NoTrack");
    f.disc_id = 0x2300a005;
    f.track_number = 12;
    mpris_track_id(f, id, sizeof id);
    EXPECT_STREQ(id, "/org/mivo/disc/000000002300a005/track/12");
}

// Without a bus, requests never appear and nothing is sent anywhere.
TEST(MprisBus, UnreachableBusIsNoRemoteQuietly)
{
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/mivo-test-bus", 1);
    EXPECT_FALSE(mpris_start());
    EXPECT_FALSE(mpris_running());
    EXPECT_EQ(mpris_fd(), -1);
    EXPECT_TRUE(mpris_process());
    MprisRequest r;
    EXPECT_FALSE(mpris_next_request(r));
    mpris_publish(MprisFacts{}, 0, true);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

} // namespace
