// SPDX-License-Identifier: GPL-3.0-or-later
// Covers: the release named in a disc note, the cache's files, and fetches
// from the project's stand-in archive on 127.0.0.1 (lookup_server.py).
#include "lookup/cover_art.h"

#include "desktop/folder_cover.h"
#include "lookup/lookup.h"
#include "lookup_server_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

const char MBID[] = "0c9ed8a5-60aa-4b02-bbb5-c1cd7b61b6a4";

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary);
    out << data;
}

bool exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string covers_data(const std::string &name)
{
    const char *root = getenv("MIVO_TEST_DATA");
    return std::string(root ? root : "tests/data") + "/covers/" + name;
}

std::string temp_dir()
{
    char name[] = "/tmp/mivo-cover-XXXXXX";
    EXPECT_NE(mkdtemp(name), nullptr);
    return name;
}

TEST(CoverRelease, FoundInTheDiscNoteOnlyWhenWellFormed)
{
    struct Case {
        const char *text;
        const char *mbid; // nullptr: none
    } cases[] = {
        {"Titles from MusicBrainz, release https://musicbrainz.org/release/"
         "0c9ed8a5-60aa-4b02-bbb5-c1cd7b61b6a4",
         MBID},
        {"see https://musicbrainz.org/release/0C9ED8A5-60AA-4B02-BBB5-C1CD7B61B6A4.", MBID},
        {"https://musicbrainz.org/release/0c9ed8a5-60aa-4b02-bbb5-c1cd7b61b6a", nullptr},
        {"https://musicbrainz.org/release/0c9ed8a5-60aa-4b02-bbb5-c1cd7b61b6a4f", nullptr},
        {"https://musicbrainz.org/release/0c9ed8a5_60aa-4b02-bbb5-c1cd7b61b6a4", nullptr},
        {"https://musicbrainz.org/release/../../etc/passwd-000000000000000000000", nullptr},
        {"Titles from gnudb", nullptr},
        {"", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        char mbid[MBID_SIZE] = "";
        ASSERT_EQ(cover_release_in(c.text, mbid), c.mbid != nullptr);
        if (c.mbid != nullptr) {
            EXPECT_STREQ(mbid, c.mbid);
        }
    }
}

TEST(CoverCache, WritesAtomicallyAndTrimsTheOldestImages)
{
    std::string dir = temp_dir() + "/a/b/covers";
    ASSERT_EQ(cover_make_dirs(dir.c_str()), 0);
    const std::string big(4000, 'x');
    const char *names[] = {"old.jpg", "middle.png", "new.jpg"};
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(cover_write_atomically(dir.c_str(), names[i], big.data(), big.size()), 0);
        // Distinct times, oldest first.
        std::string path = dir + "/" + names[i];
        struct timespec times[2] = {{1000 + i, 0}, {1000 + i, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    spit(dir + "/release.none", "");
    spit(dir + "/notes.txt", big);
    EXPECT_EQ(slurp(dir + "/new.jpg"), big);
    // 12000 bytes of images, 9000 allowed: the oldest goes, kept or not.
    cover_trim_cache(dir.c_str(), 9000, "old.jpg");
    EXPECT_TRUE(exists(dir + "/old.jpg"));
    EXPECT_FALSE(exists(dir + "/middle.png"));
    EXPECT_TRUE(exists(dir + "/new.jpg"));
    EXPECT_TRUE(exists(dir + "/release.none"));
    EXPECT_TRUE(exists(dir + "/notes.txt"));
    // No temporary file is left behind.
    EXPECT_FALSE(exists(dir + "/.new.jpg." + std::to_string(getpid()) + ".part"));
    // A directory that cannot be written leaves no file and says so.
    EXPECT_NE(cover_write_atomically("/nonexistent/dir", "x.jpg", "a", 1), 0);
}

// A FLAC file's head with blocks of the given types and bodies.
std::string flac_with(const std::vector<std::pair<int, std::string>> &blocks)
{
    std::string out = "fLaC";
    for (size_t i = 0; i < blocks.size(); i++) {
        size_t n = blocks[i].second.size();
        out += static_cast<char>(blocks[i].first | (i + 1 == blocks.size() ? 0x80 : 0));
        out += static_cast<char>(n >> 16);
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(n);
        out += blocks[i].second;
    }
    return out;
}

std::string be32(uint32_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

std::string picture_block(const std::string &image, uint32_t claimed = 0)
{
    return be32(3) + be32(10) + "image/jpeg" + be32(5) + "front" + std::string(16, '\0') +
           be32(claimed ? claimed : static_cast<uint32_t>(image.size())) + image;
}

TEST(FolderCover, FlacPictureBlocksAreReadWithinTheirBounds)
{
    const std::string image = slurp(covers_data("front.jpg"));
    ASSERT_FALSE(image.empty());
    struct Case {
        const char *what;
        std::string block;
        bool ok;
    } cases[] = {
        {"well formed", picture_block(image), true},
        {"data longer than the block", picture_block(image, 0xffffffffu), false},
        {"no data", picture_block(""), false},
        {"MIME type past the end", be32(3) + be32(0xfffffff0u) + "x", false},
        {"cut in the fixed fields", picture_block(image).substr(0, 30), false},
        {"empty", "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        size_t offset = 0;
        size_t length = 0;
        const auto *data = reinterpret_cast<const unsigned char *>(c.block.data());
        ASSERT_EQ(flac_picture_in_block(data, c.block.size(), offset, length), c.ok);
        if (c.ok) {
            EXPECT_EQ(c.block.substr(offset, length), image);
        }
    }
}

TEST(FolderCover, ImagesBesideTheAudioFilesComeInTheirOrder)
{
    std::string dir = temp_dir();
    EXPECT_FALSE(find_folder_image(dir.c_str(), nullptr, 0));
    spit(dir + "/front.PNG", "x");
    spit(dir + "/back.jpg", "x");
    mkdir((dir + "/cover.jpg").c_str(), 0700); // not a file
    char path[1024];
    ASSERT_TRUE(find_folder_image(dir.c_str(), path, sizeof path));
    EXPECT_EQ(std::string(path), dir + "/front.PNG");
    spit(dir + "/Folder.jpeg", "x");
    ASSERT_TRUE(find_folder_image(dir.c_str(), path, sizeof path));
    EXPECT_EQ(std::string(path), dir + "/Folder.jpeg");
    spit(dir + "/COVER.png", "x");
    ASSERT_TRUE(find_folder_image(dir.c_str(), path, sizeof path));
    EXPECT_EQ(std::string(path), dir + "/COVER.png");
}

TEST(FolderCover, FirstFlacPictureIsCopiedOut)
{
    const std::string image = slurp(covers_data("front.jpg"));
    std::string folder = temp_dir();
    std::string cache = temp_dir() + "/covers";
    char path[1024];
    EXPECT_FALSE(extract_flac_picture(folder.c_str(), cache.c_str(), "d", path, sizeof path));
    // b.flac has a picture after other blocks; a.flac, first by name, none.
    spit(folder + "/a.flac", flac_with({{0, std::string(34, '\0')}}));
    spit(folder + "/b.flac", flac_with({{0, std::string(34, '\0')}, {4, "vorbis"},
                                        {6, picture_block(image)}}));
    EXPECT_FALSE(extract_flac_picture(folder.c_str(), cache.c_str(), "d", path, sizeof path));
    spit(folder + "/a.flac", flac_with({{0, std::string(34, '\0')}, {6, picture_block(image)}}));
    ASSERT_TRUE(extract_flac_picture(folder.c_str(), cache.c_str(), "d", path, sizeof path));
    EXPECT_EQ(std::string(path), cache + "/d.jpg");
    EXPECT_EQ(slurp(path), image);
    // A picture that is no image is not taken.
    spit(folder + "/a.flac", flac_with({{6, picture_block("GIF89a....")}}));
    EXPECT_FALSE(extract_flac_picture(folder.c_str(), cache.c_str(), "e", path, sizeof path));
}

TEST(FolderCover, CopiedPicturesKeepTheCacheWithinItsBound)
{
    const std::string image = slurp(covers_data("front.jpg"));
    std::string folder = temp_dir();
    std::string cache = temp_dir();
    spit(folder + "/a.flac", flac_with({{6, picture_block(image)}}));
    const CoverSettings saved = cover_settings;
    cover_settings.cache_bytes = static_cast<int64_t>(image.size()) * 2;
    // Two older copies of other discs' pictures, each as large as this one.
    const struct {
        const char *name;
        time_t time;
    } olds[] = {{"older.jpg", 1000}, {"old.jpg", 2000}};
    for (const auto &old : olds) {
        const std::string file = cache + "/" + old.name;
        spit(file, image);
        struct timespec times[2] = {{old.time, 0}, {old.time, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    }
    char path[1024];
    ASSERT_TRUE(extract_flac_picture(folder.c_str(), cache.c_str(), "new", path, sizeof path));
    cover_settings = saved;
    EXPECT_TRUE(exists(cache + "/new.jpg"));
    EXPECT_TRUE(exists(cache + "/old.jpg"));
    EXPECT_FALSE(exists(cache + "/older.jpg"));
}

class CoverFetch : public ::testing::Test
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
        cover_cancel();
        lookup_shutdown();
        server.stop();
    }
    void SetUp() override
    {
        cache = temp_dir() + "/covers";
        setenv("XDG_CACHE_HOME", "/nonexistent", 1);
        cover_init();
        snprintf(cover_settings.cache_dir, sizeof cover_settings.cache_dir, "%s", cache.c_str());
        lookup_settings.timeout_ms = 10000;
    }
    void TearDown() override { unsetenv("XDG_CACHE_HOME"); }
    void use(const std::string &mode)
    {
        snprintf(cover_settings.base_url, sizeof cover_settings.base_url, "http://127.0.0.1:%d/%s",
                 server.port, mode.c_str());
    }
    // Moves the fetch on as the main loop does; the longest poll shows
    // whether anything blocked.
    static CoverState run(double &longest_ms)
    {
        longest_ms = 0;
        auto start = std::chrono::steady_clock::now();
        for (;;) {
            auto before = std::chrono::steady_clock::now();
            CoverState s = cover_poll();
            double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before).count();
            longest_ms = ms > longest_ms ? ms : longest_ms;
            if (s != COVER_FETCHING ||
                std::chrono::steady_clock::now() - start > std::chrono::seconds(20))
                return s;
            cover_wait(nullptr, 0, 500);
        }
    }
    std::string cache;
};
LookupServerProcess CoverFetch::server;

TEST_F(CoverFetch, RedirectIsFollowedAndTheImageCached)
{
    use("caa");
    ASSERT_EQ(cover_fetch(MBID), COVER_FETCHING);
    double longest = 0;
    ASSERT_EQ(run(longest), COVER_READY) << cover_error();
    EXPECT_EQ(std::string(cover_file()), cache + "/" + MBID + ".jpg");
    EXPECT_EQ(slurp(cover_file()), slurp(covers_data("front.jpg")));
    // Asked again, even with the archive gone, it comes from the cache.
    use("caa-none");
    EXPECT_EQ(cover_fetch(MBID), COVER_READY);
}

TEST_F(CoverFetch, NoCoverIsRememberedAcrossRuns)
{
    use("caa-none");
    ASSERT_EQ(cover_fetch(MBID), COVER_FETCHING);
    double longest = 0;
    EXPECT_EQ(run(longest), COVER_NONE);
    EXPECT_TRUE(exists(cache + "/" + MBID + ".none"));
    // The archive now has one, but the answer is remembered: nothing is asked.
    use("caa");
    EXPECT_EQ(cover_fetch(MBID), COVER_NONE);
}

TEST_F(CoverFetch, OversizedSlowAndFailedRepliesGiveNoCoverWithoutBlocking)
{
    struct Case {
        const char *mode;
        const char *mbid;
        long timeout_ms;
        const char *why;
    } cases[] = {
        {"caa-huge", "11111111-1111-1111-1111-111111111111", 10000, "larger than"},
        {"slow-3000", "22222222-2222-2222-2222-222222222222", 1000, "timed out"},
        {"garbage", "33333333-3333-3333-3333-333333333333", 10000, "not a JPEG or PNG"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        use(c.mode);
        lookup_settings.timeout_ms = static_cast<int32_t>(c.timeout_ms);
        ASSERT_EQ(cover_fetch(c.mbid), COVER_FETCHING);
        double longest = 0;
        EXPECT_EQ(run(longest), COVER_NONE);
        EXPECT_NE(strstr(cover_error(), c.why), nullptr) << cover_error();
        EXPECT_LT(longest, 100.0);
        // Not remembered as "no cover": a later run asks again.
        EXPECT_FALSE(exists(cache + "/" + c.mbid + ".none"));
        EXPECT_FALSE(exists(cache + "/" + c.mbid + ".jpg"));
        // But not again in this one.
        use("caa");
        EXPECT_EQ(cover_fetch(c.mbid), COVER_NONE);
    }
}

} // namespace
