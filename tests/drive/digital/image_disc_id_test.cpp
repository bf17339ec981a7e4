// SPDX-License-Identifier: GPL-3.0-or-later
#include "database/disc_id.h"
#include "drive/digital/image_source.h"
#include "image_test_support.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <memory>

using namespace imagetest;

namespace
{

// The table of contents a stored entry records: offsets, lead-out at the
// disc's length, and the id other programs computed from them.
struct Entry {
    std::vector<uint32_t> offsets;
    uint32_t leadout = 0;
    std::string id;
};

Entry read_entry(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    Entry e;
    std::string line;
    bool in_offsets = false;
    while (std::getline(in, line)) {
        if (line.find("Track frame offsets:") != std::string::npos) {
            in_offsets = true;
            continue;
        }
        if (size_t at = line.find("Disc length:"); at != std::string::npos)
            e.leadout = static_cast<uint32_t>(std::stoul(line.substr(at + 12))) * 75;
        if (line.rfind("DISCID=", 0) == 0)
            e.id = line.substr(7, 8);
        size_t digit = line.find_first_of("0123456789");
        if (in_offsets && (line.empty() || line[0] != '#' || digit == std::string::npos))
            in_offsets = false;
        else if (in_offsets)
            e.offsets.push_back(static_cast<uint32_t>(std::stoul(line.substr(digit))));
    }
    return e;
}

std::string msf(uint32_t frames)
{
    char text[16];
    snprintf(text, sizeof text, "%02u:%02u:%02u", frames / 4500, frames / 75 % 60, frames % 75);
    return text;
}

// An empty file of the given frames; sparse, so a long disc costs no space.
void make_silent_file(const fs::path &path, uint32_t frames)
{
    write_text(path, "");
    fs::resize_file(path, static_cast<uintmax_t>(frames) * FRAME_BYTES);
}

// One file for the whole disc, track 1's pregap ripped into it as INDEX 00.
std::string one_file_sheet(const fs::path &dir, const Entry &e)
{
    make_silent_file(dir / "disc.bin", e.leadout - LEAD_IN_FRAMES);
    std::string sheet = "FILE \"disc.bin\" BINARY\n";
    for (size_t t = 0; t < e.offsets.size(); t++) {
        char line[48];
        snprintf(line, sizeof line, "  TRACK %02zu AUDIO\n", t + 1);
        sheet += line;
        if (t == 0 && e.offsets[0] > LEAD_IN_FRAMES)
            sheet += "    INDEX 00 00:00:00\n";
        sheet += "    INDEX 01 " + msf(e.offsets[t] - LEAD_IN_FRAMES) + "\n";
    }
    return sheet;
}

// One file a track, track 1's pregap left out of the files as a PREGAP.
std::string file_per_track_sheet(const fs::path &dir, const Entry &e)
{
    std::string sheet;
    for (size_t t = 0; t < e.offsets.size(); t++) {
        uint32_t end = t + 1 < e.offsets.size() ? e.offsets[t + 1] : e.leadout;
        std::string name = "track " + std::to_string(t + 1) + ".wav.bin";
        make_silent_file(dir / name, end - e.offsets[t]);
        char line[48];
        snprintf(line, sizeof line, "  TRACK %02zu AUDIO\n", t + 1);
        sheet += "FILE \"" + name + "\" BINARY\n" + line;
        if (t == 0 && e.offsets[0] > LEAD_IN_FRAMES)
            sheet += "    PREGAP " + msf(e.offsets[0] - LEAD_IN_FRAMES) + "\n";
        sheet += "    INDEX 01 00:00:00\n";
    }
    return sheet;
}

// An image ripped from a disc gives the disc's own table of contents, so its
// id is the id of the stored entry of that disc, whichever way it was ripped.
TEST(ImageDiscId, EqualsTheIdOfTheSameDiscInADrive)
{
    const char *data = getenv("MIVO_TEST_DATA");
    ASSERT_NE(data, nullptr);
    bool saw_pregap = false; // a disc whose track 1 starts after frame 150
    for (const fs::directory_entry &file : fs::directory_iterator(fs::path(data) / "xmcd")) {
        if (file.path().extension() != ".xmcd")
            continue;
        Entry e = read_entry(file.path());
        ASSERT_FALSE(e.offsets.empty()) << file.path();
        for (auto layout : {one_file_sheet, file_per_track_sheet}) {
            SCOPED_TRACE(file.path().filename().string() +
                         (layout == one_file_sheet ? ", one file" : ", one file a track"));
            TempDir dir;
            fs::path cue = dir.path / "disc.cue";
            write_text(cue, layout(dir.path, e));
            ASSERT_EQ(image_audio_source.open(cue.c_str()), 0) << image_audio_source.error();
            Toc toc{};
            auto text = std::make_unique<DiscText>();
            EXPECT_EQ(image_audio_source.load(toc, *text), DRIVE_STOPPED);
            ASSERT_EQ(toc.count, static_cast<int32_t>(e.offsets.size()));
            for (int32_t t = 0; t < toc.count; t++)
                EXPECT_EQ(toc.track[t].offset, e.offsets[t]) << "track " << t + 1;
            EXPECT_EQ(toc.track[toc.count].offset, e.leadout);
            char id[32];
            snprintf(id, sizeof id, "%08" PRIx64, compute_disc_id(toc) & 0xffffffffu);
            EXPECT_EQ(id, e.id);
            image_audio_source.close();
        }
        saw_pregap = saw_pregap || e.offsets[0] > LEAD_IN_FRAMES;
    }
    EXPECT_TRUE(saw_pregap);
}

} // namespace
