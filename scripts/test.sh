#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds mivo twice (plain, and with AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs every test against both builds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/common.sh
. "$root/scripts/common.sh"
trap 'hand_back "$root/build" "$root/build-sanitize"' EXIT
jobs=$(nproc)
"$root/scripts/setup-tests.sh"
cd "$root"

for preset in plain sanitize; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done
