#!/usr/bin/env bash
# Installs what mivo needs to build, run its demo disc and run its tests on a
# Debian 12 machine. Installs only what is missing, so it is cheap to repeat.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libsdl1.2-dev libsdl1.2-compat libncurses-dev libgtest-dev
  libcurl4-openssl-dev libjsmn-dev # title lookups
  libcdio-dev libcdio-paranoia-dev # real drives read digitally
  sox lame flac       # the demo disc: mp3s for the virtual disc, FLACs for the image
  libsndfile1-dev     # disc images' audio files
  python3 python3-pyte # the end-to-end tests read the screen through pyte
  clang libclang-rt-14-dev # the database loader's libFuzzer target
  mandoc dpkg-dev     # the manual pages' lint; the Debian package's dependencies
)

missing=()
for p in "${packages[@]}"; do
  if [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" != installed ]; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "mivo needs these Debian packages: ${missing[*]}" >&2
  echo "Run this script as root (or: sudo apt-get install ${missing[*]})." >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
