// SPDX-License-Identifier: GPL-3.0-or-later
// Times the digital backend against what SDL's disk audio driver writes:
// the position the status shows against the audio in the file, a seek to the
// first sample of the new place, and a pause to the last audible sample.
// Usage (scripts/bench.sh runs it): SDL_AUDIODRIVER=disk
// SDL_DISKAUDIOFILE=FILE SDL_DISKAUDIODELAY=46 mivo_digital_bench SHEET
// where SHEET is an image of tests/e2e/pcm_image.py's pattern.
#include "drive/digital/digital_backend.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The disk driver's file as it grows.
struct Written {
    const char *path;
    FILE *file = nullptr;

    long size()
    {
        fseek(file, 0, SEEK_END);
        return ftell(file);
    }

    // The stereo samples between two byte offsets.
    std::vector<int16_t> read(long from, long to)
    {
        from -= from % 4;
        to -= to % 4;
        std::vector<int16_t> out(to > from ? static_cast<size_t>(to - from) / 2 : 0);
        fseek(file, from, SEEK_SET);
        size_t got = fread(out.data(), 2, out.size(), file);
        out.resize(got - got % 2);
        return out;
    }
};

// The Toc frame a pattern sample comes from; -1 for silence.
long frame_of(int16_t left, int16_t right)
{
    if (left == 0 && right == 0)
        return -1;
    return (left - 1) + 32000L * ((right - 1) / SAMPLES_PER_FRAME);
}

uint32_t shown_frame(const DriveStatus &s)
{
    return s.toc.track[s.track].offset + static_cast<uint32_t>(s.frame);
}

} // namespace

int main(int argc, char **argv)
{
    const char *file = getenv("SDL_DISKAUDIOFILE");
    if (argc != 2 || file == nullptr) {
        fprintf(stderr, "usage: SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=FILE %s SHEET\n", argv[0]);
        return 2;
    }
    DriveTarget target{TARGET_IMAGE, 0, {}};
    snprintf(target.path, sizeof target.path, "%s", argv[1]);
    const DriveBackend &drive = digital_drive_backend;
    if (drive.open(target) != 0) {
        fprintf(stderr, "%s\n", drive.error());
        return 1;
    }
    Written written{file};
    written.file = fopen(file, "rb");
    if (written.file == nullptr) {
        perror(file);
        return 1;
    }
    DriveStatus status{};
    drive.refresh(status);
    if (status.toc.count < 3) {
        fprintf(stderr, "the bench needs an image of three tracks or more\n");
        return 1;
    }
    drive.play(0, 0, SPAN_TO_END);

    // Shown position against the last frame in the file, every 20 ms for 3 s.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    long worst = 0;
    double total = 0;
    int samples = 0;
    auto until = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < until) {
        drive.refresh(status);
        long end = written.size();
        std::vector<int16_t> last = written.read(end - 4, end);
        if (last.size() == 2 && frame_of(last[0], last[1]) >= 0) {
            long diff = static_cast<long>(shown_frame(status)) - frame_of(last[0], last[1]);
            worst = std::max(worst, std::labs(diff));
            total += static_cast<double>(std::labs(diff));
            samples++;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    printf("shown position against audio written: worst %ld frames, mean %.1f frames (%d looks)\n",
           worst, samples ? total / samples : 0.0, samples);

    // A seek to track 3: time until its first sample is in the file.
    uint32_t target_frame = status.toc.track[2].offset;
    long scanned = written.size();
    auto t0 = Clock::now();
    drive.play(2, 0, SPAN_TO_END);
    double seek_ms = -1;
    while (seek_ms < 0 && ms_since(t0) < 2000) {
        long end = written.size();
        std::vector<int16_t> fresh = written.read(scanned, end);
        for (size_t i = 0; i + 1 < fresh.size(); i += 2) {
            if (frame_of(fresh[i], fresh[i + 1]) == static_cast<long>(target_frame)) {
                seek_ms = ms_since(t0);
                break;
            }
        }
        scanned = end - end % 4;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    printf("seek to the first new sample: %.1f ms\n", seek_ms);

    // A pause: time until the last audible sample is in the file.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    scanned = written.size();
    t0 = Clock::now();
    drive.pause();
    double last_audible_ms = 0;
    while (ms_since(t0) < 600) {
        long end = written.size();
        std::vector<int16_t> fresh = written.read(scanned, end);
        for (size_t i = 0; i + 1 < fresh.size(); i += 2)
            if (fresh[i] != 0 || fresh[i + 1] != 0)
                last_audible_ms = ms_since(t0);
        scanned = end - end % 4;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    printf("pause to the last audible sample written: %.1f ms (device buffer %d samples, "
           "%.1f ms)\n",
           last_audible_ms, OUTPUT_BUFFER_SAMPLES, OUTPUT_BUFFER_SAMPLES * 1000.0 / OUTPUT_RATE);
    drive.resume();
    drive.close();
    fclose(written.file);
    return 0;
}
