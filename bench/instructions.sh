#!/usr/bin/env bash
# The engine's instructions per keystroke, counted by callgrind on fixed
# streams (bench/keycount.cpp): only the keyboard hook, the message hook and
# the timer procedure are counted, with the platform calls they make.
#
# Usage: bench/instructions.sh BUILD-DIR            prints the counts
#        bench/instructions.sh BUILD-DIR --check    fails when a count is more
#                                                   than 10% over the baseline
#        bench/instructions.sh BUILD-DIR --update   writes the counts as the
#                                                   new baseline
# BUILD-DIR is an optimized build without sanitizers (scripts/build.sh native).
# The baseline is bench/instructions.baseline: STREAM COUNT per line. Counts
# depend on the compiler and its flags; the baseline is this machine's
# (Debian's g++ 12, RelWithDebInfo).
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:?usage: bench/instructions.sh BUILD-DIR [--check|--update]}"
mode="${2:-print}"
baseline=bench/instructions.baseline
tolerance=10  # percent
streams=(german plain deadkey compose passed macro message tick)

case "$mode" in
  print|--check|--update) ;;
  *) echo "instructions.sh: unknown option '$mode'" >&2; exit 2 ;;
esac
if ! command -v valgrind >/dev/null; then
  echo "instructions.sh: valgrind is missing (scripts/deps.sh bench)" >&2
  exit 1
fi
if [ ! -x "$build/keycount" ]; then
  echo "instructions.sh: $build/keycount is missing (scripts/build.sh native)" >&2
  exit 1
fi

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

declare -A counts units
for stream in "${streams[@]}"; do
  if ! valgrind --tool=callgrind --callgrind-out-file="$tmp/$stream.out" --collect-atstart=no \
      --toggle-collect='velto::KeyboardHookProc(*' --toggle-collect='velto::GetMessageHookProc(*' \
      --toggle-collect='velto::TimerProc(*' "$build/keycount" "$stream" >"$tmp/$stream.txt" 2>"$tmp/$stream.err"; then
    cat "$tmp/$stream.err" >&2
    echo "instructions.sh: keycount $stream failed" >&2
    exit 1
  fi
  read -r n unit <"$tmp/$stream.txt"
  total="$(sed -n 's/^totals: *//p' "$tmp/$stream.out")"
  counts[$stream]=$(( (total + n / 2) / n ))
  units[$stream]="$unit"
done

status=0
printf '%-8s %10s  %s\n' stream count "per"
for stream in "${streams[@]}"; do
  line="$(printf '%-8s %10d  %s' "$stream" "${counts[$stream]}" "${units[$stream]}")"
  if [ "$mode" = --check ]; then
    base="$(awk -v s="$stream" '$1 == s { print $2 }' "$baseline")"
    if [ -z "$base" ]; then
      line+="   (no baseline)"
      status=1
    else
      limit=$(( base + base * tolerance / 100 ))
      line+="$(printf '   baseline %d' "$base")"
      if [ "${counts[$stream]}" -gt "$limit" ]; then
        line+="  MORE THAN ${tolerance}% OVER"
        status=1
      fi
    fi
  fi
  echo "$line"
done

if [ "$mode" = --update ]; then
  {
    echo "# Instructions per unit of bench/keycount.cpp's streams (bench/instructions.sh)."
    for stream in "${streams[@]}"; do echo "$stream ${counts[$stream]}"; done
  } >"$baseline"
  echo "wrote $baseline"
fi
if [ "$status" -ne 0 ]; then
  echo "instructions.sh: the engine's instruction counts grew beyond the baseline" >&2
fi
exit "$status"
