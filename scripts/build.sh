#!/usr/bin/env bash
# Builds build/mivo (and the tests) after installing what is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -DMIVO_WERROR=ON >/dev/null
cmake --build "$root/build" -j"$(nproc)"
