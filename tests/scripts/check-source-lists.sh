#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The build names its sources one by one, so a new file is easily forgotten:
# a test never built would pass by never running. Checks that every source of
# src/ is in the top CMakeLists.txt and every test source in tests/'s lists.
# Usage: check-source-lists.sh SOURCE_DIR
set -euo pipefail
cd "$1"
missing=0
while IFS= read -r f; do
  if ! grep -qF "$f" CMakeLists.txt; then
    echo "$f is not in CMakeLists.txt's MIVO_LIB_SOURCES" >&2
    missing=1
  fi
done < <(find src -name '*.cpp' ! -path src/main.cpp | sort)
while IFS= read -r f; do
  # Named relative to tests/, or by its own name in its area's tests.cmake.
  if ! grep -qF "${f#tests/}" tests/CMakeLists.txt &&
     ! grep -qF "/$(basename "$f")" "$(dirname "$f")/tests.cmake" 2>/dev/null; then
    echo "$f is not in tests/CMakeLists.txt nor its area's tests.cmake" >&2
    missing=1
  fi
done < <(find tests -name '*_test.cpp' | sort)
while IFS= read -r f; do
  area=$(basename "$(dirname "$f")")
  if ! grep -Eq "^foreach\(area .*\b$area\b" tests/CMakeLists.txt; then
    echo "$f is not included by tests/CMakeLists.txt" >&2
    missing=1
  fi
done < <(find tests -mindepth 2 -maxdepth 2 -name tests.cmake | sort)
[ $missing -eq 0 ] && echo "every source and test is in the build's lists"
exit $missing
