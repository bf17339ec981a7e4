// SPDX-License-Identifier: GPL-3.0-or-later
// libcurl opened at run time: the build's library resolves, one that is not
// there or is not libcurl gives a reason naming it, and lookups and cover
// fetches without it fail with that reason and nothing else.
#include "lookup/cover_art.h"
#include "lookup/curl_library.h"
#include "lookup/http.h"
#include "lookup/lookup.h"
#include "lookup_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace lookuptest;

namespace
{

constexpr char MISSING[] = "libmivo-no-such-library.so.0";

TEST(CurlLibrary, TheBuildsLibraryResolvesEveryFunction)
{
    CurlLibrary lib;
    memset(&lib, 0, sizeof lib);
    char error[160] = "";
    ASSERT_TRUE(curl_library_open(CURL_LIBRARY_NAME, lib, error, sizeof error)) << error;
    void (*functions[sizeof lib / sizeof(void (*)())])();
    memcpy(functions, &lib, sizeof lib);
    for (auto *f : functions)
        EXPECT_NE(f, nullptr);
    // The pointers are the library's own: they work.
    EXPECT_STREQ(lib.easy_strerror(CURLE_OK), "No error");
    CURL *easy = lib.easy_init();
    ASSERT_NE(easy, nullptr);
    EXPECT_EQ(lib.easy_setopt(easy, CURLOPT_URL, "http://127.0.0.1:9/"), CURLE_OK);
    lib.easy_cleanup(easy);
}

TEST(CurlLibrary, ALibraryThatCannotServeSaysWhichAndWhy)
{
    const struct {
        const char *name;
        const char *reason;
    } cases[] = {
        {MISSING, "libmivo-no-such-library.so.0 could not be loaded: cannot open shared object file"},
        // There, but not libcurl: the first function it lacks is named.
        {"libc.so.6", "libc.so.6 could not be loaded: it has no curl_global_init"},
    };
    for (const auto &c : cases) {
        CurlLibrary lib;
        memset(&lib, 0xa5, sizeof lib);
        CurlLibrary before = lib;
        char error[160] = "";
        EXPECT_FALSE(curl_library_open(c.name, lib, error, sizeof error)) << c.name;
        EXPECT_EQ(strncmp(error, c.reason, strlen(c.reason)), 0) << error;
        EXPECT_EQ(memcmp(&lib, &before, sizeof lib), 0) << c.name << ": the record was touched";
    }
}

// Lookups and cover fetches on a machine without the library.
class WithoutLibcurl : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        lookup_init("1.0.0");
        http_use_library(MISSING);
        cover_init();
        cover_settings.cache_dir[0] = '\0';
    }
    void TearDown() override
    {
        cover_cancel();
        lookup_shutdown();
        http_use_library(CURL_LIBRARY_NAME);
    }
};

TEST_F(WithoutLibcurl, LookupsFailWithTheReasonEveryTimeAndNothingElseBreaks)
{
    const std::string expected =
        std::string("Lookup: ") + MISSING + " could not be loaded: cannot open shared object file";
    Toc toc = make_toc(PRIVATEERING_2, PRIVATEERING_2_LEADOUT);
    for (int attempt = 0; attempt < 2; attempt++) {
        start_lookup(toc, 0x940aac0d);
        ASSERT_EQ(lookup_phase(), LOOKUP_FAILED) << "attempt " << attempt;
        EXPECT_EQ(poll_lookup(), LOOKUP_FAILED);
        EXPECT_EQ(std::string(lookup_message()).rfind(expected, 0), 0u) << lookup_message();
        // No server was asked, so there is no disc to add.
        EXPECT_EQ(strstr(lookup_message(), "Add the disc"), nullptr) << lookup_message();
        EXPECT_FALSE(lookup_missed(toc)) << "a disc nobody was asked about is no miss";
        finish_lookup();
    }
    EXPECT_EQ(http_shared_multi(), nullptr);
    // The loop's wait and pump still work without a transfer to wait for.
    wait_for_lookup_or_input(nullptr, 0, 0);
    http_pump();
    http_wait_shared(nullptr, 0, 0);
}

TEST_F(WithoutLibcurl, ACoverFetchGivesUpWithTheReason)
{
    EXPECT_EQ(cover_fetch("0f7e8f4a-8c5f-4cc3-a3c5-3a3dd1b3e8f9"), COVER_NONE);
    EXPECT_NE(strstr(cover_error(), MISSING), nullptr) << cover_error();
    EXPECT_NE(strstr(cover_error(), "cannot open shared object file"), nullptr) << cover_error();
    EXPECT_EQ(cover_poll(), COVER_NONE);
}

} // namespace
