// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers for the lookup tests: tables of contents as the drive reports them,
// and the recorded replies under tests/data/lookup.
#pragma once

#include "drive/drive.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace lookuptest
{

// A drive's table: audio tracks at these offsets (lead-in included), then the
// lead-out; data marks the last track as a data track.
inline Toc make_toc(const std::vector<uint32_t> &offsets, uint32_t leadout, bool data = false)
{
    Toc toc{};
    toc.count = static_cast<int32_t>(offsets.size());
    for (size_t i = 0; i < offsets.size(); i++) {
        toc.track[i].offset = offsets[i];
        toc.track[i].audio = true;
        uint32_t next = i + 1 < offsets.size() ? offsets[i + 1] : leadout;
        toc.track[i].length = next - offsets[i];
    }
    toc.track[offsets.size()].offset = leadout;
    if (data && !offsets.empty())
        toc.track[offsets.size() - 1].audio = false;
    return toc;
}

inline std::string data_path(const std::string &name)
{
    const char *root = getenv("MIVO_TEST_DATA");
    return std::string(root ? root : "tests/data") + "/lookup/" + name;
}

inline std::string read_data(const std::string &name)
{
    std::ifstream in(data_path(name), std::ios::binary);
    EXPECT_TRUE(in.good()) << data_path(name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The discs of the recorded replies.
inline const std::vector<uint32_t> FAMILY_JEWELS = {
    150, 15239, 29625, 45763, 61420, 75862, 91642, 108918, 123698, 139895, 153589, 169239, 188495};
inline constexpr uint32_t FAMILY_JEWELS_LEADOUT = 205072;
inline const std::vector<uint32_t> PRIVATEERING_2 = {150,    24396,  42447,  65922,  82134,
                                                     101226, 116734, 139014, 162924, 184302};
inline constexpr uint32_t PRIVATEERING_2_LEADOUT = 202001;

} // namespace lookuptest
