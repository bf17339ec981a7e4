#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# cpack -G DEB without a maintainer stops before packaging with one message
# that says how to name one, never dpkg-deb's failure deep inside CPack.
# Usage: check-no-maintainer.sh BUILD_DIR CPACK
set -euo pipefail
build=$1
cpack=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The build's own packaging settings, with nobody as the maintainer.
sed 's/^set(CPACK_PACKAGE_CONTACT .*/set(CPACK_PACKAGE_CONTACT "")/' \
  "$build/CPackConfig.cmake" >"$work/CPackConfig.cmake"
set +e
out=$(cd "$work" && env -u DEBFULLNAME -u DEBEMAIL -u EMAIL \
  "$cpack" -G DEB --config "$work/CPackConfig.cmake" -B "$work/out" 2>&1)
status=$?
set -e
printf '%s\n' "$out"
if [ $status -eq 0 ]; then
  echo "check-no-maintainer: cpack made a package without a maintainer" >&2
  exit 1
fi
if ! grep -q "set DEBFULLNAME and DEBEMAIL" <<<"$out" ||
   ! grep -q "MIVO_PACKAGE_MAINTAINER" <<<"$out"; then
  echo "check-no-maintainer: cpack did not say how to name a maintainer" >&2
  exit 1
fi
echo "check-no-maintainer: cpack asks for a maintainer"
