#!/usr/bin/env bash
# Installs what is missing, builds mivo and starts it on its demo disc.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" >/dev/null
"$root/scripts/make-demo-disc.sh" "$root/build/demo-disc"
exec "$root/scripts/mivo-play-folder" "$root/build/demo-disc"
