// SPDX-License-Identifier: GPL-3.0-or-later
// Raw BIN/CUE disc images written at test time. libcdio opens such a sheet as
// a drive and paranoia reads it as it reads one, so a test can follow a real
// drive's whole path without hardware. Every audio frame says which frame it
// is: sample s of the frame at disc frame f is {f & 0x7fff, s}, so a frame
// read from the wrong place or torn shows at once.
#pragma once

#include "drive/digital/source.h"

#include <cstdint>

inline constexpr int IMAGE_MAX_TRACKS = 8;

struct ImageTrack {
    uint32_t frames;
    bool audio;
    const char *title = nullptr;     // CD-TEXT in the sheet, nullptr for none
    const char *performer = nullptr; // as given: the test picks the bytes
};

struct ImageLayout {
    int count;
    ImageTrack track[IMAGE_MAX_TRACKS];
    const char *disc_title = nullptr;
    const char *disc_performer = nullptr;
};

// Writes dir/<name>.bin and dir/<name>.cue; the sheet's path goes to cue_path.
// Returns false when a file cannot be written.
bool write_bin_cue(const char *dir, const char *name, const ImageLayout &layout, char *cue_path,
                   int cue_path_size);

// The samples the image holds for one disc frame (offsets as the table of
// contents counts them, lead-in included).
void expected_frame(uint32_t disc_frame, int16_t *samples);

// The table of contents a drive reports for the layout: track 1 at frame 150,
// each next track where the previous one ends, then the lead-out.
Toc layout_toc(const ImageLayout &layout);
