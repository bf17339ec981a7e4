// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/digital/sheet_files.h"
#include "image_test_support.h"

#include <gtest/gtest.h>

using namespace imagetest;

namespace
{

// A FILE name, the files beside the sheet, and the file it must find ("" for
// none). The sheet lies in rip/.
struct Layout {
    const char *what;
    const char *name;
    std::vector<const char *> files; // under the test's folder; "x/" makes a folder
    const char *found;
    const char *decoded = nullptr; // the name decoded to UTF-8, when it differs
};

const Layout layouts[] = {
    {"as written wins over everything", "a.wav", {"rip/a.wav", "rip/a.flac", "rip/A.wav"},
     "rip/a.wav"},
    {"backslashes are folders", "Disc\\01.wav", {"rip/Disc/01.wav"}, "rip/Disc/01.wav"},
    {"any case, file", "ALBUM.WAV", {"rip/album.wav"}, "rip/album.wav"},
    {"any case, folder and file", "disc\\TRACK.wav", {"rip/Disc/track.wav"}, "rip/Disc/track.wav"},
    {"another extension", "album.wav", {"rip/album.flac"}, "rip/album.flac"},
    {"extensions in their order", "album.wav", {"rip/album.ogg", "rip/album.wv", "rip/album.flac"},
     "rip/album.flac"},
    {"another extension in another case", "Album.WAV", {"rip/album.FLAC"}, "rip/album.FLAC"},
    {"a folder of the name is no file", "a.wav", {"rip/a.wav/", "rip/a.wv"}, "rip/a.wv"},
    {"the same stem only", "album.wav", {"rip/album2.flac", "rip/albu.flac"}, ""},
    {"not there", "gone.wav", {"rip/other.wav"}, ""},
    {"no search above the sheet's folder", "..\\OUT.wav", {"out.wav"}, ""},
    {"as written may name a place above", "../out.wav", {"out.wav"}, "rip/../out.wav"},
    {"bytes first, then the decoded name", "caf\xe9.wav", {"rip/café.wav"}, "rip/café.wav",
     "café.wav"},
};

class Resolution : public testing::TestWithParam<size_t>
{
};

TEST_P(Resolution, FindsTheFileAPersonsRipHas)
{
    const Layout &l = layouts[GetParam()];
    SCOPED_TRACE(l.what);
    TempDir dir;
    fs::create_directories(dir.path / "rip");
    for (const char *file : l.files) {
        std::string name = file;
        if (name.back() == '/') {
            fs::create_directories(dir.path / name);
        } else {
            fs::create_directories((dir.path / name).parent_path());
            write_text(dir.path / name, "x");
        }
    }
    std::string folder = (dir.path / "rip").string() + "/";
    std::string written = folder + l.name;
    std::string decoded = l.decoded != nullptr ? folder + l.decoded : "";
    char out[1024];
    int result = find_sheet_file(written.c_str(), static_cast<int32_t>(folder.size()),
                                 l.decoded != nullptr ? decoded.c_str() : nullptr, out, sizeof out);
    if (*l.found == '\0') {
        EXPECT_EQ(result, -1) << out;
    } else {
        ASSERT_EQ(result, 0);
        EXPECT_EQ(std::string(out), (dir.path / l.found).string());
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Resolution, testing::Range<size_t>(0, std::size(layouts)));

// A name that would not fit the answer is not found, never cut short.
TEST(Resolution, AnAnswerTooLongForTheBufferIsNone)
{
    TempDir dir;
    write_text(dir.path / "a.wav", "x");
    std::string folder = dir.path.string() + "/";
    std::string written = folder + "A.wav";
    char out[8];
    EXPECT_EQ(find_sheet_file(written.c_str(), static_cast<int32_t>(folder.size()), nullptr, out,
                              sizeof out),
              -1);
}

} // namespace
