# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash
# Sourced by the scripts that run mivo on a virtual disc: finds sdl12-compat's
# library and picks an audio driver list that ends in one that always starts.

# sdl12-compat installs its libSDL-1.2.so.0 in a directory of its own, beside
# classic SDL 1.2; pointing the library path there swaps it in for one run.
find_sdl12_compat_dir() {
  local lib
  lib=$(dpkg -L libsdl1.2-compat 2>/dev/null | grep '/sdl12-compat/libSDL-1\.2\.so\.0$' | head -n 1 || true)
  if [ -z "$lib" ]; then
    for lib in /usr/lib/*/sdl12-compat/libSDL-1.2.so.0 /usr/lib64/sdl12-compat/libSDL-1.2.so.0 \
               /usr/lib/sdl12-compat/libSDL-1.2.so.0 /usr/local/lib/sdl12-compat/libSDL-1.2.so.0; do
      [ -e "$lib" ] && break
      lib=
    done
  fi
  [ -n "$lib" ] && dirname "$lib"
}

# SDL2 moves along the list only when a driver cannot start. ALSA starts even
# without a sound card and then shows the virtual disc as an empty tray, so it
# is listed only where a card exists; dummy always starts, silently.
choose_audio_drivers() {
  local list=() runtime=${XDG_RUNTIME_DIR:-/run/user/$(id -u)}
  [ -S "$runtime/pipewire-0" ] && list+=(pipewire)
  { [ -n "${PULSE_SERVER:-}" ] || [ -S "$runtime/pulse/native" ]; } && list+=(pulseaudio)
  if [ -r /proc/asound/cards ] && grep -q '^ *[0-9]' /proc/asound/cards; then
    list+=(alsa)
  fi
  list+=(dummy)
  local IFS=,
  echo "${list[*]}"
}

# Sets up the environment for a virtual disc made of the folder's trackNN.mp3.
use_virtual_disc() {
  local folder=$1 dir
  dir=$(find_sdl12_compat_dir) || true
  if [ -z "$dir" ]; then
    echo "sdl12-compat's library was not found; install the package libsdl1.2-compat." >&2
    return 1
  fi
  export LD_LIBRARY_PATH="$dir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  SDL12COMPAT_FAKE_CDROM_PATH=$(cd "$folder" && pwd)
  export SDL12COMPAT_FAKE_CDROM_PATH
  export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-$(choose_audio_drivers)}
}

# Sets up the environment for playing a disc image through the sound card.
# sdl12-compat is preferred: its SDL2 takes a list of audio drivers and falls
# back along it; classic SDL 1.2 takes one name, so it gets dummy (silence)
# only where the machine has no sound at all and picks its own otherwise.
use_sound_card() {
  local dir
  dir=$(find_sdl12_compat_dir) || true
  if [ -n "$dir" ]; then
    export LD_LIBRARY_PATH="$dir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
    export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-$(choose_audio_drivers)}
  elif [ -z "${SDL_AUDIODRIVER:-}" ] && [ "$(choose_audio_drivers)" = dummy ]; then
    export SDL_AUDIODRIVER=dummy
  fi
}
