#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds mivo and plays its demo disc image through
# the sound card (silently where there is none). MIVO_DEMO=folder plays the
# same tones as a virtual disc through mivo-play-folder instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/common.sh
. "$root/scripts/common.sh"
build=$root/build-release
trap 'hand_back "$build"' EXIT

step "Checking the Debian packages mivo needs (scripts/setup.sh)"
"$root/scripts/setup.sh"

# The disc is made while mivo builds: sox and lame wait on the disc as much as
# they work.
step "Making the demo disc: four short tracks of tones in build-release/demo-disc/"
mkdir -p "$build"
"$root/scripts/make-demo-disc.sh" "$build/demo-disc" &
disc_maker=$!

step "Building mivo in build-release/"
cd "$root"
quietly "$build/demo-build.log" cmake --preset release
quietly "$build/demo-build.log" cmake --build --preset release -j"$(nproc)" --target mivo
wait "$disc_maker" || { echo "the demo disc could not be made" >&2; exit 1; }
hand_back "$build"

step "Starting mivo on the demo disc; P plays, Q quits"
if [ "${MIVO_DEMO:-image}" = folder ]; then
  MIVO=$build/mivo exec "$root/scripts/mivo-play-folder" "$build/demo-disc"
fi
# shellcheck source=scripts/sdl-env.sh
. "$root/scripts/sdl-env.sh"
use_sound_card
exec "$build/mivo" "$build/demo-disc/image/demo.cue"
