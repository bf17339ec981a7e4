#!/usr/bin/env bash
# Installs what is missing, builds mivo and plays its demo disc image through
# the sound card (silently where there is none). MIVO_DEMO=folder plays the
# same tones as a virtual disc through mivo-play-folder instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" >/dev/null
"$root/scripts/make-demo-disc.sh" "$root/build/demo-disc"
if [ "${MIVO_DEMO:-image}" = folder ]; then
  exec "$root/scripts/mivo-play-folder" "$root/build/demo-disc"
fi
. "$root/scripts/sdl-env.sh"
use_sound_card
exec "$root/build/mivo" "$root/build/demo-disc/image/demo.cue"
