#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds build/mivo and the tests after installing what is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/common.sh
. "$root/scripts/common.sh"
trap 'hand_back "$root/build"' EXIT
"$root/scripts/setup-tests.sh"
cd "$root"
cmake --preset plain >/dev/null
cmake --build --preset plain -j"$(nproc)"
