// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/digital/audio_output.h"

#include <SDL.h>

#include <cstdio>

// Opened and closed by the main loop; SDL's thread only reads the fill
// function, which is set before the device starts.
static struct {
    AudioFill current_fill;
    bool subsystem_started;
    bool device_open;
    char error_text[256];
} output;

// SDL's thread enters here; the fill function is set before the device starts.
static void sdl_callback(void *, Uint8 *stream, int len) { output.current_fill(stream, len); }

// Keeps SDL's words about the last failure, prefixed with what mivo tried.
static void remember_sdl_error(const char *what)
{
    snprintf(output.error_text, sizeof output.error_text, "%s: %s", what, SDL_GetError());
}

// Shuts the audio subsystem again when opening failed half-way.
static void quit_subsystem()
{
    if (output.subsystem_started)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    output.subsystem_started = false;
}

// Starts SDL's audio and opens the device for CD audio, converting when the
// device insists on another format.
static int sdl_open(AudioFill fill)
{
    if (output.device_open)
        return 0;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        remember_sdl_error("Could not start the sound system");
        return -1;
    }
    output.subsystem_started = true;
    output.current_fill = fill;

    SDL_AudioSpec desired = {};
    desired.freq = OUTPUT_RATE;
    desired.format = AUDIO_S16SYS;
    desired.channels = OUTPUT_CHANNELS;
    desired.samples = OUTPUT_BUFFER_SAMPLES;
    desired.callback = sdl_callback;
    SDL_AudioSpec obtained = {};
    if (SDL_OpenAudio(&desired, &obtained) != 0) {
        remember_sdl_error("Could not open the sound card");
        quit_subsystem();
        return -1;
    }
    if (obtained.freq != desired.freq || obtained.format != desired.format ||
        obtained.channels != desired.channels) {
        // A device that insists on another format gets CD audio all the same:
        // opened without a place for the obtained format, SDL converts.
        SDL_CloseAudio();
        if (SDL_OpenAudio(&desired, nullptr) != 0) {
            remember_sdl_error("The sound card refuses 44100 Hz 16-bit stereo");
            quit_subsystem();
            return -1;
        }
    }
    output.device_open = true;
    SDL_PauseAudio(0);
    return 0;
}

// Stops the callback and shuts the device and SDL's audio.
static void sdl_close()
{
    if (output.device_open) {
        SDL_PauseAudio(1);
        SDL_CloseAudio();
    }
    output.device_open = false;
    quit_subsystem();
}

// What went wrong at the last open.
static const char *sdl_error() { return output.error_text; }

// SDL fills one buffer while the one before plays, and the sound server
// starts the buffer it gets about half a buffer later (as measured through a
// PulseAudio null sink, classic SDL and sdl12-compat alike).
const AudioOutput sdl_audio_output = {sdl_open, sdl_close, sdl_error,
                                      3 * OUTPUT_BUFFER_SAMPLES / 2};
