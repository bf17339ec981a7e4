// SPDX-License-Identifier: GPL-3.0-or-later
// Disc images: a rip (a CUE sheet, a folder or an audio file, see rip.h) and
// its audio files (raw 16-bit in either byte order, WavPack through libwavpack,
// or anything libsndfile decodes, at 44100 Hz in one or two channels) served
// as the audio source of the digital backend. The table of contents is the one
// the pressed disc gives a drive, so the disc id matches.
#pragma once

#include "drive/digital/source.h"

extern const AudioSource image_audio_source;
