#!/usr/bin/env bash
# The controller's tray icon under 64-bit Wine: velto-tray-icons.exe draws
# and checks the badges below, Latin and Cyrillic, one to three letters, on
# and off at 16 to 32 px. Drawing into memory needs no display, so no X
# server is started.
# Usage: run_tray_icons_test.sh WIN64-BUILD-DIR
set -uo pipefail

build="${1:?usage: run_tray_icons_test.sh WIN64-BUILD-DIR}"
exe="$build/velto-tray-icons.exe"
[ -f "$exe" ] || { echo "FAIL: $exe is missing (scripts/build.sh win64)"; exit 1; }
tmp="$(mktemp -d /tmp/velto-icons.XXXXXX)"
export WINEPREFIX="$tmp/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= LC_ALL=C.UTF-8
trap 'timeout 30 /usr/lib/wine/wineserver64 -k 2>/dev/null; rm -rf "$tmp"' EXIT

timeout 240 /usr/lib/wine/wine64 "$exe" US INT DE РУ УКР Ж >"$tmp/out" 2>"$tmp/err"
status=$?
tr -d '\r' <"$tmp/out"
if [ "$status" -ne 0 ]; then
  echo "FAIL: velto-tray-icons.exe exited with $status"
  grep -v '^wine: ' "$tmp/err"
  exit 1
fi
