#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs, on top of what scripts/setup.sh installs, the tools mivo's tests
# need. Installs only what is missing.
set -euo pipefail
here=$(dirname "$0")
# shellcheck source=scripts/common.sh
. "$here/common.sh"
"$here/setup.sh"

packages=(
  libgtest-dev                   # the unit tests
  python3 python3-pyte           # the end-to-end tests read the screen through pyte
  clang libclang-rt-14-dev       # the parsers' libFuzzer targets
  mandoc                         # the manual pages' lint
  dpkg-dev lintian               # the Debian package: its dependencies and its lint
  shellcheck                     # the scripts' lint
  dbus-daemon playerctl          # the remote control: a private session bus and a real client
  libglib2.0-bin                 # gdbus, the bus's introspection and signals
  python3-dbus                   # the remote control's bench: a client of its own
  ninja-build                    # the build with Ninja the suite checks
  wavpack                        # WavPack rips made at test time (flac's metaflac comes with setup.sh)
  pulseaudio pulseaudio-utils    # the bench's real-time sink and its recorder
  flac cmus mpv                  # the bench's disc and the peers it measures mivo against
)
install_missing "${packages[@]}"
