#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures mivo in a build directory of its own with the given CMake
# arguments and builds one target there: the builds the presets do not make
# (another generator, link-time optimisation) still configure and build.
# Exits 77 (skipped) when the generator asked for is not installed.
# Usage: check-build.sh CMAKE SOURCE_DIR BUILD_DIR TARGET [CMAKE_ARGUMENTS...]
set -euo pipefail
cmake=$1 source=$2 build=$3 target=$4
shift 4
for argument in "$@"; do
  if [ "$argument" = Ninja ] && ! command -v ninja >/dev/null; then
    echo "ninja is not installed: scripts/setup-tests.sh installs it (ninja-build)"
    exit 77
  fi
done
mkdir -p "$(dirname "$build")"
"$cmake" -S "$source" -B "$build" "$@" >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
"$cmake" --build "$build" --target "$target" -j2
