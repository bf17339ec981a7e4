#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Prints how mivo's state is laid out: the longest source files, and each
# object's mutable variables outside functions' frames (file-scope and static
# ones, read from the writable data sections of the built objects, so a record
# counts once however many fields it holds; tables the loader only relocates
# are read-only and not counted). Usage: state-count.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
objects="$build/CMakeFiles/mivo_lib.dir/src"
[ -d "$objects" ] || { echo "build mivo_lib in $build first" >&2; exit 1; }
echo "== longest files under src/ (lines)"
(cd "$root" && find src \( -name '*.cpp' -o -name '*.h' \) -exec wc -l {} + | grep -v ' total$' | sort -rn | head -5)
echo "== mutable variables with static storage, per object"
total=0
while read -r object; do
  # Guard variables of function-local statics and the stream initialiser are
  # the compiler's, not mivo's.
  n=$(objdump -tC "$object" | awk '$3 == "O" && $4 ~ /^\.(bss|data|tbss|tdata)(\.rel(\.local)?)?$/' |
    grep -cv -e 'guard variable' -e '__ioinit' || true)
  total=$((total + n))
  [ "$n" -eq 0 ] || printf '%4d  %s\n' "$n" "${object#"$objects"/}"
done < <(find "$objects" -name '*.o' | sort)
echo "total: $total"
