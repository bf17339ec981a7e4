// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/digital/cue_sheet.h"
#include "drive/digital/image_source.h"
#include "image_test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <memory>

using namespace imagetest;

namespace
{

enum Kind { RAW_LE, RAW_BE, WAV, FLAC, AIFF, WAV_MONO, WAV_24 };

struct AudioFile {
    const char *name;
    Kind kind;
    uint32_t frames;
};

// A run of the disc from one file, or silence when file is -1.
struct Piece {
    int file;
    uint32_t from;
    uint32_t frames;
};

// What read() must return for a file: its PCM, with one channel doubled.
std::vector<int16_t> expected_pcm(const AudioFile &f, int seed)
{
    std::vector<int16_t> pcm = make_pcm(f.frames, seed);
    if (f.kind == WAV_MONO)
        for (size_t i = 0; i < pcm.size(); i += 2)
            pcm[i + 1] = pcm[i];
    return pcm;
}

void write_audio(const fs::path &dir, const AudioFile &f, int seed)
{
    std::vector<int16_t> pcm = make_pcm(f.frames, seed);
    fs::path path = dir / f.name;
    switch (f.kind) {
    case RAW_LE:
        return write_raw(path, pcm, false);
    case RAW_BE:
        return write_raw(path, pcm, true);
    case WAV:
        return write_sound(path, pcm, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    case FLAC:
        return write_sound(path, pcm, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    case AIFF:
        return write_sound(path, pcm, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    case WAV_MONO:
        return write_sound(path, pcm, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1);
    case WAV_24:
        return write_sound(path, pcm, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    }
}

std::string replace_dir(std::string text, const fs::path &dir)
{
    for (size_t at; (at = text.find("@DIR@")) != std::string::npos;)
        text.replace(at, 5, dir.string());
    return text;
}

// Writes the files and the sheet into dir; returns the sheet's path.
std::string make_image(const fs::path &dir, const std::vector<AudioFile> &files,
                       const std::string &sheet)
{
    for (size_t i = 0; i < files.size(); i++)
        write_audio(dir, files[i], static_cast<int>(i));
    fs::path path = dir / "disc.cue";
    write_text(path, replace_dir(sheet, dir));
    return path.string();
}

struct GoodSheet {
    const char *what;
    std::vector<AudioFile> files;
    std::string sheet;
    std::vector<uint32_t> offsets;
    uint32_t leadout;
    const char *audio; // 'A' audio, 'D' data, one per track
    std::vector<Piece> pieces;
    const char *disc_performer = "";
    const char *disc_title = "";
    const char *track_title = ""; // of the first track
};

const std::vector<GoodSheet> &good_sheets()
{
    static const std::vector<GoodSheet> sheets = {
        {"one raw little-endian file, unquoted name",
         {{"disc.bin", RAW_LE, 400}},
         "FILE disc.bin BINARY\n"
         "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "  TRACK 02 AUDIO\n    INDEX 01 00:01:25\n"
         "  TRACK 03 AUDIO\n    INDEX 01 00:03:20\n",
         {150, 250, 395},
         550,
         "AAA",
         {{0, 0, 400}}},
        {"raw big-endian, quoted name with blanks",
         {{"my disc.raw", RAW_BE, 200}},
         "FILE \"my disc.raw\" MOTOROLA\n"
         "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n",
         {150, 225},
         350,
         "AA",
         {{0, 0, 200}}},
        {"unquoted name with blanks",
         {{"my disc.bin", RAW_LE, 100}},
         "FILE my disc.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         {150},
         250,
         "A",
         {{0, 0, 100}}},
        {"one WAVE file per track",
         {{"01 one.wav", WAV, 120}, {"02 two.wav", WAV, 90}},
         "FILE \"01 one.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "FILE \"02 two.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n",
         {150, 270},
         360,
         "AA",
         {{0, 0, 120}, {1, 0, 90}}},
        {"the content decides: FLAC declared WAVE, AIFF declared BINARY, FLAC as FLAC",
         {{"a.flac", FLAC, 80}, {"b.aiff", AIFF, 60}, {"c.flac", FLAC, 50}},
         "FILE \"a.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "FILE \"b.aiff\" BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"
         "FILE \"c.flac\" FLAC\n  TRACK 03 AUDIO\n    INDEX 01 00:00:00\n",
         {150, 230, 290},
         340,
         "AAA",
         {{0, 0, 80}, {1, 0, 60}, {2, 0, 50}}},
        {"INDEX 00 at the end of the previous file",
         {{"1.wav", WAV, 100}, {"2.wav", WAV, 100}},
         "FILE \"1.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "  TRACK 02 AUDIO\n    INDEX 00 00:01:05\n"
         "FILE \"2.wav\" WAVE\n    INDEX 01 00:00:00\n",
         {150, 250},
         350,
         "AA",
         {{0, 0, 100}, {1, 0, 100}}},
        {"INDEX 00 at the start of the track's own file",
         {{"1.wav", WAV, 100}, {"2.wav", WAV, 100}},
         "FILE \"1.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "FILE \"2.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 00 00:00:00\n"
         "    INDEX 01 00:00:40\n",
         {150, 290},
         350,
         "AA",
         {{0, 0, 100}, {1, 0, 100}}},
        {"PREGAP and POSTGAP are silence that takes frames",
         {{"disc.bin", RAW_LE, 200}},
         "FILE disc.bin BINARY\n"
         "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n    POSTGAP 00:00:10\n"
         "  TRACK 02 AUDIO\n    PREGAP 00:00:30\n    INDEX 01 00:01:25\n"
         "    POSTGAP 00:00:20\n",
         {150, 290},
         410,
         "AA",
         {{0, 0, 100}, {-1, 0, 40}, {0, 100, 100}, {-1, 0, 20}}},
        {"track 1's pregap given by PREGAP",
         {{"disc.bin", RAW_LE, 100}},
         "FILE disc.bin BINARY\n  TRACK 01 AUDIO\n    PREGAP 00:00:32\n    INDEX 01 00:00:00\n",
         {182},
         282,
         "A",
         {{-1, 0, 32}, {0, 0, 100}}},
        {"hidden track before track 1",
         {{"disc.bin", RAW_LE, 300}},
         "FILE disc.bin BINARY\n"
         "  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:01:00\n"
         "  TRACK 02 AUDIO\n    INDEX 01 00:03:00\n",
         {225, 375},
         450,
         "AA",
         {{0, 0, 300}}},
        // An Enhanced CD: the data track starts 11400 frames after the audio.
        {"data track after the audio is listed and reads as silence",
         {{"disc.bin", RAW_LE, 300}},
         "FILE disc.bin BINARY\n"
         "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "  TRACK 02 MODE1/2352\n    INDEX 01 00:02:00\n",
         {150, 11700},
         11850,
         "AD",
         {{0, 0, 150}, {-1, 0, 11550}}},
        {"data track of a ripper's own type with only INDEX 00, at the end of the audio",
         {{"a.wav", WAV, 300}},
         "FILE a.wav WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "  TRACK 02 MODEx/2xxx\n    INDEX 00 00:04:00\n",
         {150, 11850},
         11850,
         "AD",
         {{0, 0, 300}, {-1, 0, 11400}}},
        {"data track whose file is not there",
         {{"a.wav", WAV, 300}},
         "FILE a.wav WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "FILE \"<Filename>.iso\" BINARY\n  TRACK 02 MODE1/2048\n    INDEX 01 00:00:00\n",
         {150, 11850},
         11850,
         "AD",
         {{0, 0, 300}, {-1, 0, 11400}}},
        {"data track with its pregap in the file keeps 11400 frames after the audio",
         {{"disc.bin", RAW_LE, 500}},
         "FILE disc.bin BINARY\n"
         "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "  TRACK 02 MODE1/2352\n    INDEX 00 00:02:00\n    INDEX 01 00:04:00\n",
         {150, 11700},
         11900,
         "AD",
         {{0, 0, 150}, {-1, 0, 11600}}},
        {"data track first, in its own file of 2048-byte sectors",
         {{"data.iso", RAW_LE, 50}, {"audio.wav", WAV, 100}},
         // 50 frames of 2352 bytes fill 57.4 sectors of 2048: 58 frames.
         "FILE data.iso BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n"
         "FILE audio.wav WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n",
         {150, 208},
         308,
         "DA",
         {{-1, 0, 58}, {1, 0, 100}}},
        {"a disc of data only has no audio to play but lists its track",
         {{"disc.bin", RAW_LE, 40}},
         "FILE disc.bin BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n",
         {150},
         190,
         "D",
         {{-1, 0, 40}}},
        {"byte-order mark, CRLF, lower case and lines without use",
         {{"disc.bin", RAW_LE, 100}},
         "\xef\xbb\xbfREM GENRE Rock\r\nREM DATE 1999\r\nCATALOG 0000000000000\r\n"
         "performer \"Band\"\r\ntitle \"Album\"\r\nfile \"disc.bin\" binary\r\n"
         "  track 01 audio\r\n    flags dcp\r\n    isrc ABCDE1234567\r\n"
         "    title \"One\"\r\n    index 01 00:00:00\r\n",
         {150},
         250,
         "A",
         {{0, 0, 100}},
         "Band",
         "Album",
         "One"},
        {"UTF-8 CD-TEXT, quoted and not",
         {{"disc.bin", RAW_LE, 100}},
         "PERFORMER \"Die \xc3\x84rzte\"\nTITLE \xe6\x97\xa5\xe6\x9c\xac \"live\"\n"
         "FILE disc.bin BINARY\n  TRACK 01 AUDIO\n    TITLE \"M\xc3\xa4nner\"\n"
         "    INDEX 01 00:00:00\n",
         {150},
         250,
         "A",
         {{0, 0, 100}},
         "Die \xc3\x84rzte",
         "\xe6\x97\xa5\xe6\x9c\xac \"live\"",
         "M\xc3\xa4nner"},
        {"Latin-1 CD-TEXT becomes UTF-8, and so does a name not found as written",
         {{"M\xc3\xa4nner.bin", RAW_LE, 100}},
         "PERFORMER \"Die \xc4rzte\"\nTITLE \"Ein Schwein namens M\xe4nner\"\n"
         "FILE \"M\xe4nner.bin\" BINARY\n  TRACK 01 AUDIO\n    TITLE \"f\xfcr\"\n"
         "    INDEX 01 00:00:00\n",
         {150},
         250,
         "A",
         {{0, 0, 100}},
         "Die \xc3\x84rzte",
         "Ein Schwein namens M\xc3\xa4nner",
         "f\xc3\xbcr"},
        {"one channel doubled, 24 bits cut to 16",
         {{"mono.wav", WAV_MONO, 50}, {"deep.wav", WAV_24, 50}},
         "FILE mono.wav WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "FILE deep.wav WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n",
         {150, 200},
         250,
         "AA",
         {{0, 0, 50}, {1, 0, 50}}},
        {"absolute file name",
         {{"abs.bin", RAW_LE, 60}},
         "FILE \"@DIR@/abs.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         {150},
         210,
         "A",
         {{0, 0, 60}}},
    };
    return sheets;
}

class GoodSheets : public testing::TestWithParam<size_t>
{
};

// A test's name from a case's description: its words run together.
std::string case_name(const char *what)
{
    std::string name;
    bool upper = true;
    for (const char *c = what; *c; c++) {
        if (isalnum(static_cast<unsigned char>(*c))) {
            name += upper ? static_cast<char>(toupper(static_cast<unsigned char>(*c))) : *c;
            upper = false;
        } else {
            upper = true;
        }
    }
    return name;
}

// The table of contents is what a drive reports for the pressed disc, and
// every frame from 0 to the lead-out reads exactly as generated.
TEST_P(GoodSheets, GiveTheDrivesTableAndTheGeneratedSamples)
{
    const GoodSheet &c = good_sheets()[GetParam()];
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::string path = make_image(dir.path, c.files, c.sheet);
    const AudioSource &source = image_audio_source;
    ASSERT_EQ(source.open(path.c_str()), 0) << source.error();

    Toc toc{};
    auto text = std::make_unique<DiscText>();
    bool has_audio = strchr(c.audio, 'A') != nullptr;
    EXPECT_EQ(source.load(toc, *text), has_audio ? DRIVE_STOPPED : DRIVE_NO_DISC);
    ASSERT_EQ(toc.count, static_cast<int32_t>(c.offsets.size()));
    // The last audio track before the closing data tracks ends with the audio.
    std::string kinds = c.audio;
    size_t last_audio = kinds.find_last_of('A');
    bool enhanced = last_audio != std::string::npos && last_audio + 1 < kinds.size();
    for (int32_t t = 0; t < toc.count; t++) {
        EXPECT_EQ(toc.track[t].offset, c.offsets[t]) << "track " << t + 1;
        uint32_t next = t + 1 < toc.count ? c.offsets[t + 1] : c.leadout;
        if (enhanced && static_cast<size_t>(t) == last_audio)
            next -= ENHANCED_CD_GAP_FRAMES;
        EXPECT_EQ(toc.track[t].length, next - c.offsets[t]) << "track " << t + 1;
        EXPECT_EQ(toc.track[t].audio, c.audio[t] == 'A') << "track " << t + 1;
    }
    EXPECT_EQ(toc.track[toc.count].offset, c.leadout);

    bool any_text = *c.disc_performer || *c.disc_title || *c.track_title;
    EXPECT_EQ(text->present, any_text);
    EXPECT_STREQ(text->entry[MAX_TRACKS].performer, c.disc_performer);
    EXPECT_STREQ(text->entry[MAX_TRACKS].title, c.disc_title);
    EXPECT_STREQ(text->entry[0].title, c.track_title);

    std::vector<int16_t> expected(static_cast<size_t>(c.leadout) * SAMPLES_PER_FRAME * 2, 0);
    size_t at = static_cast<size_t>(LEAD_IN_FRAMES) * SAMPLES_PER_FRAME * 2;
    for (const Piece &p : c.pieces) {
        size_t n = static_cast<size_t>(p.frames) * SAMPLES_PER_FRAME * 2;
        if (p.file >= 0) {
            std::vector<int16_t> pcm = expected_pcm(c.files[p.file], p.file);
            std::copy_n(pcm.begin() + p.from * SAMPLES_PER_FRAME * 2, n, expected.begin() + at);
        }
        at += n;
    }
    ASSERT_EQ(at, expected.size()) << "the pieces must cover the disc";

    for (int32_t step : {7, 1, 500}) {
        std::vector<int16_t> got = read_disc(source, c.leadout, step);
        for (uint32_t frame = 0; frame < c.leadout; frame++) {
            size_t first = static_cast<size_t>(frame) * SAMPLES_PER_FRAME * 2;
            if (memcmp(got.data() + first, expected.data() + first, FRAME_BYTES) != 0) {
                ADD_FAILURE() << "frame " << frame << " differs, reading " << step << " at a time";
                break;
            }
        }
    }
    int16_t spare[SAMPLES_PER_FRAME * 2];
    EXPECT_EQ(source.read(c.leadout, 1, spare), 0) << "the lead-out ends the disc";
    source.close();
}

INSTANTIATE_TEST_SUITE_P(Table, GoodSheets, testing::Range<size_t>(0, good_sheets().size()),
                         [](const testing::TestParamInfo<size_t> &param) {
                             return case_name(good_sheets()[param.param].what);
                         });

struct BadSheet {
    const char *what;
    std::vector<AudioFile> files;
    std::string sheet;
    std::vector<std::string> message; // parts the one line must hold
};

std::string track_lines(int count)
{
    std::string text = "FILE disc.bin BINARY\n";
    for (int t = 1; t <= count; t++) {
        char line[64];
        snprintf(line, sizeof line, "TRACK %02d AUDIO\nINDEX 01 00:%02d:%02d\n", t, t / 75, t % 75);
        text += line;
    }
    return text;
}

const std::vector<BadSheet> &bad_sheets()
{
    static const std::vector<BadSheet> sheets = {
        {"missing audio file",
         {},
         "FILE \"gone.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         {"disc.cue:1: ", "gone.wav", "No such file"}},
        {"a folder for a file",
         {},
         "FILE \"@DIR@\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         {"disc.cue:1: ", "is not a regular file"}},
        {"undecodable audio file",
         {{"noise.bin", RAW_LE, 10}},
         "REM the bytes are no container\nFILE noise.bin WAVE\n  TRACK 01 AUDIO\n"
         "    INDEX 01 00:00:00\n",
         {"disc.cue:2: ", "cannot decode", "noise.bin"}},
        {"file shorter than the sheet says",
         {{"disc.bin", RAW_LE, 100}},
         "FILE disc.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "  TRACK 02 AUDIO\n    INDEX 01 00:02:00\n",
         {"disc.cue:5: ", "disc.bin is shorter than the sheet says", "00:01:25 long"}},
        {"track without INDEX 01",
         {{"disc.bin", RAW_LE, 100}},
         "FILE disc.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
         "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n",
         {"disc.cue:2: ", "track 01 has no INDEX 01"}},
        {"last track without INDEX 01",
         {{"disc.bin", RAW_LE, 100}},
         "FILE disc.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n",
         {"disc.cue:4: ", "track 02 has no INDEX 01"}},
        {"more than 99 tracks",
         {{"disc.bin", RAW_LE, 100}},
         track_lines(100),
         {"disc.cue:200: ", "more than 99 tracks"}},
        {"times out of order",
         {{"disc.bin", RAW_LE, 200}},
         "FILE disc.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:01:00\n"
         "  TRACK 02 AUDIO\n    INDEX 01 00:00:50\n",
         {"disc.cue:5: ", "not after the index before it"}},
        {"track numbers out of order",
         {{"disc.bin", RAW_LE, 200}},
         "FILE disc.bin BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"
         "  TRACK 01 AUDIO\n    INDEX 01 00:01:00\n",
         {"disc.cue:4: ", "track 01 follows track 02"}},
        {"sectors of two sizes in one raw file",
         {{"disc.bin", RAW_LE, 100}},
         "FILE disc.bin BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n"
         "  TRACK 02 AUDIO\n    INDEX 01 00:00:10\n",
         {"disc.cue:5: ", "tracks of 2048 and 2352 bytes a sector share one file"}},
        {"PREGAP after the track's INDEX lines",
         {{"disc.bin", RAW_LE, 100}},
         "FILE disc.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n    PREGAP 00:02:00\n",
         {"disc.cue:4: ", "PREGAP of track 01 after its INDEX lines"}},
        {"malformed time",
         {{"disc.bin", RAW_LE, 100}},
         "FILE disc.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:75\n",
         {"disc.cue:3: ", "'00:00:75' is not mm:ss:ff"}},
        {"unknown command",
         {{"disc.bin", RAW_LE, 100}},
         "FILE disc.bin BINARY\nTRAK 01 AUDIO\n",
         {"disc.cue:2: ", "unknown command 'TRAK'"}},
        {"control bytes quoted from the sheet are made harmless",
         {},
         "TR\x1b[2J\rAK 01\n",
         {"disc.cue:1: ", "unknown command 'TR?[2J?AK'"}},
        {"TRACK before any FILE",
         {},
         "TITLE \"x\"\nTRACK 01 AUDIO\n",
         {"disc.cue:2: ", "TRACK before any FILE"}},
        {"unknown track type",
         {{"disc.bin", RAW_LE, 100}},
         "FILE disc.bin BINARY\n  TRACK 01 VIDEO\n",
         {"disc.cue:2: ", "unknown track type 'VIDEO'"}},
        {"unterminated quote", {}, "FILE \"disc.bin BINARY\n", {"disc.cue:1: ", "closing quote"}},
        {"no tracks at all", {}, "REM nothing here\n", {"disc.cue: ", "no TRACK lines"}},
        {"not a sheet", {}, std::string("\x7f" "ELF\2\1\1\0\0\0\0\0", 12), {"disc.cue: ", "not a CUE sheet"}},
        {"an audio file named as a sheet is played as one, or says why not",
         {},
         std::string("RIFF\0\0\0\0WAVE", 12),
         {"disc.cue: cannot decode ", "disc.cue"}},
        {"sample rate other than 44100 Hz",
         {},
         "FILE \"fast.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         {"disc.cue:1: ", "fast.wav has 48000 Hz"}},
    };
    return sheets;
}

class BadSheets : public testing::TestWithParam<size_t>
{
};

// Each fault comes back as one line naming the sheet, its line and the file.
TEST_P(BadSheets, FailToOpenWithOneLineNamingFileAndLine)
{
    const BadSheet &c = bad_sheets()[GetParam()];
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::string path = make_image(dir.path, c.files, c.sheet);
    if (c.sheet.find("fast.wav") != std::string::npos)
        write_sound(dir.path / "fast.wav", make_pcm(10, 1), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2,
                    48000);
    const AudioSource &source = image_audio_source;
    ASSERT_EQ(source.open(path.c_str()), -1);
    std::string message = source.error();
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    EXPECT_EQ(message.rfind(path, 0), 0u) << message;
    for (const std::string &part : c.message)
        EXPECT_NE(message.find(part), std::string::npos) << "'" << part << "' in: " << message;

    Toc toc{};
    auto text = std::make_unique<DiscText>();
    EXPECT_EQ(source.load(toc, *text), DRIVE_NO_DISC) << "a failed open leaves no disc";
    EXPECT_EQ(toc.count, 0);
    source.close();
}

INSTANTIATE_TEST_SUITE_P(Table, BadSheets, testing::Range<size_t>(0, bad_sheets().size()),
                         [](const testing::TestParamInfo<size_t> &param) {
                             return case_name(bad_sheets()[param.param].what);
                         });

TEST(ImageSource, UnreadableSheetNamesTheSheet)
{
    TempDir dir;
    std::string path = (dir.path / "none.cue").string();
    ASSERT_EQ(image_audio_source.open(path.c_str()), -1);
    EXPECT_EQ(std::string(image_audio_source.error()), path + ": No such file or directory");
}

// Two files of two tracks, the second read after the first.
struct TwoFiles {
    TempDir dir;
    std::string path;
    TwoFiles(Kind kind, const char *a, const char *b, const char *type)
    {
        path = make_image(dir.path, {{a, kind, 100}, {b, kind, 100}},
                          std::string("FILE ") + a + " " + type +
                              "\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\nFILE " + b + " " + type +
                              "\n TRACK 02 AUDIO\n  INDEX 01 00:00:00\n");
    }
};

// A file that vanishes or is cut short while playing fails the read; the
// samples handed out before are the file's own, never noise.
TEST(ImageSource, FileThatVanishesOrShrinksMidPlayFailsTheRead)
{
    for (Kind kind : {RAW_LE, FLAC}) {
        SCOPED_TRACE(kind == FLAC ? "FLAC" : "raw");
        for (bool vanish : {true, false}) {
            bool flac = kind == FLAC;
            TwoFiles image(kind, flac ? "a.flac" : "a.bin", flac ? "b.flac" : "b.bin",
                           flac ? "WAVE" : "BINARY");
            const AudioSource &source = image_audio_source;
            ASSERT_EQ(source.open(image.path.c_str()), 0) << source.error();
            std::vector<int16_t> buffer(50 * SAMPLES_PER_FRAME * 2);
            ASSERT_EQ(source.read(150, 50, buffer.data()), 50) << source.error();
            fs::path b = image.dir.path / (kind == FLAC ? "b.flac" : "b.bin");
            if (vanish)
                fs::remove(b);
            else
                fs::resize_file(b, fs::file_size(b) / 2);
            EXPECT_EQ(source.read(250, 50, buffer.data()), -1) << (vanish ? "vanished" : "cut");
            EXPECT_NE(std::string(source.error()).find(b.string()), std::string::npos)
                << source.error();
            source.close();
        }
    }
}

// A raw file cut short between reads, while it stays open, fails too.
TEST(ImageSource, OpenRawFileCutShortFailsTheRead)
{
    TempDir dir;
    std::string path = make_image(dir.path, {{"disc.bin", RAW_LE, 200}},
                                  "FILE disc.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    const AudioSource &source = image_audio_source;
    ASSERT_EQ(source.open(path.c_str()), 0) << source.error();
    std::vector<int16_t> buffer(10 * SAMPLES_PER_FRAME * 2);
    ASSERT_EQ(source.read(150, 10, buffer.data()), 10);
    fs::resize_file(dir.path / "disc.bin", 100 * FRAME_BYTES);
    EXPECT_EQ(source.read(300, 10, buffer.data()), -1);
    EXPECT_NE(std::string(source.error()).find("disc.bin"), std::string::npos);
    source.close();
}

// A raw file whose last frame is short ends in silence, and the track counts
// that frame as drives count a whole sector.
TEST(ImageSource, ShortLastFrameIsPaddedWithSilence)
{
    TempDir dir;
    std::vector<int16_t> pcm = make_pcm(3, 5);
    pcm.resize(2 * SAMPLES_PER_FRAME * 2 + 100);
    write_raw(dir.path / "disc.bin", pcm, false);
    fs::path path = dir.path / "disc.cue";
    write_text(path, "FILE disc.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    const AudioSource &source = image_audio_source;
    ASSERT_EQ(source.open(path.c_str()), 0) << source.error();
    Toc toc{};
    auto text = std::make_unique<DiscText>();
    source.load(toc, *text);
    EXPECT_EQ(toc.track[0].length, 3u);
    std::vector<int16_t> got(3 * SAMPLES_PER_FRAME * 2, 0x1234);
    ASSERT_EQ(source.read(150, 5, got.data()), 3);
    pcm.resize(got.size(), 0);
    EXPECT_EQ(got, pcm);
    source.close();
}

// An ejected image is an empty tray: no table of contents and nothing to read.
TEST(ImageSource, EjectEmptiesTheTray)
{
    TempDir dir;
    std::string path = make_image(dir.path, {{"disc.bin", RAW_LE, 20}},
                                  "FILE disc.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    const AudioSource &source = image_audio_source;
    ASSERT_EQ(source.open(path.c_str()), 0) << source.error();
    EXPECT_FALSE(source.media_changed());
    ASSERT_EQ(source.eject(), 0);
    Toc toc{};
    toc.count = 5;
    auto text = std::make_unique<DiscText>();
    EXPECT_EQ(source.load(toc, *text), DRIVE_NO_DISC);
    EXPECT_EQ(toc.count, 0);
    int16_t frame[SAMPLES_PER_FRAME * 2];
    EXPECT_EQ(source.read(150, 1, frame), -1);
    source.close();
}

int open_descriptors()
{
    int count = 0;
    DIR *fds = opendir("/proc/self/fd");
    while (fds != nullptr && readdir(fds) != nullptr)
        count++;
    if (fds != nullptr)
        closedir(fds);
    return count;
}

// However many files an image has, reading it keeps one of them open.
TEST(ImageSource, KeepsOneFileOpenWhateverTheImageHolds)
{
    TempDir dir;
    std::vector<AudioFile> files;
    std::string sheet;
    static const char *names[] = {"01.flac", "02.flac", "03.flac", "04.flac", "05.flac",
                                  "06.flac", "07.flac", "08.flac", "09.flac", "10.flac"};
    for (int t = 0; t < 10; t++) {
        files.push_back({names[t], FLAC, 10});
        sheet += std::string("FILE ") + names[t] + " WAVE\nTRACK " + std::to_string(10 + t) +
                 " AUDIO\nINDEX 01 00:00:00\n";
    }
    std::string path = make_image(dir.path, files, sheet);
    int before = open_descriptors();
    const AudioSource &source = image_audio_source;
    ASSERT_EQ(source.open(path.c_str()), 0) << source.error();
    EXPECT_EQ(open_descriptors(), before);
    int16_t frame[SAMPLES_PER_FRAME * 2];
    for (uint32_t at = 150; at < 250; at += 5) {
        ASSERT_EQ(source.read(at, 1, frame), 1) << source.error();
        EXPECT_LE(open_descriptors(), before + 1);
    }
    source.close();
    EXPECT_EQ(open_descriptors(), before);
}

} // namespace

namespace
{

// Floating-point files play at a fixed scale, 1.0 being full scale, with
// louder samples clipped: never scaled to the file's own peak, which would
// also mean reading the whole file before the first sample.
TEST(ImageSource, FloatSamplesKeepTheirLevelAndClip)
{
    struct Case {
        float sample;
        int16_t expected;
    };
    static const Case cases[] = {
        {0.25f, 8192}, {-0.25f, -8192}, {0.0f, 0},         {1.0f, 32767},
        {1.5f, 32767}, {-1.0f, -32768}, {-7.0f, -32768}, {0.5f / 32768, 0},
    };
    for (int format : {SF_FORMAT_FLOAT, SF_FORMAT_DOUBLE}) {
        TempDir dir;
        std::vector<float> samples;
        for (const Case &c : cases)
            samples.insert(samples.end(), {c.sample, 0.0f});
        samples.resize(SAMPLES_PER_FRAME * 2, 0.0f);
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | format;
        SNDFILE *file = sf_open((dir.path / "f.wav").c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        sf_writef_float(file, samples.data(), SAMPLES_PER_FRAME);
        sf_close(file);
        write_text(dir.path / "disc.cue", "FILE f.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
        const AudioSource &source = image_audio_source;
        ASSERT_EQ(source.open((dir.path / "disc.cue").c_str()), 0) << source.error();
        int16_t frame[SAMPLES_PER_FRAME * 2];
        ASSERT_EQ(source.read(150, 1, frame), 1) << source.error();
        for (size_t i = 0; i < std::size(cases); i++) {
            SCOPED_TRACE(cases[i].sample);
            EXPECT_EQ(frame[2 * i], cases[i].expected);
            EXPECT_EQ(frame[2 * i + 1], 0);
        }
        source.close();
    }
}

// A FLAC file with a damaged stretch reads as silence there and as itself
// before and after it; the damage is told once, naming the file, and the
// reads all succeed.
TEST(ImageSource, DamagedStretchOfAFileIsSilenceAndReadingGoesOn)
{
    TempDir dir;
    constexpr uint32_t FRAMES = 1500; // 20 s
    std::string path = make_image(dir.path, {{"d.flac", FLAC, FRAMES}},
                                  "FILE d.flac WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    fs::path flac = dir.path / "d.flac";
    {
        std::fstream f(flac, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(fs::file_size(flac) / 2));
        std::string noise(8000, '\0');
        for (size_t i = 0; i < noise.size(); i++)
            noise[i] = static_cast<char>(i * 37 + 11);
        f.write(noise.data(), static_cast<std::streamsize>(noise.size()));
    }
    const AudioSource &source = image_audio_source;
    ASSERT_EQ(source.open(path.c_str()), 0) << source.error();
    EXPECT_EQ(source.notice(), nullptr);
    std::vector<int16_t> got = read_disc(source, 150 + FRAMES, 32);
    std::vector<int16_t> expected = make_pcm(FRAMES, 0);
    const char *notice = source.notice();
    ASSERT_NE(notice, nullptr);
    EXPECT_NE(std::string(notice).find(flac.string() + " is damaged at 0:"), std::string::npos)
        << notice;
    EXPECT_EQ(source.notice(), nullptr) << "told once";

    // Frame by frame: each is the file's own or silence, the first and last
    // seconds are the file's own, and the silence is one stretch.
    const size_t frame_samples = SAMPLES_PER_FRAME * 2;
    std::string kinds;
    for (uint32_t i = 0; i < FRAMES; i++) {
        auto at = got.begin() + static_cast<std::ptrdiff_t>((150 + i) * frame_samples);
        auto own = expected.begin() + static_cast<std::ptrdiff_t>(i * frame_samples);
        bool same = std::equal(at, at + static_cast<std::ptrdiff_t>(frame_samples), own);
        bool silent = std::all_of(at, at + static_cast<std::ptrdiff_t>(frame_samples),
                                  [](int16_t s) { return s == 0; });
        // Or the file's own up to the damage, then silence.
        auto differs = std::mismatch(at, at + static_cast<std::ptrdiff_t>(frame_samples), own).first;
        bool cut = std::all_of(differs, at + static_cast<std::ptrdiff_t>(frame_samples),
                               [](int16_t s) { return s == 0; });
        kinds += same ? 'a' : silent ? '0' : cut ? 'c' : 'x';
    }
    EXPECT_EQ(kinds.find('x'), std::string::npos) << kinds;
    size_t cut = kinds.find('c');
    if (cut != std::string::npos) {
        EXPECT_EQ(kinds.find('c', cut + 1), std::string::npos) << kinds;
        EXPECT_EQ(kinds[cut + 1], '0') << kinds;
        kinds[cut] = '0';
    }
    EXPECT_EQ(kinds.substr(0, 75), std::string(75, 'a'));
    EXPECT_EQ(kinds.substr(FRAMES - 75), std::string(75, 'a'));
    size_t first = kinds.find('0');
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(kinds.find('a', first), kinds.find_last_of('0') + 1) << kinds;
    EXPECT_LT(kinds.find_last_of('0') - first, 300u) << "a stretch, not the rest of the file";
    source.close();
}

} // namespace
