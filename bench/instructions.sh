#!/usr/bin/env bash
# The engine's instructions per keystroke, counted by callgrind on fixed
# streams (bench/keycount.cpp): only the keyboard hook, the message hook and
# the timer procedure are counted, with the platform calls they make. And
# the calls into the system per keystroke, by kind, counted by a stand-in
# platform (callcount, the same streams) in the thread that installed the
# hooks, where the most is asked. GetCurrentThreadId (it reads the thread's
# own block) and ReadHookedMessage (memory) are shown but not checked.
#
# Usage: bench/instructions.sh BUILD-DIR            prints the counts
#        bench/instructions.sh BUILD-DIR --check    fails when a count is more
#                                                   than 10% over the baseline
#        bench/instructions.sh BUILD-DIR --update   writes the counts as the
#                                                   new baseline
# BUILD-DIR is an optimized build without sanitizers (scripts/build.sh native).
# The baseline is bench/instructions.baseline: STREAM COUNT per line, and
# "calls STREAM KIND PER-UNIT" for the calls. Counts
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
for program in keycount callcount; do
  if [ ! -x "$build/$program" ]; then
    echo "instructions.sh: $build/$program is missing (scripts/build.sh native)" >&2
    exit 1
  fi
done

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
  # Calls per unit by kind, those made at all: "KIND PER-UNIT" lines.
  "$build/callcount" "$stream" --hook-thread |
    awk 'NR == 1 { n = $1; next } $2 > 0 { printf "%s %.2f\n", $1, $2 / n }' >"$tmp/$stream.calls"
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

unchecked='GetCurrentThreadId|ReadHookedMessage'
echo
printf '%-8s %9s  %s\n' stream calls "per unit, by kind (not counting ${unchecked//|/ and })"
for stream in "${streams[@]}"; do
  checked="$(grep -Ev "^($unchecked) " "$tmp/$stream.calls" || true)"
  sum="$(awk '{ s += $2 } END { printf "%.2f", s }' <<<"$checked")"
  printf '%-8s %9s  %s\n' "$stream" "$sum" "$(tr '\n' ' ' <"$tmp/$stream.calls")"
  [ "$mode" = --check ] || continue
  # Each kind within the tolerance of its baseline (and a kind that was not
  # called before is a kind too many).
  while read -r kind per; do
    [ -n "$kind" ] || continue
    base="$(awk -v s="$stream" -v k="$kind" '$1 == "calls" && $2 == s && $3 == k { print $4 }' "$baseline")"
    if ! awk -v c="$per" -v b="${base:-0}" -v t="$tolerance" 'BEGIN { exit !(c <= b * (1 + t / 100) + 0.005) }'; then
      echo "  $stream: $kind $per per ${units[$stream]}, baseline ${base:-none}: MORE THAN ${tolerance}% OVER"
      status=1
    fi
  done <<<"$checked"
done

if [ "$mode" = --update ]; then
  {
    echo "# Instructions per unit of bench/keycount.cpp's streams (bench/instructions.sh)."
    for stream in "${streams[@]}"; do echo "$stream ${counts[$stream]}"; done
    echo "# Platform calls per unit, by kind, in the thread that installed the hooks (callcount)."
    for stream in "${streams[@]}"; do
      grep -Ev "^($unchecked) " "$tmp/$stream.calls" | sed "s/^/calls $stream /" || true
    done
  } >"$baseline"
  echo "wrote $baseline"
fi
if [ "$status" -ne 0 ]; then
  echo "instructions.sh: the engine's instructions or platform calls grew beyond the baseline" >&2
fi
exit "$status"
