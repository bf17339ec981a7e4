// SPDX-License-Identifier: GPL-3.0-or-later
// Sheets rippers wrote for real discs (tests/data/cue, with their sources),
// opened against audio files made here of the lengths the discs had: each
// gives the disc's published ids.
#include "database/disc_id.h"
#include "drive/digital/cue_sheet.h"
#include "drive/digital/image_source.h"
#include "image_test_support.h"
#include "lookup/disc_toc.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>

using namespace imagetest;

namespace
{

fs::path data_dir()
{
    const char *data = getenv("MIVO_TEST_DATA");
    return data != nullptr ? fs::path(data) : fs::path();
}

std::string read_text(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

uint32_t parse_msf(const std::string &text)
{
    unsigned m = 0, s = 0, f = 0;
    if (sscanf(text.c_str(), "%u:%u:%u", &m, &s, &f) != 3)
        return static_cast<uint32_t>(std::stoul(text));
    return (m * 60 + s) * 75 + f;
}

// A WAVE file of the given frames of silence, sparse.
void make_sparse_wave(const fs::path &path, uint32_t frames)
{
    fs::create_directories(path.parent_path());
    uint32_t bytes = frames * FRAME_BYTES;
    auto le32 = [](uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                           static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    };
    std::string header = "RIFF" + le32(36 + bytes) + "WAVEfmt " + le32(16) +
                         std::string("\x01\x00\x02\x00", 4) + le32(44100) + le32(44100 * 4) +
                         std::string("\x04\x00\x10\x00", 4) + "data" + le32(bytes);
    write_text(path, header);
    fs::resize_file(path, header.size() + bytes);
}

// Where each track's INDEX 00 and INDEX 01 lie in the one audio file of a
// cdrdao table of contents, and that file's length.
struct TocFile {
    std::vector<uint32_t> index0, index1;
    uint32_t length = 0;
};

TocFile read_cdrdao_toc(const fs::path &path)
{
    TocFile toc;
    std::istringstream in(read_text(path));
    std::string line;
    uint32_t silence = 0, start = 0;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string word;
        words >> word;
        if (word == "TRACK") {
            silence = 0;
        } else if (word == "SILENCE") {
            words >> word;
            silence = parse_msf(word);
        } else if (word == "FILE") {
            std::string name, from, length;
            words >> name >> from >> length;
            start = parse_msf(from);
            toc.index0.push_back(start);
            toc.index1.push_back(start);
            toc.length = std::max(toc.length, start + parse_msf(length));
        } else if (word == "START") {
            words >> word;
            // A START inside silence that no file holds counts from the file.
            toc.index1.back() = start + parse_msf(word) - silence;
        }
    }
    return toc;
}

// The lengths the files of a sheet had on the ripper's disk: each starts
// where the table of contents puts its first index, less that index's place
// in the file. Names are the sheet's, backslashes made folders.
std::map<std::string, uint32_t> file_lengths(const fs::path &sheet_path, const TocFile &toc)
{
    auto sheet = std::make_unique<CueSheet>();
    char error[CUE_ERROR_SIZE];
    std::string text = read_text(sheet_path);
    EXPECT_EQ(parse_cue_text("x.cue", text.data(), static_cast<int32_t>(text.size()), *sheet,
                             error, sizeof error),
              0)
        << error;
    std::vector<int64_t> start(static_cast<size_t>(sheet->file_count), -1);
    for (int32_t i = 0; i < sheet->event_count; i++) {
        const CueEvent &e = sheet->event[i];
        if (e.kind == CUE_SILENCE || e.file >= sheet->file_count || start[e.file] >= 0)
            continue;
        uint32_t at = e.kind == CUE_INDEX0 ? toc.index0[e.track] : toc.index1[e.track];
        start[e.file] = static_cast<int64_t>(at) - e.frame;
    }
    std::map<std::string, uint32_t> lengths;
    for (int32_t f = 0; f < sheet->file_count; f++) {
        int64_t end = f + 1 < sheet->file_count ? start[f + 1] : toc.length;
        lengths[sheet->file[f].path] = static_cast<uint32_t>(end - start[f]);
    }
    return lengths;
}

struct RealSheet {
    const char *sheet;
    const char *toc; // cdrdao's table of the same rip, or ""
    // Files by the name on disk, when no table gives them.
    std::map<std::string, uint32_t> files;
    int32_t tracks;
    const char *kinds; // 'A' audio, 'D' data
    const char *freedb; // "" when none was published
    const char *first_title;
};

// The frames of each file of the 808s & Heartbreak rip: the sheet alone
// gives only lower bounds, and the last file ends where the data track's
// INDEX 00 is.
std::map<std::string, uint32_t> kanye_files()
{
    auto sheet = std::make_unique<CueSheet>();
    char error[CUE_ERROR_SIZE];
    std::string text = read_text(data_dir() / "cue" / "whipper" / "kanye.cue");
    std::map<std::string, uint32_t> files;
    if (parse_cue_text("x.cue", text.data(), static_cast<int32_t>(text.size()), *sheet, error,
                       sizeof error) < 0)
        return files;
    for (int32_t f = 0; f < sheet->file_count; f++)
        files[sheet->file[f].path] = 30000;
    const CueEvent &last = sheet->event[sheet->event_count - 1];
    files[sheet->file[last.file].path] = last.frame;
    return files;
}

const std::vector<RealSheet> &real_sheets()
{
    static const std::vector<RealSheet> sheets = {
        {"whipper/bloc.cue", "whipper/bloc.toc", {}, 13, "AAAAAAAAAAAAA", "ad0be00d", ""},
        {"whipper/surferrosa.eac.noncompliant.cue",
         "whipper/surferrosa.toc",
         {},
         21,
         "AAAAAAAAAAAAAAAAAAAAA",
         "350caa15",
         "Bone Machine"},
        // The sheet names Amarok.dummy; the rip holds Amarok.wav.
        {"cuetools/Amarok.cue", "", {{"Amarok.wav", 270150}}, 1, "A", "020e1201", ""},
        {"libcdio/cdda.cue", "", {{"cdda.bin", 1000}}, 1, "A", "", "Soft"},
        {"whipper/kanye.cue", "", kanye_files(), 13, "AAAAAAAAAAAAD", "", "Say You Will"},
    };
    return sheets;
}

class RealSheets : public testing::TestWithParam<size_t>
{
};

TEST_P(RealSheets, OpenWithTheDiscsTableAndIds)
{
    const RealSheet &c = real_sheets()[GetParam()];
    SCOPED_TRACE(c.sheet);
    fs::path source = data_dir() / "cue" / c.sheet;
    ASSERT_TRUE(fs::exists(source)) << source;
    TempDir dir;
    fs::path sheet_path = dir.path / source.filename();
    fs::copy_file(source, sheet_path);
    std::map<std::string, uint32_t> files = c.files;
    if (*c.toc) {
        TocFile toc = read_cdrdao_toc(data_dir() / "cue" / c.toc);
        for (auto &[name, frames] : file_lengths(source, toc))
            files[name] = frames;
    }
    for (const auto &[written, frames] : files) {
        std::string name = written;
        for (char &ch : name)
            ch = ch == '\\' ? '/' : ch;
        if (name.ends_with(".bin")) {
            write_text(dir.path / name, "");
            fs::resize_file(dir.path / name, static_cast<uintmax_t>(frames) * FRAME_BYTES);
        } else {
            make_sparse_wave(dir.path / name, frames);
        }
    }

    const AudioSource &image = image_audio_source;
    ASSERT_EQ(image.open(sheet_path.c_str()), 0) << image.error();
    Toc toc{};
    auto text = std::make_unique<DiscText>();
    EXPECT_EQ(image.load(toc, *text), DRIVE_STOPPED);
    ASSERT_EQ(toc.count, c.tracks);
    for (int32_t t = 0; t < toc.count; t++)
        EXPECT_EQ(toc.track[t].audio, c.kinds[t] == 'A') << "track " << t + 1;
    char id[16];
    snprintf(id, sizeof id, "%08" PRIx64, compute_disc_id(toc) & 0xffffffffu);
    if (*c.freedb) {
        EXPECT_STREQ(id, c.freedb);
    }
    if (*c.first_title) {
        EXPECT_STREQ(text->entry[0].title, c.first_title);
    }
    // The last audio track ends 11400 frames before a data track after it.
    for (int32_t t = 1; t < toc.count; t++)
        if (toc.track[t - 1].audio && !toc.track[t].audio) {
            EXPECT_EQ(toc.track[t - 1].offset + toc.track[t - 1].length + ENHANCED_CD_GAP_FRAMES,
                      toc.track[t].offset);
        }
    // Audio comes out where the table says there is some.
    int16_t frame[SAMPLES_PER_FRAME * 2];
    EXPECT_EQ(image.read(toc.track[0].offset, 1, frame), 1) << image.error();
    image.close();
}

INSTANTIATE_TEST_SUITE_P(Table, RealSheets, testing::Range<size_t>(0, real_sheets().size()));

// Sheets built to published tables of contents: an Enhanced CD whose data
// track has its own file, and a plain audio disc.
TEST(RealSheets, TablesOfContentsGiveThePublishedIds)
{
    struct Disc {
        const char *what;
        std::vector<uint32_t> offsets; // audio tracks
        uint32_t audio_leadout;
        uint32_t data_sectors; // 2048 bytes each; 0 for no data track
        const char *freedb;    // "" when none was published
        const char *musicbrainz;
    };
    const Disc discs[] = {
        {"Ladyhawke",
         {150, 15687, 31841, 51016, 66616, 81352, 99559, 116070, 133243, 149997, 161710, 177832},
         195856,
         3300,
         "c60af50d",
         "KnpGsLhvH.lPrNc1PBL21lb9Bg4-"},
        {"Ettella Diamant",
         {150, 15363, 32314, 46592, 63414, 80489},
         95462,
         0,
         "",
         "49HHV7Eb8UKF3aQiNmu1GR8vKTY-"},
    };
    for (const Disc &d : discs) {
        SCOPED_TRACE(d.what);
        TempDir dir;
        write_text(dir.path / "audio.bin", "");
        fs::resize_file(dir.path / "audio.bin",
                        static_cast<uintmax_t>(d.audio_leadout - LEAD_IN_FRAMES) * FRAME_BYTES);
        std::string sheet = "FILE \"audio.bin\" BINARY\n";
        char line[64];
        for (size_t t = 0; t < d.offsets.size(); t++) {
            uint32_t at = d.offsets[t] - LEAD_IN_FRAMES;
            snprintf(line, sizeof line, "  TRACK %02zu AUDIO\n    INDEX 01 %02u:%02u:%02u\n", t + 1,
                     at / 4500, at / 75 % 60, at % 75);
            sheet += line;
        }
        if (d.data_sectors > 0) {
            write_text(dir.path / "data.iso", "");
            fs::resize_file(dir.path / "data.iso", uintmax_t{d.data_sectors} * 2048);
            snprintf(line, sizeof line, "FILE \"data.iso\" BINARY\n  TRACK %02zu MODE1/2048\n",
                     d.offsets.size() + 1);
            sheet += std::string(line) + "    INDEX 01 00:00:00\n";
        }
        write_text(dir.path / "disc.cue", sheet);
        const AudioSource &image = image_audio_source;
        ASSERT_EQ(image.open((dir.path / "disc.cue").c_str()), 0) << image.error();
        Toc toc{};
        auto text = std::make_unique<DiscText>();
        image.load(toc, *text);
        char id[16];
        snprintf(id, sizeof id, "%08" PRIx64, compute_disc_id(toc) & 0xffffffffu);
        if (*d.freedb) {
            EXPECT_STREQ(id, d.freedb);
        }
        LookupToc lookup{};
        ASSERT_TRUE(musicbrainz_toc(toc, lookup));
        char mb[MB_DISC_ID_SIZE];
        musicbrainz_disc_id(lookup, mb);
        EXPECT_STREQ(mb, d.musicbrainz);
        image.close();
    }
}

} // namespace
