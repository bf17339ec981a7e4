// SPDX-License-Identifier: GPL-3.0-or-later
#include "bin_cue_image.h"

#include <cstdio>
#include <cstring>

namespace
{

// Writes MM:SS:FF for a frame count, as a CUE sheet's INDEX wants it.
void format_msf(uint32_t frames, char *out, size_t size)
{
    snprintf(out, size, "%02u:%02u:%02u", frames / (60 * FRAMES_PER_SECOND),
             frames / FRAMES_PER_SECOND % 60, frames % FRAMES_PER_SECOND);
}

} // namespace

void expected_frame(uint32_t disc_frame, int16_t *samples)
{
    for (int s = 0; s < SAMPLES_PER_FRAME; ++s) {
        samples[2 * s] = static_cast<int16_t>(disc_frame & 0x7fff);
        samples[2 * s + 1] = static_cast<int16_t>(s);
    }
}

Toc layout_toc(const ImageLayout &layout)
{
    Toc toc{};
    toc.count = layout.count;
    uint32_t offset = LEAD_IN_FRAMES;
    for (int i = 0; i < layout.count; ++i) {
        toc.track[i] = {offset, layout.track[i].frames, layout.track[i].audio};
        offset += layout.track[i].frames;
    }
    toc.track[layout.count] = {offset, 0, false};
    return toc;
}

bool write_bin_cue(const char *dir, const char *name, const ImageLayout &layout, char *cue_path,
                   int cue_path_size)
{
    char bin_path[1024];
    snprintf(bin_path, sizeof bin_path, "%s/%s.bin", dir, name);
    snprintf(cue_path, static_cast<size_t>(cue_path_size), "%s/%s.cue", dir, name);
    FILE *bin = fopen(bin_path, "wb");
    FILE *cue = fopen(cue_path, "w");
    if (!bin || !cue) {
        if (bin)
            fclose(bin);
        if (cue)
            fclose(cue);
        return false;
    }
    if (layout.disc_title)
        fprintf(cue, "TITLE \"%s\"\n", layout.disc_title);
    if (layout.disc_performer)
        fprintf(cue, "PERFORMER \"%s\"\n", layout.disc_performer);
    fprintf(cue, "FILE \"%s.bin\" BINARY\n", name);
    static int16_t samples[SAMPLES_PER_FRAME * 2];
    static unsigned char data_sector[FRAME_BYTES];
    uint32_t start = 0;
    bool ok = true;
    for (int i = 0; i < layout.count; ++i) {
        const ImageTrack &track = layout.track[i];
        char msf[16];
        format_msf(start, msf, sizeof msf);
        fprintf(cue, "  TRACK %02d %s\n", i + 1, track.audio ? "AUDIO" : "MODE1/2352");
        if (track.title)
            fprintf(cue, "    TITLE \"%s\"\n", track.title);
        if (track.performer)
            fprintf(cue, "    PERFORMER \"%s\"\n", track.performer);
        fprintf(cue, "    INDEX 01 %s\n", msf);
        for (uint32_t f = 0; f < track.frames; ++f) {
            const void *sector = data_sector;
            if (track.audio) {
                expected_frame(LEAD_IN_FRAMES + start + f, samples);
                sector = samples;
            }
            ok = ok && fwrite(sector, FRAME_BYTES, 1, bin) == 1;
        }
        start += track.frames;
    }
    ok = fclose(bin) == 0 && ok;
    ok = fclose(cue) == 0 && ok;
    return ok;
}
