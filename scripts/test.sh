#!/usr/bin/env bash
# Builds everything (Linux with the sanitizers, and both Windows targets) and
# runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh native mingw wine
scripts/build.sh native-asan
scripts/build.sh win32
scripts/build.sh win64

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/native-asan --output-on-failure -j2
