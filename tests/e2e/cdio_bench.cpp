// SPDX-License-Identifier: GPL-3.0-or-later
// Figures for reading a drive through libcdio and paranoia, on a BIN/CUE
// image libcdio opens as a drive: CPU per minute of audio (the source alone,
// then the whole player in real time), the longest backend call of the main
// loop while the source stalls 3 s mid-disc, and the gap that stall leaves in
// the audio SDL's disk driver writes.
// Usage (scripts/bench.sh runs it): SDL_AUDIODRIVER=disk
// SDL_DISKAUDIOFILE=FILE SDL_DISKAUDIODELAY=46 mivo_cdio_bench DIR
#include "bin_cue_image.h"
#include "drive/digital/cdio_source.h"
#include "drive/digital/digital_backend.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

constexpr uint32_t DISC_FRAMES = 75 * 40;    // 40 s of audio in three tracks
constexpr uint32_t STALL_AT = 150 + 75 * 15; // 15 s in
constexpr auto STALL = std::chrono::seconds(3);

double cpu_seconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ms_since(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The cdio source with one 3 s stall in read, the first time playback passes
// STALL_AT; stalling says when it is under way.
std::atomic<bool> stalled_once{false};
std::atomic<bool> stalling{false};

int32_t stalling_read(uint32_t frame, int32_t count, int16_t *samples)
{
    if (!stalled_once && frame + static_cast<uint32_t>(count) > STALL_AT) {
        stalled_once = true;
        stalling = true;
        std::this_thread::sleep_for(STALL);
        stalling = false;
    }
    return cdio_audio_source.read(frame, count, samples);
}

AudioSource stalling_source()
{
    AudioSource s = cdio_audio_source;
    s.name = "stalling cdio";
    s.read = stalling_read;
    return s;
}

// Reads the whole disc through the source as the reader does, in chunks.
int source_cpu(const char *cue)
{
    const AudioSource &source = cdio_audio_source;
    static Toc toc;
    static DiscText text;
    if (source.open(cue) != 0 || source.load(toc, text) != DRIVE_STOPPED) {
        fprintf(stderr, "%s\n", source.error());
        return 1;
    }
    static int16_t samples[32 * SAMPLES_PER_FRAME * 2];
    double cpu0 = cpu_seconds();
    auto t0 = Clock::now();
    uint32_t frame = toc.track[0].offset;
    int32_t got;
    while ((got = source.read(frame, 32, samples)) > 0)
        frame += static_cast<uint32_t>(got);
    double cpu = cpu_seconds() - cpu0;
    double minutes = (frame - toc.track[0].offset) / (75.0 * 60);
    printf("paranoia reading alone: %.3f s CPU per minute of audio (%.1f min read in %.0f ms)\n",
           cpu / minutes, minutes, ms_since(t0));
    source.close();
    return got < 0 ? 1 : 0;
}

// Runs of consecutive frames and the silent samples between audio in the
// disk driver's file, read back through the image's pattern.
void audio_gaps(const char *path, long &silent_inside, int &runs)
{
    silent_inside = 0;
    runs = 0;
    FILE *f = fopen(path, "rb");
    if (!f)
        return;
    std::vector<int16_t> pcm;
    int16_t buf[4096];
    size_t n;
    while ((n = fread(buf, 2, 4096, f)) > 0)
        pcm.insert(pcm.end(), buf, buf + n);
    fclose(f);
    long first = -1, last = -1;
    for (size_t i = 0; i + 1 < pcm.size(); i += 2)
        if (pcm[i] || pcm[i + 1]) {
            if (first < 0)
                first = static_cast<long>(i);
            last = static_cast<long>(i);
        }
    long previous = -2;
    for (long i = first; i >= 0 && i <= last; i += 2) {
        int16_t left = pcm[static_cast<size_t>(i)], right = pcm[static_cast<size_t>(i) + 1];
        if (left == 0 && right == 0) {
            ++silent_inside;
            previous = -2;
            continue;
        }
        long position = left * SAMPLES_PER_FRAME + right;
        if (position != previous + 1)
            ++runs;
        previous = position;
    }
}

} // namespace

int main(int argc, char **argv)
{
    const char *file = getenv("SDL_DISKAUDIOFILE");
    if (argc != 2 || file == nullptr) {
        fprintf(stderr, "usage: SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=FILE %s DIR\n", argv[0]);
        return 2;
    }
    ImageLayout layout{};
    layout.count = 3;
    layout.track[0] = {DISC_FRAMES / 3, true};
    layout.track[1] = {DISC_FRAMES / 3, true};
    layout.track[2] = {DISC_FRAMES - 2 * (DISC_FRAMES / 3), true};
    char cue[1024];
    if (!write_bin_cue(argv[1], "bench", layout, cue, sizeof cue)) {
        fprintf(stderr, "cannot write the image in %s\n", argv[1]);
        return 1;
    }
    if (source_cpu(cue) != 0)
        return 1;

    static AudioSource stalling_cdio = stalling_source();
    set_digital_source(&stalling_cdio);
    DriveTarget target{TARGET_DEVICE, 0, {}};
    snprintf(target.path, sizeof target.path, "%s", cue);
    const DriveBackend &drive = digital_drive_backend;
    if (drive.open(target) != 0) {
        fprintf(stderr, "%s\n", drive.error());
        return 1;
    }
    static DriveStatus status;
    drive.refresh(status);
    double cpu0 = cpu_seconds();
    auto t0 = Clock::now();
    drive.play(0, 0, SPAN_TO_END);
    // The main loop: a half-second wait for a key, then a refresh.
    double longest_in_stall = 0, longest = 0;
    bool started = false;
    while (ms_since(t0) < 120000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        bool in_stall = stalling;
        auto turn = Clock::now();
        drive.refresh(status);
        double took = ms_since(turn);
        longest = std::max(longest, took);
        if (in_stall || stalling)
            longest_in_stall = std::max(longest_in_stall, took);
        started = started || status.state == DRIVE_PLAYING;
        if (started && status.state != DRIVE_PLAYING)
            break;
    }
    double wall = ms_since(t0) / 1000;
    double cpu = cpu_seconds() - cpu0;
    uint64_t underruns = digital_underruns();
    drive.close();
    set_digital_source(nullptr);

    long silent = 0;
    int runs = 0;
    audio_gaps(file, silent, runs);
    printf("whole player in real time: %.3f s CPU per minute (%.1f s played)\n", cpu / wall * 60,
           wall);
    printf("longest main-loop refresh: %.2f ms during the 3 s stall, %.2f ms overall\n",
           longest_in_stall, longest);
    printf("audio gap from a 3 s stall %.0f s into the disc: %ld silent samples inside the "
           "audio, %d run(s) of frames, %llu device underrun(s)\n",
           (STALL_AT - 150) / 75.0, silent, runs, static_cast<unsigned long long>(underruns));
    return stalled_once ? 0 : 1;
}
