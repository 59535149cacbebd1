#!/usr/bin/env bash
# Velto in a minute: veltoctl with the built-in layouts (US, and US
# International) types into Wine's own notepad, through real key events on a
# virtual X display. Prints the keys typed beside what notepad received, and
# saves a screenshot of notepad (where ImageMagick could be installed: it is
# optional, and without it the demo says why it took none).
#
# Usage: scripts/demo.sh [--verbose]
set -uo pipefail
cd "$(dirname "$0")/.."

verbose=0
case "${1:-}" in
  --verbose) verbose=1 ;;
  "") ;;
  *) echo "usage: scripts/demo.sh [--verbose]" >&2; exit 2 ;;
esac
root="$PWD"
started=$SECONDS

# prepare WHAT COMMAND...: runs a step of the preparation, quietly (into
# build/demo/prepare.log) unless --verbose; a failure is told in two lines:
# what failed with apt's or the compiler's words, and the command to run.
mkdir -p build/demo
prepare_log="$root/build/demo/prepare.log"
prepare() {
  local what="$1" why=""
  shift
  if [ "$verbose" = 1 ]; then
    "$@" && return 0
  else
    "$@" >"$prepare_log" 2>&1 && return 0
    echo "failed."
    why="$(grep -m1 -E 'error:|Error|cannot|Unable' "$prepare_log")" || why="$(grep -v '^ *$' "$prepare_log" | tail -1)"
    why="${why#deps.sh: }"
  fi
  echo "The demo stopped: $what failed${why:+: $why}" >&2
  echo "Run $* to see why." >&2
  exit 1
}

echo "Velto demo: the international layout typed into Wine's notepad."
printf 'Preparing (packages, build, a virtual display and Wine)... '
[ "$verbose" = 1 ] && echo
prepare "installing the packages" scripts/deps.sh mingw wine demo
prepare "building the 64-bit library and veltoctl.exe" scripts/build.sh win64
build="$root/build/win64"
VELTO_BUDGET=120 source tests/wine/wine_env.sh
say() { if [ "$verbose" = 1 ] || [[ "$1" == FAIL* ]]; then printf '[%3ds] %s\n' $((SECONDS - started)) "$*"; fi; }
[ "$verbose" = 1 ] || echo "done ($((SECONDS - started)) s)."

bin="$tmp/bin"
mkdir -p "$bin"
cp "$build/velto64.dll" "$build/veltoctl.exe" "$build/velto-window-text.exe" "$bin/"
mkfifo "$tmp/ctl.in"
(cd "$bin" && exec "$wine" veltoctl.exe --layout 1 <"$tmp/ctl.in" >"$tmp/ctl.log" 2>&1) &
ctl_pid=$!
track $ctl_pid
exec 7>"$tmp/ctl.in"
log_has() { lines "$tmp/ctl.log" | grep -qF -- "$1"; }
if ! wait_until 30 log_has "Velto is running"; then
  echo "veltoctl did not start:" >&2; lines "$tmp/ctl.log" >&2; exit 1
fi
echo
lines "$tmp/ctl.log" | head -1 | sed 's/^/veltoctl: /'

(cd "$bin" && exec "$wine" notepad) >/dev/null 2>&1 &
track $!
notepad_window() { window="$(xdotool search --onlyvisible --name "Notepad" 2>/dev/null | head -1)"; [ -n "$window" ]; }
if ! wait_until 60 notepad_window || ! wait_until 20 focus; then
  echo "notepad did not open" >&2; exit 1
fi
sleep 0.5
say "notepad is X window $window"
text() { (cd "$bin" && "$wine" velto-window-text.exe Notepad) 2>/dev/null | tr -d '\r'; }

# type WHAT KEYS...: presses the keys, waits for notepad's text to settle and
# prints the keys beside what arrived.
before=""
step() {
  local what="$1" now="" last=""
  shift
  "$@"
  for _ in $(seq 1 30); do
    sleep 0.2
    now="$(text)"
    [ "$now" = "$last" ] && [ "$now" != "$before" ] && break
    last="$now"
  done
  local got="${now#"$before"}"
  printf '  %-34s %s\n' "$what" "${got//$'\n'/⏎}"
  before="$now"
}
typed() { xdotool type --delay 70 "$1"; }
ralt() { xdotool keydown "$right_alt" key "$1" keyup "$right_alt"; }

echo
printf '  %-34s %s\n' "keys typed" "notepad received"
printf '  %-34s %s\n' "----------" "----------------"
step "Velto types" typed "Velto types"
step "caf'e, na\"ive, ~nino (dead keys)" typed " caf'e, na\"ive, ~nino"
step "right Alt + 5, right Alt + s" eval 'typed " "; ralt 5; ralt s'
step "right Alt + g (a macro)" eval 'typed " "; ralt g'

shot="$root/build/demo/notepad.png"
echo
if ! command -v import >/dev/null; then
  why="ImageMagick's import is not installed (scripts/deps.sh demo)"
  [ -s build/deps/screenshot.unavailable ] && why="$(head -1 build/deps/screenshot.unavailable)"
  echo "No screenshot was taken: $why."
elif ! import -window "$window" "$shot" 2>"$tmp/import.err"; then
  echo "No screenshot was taken: import failed ($(head -1 "$tmp/import.err"))."
else
  echo "Screenshot of notepad: $shot"
fi
echo quit >&7
wait_until 10 eval '! kill -0 $ctl_pid 2>/dev/null'
[ "$verbose" = 1 ] && { echo "veltoctl's output:"; lines "$tmp/ctl.log" | sed 's/^/    /'; }
echo "Done in $((SECONDS - started)) s; every process the demo started is stopped."
