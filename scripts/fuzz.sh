#!/usr/bin/env bash
# Builds the fuzz target with clang and runs it.
# Usage: scripts/fuzz.sh [SECONDS]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
scripts/deps.sh native fuzz
CXX=clang++-14 cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTO_FUZZ=ON >/dev/null
cmake --build build/fuzz --target region_fuzz
mkdir -p build/fuzz/corpus
export VELTO_SIM_SHM_PREFIX="velto-fuzz-$$-"
trap 'rm -f /dev/shm/${VELTO_SIM_SHM_PREFIX}*' EXIT
build/fuzz/region_fuzz -max_total_time="$seconds" -timeout=10 -max_len=90000 -print_final_stats=1 build/fuzz/corpus
