#!/usr/bin/env bash
# Makes mivo's demo disc: four short tracks of tones as track01.mp3 ...
# track04.mp3 in the folder given (default build/demo-disc). Keeps a disc that
# is already there, and writes only into that folder.
set -euo pipefail
out=${1:-"$(cd "$(dirname "$0")/.." && pwd)/build/demo-disc"}
[ -e "$out/.complete" ] && exit 0
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Each track: seconds, then the notes (Hz) of a slow arpeggio.
tracks=(
  "12 262 330 392 523"
  "9 294 370 440 587"
  "15 220 277 330 440"
  "7 349 440 523 698"
)
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
  lame --quiet -b 96 "$tmp/t.wav" "$(printf '%s/track%02d.mp3' "$out" "$n")"
done
touch "$out/.complete"
