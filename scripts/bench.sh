#!/usr/bin/env bash
# Prints mivo's performance figures: terminal output, key latency, start-up
# time, idle CPU and memory of the real binary on the stand-in drive, then the
# database's load and save times on its heaviest files. Not a test: no limits.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DMIVO_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target mivo mivo_standin_drive mivo_db_bench >/dev/null

echo "== mivo in a terminal (80x24, stand-in drive)"
/usr/bin/python3 "$root/tests/e2e/bench.py" --mivo "$build/mivo" \
  --standin-dir "$build/tests/e2e-standin"
echo "== disc database"
"$build/tests/mivo_db_bench"
echo "== title lookups (local stand-in server)"
/usr/bin/python3 "$root/tests/e2e/lookup_bench.py" --mivo "$build/mivo" \
  --standin-dir "$build/tests/e2e-standin"
