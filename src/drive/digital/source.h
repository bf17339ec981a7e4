// SPDX-License-Identifier: GPL-3.0-or-later
// Where the digital backend's audio comes from: a disc image or a real drive
// read through its data interface. A source is a record of operations, like a
// backend; the reader thread makes every call, so a source's library handles
// never meet another thread.
#pragma once

#include "drive/drive.h"

#include <cstdint>

// One frame (sector) of CD audio: 588 stereo samples of 16 bits.
inline constexpr int SAMPLES_PER_FRAME = 588;
inline constexpr int FRAME_BYTES = SAMPLES_PER_FRAME * 4;

struct AudioSource {
    const char *name; // "image" or "cdio"
    // Opens the image or device at path; -1 when it cannot (error() says why).
    int (*open)(const char *path);
    void (*close)();
    // A cheap check, made about every half second: true when the disc may
    // have changed (tray opened, new disc, drive gone) since the last load.
    bool (*media_changed)();
    // Reads the table of contents and CD-TEXT of the disc now present.
    // Returns DRIVE_STOPPED for a disc with audio, DRIVE_NO_DISC for an empty
    // tray or a disc without audio tracks (toc still lists its tracks), and
    // DRIVE_ERROR when the drive or image fails.
    int32_t (*load)(Toc &toc, DiscText &text);
    // Reads count frames starting at frame (counted as Toc offsets count,
    // lead-in included) into samples: interleaved left/right, host order.
    // Returns the frames read, 0 at the end of the disc, -1 on failure.
    int32_t (*read)(uint32_t frame, int32_t count, int16_t *samples);
    int (*eject)();
    const char *(*error)();
    // What went wrong without stopping the play since the last call (a
    // damaged stretch read as silence), or nullptr; nullptr for a source
    // that never has such news.
    const char *(*notice)();
};
