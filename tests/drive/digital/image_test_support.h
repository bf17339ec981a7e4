// SPDX-License-Identifier: GPL-3.0-or-later
// Disc images built at test time: a throw-away folder, PCM that tells every
// sample apart, and the audio files (raw in either byte order, or written by
// libsndfile) holding it.
#pragma once

#include "drive/digital/source.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace imagetest
{

namespace fs = std::filesystem;

// A folder under the system's temporary directory, removed with its files.
struct TempDir {
    fs::path path;
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "mivo-image-XXXXXX").string();
        char *made = mkdtemp(pattern.data());
        if (made == nullptr)
            ADD_FAILURE() << "cannot make a temporary folder";
        path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
};

// Interleaved stereo where no two samples of one file or of two seeds are
// alike and both bytes of each sample vary, so that a frame read from the
// wrong place, channel or byte order shows.
inline std::vector<int16_t> make_pcm(uint32_t frames, int seed)
{
    std::vector<int16_t> pcm(static_cast<size_t>(frames) * SAMPLES_PER_FRAME * 2);
    uint32_t state = 0x9e3779b9u * static_cast<uint32_t>(seed + 1);
    for (int16_t &sample : pcm) {
        state = state * 1664525u + 1013904223u;
        sample = static_cast<int16_t>(state >> 16);
    }
    return pcm;
}

inline void write_bytes(const fs::path &path, const void *data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
    ASSERT_TRUE(out.good()) << path;
}

inline void write_text(const fs::path &path, const std::string &text)
{
    write_bytes(path, text.data(), text.size());
}

// Raw 16-bit samples in the given byte order.
inline void write_raw(const fs::path &path, const std::vector<int16_t> &pcm, bool big_endian)
{
    std::vector<unsigned char> bytes(pcm.size() * 2);
    for (size_t i = 0; i < pcm.size(); i++) {
        uint16_t v = static_cast<uint16_t>(pcm[i]);
        bytes[2 * i + (big_endian ? 1 : 0)] = static_cast<unsigned char>(v & 0xff);
        bytes[2 * i + (big_endian ? 0 : 1)] = static_cast<unsigned char>(v >> 8);
    }
    write_bytes(path, bytes.data(), bytes.size());
}

// A file libsndfile writes: format is SF_FORMAT_WAV | SF_FORMAT_PCM_16 and the
// like. One channel keeps the left samples; 24 bits keep the 16 exactly.
inline void write_sound(const fs::path &path, const std::vector<int16_t> &pcm, int format,
                        int channels = 2, int rate = 44100)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
    sf_count_t frames = static_cast<sf_count_t>(pcm.size() / 2);
    std::vector<int> samples;
    for (sf_count_t i = 0; i < frames; i++)
        for (int c = 0; c < channels; c++)
            samples.push_back(static_cast<int>(pcm[static_cast<size_t>(2 * i + c)]) * 65536);
    EXPECT_EQ(sf_writef_int(file, samples.data(), frames), frames) << path;
    sf_close(file);
}

// Reads the whole disc from frame 0 to the lead-out in uneven steps, so that
// reads cross every boundary of tracks, files and gaps.
inline std::vector<int16_t> read_disc(const AudioSource &source, uint32_t leadout, int32_t step)
{
    std::vector<int16_t> all(static_cast<size_t>(leadout) * SAMPLES_PER_FRAME * 2, 0x5555);
    uint32_t frame = 0;
    while (frame < leadout) {
        int32_t got = source.read(frame, step, all.data() + frame * SAMPLES_PER_FRAME * 2);
        if (got <= 0) {
            ADD_FAILURE() << "read at frame " << frame << " gave " << got << ": " << source.error();
            break;
        }
        frame += static_cast<uint32_t>(got);
    }
    return all;
}

} // namespace imagetest
