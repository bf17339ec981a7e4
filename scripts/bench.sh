#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Prints mivo's performance figures: terminal output, key latency, start-up
# time, idle CPU and memory of the real binary on the stand-in drive, then the
# database's load and save times on its heaviest files, then the figures of
# disc images played through SDL's disk audio driver against the stand-in,
# then a drive read through libcdio and paranoia (a BIN/CUE image in its place),
# also while its reads stall; then mivo, cmus and mpv playing a 45-minute disc
# into a PulseAudio null sink, measured from what the sink's monitor heard.
# Not a test: no limits.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/common.sh
. "$root/scripts/common.sh"
build=$(realpath -m "${1:-$root/build}")
trap 'hand_back "$build"' EXIT
"$root/scripts/setup-tests.sh"
cd "$root"
cmake --preset plain -B "$build" >/dev/null
cmake --build "$build" -j2 --target mivo mivo_standin_drive mivo_db_bench \
  mivo_digital_bench mivo_cdio_bench mivo_stall_shim mivo_wake_floor >/dev/null
# Debian's python3-pyte serves the system's python3, which another python3
# found first on the path may lack.
python=python3
"$python" -c 'import pyte' 2>/dev/null || python=/usr/bin/python3

echo "== mivo in a terminal (80x24, stand-in drive)"
"$python" "$root/tests/e2e/bench.py" --mivo "$build/mivo" \
  --standin-dir "$build/tests/e2e-standin"
echo "== disc database"
"$build/tests/mivo_db_bench"
echo "== disc images through the sound card (SDL's disk driver)"
images=$(mktemp -d)
trap 'rm -rf "$images"' EXIT
sheet=$(/usr/bin/python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import pcm_image
print(pcm_image.write_image(sys.argv[2], [1500, 1500, 1500]))' "$root/tests/e2e" "$images/minute")
. "$root/scripts/sdl-env.sh"
for sdl in classic sdl12-compat; do
  echo "-- $sdl"
  lib=
  [ "$sdl" = classic ] || lib=$(find_sdl12_compat_dir)
  LD_LIBRARY_PATH=$lib SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$images/$sdl.raw" SDL_DISKAUDIODELAY=46 \
    "$build/tests/mivo_digital_bench" "$sheet" 2>/dev/null
done
/usr/bin/python3 "$root/tests/e2e/digital_bench.py" --mivo "$build/mivo" \
  --standin-dir "$build/tests/e2e-standin"
echo "== a drive read through libcdio and paranoia (BIN/CUE image, SDL's disk driver)"
mkdir -p "$images/cdio"
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$images/cdio.raw" SDL_DISKAUDIODELAY=46 \
  "$build/tests/mivo_cdio_bench" "$images/cdio" 2>/dev/null
echo "-- the real mivo while the drive's reads stall"
/usr/bin/python3 "$root/tests/e2e/cdio_stall_bench.py" --mivo "$build/mivo" \
  --standin-dir "$build/tests/e2e-standin" --shim "$build/tests/libmivo_stall_shim.so"
echo "== a 45-minute disc through a real-time sink (PulseAudio null sink), beside cmus and mpv"
/usr/bin/python3 "$root/tests/e2e/sink_bench.py" --mivo "$build/mivo" \
  --wake-floor "$build/tests/mivo_wake_floor"
echo "== title lookups (local stand-in server)"
/usr/bin/python3 "$root/tests/e2e/lookup_bench.py" --mivo "$build/mivo" \
  --standin-dir "$build/tests/e2e-standin"
echo "== the desktop's remote control and the cover (a private session bus)"
/usr/bin/python3 "$root/tests/e2e/mpris_bench.py" --mivo "$build/mivo" \
  --standin-dir "$build/tests/e2e-standin"
