#!/usr/bin/env bash
# Installs what is missing, builds mivo twice (plain, and with AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs every test against both builds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/setup.sh"
"$root/scripts/make-demo-disc.sh" "$root/build/demo-disc"

cmake -S "$root" -B "$root/build" -DMIVO_WERROR=ON >/dev/null
cmake --build "$root/build" -j"$jobs"
(cd "$root/build" && ctest --output-on-failure -j"$jobs")

cmake -S "$root" -B "$root/build-sanitize" -DMIVO_WERROR=ON -DMIVO_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$root/build-sanitize" -j"$jobs"
(cd "$root/build-sanitize" && ASAN_OPTIONS=detect_leaks=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j"$jobs")
