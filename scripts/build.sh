#!/usr/bin/env bash
# Configures and builds one of the three targets.
# Usage: scripts/build.sh native|native-asan|win32|win64
set -euo pipefail
cd "$(dirname "$0")/.."

target="$1"
case "$target" in
  native) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  native-asan) args=(-DCMAKE_BUILD_TYPE=Debug -DVELTO_SANITIZE=ON) ;;
  win32|win64)
    # The layouts are compiled by a veltoc that runs here.
    cmake -S . -B build/host -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build/host --target veltoc >/dev/null
    host=(-DVELTO_HOST_VELTOC="$PWD/build/host/veltoc")
    ;;&
  win32) args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake "${host[@]}") ;;
  win64) args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake "${host[@]}") ;;
  *) echo "build.sh: unknown target '$target'" >&2; exit 2 ;;
esac

cmake -S . -B "build/$target" -G Ninja "${args[@]}" >/dev/null
cmake --build "build/$target"
