#!/usr/bin/env bash
# Builds everything (Linux with the sanitizers and optimized, both Windows
# targets, the playground) and runs the whole test suite: a short run of every
# fuzz target ($VELTO_FUZZ_SECONDS each, default 6), the guard on the engine's
# instruction counts, then CTest (unit and scenario tests, the DLL tables,
# Wine, the playground in a browser). VELTO_NO_32BIT=1 skips the 32-bit
# build's Wine tests, as on a machine that cannot run 32-bit programs; so
# does a 32-bit Wine that scripts/deps.sh could not install (a mirror in the
# middle of a sync).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh native mingw wine wine32 fuzz bench package playground browser
scripts/build.sh native-asan
scripts/build.sh native
scripts/build.sh win32
scripts/build.sh win64
# The playground for its browser test; without emscripten (status 3) that test
# says why it skips.
status=0
scripts/playground.sh || status=$?
[ "$status" = 0 ] || [ "$status" = 3 ] || exit "$status"

fuzz_log="$(mktemp)"
if ! scripts/fuzz.sh "${VELTO_FUZZ_SECONDS:-6}" >"$fuzz_log" 2>&1; then
  tail -60 "$fuzz_log"
  echo "fuzzing found a fault"
  exit 1
fi
grep -E '^[a-z]+_fuzz: ' "$fuzz_log" | sed 's/^/fuzzing: /'
rm -f "$fuzz_log"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The engine's instructions per keystroke may not grow more than 10% over
# the baseline (optimized build, no sanitizers).
bench/instructions.sh build/native --check

# The 32-bit build's Wine tests (label wine32) skip themselves where this
# machine cannot run 32-bit programs or 32-bit Wine could not be installed;
# CTest would not say why.
stress=(-LE stress)
[ "${VELTO_STRESS:-0}" = 1 ] && stress=()
tests/wine/skipped_wine32_tests.sh build/native-asan "${stress[@]}"

# The Wine stress test of right Alt (label stress) only with VELTO_STRESS=1:
# its timing hangs on the load of the machine (see the README).
ctest --test-dir build/native-asan --output-on-failure -j2 "${stress[@]}"
# Every layout of xkb-data beside libxkbcommon, in the optimized build (the
# sanitizers' build leaves this one out: it would take ten times as long).
ctest --test-dir build/native --output-on-failure -R '^XkbOracle\.EveryLayoutTypesWhatLibxkbcommonTypes$'
