#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS on a working copy of
# its seed corpus (tests/fuzz/corpus/TARGET and the source files that seed it,
# copied to build/fuzz/corpus/TARGET, so that fuzzing never writes into the
# sources). Prints one line per target;
# exits non-zero if any target found a fault (its input is saved under
# build/fuzz/findings/TARGET/).
# Usage: scripts/fuzz.sh [SECONDS [TARGET...]]   (default 60 seconds, every target)
#        scripts/fuzz.sh 600 keys_fuzz            (one target, ten minutes)
# VELTO_FUZZ_FLAGS adds libFuzzer flags, e.g. "-fork=1 -ignore_crashes=1" to
# go on after a fault and collect every input that breaks something.
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(region_fuzz keys_fuzz macro_fuzz vkl_fuzz klc_fuzz)
seconds="${1:-60}"
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")
for target in "${targets[@]}"; do
  case " ${all_targets[*]} " in
    *" $target "*) ;;
    *) echo "fuzz.sh: unknown target '$target' (targets: ${all_targets[*]})" >&2; exit 2 ;;
  esac
done

# The longest input worth trying: a region image or a keyboard description
# with events after it, a macro, a layout source.
max_len() {
  case "$1" in
    region_fuzz | keys_fuzz) echo 90000 ;;
    macro_fuzz) echo 300 ;;
    *) echo 16384 ;;
  esac
}

# Source files that are seeds as they are: the shipped layouts and the .klc
# test files are taken from where they live, not kept twice.
source_seeds() {
  case "$1" in
    vkl_fuzz) echo layouts/*.vkl ;;
    klc_fuzz) echo tests/data/klc/*.klc ;;
  esac
}

scripts/deps.sh native fuzz
CXX=clang++-14 cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTO_FUZZ=ON >/dev/null
cmake --build build/fuzz -j2 --target "${targets[@]}"

export VELTO_SIM_SHM_PREFIX="velto-fuzz-$$-"
trap 'rm -f /dev/shm/${VELTO_SIM_SHM_PREFIX}*' EXIT
status=0
for target in "${targets[@]}"; do
  corpus="build/fuzz/corpus/$target"
  findings="build/fuzz/findings/$target"
  log="build/fuzz/$target.log"
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings"
  if [ -d "tests/fuzz/corpus/$target" ]; then
    cp -n "tests/fuzz/corpus/$target"/* "$corpus"/ 2>/dev/null || true
  fi
  for seed in $(source_seeds "$target"); do
    cp -n "$seed" "$corpus"/
  done
  start=$SECONDS
  result=ok
  if ! "build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -max_len="$(max_len "$target")" \
      -print_final_stats=1 -artifact_prefix="$findings/" ${VELTO_FUZZ_FLAGS:-} "$corpus" >"$log" 2>&1; then
    result="FAULT (see $log and $findings/)"
    status=1
  fi
  executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  # A forked run reports its progress only: "#EXECUTIONS: cov: ...".
  [ -n "$executions" ] || executions="$(sed -n 's/^#\([0-9]*\): cov.*/\1/p' "$log" | tail -1)"
  found="$(find "$findings" -type f | wc -l)"
  [ "$found" -eq 0 ] || { result="FAULT ($found inputs in $findings/)"; status=1; }
  inputs="$(find "$corpus" -type f | wc -l)"
  echo "$target: ${executions:-?} executions in $((SECONDS - start)) s, corpus $inputs inputs: $result"
  [ "$result" = ok ] || tail -40 "$log"
done
exit $status
