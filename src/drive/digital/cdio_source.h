// SPDX-License-Identifier: GPL-3.0-or-later
// The digital backend's source for a real CD drive: the drive's table of
// contents, its CD-TEXT and its audio, read through libcdio with
// libcdio-paranoia's jitter and scratch correction. libcdio also opens a raw
// BIN/CUE image as if it were a drive, which is how it is tested.
//
// Threads: libcdio's logging and its handles are not thread-safe, so every
// call of this source (and with it every libcdio and paranoia call mivo
// makes) comes from one thread, the digital backend's reader thread. Nothing
// else in mivo may call libcdio.
#pragma once

#include "drive/digital/source.h"

extern const AudioSource cdio_audio_source;

// Installs mivo's own libcdio log handler, which only keeps the last message:
// libcdio's default one prints on the terminal and exits on an error. Safe to
// call more than once; the source calls it before its first libcdio call.
void install_cdio_log_handler();

// The last message libcdio or paranoia gave, "" when none came yet.
const char *last_cdio_message();

// How many frames paranoia gave up on after its retries since the last load
// (they play as whatever the drive last returned for them).
int32_t cdio_skipped_frames();

// Copies CD-TEXT into dst as UTF-8: kept as it is when it already is UTF-8
// (cut between characters), else read as ISO-8859-1.
void cdtext_to_utf8(char *dst, int size, const char *src);

// The system's default CD drive as libcdio finds it; false when it finds
// none. MIVO_TEST_CDIO_IMAGE, when set, names a BIN/CUE image to use instead
// (for the end-to-end tests, which have no drive). Called on the thread that owns libcdio (at
// start-up, before the reader thread exists, or on the reader thread).
bool find_default_cd_device(char *path, int size);
