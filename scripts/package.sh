#!/usr/bin/env bash
# Makes the Windows release in build/dist/:
#   velto-VERSION-setup-x64.exe     the installer for 64-bit Windows
#   velto-VERSION-setup-x86.exe     the installer for 32-bit Windows
#   velto-VERSION-portable-x64.zip  the 64-bit programs, run from any folder
# VERSION is the first line of the VERSION file. build/win64 and build/win32
# are built first where missing (scripts/build.sh); makensis (Debian's nsis)
# is installed by scripts/deps.sh package where missing, and without it there
# is no release: the zip alone is not one (exit status 1).
#
# Usage: scripts/package.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

version="$(head -1 VERSION | tr -d '[:space:]')"
if ! [[ "$version" =~ ^[0-9]+(\.[0-9]+){0,3}([-+.][0-9A-Za-z.+-]*)?$ ]]; then
  echo "package.sh: VERSION:1:1: error: '$version' is not a version such as 0.9.0" >&2
  exit 1
fi

for target in win64 win32; do
  need=(velto.exe veltoctl.exe veltoc.exe)
  [ "$target" = win64 ] && need+=(velto64.dll) || need+=(velto.dll velto-companion.exe)
  for file in "${need[@]}"; do
    if [ ! -f "build/$target/$file" ]; then
      echo "Building $target ($file is missing)"
      nice scripts/build.sh "$target"
      break
    fi
  done
done

if ! command -v makensis >/dev/null; then
  scripts/deps.sh package
fi
if ! command -v makensis >/dev/null; then
  why="not installed"
  [ -f build/deps/nsis.unavailable ] && why="$(cat build/deps/nsis.unavailable)"
  echo "package.sh: makensis is missing ($why); no installers, no release" >&2
  exit 1
fi

dist="build/dist"
mkdir -p "$dist"
x64="$dist/velto-$version-setup-x64.exe"
x86="$dist/velto-$version-setup-x86.exe"
zip="$dist/velto-$version-portable-x64.zip"
rm -f "$x64" "$x86" "$zip"

nsis() {  # nsis LOG ARGS...: makensis, its output kept and shown on failure
  local log="$1"
  shift
  if ! makensis -V2 -INPUTCHARSET UTF8 "$@" installer/velto.nsi >"$log" 2>&1; then
    cat "$log" >&2
    echo "package.sh: makensis failed ($*)" >&2
    exit 1
  fi
}
# The file version resource takes four numbers: 0.9.0-rc1 gives 0.9.0.0.
IFS=. read -ra numbers <<<"${version%%[-+]*}"
while [ ${#numbers[@]} -lt 4 ]; do numbers+=(0); done
vi_version="$(IFS=.; echo "${numbers[*]:0:4}")"
common=(-DVERSION="$version" -DVIVERSION="$vi_version" -DSRC="$root")
nsis "$dist/x64.log" "${common[@]}" -DARCH=x64 -DMAIN="$root/build/win64" -DCOMPANION="$root/build/win32" -DOUTFILE="$root/$x64"
nsis "$dist/x86.log" "${common[@]}" -DARCH=x86 -DMAIN="$root/build/win32" -DOUTFILE="$root/$x86"
rm -f "$dist/x64.log" "$dist/x86.log"
scripts/portable_zip.py "$root" build/win64 build/win32 "$version" "$zip"

for file in "$x64" "$x86" "$zip"; do
  printf '%-44s %9d bytes\n' "$file" "$(stat -c %s "$file")"
done
