#!/usr/bin/env bash
# End-to-end test of velto64.dll under Wine: real hooks, real key events.
#
# Starts Xvfb on a free display and the controller (velto-wine-controller.exe)
# in a fresh Wine prefix, gives a window the X focus, presses keys with
# xdotool (XTEST, as a keyboard would) and compares what the window's EDIT
# control received with what the keyboard description should type. The
# programs write their EDIT's text to a file on every change.
#
# Part 1 types into the controller's own EDIT; part 2 into a second process
# (the same program with --target, without the library), which the library
# reaches only through its global hooks and the shared region.
#
# Usage: run_wine_test.sh WIN64-BUILD-DIR
# Environment: VELTO_WINE (default /usr/lib/wine/wine64),
#              VELTO_WINESERVER (default /usr/lib/wine/wineserver64),
#              VELTO_KEEP_TMP=1 keeps the temporary directory.
set -uo pipefail

build="${1:?usage: run_wine_test.sh WIN64-BUILD-DIR}"
wine="${VELTO_WINE:-/usr/lib/wine/wine64}"
wineserver="${VELTO_WINESERVER:-/usr/lib/wine/wineserver64}"
started=$SECONDS

say() { printf '[%3ds] %s\n' $((SECONDS - started)) "$*"; }

for tool in "$wine" "$wineserver" Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    say "FAIL: $tool is not installed (scripts/deps.sh wine)"
    exit 1
  fi
done
for file in "$build/velto64.dll" "$build/velto-wine-controller.exe"; do
  if [ ! -f "$file" ]; then
    say "FAIL: $file is missing (scripts/build.sh win64)"
    exit 1
  fi
done

tmp="$(mktemp -d /tmp/velto-wine.XXXXXX)"
export WINEPREFIX="$tmp/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer dialogs
export LC_ALL=C.UTF-8
xvfb_pid=""
pids=()

cleanup() {
  local pid
  for pid in "${pids[@]}"; do
    kill -0 "$pid" 2>/dev/null && kill "$pid" 2>/dev/null
  done
  if [ -d "$WINEPREFIX" ]; then
    timeout 30 "$wineserver" -k 2>/dev/null
    timeout 30 "$wineserver" -w 2>/dev/null
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  if [ "${VELTO_KEEP_TMP:-0}" = 1 ]; then
    echo "kept $tmp"
  else
    rm -rf "$tmp"
  fi
}
trap cleanup EXIT

# All waits end by this time, so that a failing run still cleans up before
# the CTest timeout (300 s) stops it.
budget_end=$((started + 270))

# wait_until SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds.
wait_until() {
  local deadline=$((SECONDS + $1))
  [ "$deadline" -le "$budget_end" ] || deadline=$budget_end
  shift
  while ! "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

failures=0
check() {  # check NAME STATUS DETAILS: STATUS 0 passes
  if [ "$2" = 0 ]; then
    say "ok   $1"
  else
    say "FAIL $1: $3"
    failures=$((failures + 1))
  fi
}

# The programs' stdout, without the carriage returns of Wine's text mode.
lines() { tr -d '\r' <"$1"; }

# --- X server ----------------------------------------------------------------------
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
if ! wait_until 30 test -s "$tmp/display"; then
  say "FAIL: Xvfb did not start"; cat "$tmp/xvfb.log"; exit 1
fi
export DISPLAY=":$(head -1 "$tmp/display")"
say "Xvfb on $DISPLAY"

# --- Wine prefix -------------------------------------------------------------------
if ! timeout 150 "$wine" wineboot --init >"$tmp/wineboot.log" 2>&1; then
  say "FAIL: wineboot did not finish"; tail -20 "$tmp/wineboot.log"; exit 1
fi
timeout 60 "$wineserver" -w
say "Wine prefix ready"

mkdir -p "$tmp/bin"
cp "$build/velto64.dll" "$build/velto-wine-controller.exe" "$tmp/bin/"

# start NAME FIRST-ARGUMENT TITLE: runs the program, waits for its READY line
# and its X window; sets $window, $out and $log for the cases below.
start() {
  local name="$1" first="$2" title="$3"
  out="$tmp/$name.txt"
  log="$tmp/$name.log"
  (cd "$tmp/bin" && exec "$wine" velto-wine-controller.exe "$first" "Z:${out//\//\\}" 200) >"$log" 2>&1 &
  pids+=($!)
  eval "${name}_pid=$!"
  if ! wait_until 60 grep -q '^READY' "$log"; then
    say "FAIL: $name did not start"; cat "$log"; exit 1
  fi
  window=""
  find_window() {
    window="$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -1)"
    [ -n "$window" ]
  }
  if ! wait_until 30 find_window; then
    say "FAIL: no X window '$title'"; cat "$log"; exit 1
  fi
  eval "${name}_window=$window"
  say "$name: $(lines "$log" | grep -E '^(WINDOW|READY)' | tr '\n' ' ')X window $window"
}

# use NAME: the program that the following keys go to.
use() {
  window="$(eval echo "\$${1}_window")"
  out="$tmp/$1.txt"
  log="$tmp/$1.log"
  commands="$(lines "$log" | grep -c '^CMD ')"
  wait_until 20 focus || { say "FAIL: cannot give window $window the focus"; exit 1; }
  sleep 0.5  # Wine takes the FocusIn and activates the window
}

focus() {
  timeout 10 xdotool windowfocus --sync "$window" 2>/dev/null
  [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ]
}

text() { cat "$out" 2>/dev/null; }
text_is() { [ "$(text)" = "$1" ]; }
notes() { lines "$log" | grep -c '^NOTE '; }
more_notes_than() { [ "$(notes)" -gt "$1" ]; }

# press_command KEY [EXPECTED-STATE]: presses a command key and waits for its
# "CMD n KEY ..." line, which must report EXPECTED-STATE (if given).
press_command() {
  commands=$((commands + 1))
  xdotool key "$1"
  if ! wait_until 10 grep -q "^CMD $commands " "$log"; then
    check "command $1" 1 "no reply"
    return
  fi
  local line
  line="$(lines "$log" | grep "^CMD $commands ")"
  if [ $# -gt 1 ]; then
    [ "$line" = "CMD $commands $1 $2" ]
    check "command $1 -> $2" $? "$line"
  fi
}

# hotkey MODIFIER KEY EXPECTED-STATE: presses a hotkey of the description
# and waits for the controller's notification, which must report
# EXPECTED-STATE. (Pressed key by key: "xdotool key ctrl+F1" lets go of Ctrl
# before F1, and a hotkey acts on the release of its key.)
hotkey() {
  local before line
  before="$(notes)"
  focus
  xdotool keydown "$1" keydown "$2" keyup "$2" keyup "$1"
  if wait_until 10 more_notes_than "$before"; then
    line="$(lines "$log" | grep '^NOTE ' | tail -1)"
    [ "$line" = "NOTE $3" ]
    check "hotkey $1+$2 notifies $3" $? "the notification says '$line'"
  else
    check "hotkey $1+$2 notifies $3" 1 "no notification"
  fi
}

# case_ NAME EXPECTED KEY...: types the keys into the empty EDIT, waits (6 s
# at most) for it to hold EXPECTED, then clears it (F11).
case_() {
  local name="$1" expected="$2"
  shift 2
  focus
  xdotool key --delay 80 "$@"
  wait_until 6 text_is "$expected"
  check "$name: $* -> '$expected'" $? "the EDIT holds '$(text)'"
  press_command F11
  wait_until 6 text_is "" || check "clearing the EDIT" 1 "it still holds '$(text)'"
}

# stop NAME: F12 to the program; checks its exit.
stop() {
  local pid
  pid="$(eval echo "\$${1}_pid")"
  commands=$((commands + 1))
  xdotool key F12
  wait_until 20 grep -q '^EXIT' "$log"
  check "$1 ends on F12" $? "$(lines "$log" | tail -3 | tr '\n' ' ')"
  if wait_until 20 bash -c "! kill -0 $pid 2>/dev/null"; then
    wait "$pid"
    local rc=$?
    check "$1 exit code 0" "$rc" "exit code $rc"
  else
    check "$1 exits" 1 "still running"
  fi
}

state() { echo "hooked=1 enabled=$1 layout=$2 name=$3 size=83400"; }

# --- Part 1: the controller's own EDIT ---------------------------------------------
start controller velto64.dll velto-wine-controller
[ "$(lines "$log" | grep '^READY')" = "READY $(state 1 0 WineTest)" ]
check "after _InstallHook, _SetupKeyboard, _Enable(1)" $? "$(lines "$log" | grep '^READY')"
use controller

case_ "translated letters" "qxjv" a s d f
case_ "left Shift column" "QXJ" shift+a shift+s shift+d
case_ "keys without translation type as usual" "k12 3," k 1 2 space 3 comma
case_ "translated and untranslated keys keep their order" "q1x2jk" a 1 s 2 d k
case_ "dead key with a vowel composes" "êô" grave e grave o
case_ "macro: posted text and synthesized cursor keys" "sZad" m
# The macro leaves the cursor after its Z: the next key types there.
case_ "macro between typed keys" "qsZ1ad" a m 1

press_command F9 "$(state 1 1 Second)"
case_ "second layout (_ToggleLayout)" "kyd" a s d
press_command F9 "$(state 1 0 WineTest)"
press_command F8 "$(state 0 0 WineTest)"
case_ "translation disabled (_Enable(0)): keys type as usual" "asm" a s m
press_command F8 "$(state 1 0 WineTest)"
case_ "translation enabled again" "qx" a s

hotkey ctrl F1 "$(state 1 1 Second)"
case_ "second layout (layout hotkey)" "kyd" a s d
hotkey ctrl F1 "$(state 1 0 WineTest)"
hotkey ctrl F2 "$(state 0 0 WineTest)"
case_ "translation disabled (disable hotkey)" "as" a s
hotkey ctrl F3 "$(state 1 0 WineTest)"
case_ "translation enabled (enable hotkey)" "qx" a s

# --- Part 2: another process -------------------------------------------------------
start target --target velto-wine-target
use target
case_ "other process: translated and untranslated keys" "qxj1k" a s d 1 k
case_ "other process: Shift column" "QV" shift+a shift+f
case_ "other process: dead key with a vowel" "ê" grave e
case_ "other process: macro played from the controller's timer" "sZad" m
stop target

use controller
case_ "controller again after the other process ended" "qx" a s
press_command F7  # the region's key-tracking fields, for the log below
stop controller
line="$(lines "$log" | grep '^CMD .* F12 ')"
[[ "$line" == "CMD "*" F12 hooked=0 "* ]]
check "after _RemoveHook: hooked=0" $? "$line"

say "controller log:"
lines "$tmp/controller.log" | sed 's/^/    /'
if [ "$failures" -ne 0 ]; then
  say "$failures check(s) failed"
  exit 1
fi
say "all checks passed"
