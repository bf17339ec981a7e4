// SPDX-License-Identifier: GPL-3.0-or-later
// The digital backend: plays a disc by reading its audio data from an
// AudioSource (a disc image, or a drive read through its data interface) and
// sending it to the sound card. It owns the reader thread, which makes every
// call of the source, the ring of frames between that thread and the sound
// card's callback, and the software volume.
#pragma once

#include "drive/digital/audio_output.h"
#include "drive/digital/source.h"
#include "drive/drive.h"

#include <cstdint>

extern const DriveBackend digital_drive_backend;

// Reads through source from the next open on, whatever the target names;
// nullptr chooses by the target's kind again.
void set_digital_source(const AudioSource *source);

// Sends the audio to output from the next open on; nullptr puts the sound card
// back. Both records must outlive their use.
void set_digital_output(const AudioOutput *output);

// How long the sound card stays open while stopped or paused; 0 puts back
// the usual few seconds.
void set_digital_idle_close(int64_t ns);

// Device buffers that ran dry in the middle of playback since the last open:
// each is a gap that was heard.
uint64_t digital_underruns();

// Naps the reader thread woke from since the last open: an idle drive should
// wake it only for the periodic look at the disc.
uint64_t digital_reader_wakes();
