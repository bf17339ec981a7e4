#!/usr/bin/env bash
# Prints mivo's performance figures: terminal output, key latency, start-up
# time, idle CPU and memory of the real binary on the stand-in drive, then the
# database's load and save times on its heaviest files. Not a test: no limits.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/common.sh
. "$root/scripts/common.sh"
build=$(realpath -m "${1:-$root/build}")
trap 'hand_back "$build"' EXIT
"$root/scripts/setup-tests.sh"
cd "$root"
cmake --preset plain -B "$build" >/dev/null
cmake --build "$build" -j2 --target mivo mivo_standin_drive mivo_db_bench >/dev/null
# Debian's python3-pyte serves the system's python3, which another python3
# found first on the path may lack.
python=python3
"$python" -c 'import pyte' 2>/dev/null || python=/usr/bin/python3

echo "== mivo in a terminal (80x24, stand-in drive)"
"$python" "$root/tests/e2e/bench.py" --mivo "$build/mivo" \
  --standin-dir "$build/tests/e2e-standin"
echo "== disc database"
"$build/tests/mivo_db_bench"
