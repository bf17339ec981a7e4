#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs shellcheck on every shell script of the source tree: the scripts, the
# installed helper, CI's entry point and the tests' own scripts. Skipped (77)
# where shellcheck is not installed.
# Usage: check-shell.sh SOURCE_DIR
set -euo pipefail
if ! command -v shellcheck >/dev/null; then
  echo "skipped: shellcheck is not installed (scripts/setup-tests.sh installs it)"
  exit 77
fi
cd "$1"
scripts=(scripts/*.sh scripts/mivo-play-folder .ci/run)
while IFS= read -r -d '' f; do
  scripts+=("$f")
done < <(find tests -name '*.sh' -print0 | sort -z)
# -x follows the files the scripts source, as their directives name them.
shellcheck -x "${scripts[@]}"
echo "shellcheck: ${#scripts[@]} scripts, no findings"
