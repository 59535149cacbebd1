#!/usr/bin/env bash
# Runs every benchmark and writes a short report (build/bench-report.md,
# also printed): the engine's benchmarks on the null platform, the
# side-by-side run against libxkbcommon, the instruction counts per
# keystroke, and the measurements under Wine (latency, macro play times, the
# controller's idle CPU use). Keep the machine otherwise idle while it runs.
#
# Usage: scripts/bench.sh [--no-wine]
set -euo pipefail
cd "$(dirname "$0")/.."

wine=1
case "${1:-}" in
  "") ;;
  --no-wine) wine=0 ;;
  *) echo "usage: scripts/bench.sh [--no-wine]" >&2; exit 2 ;;
esac

groups=(native bench)
[ "$wine" = 1 ] && groups+=(mingw wine wine-bench)
scripts/deps.sh "${groups[@]}"
scripts/build.sh native >/dev/null
[ "$wine" = 1 ] && scripts/build.sh win64 >/dev/null

report=build/bench-report.md
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

echo "benchmarks on the null platform..." >&2
build/native/engine_bench --benchmark_min_time=0.5 2>/dev/null | grep '^BM_' >"$tmp/engine"
echo "side by side with libxkbcommon..." >&2
build/native/side_by_side 31 >"$tmp/side"
echo "instruction counts..." >&2
bench/instructions.sh build/native --check >"$tmp/counts" || true
if [ "$wine" = 1 ]; then
  echo "under Wine..." >&2
  bench/wine_latency.sh build/win64 >"$tmp/wine" || echo "(the Wine measurements failed)" >"$tmp/wine"
fi

cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
{
  echo "# Velto benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo
  echo "Machine: $cpu, $(nproc) cores, Linux $(uname -r); $(g++ --version | head -1);"
  echo "engine built RelWithDebInfo (-O2) with link-time optimization."
  echo
  echo "## Side by side: 10,000 keys of German text"
  echo '```'
  cat "$tmp/side"
  echo '```'
  echo
  echo "## Engine on the null platform (Google Benchmark)"
  echo '```'
  cat "$tmp/engine"
  echo '```'
  echo
  echo "## Instructions (callgrind; hook and timer procedures with their platform calls)"
  echo '```'
  cat "$tmp/counts"
  echo '```'
  if [ "$wine" = 1 ]; then
    echo
    echo "## Under Wine"
    echo
    cat "$tmp/wine"
  fi
} >"$report"
cat "$report"
