#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what mivo needs to build and run, and what its demo disc is made
# with, on a Debian 12 machine. Installs only what is missing, so it is cheap
# to repeat. scripts/setup-tests.sh adds the tools the tests need.
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "$0")/common.sh"

packages=(
  g++ cmake make pkg-config
  libsdl1.2-dev libsdl1.2-compat libncurses-dev
  libsndfile1-dev # disc images' audio files
  libcurl4-openssl-dev libjsmn-dev # title lookups
  libcdio-dev libcdio-paranoia-dev # real drives read digitally
  libsystemd-dev # sd-bus: the desktop's remote control on the session bus
  libchafa-dev libjpeg-dev libpng-dev # the disc's cover on screen
  sox lame flac # the demo disc: mp3s for the virtual disc, FLACs for the image
)
install_missing "${packages[@]}"
