#!/usr/bin/env bash
# Whether the 32-bit build's Wine tests can run here: this machine runs
# 32-bit programs (can_run_32bit.sh) and 32-bit Wine is installed. Exits 0
# when they can, else 1 with one line saying why: the probe's answer, or why
# scripts/deps.sh could not install wine32:i386 (kept in
# build/deps/wine32.unavailable), or that nobody installed it.
#
# Usage: wine32_ready.sh [WINE32-LOADER]
# Environment: VELTO_WINE32 (the loader, default /usr/lib/wine/wine),
#              VELTO_DEPS_STATE, VELTO_32BIT_PROBE (as for scripts/deps.sh).
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
loader="${1:-${VELTO_WINE32:-/usr/lib/wine/wine}}"
state="${VELTO_DEPS_STATE:-$here/../../build/deps}"

"${VELTO_32BIT_PROBE:-$here/can_run_32bit.sh}" || exit 1
command -v "$loader" >/dev/null && exit 0
if [ -s "$state/wine32.unavailable" ]; then
  head -1 "$state/wine32.unavailable"
else
  echo "32-bit Wine is not installed: no $loader (scripts/deps.sh wine32)"
fi
exit 1
