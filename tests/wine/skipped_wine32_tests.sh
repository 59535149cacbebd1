#!/usr/bin/env bash
# Lists the 32-bit build's Wine tests (label wine32) that will skip, each
# with the reason, as "skipping TEST: REASON"; nothing when they can run.
# CTest itself would only say "Skipped".
#
# Usage: skipped_wine32_tests.sh CTEST-DIR [CTEST-OPTION...]
set -uo pipefail
dir="${1:?usage: skipped_wine32_tests.sh CTEST-DIR [CTEST-OPTION...]}"
shift
why="$("$(dirname "$0")/wine32_ready.sh")" && exit 0
ctest --test-dir "$dir" -N -L wine32 "$@" | sed -n 's/^ *Test *#[0-9]*: //p' |
  while read -r test; do echo "skipping $test: $why"; done
