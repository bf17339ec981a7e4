#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds mivo's Debian package as it is shipped and runs lintian on it: any
# error or warning fails. Skipped (77) where lintian is not installed.
# Usage: check-lintian.sh SOURCE_DIR WORK_DIR [CMAKE [CPACK]]
set -euo pipefail
if ! command -v lintian >/dev/null; then
  echo "skipped: lintian is not installed (scripts/setup-tests.sh installs it)"
  exit 77
fi
src=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
deb=$("$here/build-package.sh" "$src" "$work/release" "$work/deb" "${@:3}")
echo "== lintian $(basename "$deb")"
# Pedantic and informational notes are shown too, but only errors and warnings
# fail: those are what Debian's archive would refuse or complain about.
set +e
out=$(lintian --info --display-info --pedantic --display-experimental --fail-on error,warning "$deb" 2>&1)
status=$?
set -e
[ -z "$out" ] || printf '%s\n' "$out"
if [ $status -ne 0 ]; then
  echo "check-lintian: lintian finds errors or warnings in $(basename "$deb")" >&2
  exit 1
fi
echo "check-lintian: no errors, no warnings"
