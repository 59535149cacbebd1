#!/usr/bin/env bash
# Installs what the build needs, from Debian's packages, when it is missing.
# Usage: scripts/deps.sh GROUP...   groups: native, mingw, wine, wine-bench, bench, fuzz, demo
set -euo pipefail

packages=()
for group in "$@"; do
  case "$group" in
    native) packages+=(cmake ninja-build g++ libgtest-dev libgmock-dev) ;;
    mingw) packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64) ;;
    wine) packages+=(wine wine64 xvfb xdotool) ;;
    wine-bench) packages+=(python3 libx11-6 libxtst6) ;;  # bench/wine_latency.sh sends XTEST events itself
    bench) packages+=(valgrind libbenchmark-dev pkg-config libxkbcommon-dev xkb-data libx11-data) ;;
    fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
    demo) packages+=(imagemagick) ;;
    *) echo "deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for pkg in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
