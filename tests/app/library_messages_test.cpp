// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/library_messages.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace
{

ino_t stderr_inode()
{
    struct stat st {
    };
    fstat(STDERR_FILENO, &st);
    return st.st_ino;
}

std::string read_all(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(LibraryMessages, GoToTheLogWhileRoutedAndBackToTheTerminalAfterwards)
{
    char dir[] = "/tmp/mivo-log-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string log = std::string(dir) + "/mivo.log";
    ino_t before = stderr_inode();

    ASSERT_EQ(route_library_messages(log.c_str()), 0);
    EXPECT_NE(stderr_inode(), before);
    // Both the C library's stream and a raw write, as libraries use either.
    fprintf(stderr, "CRITICAL: noise from a library\n");
    ASSERT_EQ(write(STDERR_FILENO, "raw noise\n", 10), 10);
    // Routing twice keeps the first saved descriptor.
    ASSERT_EQ(route_library_messages(log.c_str()), 0);
    restore_library_messages();

    EXPECT_EQ(stderr_inode(), before);
    EXPECT_EQ(read_all(log), "CRITICAL: noise from a library\nraw noise\n");
    restore_library_messages(); // a second restore does nothing
    EXPECT_EQ(stderr_inode(), before);
    unlink(log.c_str());
    rmdir(dir);
}

TEST(LibraryMessages, WithoutALogTheyAreDropped)
{
    ino_t before = stderr_inode();
    struct stat null_st {
    };
    ASSERT_EQ(stat("/dev/null", &null_st), 0);
    for (const char *log : {static_cast<const char *>(nullptr), "", "/nonexistent/dir/mivo.log"}) {
        ASSERT_EQ(route_library_messages(log), 0);
        EXPECT_EQ(stderr_inode(), null_st.st_ino);
        restore_library_messages();
        EXPECT_EQ(stderr_inode(), before);
    }
}

} // namespace
