// SPDX-License-Identifier: GPL-3.0-or-later
// The sound card, as the digital backend uses it: CD audio (44100 Hz, signed
// 16-bit stereo in host order) pulled by a callback on the sound system's own
// thread. This module is the only code that calls SDL's audio functions; the
// backend reaches it through a record, so tests can pull the audio themselves.
#pragma once

#include <cstdint>

inline constexpr int OUTPUT_RATE = 44100;
inline constexpr int OUTPUT_CHANNELS = 2;
// Samples per channel in one device buffer: about 46 ms, which bounds how long
// a pause or a seek takes to be heard. Each buffer costs a wake of SDL's
// thread and of the sound server; half this size cost a third more CPU while
// playing, for pauses and seeks heard some 25 ms sooner.
inline constexpr int OUTPUT_BUFFER_SAMPLES = 2048;

// Fills len bytes of stream; runs on the sound system's thread.
using AudioFill = void (*)(uint8_t *stream, int len);

struct AudioOutput {
    // Opens the device in the format above and starts pulling from fill;
    // -1 when the device cannot be opened or offers another format.
    int (*open)(AudioFill fill);
    // Stops pulling and closes the device; fill is not called afterwards.
    void (*close)();
    const char *(*error)();
    // Samples between the one fill hands over and the one being heard as it
    // is called: what the device buffers. 0 takes the last sample handed
    // over as the one heard (a test pulling buffers itself).
    int latency_samples;
};

// The sound card through SDL 1.2's audio interface.
extern const AudioOutput sdl_audio_output;
