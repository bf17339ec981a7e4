// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/directory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace
{
class DirectoryTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/mivo-directory-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override
    {
        for (const std::string &name : made)
            unlink((folder + "/" + name).c_str());
        rmdir(folder.c_str());
    }
    void make(const std::string &name)
    {
        int fd = open((folder + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0) << name;
        close(fd);
        made.push_back(name);
    }
    // Each name read, with how many times it came.
    std::map<std::string, int> read_all(char *buffer, size_t size)
    {
        std::map<std::string, int> seen;
        int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        DirectoryReader reader;
        directory_begin(reader, fd, buffer, size);
        while (const char *name = directory_next(reader))
            seen[name]++;
        // The end stays the end.
        EXPECT_EQ(directory_next(reader), nullptr);
        close(fd);
        return seen;
    }
    std::string folder;
    std::vector<std::string> made;
};

// Far more entries than one read's buffer holds, some with the longest name a
// file can have: every one comes once, across many reads.
TEST_F(DirectoryTest, ReadsEveryEntryOnceAcrossManyFills)
{
    for (int i = 0; i < 300; i++) {
        char name[32];
        snprintf(name, sizeof name, "track-%03d.flac", i);
        make(name);
    }
    make(std::string(255, 'x'));
    make(std::string(254, 'y') + "z");
    alignas(DIRECTORY_BUFFER_ALIGN) char small[512];
    std::map<std::string, int> seen = read_all(small, sizeof small);
    ASSERT_EQ(seen.size(), made.size() + 2);
    EXPECT_EQ(seen["."], 1);
    EXPECT_EQ(seen[".."], 1);
    for (const std::string &name : made)
        EXPECT_EQ(seen[name], 1) << name;
}

TEST_F(DirectoryTest, AnEmptyFolderHoldsOnlyItsOwnLinks)
{
    alignas(DIRECTORY_BUFFER_ALIGN) char buffer[4096];
    std::map<std::string, int> seen = read_all(buffer, sizeof buffer);
    EXPECT_EQ(seen, (std::map<std::string, int>{{".", 1}, {"..", 1}}));
}

// A descriptor that is no directory ends the listing at once rather than
// reading its bytes as records.
TEST(Directory, ANonDirectoryEndsAtOnce)
{
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    alignas(DIRECTORY_BUFFER_ALIGN) char buffer[1024];
    DirectoryReader reader;
    directory_begin(reader, fd, buffer, sizeof buffer);
    EXPECT_EQ(directory_next(reader), nullptr);
    close(fd);
}
} // namespace
