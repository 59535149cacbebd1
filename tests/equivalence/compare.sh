#!/usr/bin/env bash
# Shows that the engine of the working tree behaves exactly as the engine of
# an earlier commit: both replay the same random lives (tests/equivalence/
# trace.cpp) on every shipped layout and the benchmarks' macros, once as
# compiled and once stripped of their character sets, and their traces (every
# platform call in order, the region's digest after each step) must be
# identical.
#
# Usage: tests/equivalence/compare.sh BASE-COMMIT [SEEDS] [STEPS]
#        (default 20 seeds of 3000 steps; needs a native build for the layouts;
#        the BASE commit's trace program and engine are built from its own
#        src/, tests/ and tools/)
# Environment: VELTO_SKIP_CALLS, platform calls left out of both traces (a
# pattern for grep -E, e.g. "GetClassName"): for a change that makes a call
# only where its answer can differ. VELTO_UNMARKED_ONLY=1: only the
# descriptions without character sets, for a base from before them.
set -euo pipefail
cd "$(dirname "$0")/../.."

base="${1:?usage: compare.sh BASE-COMMIT [SEEDS] [STEPS]}"
seeds="${2:-20}"
steps="${3:-3000}"
layouts=(build/native/layouts/intl.vkb build/native/layouts/de.vkb build/native/layouts/ru-phonetic.vkb
         build/native/bench/macros.vkb)
for vkb in "${layouts[@]}"; do
  [ -f "$vkb" ] || { echo "compare.sh: $vkb is missing (scripts/build.sh native)" >&2; exit 1; }
done

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/base"

# The descriptions also as a controller without character sets would write
# them: bytes 8..37 of each layout record zero, so no layout carries a set and
# the engine must behave exactly as before them. (A set changes by design what
# reaches the window; tests/charset_test.cpp covers that.)
unmarked=()
for vkb in "${layouts[@]}"; do
  copy="$tmp/unmarked-$(basename "$vkb")"
  cp "$vkb" "$copy"
  for layout in 0 1 2 3; do
    dd if=/dev/zero of="$copy" bs=1 seek=$((528 + 14336 + layout * 90 + 8)) count=30 conv=notrunc status=none
  done
  # No layout of it composes through a table of compositions: the five blocks alone.
  truncate -s 81528 "$copy"
  unmarked+=("$copy")
done
if [ "${VELTO_UNMARKED_ONLY:-0}" = 1 ]; then
  layouts=("${unmarked[@]}")
else
  layouts+=("${unmarked[@]}")
fi
git archive "$base" src tests tools | tar -x -C "$tmp/base"

# Each side is built from its own tree alone: its trace program, its harness
# and simulated system (tools/simharness/ and tools/sim/, where the tree has
# them) and every source under src/ but the Windows back end, whatever
# folders and build targets they sit in.
# The library's timer ticks on without stopping when idle (VELTO_STEADY_TIMER),
# as it did before it could: when it sleeps is compared by its own tests.
# They go into an archive, so the linker takes only the members the program
# needs: the trace's recording platform stands in for the simulator's, which
# is never pulled in.
build() {  # TREE OUTPUT
  local tree="$1" objects="$2.objects" sources=() dirs=(src) file object
  [ -d "$tree/tools/simharness" ] && dirs+=(tools/simharness)
  [ -d "$tree/tools/sim" ] && dirs+=(tools/sim)
  mkdir -p "$objects"
  while read -r file; do sources+=("$file"); done < <(
    cd "$tree" && find "${dirs[@]}" -name '*.cpp' -not -path 'src/win32/*' -not -path 'src/platform/win32/*' | sort)
  # How a description hands its blocks over (with its composition table).
  [ -f "$tree/tools/layoutkit/layout_builder.cpp" ] && sources+=(tools/layoutkit/layout_builder.cpp)
  for file in "${sources[@]}"; do
    object="$objects/${file//\//_}.o"
    g++ -std=c++20 -O2 -w -DVELTO_STEADY_TIMER -I"$tree/src" -I"$tree/tools" -c "$tree/$file" -o "$object"
  done
  ar rcs "$objects/engine.a" "$objects"/*.o
  g++ -std=c++20 -O2 -w -I"$tree/src" -I"$tree/tools" -o "$2" "$tree/tests/equivalence/trace.cpp" \
    "$objects/engine.a"
}
build "$tmp/base" "$tmp/trace-base" &
base_build=$!
build . "$tmp/trace-new"
wait "$base_build" || { echo "compare.sh: the trace program of $base does not build" >&2; exit 1; }

filter() {
  if [ -n "${VELTO_SKIP_CALLS:-}" ]; then grep -Ev "^(${VELTO_SKIP_CALLS})( |$)" || true; else cat; fi
}

failed=0
for vkb in "${layouts[@]}"; do
  for seed in $(seq 1 "$seeds"); do
    "$tmp/trace-base" "$seed" "$steps" "$vkb" 2>&1 | filter >"$tmp/a"
    "$tmp/trace-new" "$seed" "$steps" "$vkb" 2>&1 | filter >"$tmp/b"
    if ! cmp -s "$tmp/a" "$tmp/b"; then
      echo "DIFFERENT: $(basename "$vkb") seed $seed, first difference:"
      diff "$tmp/a" "$tmp/b" | head -20
      failed=1
      break
    fi
  done
done
lines=$(wc -l <"$tmp/a")
if [ "$failed" -eq 0 ]; then
  echo "same: ${#layouts[@]} descriptions x $seeds seeds x $steps steps ($lines trace lines in the last)"
fi
exit "$failed"
