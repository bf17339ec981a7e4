#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes mivo's demo disc in the folder given (default build/demo-disc), in two
# forms made of the same four short tracks of tones:
#   track01.mp3 ... track04.mp3   a folder for sdl12-compat's virtual drive
#   image/demo.cue + trackNN.flac a disc image mivo plays through the sound card
# Keeps what is already there, and writes only into that folder.
set -euo pipefail
out=${1:-"$(cd "$(dirname "$0")/.." && pwd)/build/demo-disc"}
[ -e "$out/.complete" ] && [ -e "$out/image/.complete" ] && exit 0
mkdir -p "$out/image"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Each track: seconds, then the notes (Hz) of a slow arpeggio.
tracks=(
  "12 262 330 392 523"
  "9 294 370 440 587"
  "15 220 277 330 440"
  "7 349 440 523 698"
)
cue=$tmp/demo.cue
{
  echo 'PERFORMER "mivo"'
  echo 'TITLE "Demo Tones"'
} >"$cue"
n=0
for t in "${tracks[@]}"; do
  n=$((n + 1))
  read -ra notes <<<"$t"
  secs=${notes[0]}
  notes=("${notes[@]:1}")
  step=$(awk -v s="$secs" -v c=${#notes[@]} 'BEGIN { printf "%.3f", s / c }')
  parts=()
  for hz in "${notes[@]}"; do
    sox -q -n -r 44100 -c 2 -b 16 "$tmp/n$hz.wav" synth "$step" pluck "$hz" vol 0.6 fade 0.01 "$step" 0.3
    parts+=("$tmp/n$hz.wav")
  done
  sox -q "${parts[@]}" "$tmp/t.wav"
  if [ ! -e "$out/.complete" ]; then
    lame --quiet -b 96 "$tmp/t.wav" "$(printf '%s/track%02d.mp3' "$out" "$n")"
  fi
  # A disc holds whole frames of 588 samples; pad the track to the next one.
  samples=$(soxi -s "$tmp/t.wav")
  pad=$(( (588 - samples % 588) % 588 ))
  name=$(printf 'track%02d.flac' "$n")
  sox -q "$tmp/t.wav" -b 16 "$tmp/$name" pad "${pad}s@-0"
  cp "$tmp/$name" "$out/image/$name"
  {
    printf 'FILE "%s" WAVE\n' "$name"
    printf '  TRACK %02d AUDIO\n' "$n"
    printf '    TITLE "Arpeggio %d"\n' "$n"
    printf '    INDEX 01 00:00:00\n'
  } >>"$cue"
done
cp "$cue" "$out/image/demo.cue"
touch "$out/.complete" "$out/image/.complete"
