// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/digital/rip.h"
#include "drive/digital/image_source.h"
#include "image_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <tuple>

using namespace imagetest;

namespace
{

TEST(Rip, NamesSortAsPeopleNumberThem)
{
    std::vector<std::string> names = {"10 - j.flac", "2 - b.flac", "01 - a.flac", "Track 3.flac",
                                      "track 20.flac", "track 3b.flac", "1 - c.flac"};
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return natural_compare(a.c_str(), b.c_str()) < 0;
    });
    EXPECT_EQ(names, (std::vector<std::string>{"01 - a.flac", "1 - c.flac", "2 - b.flac",
                                               "10 - j.flac", "Track 3.flac", "track 3b.flac",
                                               "track 20.flac"}));
    EXPECT_EQ(natural_compare("a", "a"), 0);
    EXPECT_NE(natural_compare("01", "1"), 0) << "names equal to the eye still get one order";
}

// A FLAC file of the given frames (samples / 588, plus a tail) and tags.
void write_flac(const fs::path &path, uint32_t frames, uint32_t tail, const char *title,
                const char *artist, const char *album)
{
    std::vector<int16_t> pcm = make_pcm(frames + 1, 3);
    pcm.resize((static_cast<size_t>(frames) * SAMPLES_PER_FRAME + tail) * 2);
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    if (*title)
        sf_set_string(file, SF_STR_TITLE, title);
    if (*artist)
        sf_set_string(file, SF_STR_ARTIST, artist);
    if (*album)
        sf_set_string(file, SF_STR_ALBUM, album);
    sf_writef_short(file, pcm.data(), static_cast<sf_count_t>(pcm.size() / 2));
    sf_close(file);
}

struct Opened {
    Toc toc{};
    std::unique_ptr<DiscText> text = std::make_unique<DiscText>();
};

Opened open_rip(const fs::path &path)
{
    Opened o;
    EXPECT_EQ(image_audio_source.open(path.c_str()), 0) << image_audio_source.error();
    image_audio_source.load(o.toc, *o.text);
    return o;
}

// A folder of audio files is a disc of one track a file in natural order,
// each on a whole frame after a 2-second pregap; the tags name the tracks and,
// being one artist's, the disc.
TEST(Rip, AFolderOfFilesIsADiscInNaturalOrderNamedByItsTags)
{
    TempDir dir;
    write_flac(dir.path / "10 - Last.flac", 100, 0, "Last", "Anna", "Tones");
    write_flac(dir.path / "2 - Second.flac", 50, 10, "Zweite", "Anna", "Tones");
    write_flac(dir.path / "1 - First.flac", 75, 0, "Erste", "Anna", "");
    write_text(dir.path / "cover.jpg", "not audio");
    write_text(dir.path / "notes.txt", "not audio");
    Opened o = open_rip(dir.path);
    ASSERT_EQ(o.toc.count, 3);
    EXPECT_EQ(o.toc.track[0].offset, 150u);
    EXPECT_EQ(o.toc.track[1].offset, 225u);
    EXPECT_EQ(o.toc.track[2].offset, 276u) << "50 frames and 10 samples take 51 frames";
    EXPECT_EQ(o.toc.track[3].offset, 376u);
    EXPECT_STREQ(o.text->entry[0].title, "Erste");
    EXPECT_STREQ(o.text->entry[1].title, "Zweite");
    EXPECT_STREQ(o.text->entry[2].title, "Last");
    EXPECT_STREQ(o.text->entry[MAX_TRACKS].title, "Tones");
    EXPECT_STREQ(o.text->entry[MAX_TRACKS].performer, "Anna");
    // The second track's own samples, then silence to its whole frame.
    std::vector<int16_t> got(51 * SAMPLES_PER_FRAME * 2, 0x1234);
    ASSERT_EQ(image_audio_source.read(225, 51, got.data()), 51) << image_audio_source.error();
    std::vector<int16_t> expected = make_pcm(51, 3);
    expected.resize((50 * SAMPLES_PER_FRAME + 10) * 2);
    expected.resize(got.size(), 0);
    EXPECT_EQ(got, expected);
    image_audio_source.close();
}

// A folder's sheets: one is the rip's, several must be chosen from, none and
// no audio is nothing to play.
TEST(Rip, AFolderWithOneSheetPlaysItAndWithSeveralNamesThem)
{
    TempDir dir;
    write_flac(dir.path / "a.flac", 100, 0, "", "", "");
    write_flac(dir.path / "b.flac", 100, 0, "", "", "");
    write_text(dir.path / "disc.cue", "FILE \"a.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                      "  TRACK 02 AUDIO\n    INDEX 01 00:00:40\n");
    Opened o = open_rip(dir.path);
    EXPECT_EQ(o.toc.count, 2) << "the sheet's two tracks, not the folder's two files";
    image_audio_source.close();

    write_text(dir.path / "other.CUE", "FILE \"b.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    ASSERT_EQ(image_audio_source.open(dir.path.c_str()), -1);
    std::string error = image_audio_source.error();
    EXPECT_NE(error.find("holds 2 CUE sheets"), std::string::npos) << error;
    EXPECT_NE(error.find("disc.cue"), std::string::npos) << error;
    EXPECT_NE(error.find("other.CUE"), std::string::npos) << error;

    TempDir empty;
    write_text(empty.path / "cover.jpg", "x");
    ASSERT_EQ(image_audio_source.open(empty.path.c_str()), -1);
    EXPECT_NE(std::string(image_audio_source.error()).find("neither a CUE sheet nor audio"),
              std::string::npos);
}

bool have(const char *tool)
{
    return system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// One FLAC file: the cue sheet it carries (FLAC's CUESHEET block, or a
// CUESHEET tag, which also names the tracks), else a disc of one track.
TEST(Rip, AnAudioFilePlaysTheSheetItCarriesOrIsOneTrack)
{
    if (!have("metaflac"))
        GTEST_SKIP() << "metaflac (package flac) is not installed";
    const std::string sheet = "TITLE \"Inside\"\nFILE \"original.wav\" WAVE\n"
                              "  TRACK 01 AUDIO\n    TITLE \"Eins\"\n    INDEX 01 00:00:00\n"
                              "  TRACK 02 AUDIO\n    INDEX 00 00:01:00\n    INDEX 01 00:01:20\n"
                              "  TRACK 03 AUDIO\n    INDEX 01 00:02:00\n";
    for (const char *how : {"block", "tag", "none"}) {
        SCOPED_TRACE(how);
        TempDir dir;
        fs::path flac = dir.path / "whole.flac";
        write_flac(flac, 300, 0, "Only", "Anna", "");
        write_text(dir.path / "sheet.cue", sheet);
        std::string command;
        if (std::string(how) == "block")
            command = "metaflac --import-cuesheet-from=sheet.cue whole.flac";
        else if (std::string(how) == "tag")
            command = "metaflac --set-tag-from-file=CUESHEET=sheet.cue whole.flac";
        if (!command.empty()) {
            ASSERT_EQ(system(("cd '" + dir.path.string() + "' && " + command).c_str()), 0);
        }
        fs::remove(dir.path / "sheet.cue");
        Opened o = open_rip(flac);
        if (std::string(how) == "none") {
            ASSERT_EQ(o.toc.count, 1);
            EXPECT_EQ(o.toc.track[1].offset, 450u);
            EXPECT_STREQ(o.text->entry[0].title, "Only");
        } else {
            ASSERT_EQ(o.toc.count, 3);
            EXPECT_EQ(o.toc.track[1].offset, 150u + 95u);
            EXPECT_EQ(o.toc.track[2].offset, 300u);
            EXPECT_EQ(o.toc.track[3].offset, 450u);
            // Only the tag's text has titles; the block has none.
            EXPECT_STREQ(o.text->entry[0].title, std::string(how) == "tag" ? "Eins" : "");
        }
        int16_t frame[SAMPLES_PER_FRAME * 2];
        EXPECT_EQ(image_audio_source.read(200, 1, frame), 1) << image_audio_source.error();
        image_audio_source.close();
    }
}

// What an audio file is, by its first bytes; a sheet is none of them.
TEST(Rip, AudioFilesAreKnownByTheirFirstBytes)
{
    struct Case {
        std::string head;
        const char *format;
    } cases[] = {
        {"fLaC\0\0\0\x22", "FLAC"},
        {"wvpk\0\0\0\0", "WavPack"},
        {std::string("RIFF\0\0\0\0WAVE", 12), "WAVE"},
        {std::string("FORM\0\0\0\0AIFC", 12), "AIFF"},
        {"OggS\0\2", "Ogg"},
        {"ID3\4\0", "MP3"},
        {"\xff\xfb\x90\x64", "MP3"},
        {"MAC \x96\x0f", "Monkey's Audio"},
        {"tBaK\0\0", "TAK"},
        {"FILE \"a.wav\" WAVE", nullptr},
        {"\xef\xbb\xbfREM", nullptr},
        {"RIFF", nullptr},
        {std::string("\xff\xfe" "F\0I\0", 6), nullptr},
    };
    for (const Case &c : cases) {
        const char *got = audio_format_of(reinterpret_cast<const unsigned char *>(c.head.data()),
                                          c.head.size());
        EXPECT_STREQ(got, c.format) << c.head;
    }
}

// Formats no library of mivo's reads are named, as is the file.
TEST(Rip, FormatsNoLibraryReadsGetOneClearLine)
{
    TempDir dir;
    for (auto [name, head, format] :
         {std::tuple{"a.ape", "MAC \x96\x0f\0\0\0\0\0\0", "Monkey's Audio"},
          std::tuple{"a.tak", "tBaK\0\0\0\0\0\0\0\0", "TAK"}}) {
        write_bytes(dir.path / name, head, 12);
        ASSERT_EQ(image_audio_source.open((dir.path / name).c_str()), -1);
        std::string error = image_audio_source.error();
        EXPECT_NE(error.find((dir.path / name).string() + " is " + format), std::string::npos)
            << error;
    }
}

TEST(Rip, TheFolderOfARip)
{
    TempDir dir;
    write_text(dir.path / "disc.cue", "");
    char out[1024];
    struct Case {
        std::string path;
        std::string folder;
    } cases[] = {
        {dir.path.string(), dir.path.string()},
        {(dir.path / "disc.cue").string(), dir.path.string()},
        {"disc.cue", "."},
        {"/disc.cue", "/"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(rip_folder(c.path.c_str(), out, sizeof out), 0) << c.path;
        EXPECT_EQ(std::string(out), c.folder) << c.path;
    }
    EXPECT_EQ(rip_folder((dir.path / "disc.cue").c_str(), out, 4), -1);
}

} // namespace

namespace
{

// WavPack, lossless or hybrid: with its correction file a hybrid file plays
// exactly; without, it plays its lossy part. A sheet naming the WAVE the rip
// was made from finds the WavPack file of the same stem.
TEST(Rip, WavPackPlaysLosslessWithItsCorrectionFile)
{
    if (!have("wavpack"))
        GTEST_SKIP() << "wavpack (package wavpack) is not installed";
    struct Case {
        const char *what;
        const char *options;
        bool keep_correction;
        bool exact;
    } cases[] = {
        {"lossless", "", false, true},
        {"hybrid with its correction file", "-b384 -c", true, true},
        {"hybrid alone", "-b384 -c", false, false},
    };
    // Its APEv2 CUESHEET tag, too, is a sheet.
    {
        TempDir dir;
        write_sound(dir.path / "w.wav", make_pcm(300, 2), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        write_text(dir.path / "s.cue", "FILE \"x.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Eins\"\n"
                                       "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n");
        ASSERT_EQ(system(("cd '" + dir.path.string() +
                          "' && wavpack -q -y -w Cuesheet=@s.cue w.wav >/dev/null 2>&1")
                             .c_str()),
                  0);
        Opened o = open_rip(dir.path / "w.wv");
        ASSERT_EQ(o.toc.count, 2);
        EXPECT_EQ(o.toc.track[1].offset, 225u);
        EXPECT_STREQ(o.text->entry[0].title, "Eins");
        image_audio_source.close();
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::vector<int16_t> pcm = make_pcm(40, 7);
        write_sound(dir.path / "album.wav", pcm, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        ASSERT_EQ(system(("cd '" + dir.path.string() + "' && wavpack -q -y " + c.options +
                          " album.wav >/dev/null 2>&1")
                             .c_str()),
                  0);
        fs::remove(dir.path / "album.wav");
        if (!c.keep_correction)
            fs::remove(dir.path / "album.wvc");
        write_text(dir.path / "disc.cue",
                   "FILE \"album.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
        Opened o = open_rip(dir.path / "disc.cue");
        ASSERT_EQ(o.toc.count, 1);
        EXPECT_EQ(o.toc.track[1].offset, 190u);
        std::vector<int16_t> got = read_disc(image_audio_source, 190, 7);
        std::vector<int16_t> played(got.begin() + LEAD_IN_FRAMES * SAMPLES_PER_FRAME * 2, got.end());
        EXPECT_EQ(played == pcm, c.exact);
        image_audio_source.close();
    }
}

} // namespace
