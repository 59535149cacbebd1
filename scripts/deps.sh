#!/usr/bin/env bash
# Installs what the build needs, from Debian's packages, when it is missing.
# Usage: scripts/deps.sh GROUP...   groups: native, mingw, wine, wine32, wine-bench, bench, fuzz, demo
# wine32 (32-bit Wine, wine32:i386, for the 32-bit build's Wine tests) only
# where this machine runs 32-bit programs (tests/wine/can_run_32bit.sh); it
# adds Debian's i386 architecture if missing. Elsewhere it is skipped.
set -euo pipefail
probe="$(dirname "$0")/../tests/wine/can_run_32bit.sh"

packages=()
wine32=0
for group in "$@"; do
  case "$group" in
    native) packages+=(cmake ninja-build g++ libgtest-dev libgmock-dev) ;;
    mingw) packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64) ;;
    wine) packages+=(wine wine64 xvfb xdotool) ;;
    wine32) packages+=(gcc) wine32=1 ;;  # gcc builds the probe
    wine-bench) packages+=(python3 libx11-6 libxtst6) ;;  # bench/wine_latency.sh sends XTEST events itself
    bench) packages+=(valgrind libbenchmark-dev pkg-config libxkbcommon-dev xkb-data libx11-data) ;;
    fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
    demo) packages+=(imagemagick) ;;
    *) echo "deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# install_missing PACKAGE...: those of them that are not installed.
install_missing() {
  local pkg missing=()
  for pkg; do installed "$pkg" || missing+=("$pkg"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

install_missing "${packages[@]}"

[ "$wine32" = 1 ] || exit 0
if ! why="$("$probe")"; then
  echo "deps.sh: wine32 skipped: $why"
  exit 0
fi
installed wine32:i386 && exit 0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture"
  $sudo dpkg --add-architecture i386
fi
install_missing wine32:i386
