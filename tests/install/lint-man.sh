#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Lints manual pages with mandoc and groff; any warning fails.
# Usage: lint-man.sh PAGE...
set -uo pipefail
[ $# -gt 0 ] || { echo "usage: lint-man.sh PAGE..." >&2; exit 2; }
linted=0
failed=0
if command -v mandoc >/dev/null; then
  linted=1
  out=$(mandoc -T lint -W warning "$@" 2>&1)
  if [ -n "$out" ]; then
    printf 'mandoc finds faults in the manual pages:\n%s\n' "$out" >&2
    failed=1
  fi
fi
if command -v groff >/dev/null; then
  linted=1
  for page in "$@"; do
    out=$(groff -ww -z -man -Tutf8 "$page" 2>&1)
    if [ -n "$out" ]; then
      printf 'groff warns about %s:\n%s\n' "$page" "$out" >&2
      failed=1
    fi
  done
fi
if [ $linted -eq 0 ]; then
  echo "neither mandoc nor groff is installed; run scripts/setup.sh" >&2
  exit 1
fi
exit $failed
