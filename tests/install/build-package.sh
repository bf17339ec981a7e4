#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds mivo's Debian package the way it is shipped: a release build (Debian's
# hardening flags) in WORK_DIR, packaged by cpack into OUT_DIR. Prints the
# path of the .deb. A package needs a maintainer; where the builder has named
# none (DEBFULLNAME and DEBEMAIL), this throwaway package for checks gets an
# address in the reserved .invalid domain, which says plainly that it is none.
# Usage: build-package.sh SOURCE_DIR WORK_DIR OUT_DIR [CMAKE [CPACK]]
set -euo pipefail
src=$(realpath -m "$1")
work=$(realpath -m "$2")
out=$(realpath -m "$3")
cmake=${4:-cmake}
cpack=${5:-cpack}
mkdir -p "$work" "$out"
log=$out/build-package.log

configure() {
  (cd "$src" && "$cmake" --preset release -B "$work" "$@") >>"$log" 2>&1 ||
    { cat "$log" >&2; echo "build-package: configuring $work failed" >&2; exit 1; }
}
: >"$log"
configure
if grep -q '^MIVO_PACKAGE_MAINTAINER:STRING=$' "$work/CMakeCache.txt"; then
  configure "-DMIVO_PACKAGE_MAINTAINER=mivo package check <package-check@mivo.invalid>"
fi
"$cmake" --build "$work" -j2 >>"$log" 2>&1 ||
  { tail -n 40 "$log" >&2; echo "build-package: building $work failed" >&2; exit 1; }
rm -f "$out"/*.deb
(cd "$work" && "$cpack" -G DEB -B "$out") >>"$log" 2>&1 ||
  { tail -n 40 "$log" >&2; echo "build-package: cpack -G DEB failed" >&2; exit 1; }
deb=$(find "$out" -maxdepth 1 -name '*.deb' | head -n 1)
[ -n "$deb" ] || { echo "build-package: cpack made no .deb in $out" >&2; exit 1; }
echo "$deb"
