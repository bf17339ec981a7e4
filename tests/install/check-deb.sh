#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds mivo's Debian package, installs it, runs what it installed and removes
# it again, checking that nothing of it is left. It installs as root, so it runs
# only when MIVO_TEST_INSTALL=1 and reports "skipped" (77) otherwise.
# Usage: MIVO_TEST_INSTALL=1 check-deb.sh BUILD_DIR VERSION [CMAKE [CPACK]]
set -euo pipefail
if [ "${MIVO_TEST_INSTALL:-}" != 1 ]; then
  echo "skipped: set MIVO_TEST_INSTALL=1 to install and remove the mivo package as root" >&2
  exit 77
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
version=$2

fail() {
  echo "check-deb: $*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "installing the package needs root"
state=$(dpkg-query -W -f='${db:Status-Status}' mivo 2>/dev/null || true)
if [ -n "$state" ] && [ "$state" != not-installed ]; then
  fail "the package mivo is on this machine already ($state); remove it first, as this check removes what it installs"
fi

tmp=$(mktemp -d)
installed=0
# Whatever happens, the machine is left without the package.
cleanup() {
  if [ $installed -eq 1 ]; then
    dpkg -P mivo >/dev/null 2>&1 || echo "check-deb: could not remove the package mivo" >&2
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

echo "== building the package"
deb=$("$here/build-package.sh" "$root" "$build/package/release" "$tmp/pkg" "${@:3}") ||
  fail "the package could not be built"
[ "$(basename "$deb")" = "mivo_${version}_$(dpkg --print-architecture).deb" ] ||
  fail "the package is called $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = mivo ] || fail "Package is '$(field Package)', not mivo"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Section)" = sound ] || fail "Section is '$(field Section)', not sound"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
# libcurl and libchafa are opened at run time, where dpkg-shlibdeps does not
# see them: the build names their packages (MIVO_CURL_PACKAGE, MIVO_CHAFA_PACKAGE).
for dep in libc6 libncursesw6 libtinfo6 libsdl1.2debian ${MIVO_CURL_PACKAGE:-} ${MIVO_CHAFA_PACKAGE:-}; do
  field Depends | grep -Eq "(^|, )$dep( |,|$)" || fail "Depends lacks $dep: $(field Depends)"
done
field Recommends | grep -q 'libsdl1\.2-compat' || fail "Recommends lacks libsdl1.2-compat"

echo "== installing $(basename "$deb")"
installed=1
dpkg -i "$deb" >"$tmp/dpkg.log" 2>&1 ||
  { cat "$tmp/dpkg.log" >&2; fail "dpkg -i failed (scripts/setup.sh installs the libraries it needs)"; }
for f in /usr/bin/mivo /usr/bin/mivo-play-folder /usr/share/mivo/sdl-env.sh \
         /usr/share/man/man1/mivo.1.gz /usr/share/man/man1/mivo-play-folder.1.gz \
         /usr/share/doc/mivo/copyright /usr/share/doc/mivo/changelog.Debian.gz; do
  [ -e "$f" ] || fail "$f is not installed"
done
if command -v man >/dev/null; then
  [ "$(man -w mivo)" = /usr/share/man/man1/mivo.1.gz ] || fail "man -w mivo gives '$(man -w mivo)'"
fi

echo "== asking mivo its version"
[ "$(/usr/bin/mivo --version)" = "mivo ${version%-*}" ] ||
  fail "mivo --version says '$(/usr/bin/mivo --version)'"

echo "== running mivo 99 (a drive that is not there)"
mkdir -p "$tmp/home"
set +e
msg=$(HOME=$tmp/home /usr/bin/mivo 99 </dev/null 2>&1 >/dev/null)
status=$?
set -e
[ $status -eq 1 ] || fail "mivo 99 ended with status $status, not 1 (output: $msg)"
case $msg in
  "No CDROM devices available" | "Could not open drive: "*) echo "   $msg" ;;
  *) fail "mivo 99 printed '$msg'" ;;
esac

echo "== playing the demo disc with mivo-play-folder, quitting with q"
disc=$build/demo-disc
[ -e "$disc/.complete" ] || { disc=$tmp/disc; "$root/scripts/make-demo-disc.sh" "$disc"; }
set +e
(sleep 3; printf q) | HOME=$tmp/home TERM=xterm SDL_AUDIODRIVER=dummy \
  timeout 30 script -qfec "/usr/bin/mivo-play-folder '$disc'" /dev/null >"$tmp/screen" 2>&1
status=$?
set -e
[ $status -eq 0 ] || fail "mivo-play-folder ended with status $status, not 0: $(tr -c '[:print:]\n' ' ' <"$tmp/screen" | tail -n 3)"
[ -s "$tmp/screen" ] || fail "mivo-play-folder drew nothing"

echo "== removing the package"
paths=$(dpkg-deb -c "$deb" | awk '{ print substr($6, 2) }')
dpkg -r mivo >"$tmp/dpkg.log" 2>&1 || { cat "$tmp/dpkg.log" >&2; fail "dpkg -r mivo failed"; }
installed=0
state=$(dpkg-query -W -f='${db:Status-Status}' mivo 2>/dev/null || true)
[ -z "$state" ] || [ "$state" = not-installed ] || fail "after dpkg -r the package is '$state'"
left=()
for p in $paths; do
  p=${p%/}
  [ -n "$p" ] || continue
  # A directory that other packages own stays, as it should.
  if [ -e "$p" ] && ! { [ -d "$p" ] && dpkg -S "$p" >/dev/null 2>&1; }; then
    left+=("$p")
  fi
done
[ ${#left[@]} -eq 0 ] || fail "left behind after dpkg -r: ${left[*]}"
echo "check-deb: the package builds, installs, runs and removes cleanly"
