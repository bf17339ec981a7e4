# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash
# Sourced by mivo's scripts: installing missing Debian packages, saying what is
# being done, and giving build output back to the owner of the checkout.

# Prints one line saying what the script does next.
step() {
  printf '==> %s\n' "$*"
}

# Installs the Debian packages named that are not installed yet; as a normal
# user, names them and the command that installs them instead.
install_missing() {
  local missing=() p
  for p in "$@"; do
    if [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" != installed ]; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "These Debian packages are missing: ${missing[*]}" >&2
    echo "Run this script as root (or: sudo apt-get install ${missing[*]})." >&2
    return 1
  fi
  step "Installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Set-up has to run as root, and a build directory it leaves owned by root
# would stop the user's own next build. Build output therefore belongs to
# whoever owns the checkout (the user who ran sudo, or who cloned it), and is
# handed back to them when root made it.
hand_back() {
  local top owner dir
  [ "$(id -u)" -eq 0 ] || return 0
  top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  owner=$(stat -c %u:%g "$top")
  [ "${owner%%:*}" != 0 ] || return 0
  for dir in "$@"; do
    if [ -e "$dir" ]; then
      chown -R "$owner" "$dir"
    fi
  done
}

# Runs a command quietly, keeping its output in a log that is shown when it fails.
quietly() {
  local log=$1
  shift
  mkdir -p "$(dirname "$log")"
  if ! "$@" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "failed: $* (the whole output is in $log)" >&2
    return 1
  fi
}
