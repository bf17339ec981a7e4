// SPDX-License-Identifier: GPL-3.0-or-later
// Shared pieces of the database tests: a throw-away home directory, discs built
// from frame offsets, and whole-file reads and writes.
#pragma once

#include "database/disc_id.h"
#include "database/disc_texts.h"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace dbtest
{

// A disc whose tracks start at the given frame offsets, the lead-out at
// leadout; each track's length runs to the next start.
inline Toc make_disc(const std::vector<uint32_t> &offsets, uint32_t leadout)
{
    Toc cd{};
    cd.count = static_cast<int>(offsets.size());
    for (size_t i = 0; i < offsets.size(); i++) {
        cd.track[i].offset = offsets[i];
        uint32_t next = i + 1 < offsets.size() ? offsets[i + 1] : leadout;
        cd.track[i].length = next - offsets[i];
    }
    cd.track[offsets.size()].offset = leadout;
    return cd;
}

// The table of contents recorded in the header of a stored entry: the frame
// offsets and the disc length in seconds, with the lead-out at that length.
inline Toc disc_of_entry(const std::string &text)
{
    std::vector<uint32_t> offsets;
    uint32_t seconds = 0;
    std::istringstream lines(text);
    std::string line;
    bool in_offsets = false;
    while (std::getline(lines, line)) {
        if (line.find("Track frame offsets:") != std::string::npos) {
            in_offsets = true;
            continue;
        }
        if (size_t at = line.find("Disc length:"); at != std::string::npos)
            seconds = static_cast<uint32_t>(std::stoul(line.substr(at + 12)));
        if (!in_offsets)
            continue;
        size_t digit = line.find_first_of("0123456789");
        if (line.empty() || line[0] != '#' || digit == std::string::npos) {
            in_offsets = false;
            continue;
        }
        offsets.push_back(static_cast<uint32_t>(std::stoul(line.substr(digit))));
    }
    return make_disc(offsets, seconds * FRAMES_PER_SECOND);
}

inline std::string id_text(uint64_t id)
{
    char text[32];
    snprintf(text, sizeof text, "%08" PRIx64, id);
    return text;
}

inline std::string read_file(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void write_file(const std::filesystem::path &path, const std::string &bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The directory of the test data that ships with the tests.
inline std::filesystem::path test_data(const std::string &name)
{
    const char *dir = getenv("MIVO_TEST_DATA");
    return std::filesystem::path(dir != nullptr ? dir : "tests/data") / name;
}

// Takes away, for as long as it lives, the overrides that let root read and
// write past permission bits, so that a file of mode 000 or a read-only
// directory refuses the test as it would refuse a user. Does nothing for
// other users; works() says whether the bits now count.
class PermissionBitsCount
{
  public:
    PermissionBitsCount()
    {
        if (geteuid() != 0) {
            works_ = true;
            return;
        }
        if (syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2];
        memcpy(reduced, saved_, sizeof reduced);
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        dropped_ = syscall(SYS_capset, &header_, reduced) == 0;
        works_ = dropped_;
    }
    ~PermissionBitsCount()
    {
        if (dropped_)
            syscall(SYS_capset, &header_, saved_);
    }
    PermissionBitsCount(const PermissionBitsCount &) = delete;
    PermissionBitsCount &operator=(const PermissionBitsCount &) = delete;
    bool works() const { return works_; }

  private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool dropped_ = false;
    bool works_ = false;
};

// The names in a directory, sorted.
inline std::vector<std::string> files_in(const std::filesystem::path &dir)
{
    std::vector<std::string> names;
    for (const auto &f : std::filesystem::directory_iterator(dir))
        names.push_back(f.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Everything under a directory, a line for each entry with its kind and, for
// a regular file, its contents and permission bits; links are listed, not
// followed, and FIFOs never opened.
inline std::string listing(const std::filesystem::path &dir)
{
    std::vector<std::string> lines;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        const std::filesystem::path &p = it->path();
        std::string line = std::filesystem::relative(p, dir).string();
        if (it->is_symlink())
            line += " -> " + std::filesystem::read_symlink(p).string();
        else if (it->is_directory())
            line += "/";
        else if (!it->is_regular_file())
            line += " (neither file nor directory)";
        else
            line += " " + std::to_string(static_cast<int>(it->status().permissions())) + " " +
                    read_file(p);
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (const std::string &line : lines)
        all += line + "\n";
    return all;
}

// The texts are large; tests keep theirs on the heap.
inline std::unique_ptr<DiscDatabase> fresh_state() { return std::make_unique<DiscDatabase>(); }

// Every test gets a home directory of its own under /tmp as HOME, so the
// user's real database is never touched; the old HOME comes back afterwards.
class TempHomeTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const char *old = getenv("HOME");
        had_home = old != nullptr;
        if (had_home)
            old_home = old;
        char pattern[] = "/tmp/mivo-db-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home = pattern;
        setenv("HOME", home.c_str(), 1);
    }

    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::permissions(home, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(home, ignored);
        if (had_home)
            setenv("HOME", old_home.c_str(), 1);
        else
            unsetenv("HOME");
    }

    std::filesystem::path kel() const { return std::filesystem::path(home) / ".kel"; }
    std::filesystem::path file_of(const Toc &cd) const
    {
        return kel() / id_text(compute_disc_id(cd));
    }

    std::string home;
    std::string old_home;
    bool had_home = false;
};

} // namespace dbtest
