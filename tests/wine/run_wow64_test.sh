#!/usr/bin/env bash
# Both architectures side by side under Wine, as on 64-bit Windows: one
# 64-bit prefix in which 32-bit and 64-bit programs share one wineserver and
# the named region. One veltoctl starts the companion of the other
# architecture; Wine's own 32-bit and 64-bit notepad are typed into one after
# the other, with real key events from xdotool:
#
#   - plain characters, dead keys, a right-Alt character and two macros
#     (one of them a chord, Shift+End) in each;
#   - the layout-toggle hotkey pressed in one and seen in the other;
#   - a burst of 500 keys into each;
#   - the companion killed, and started again by the controller; killed time
#     after time, given up (as 'state' says) and started again by 'companion';
#   - the controller killed: the companion goes too, and a new controller
#     takes over in both;
#   - 'quit': the last RemoveHook leaves both untranslated and no companion;
#   - a 32-bit veltoctl with the 64-bit companion;
#   - Cyrillic by the Russian phonetic layout, delivered as Unicode to both.
#
# Where this machine cannot run 32-bit programs, or Wine's 32-bit part is
# missing, it says so and exits 77 (skipped).
#
# Usage: run_wow64_test.sh WIN64-BUILD-DIR WIN32-BUILD-DIR
# Environment: VELTO_WINE32 (Wine's 32-bit loader, default /usr/lib/wine/wine),
#              VELTO_VELTOC (a veltoc that runs here, default the Windows
#              builds' build/host/veltoc), and those of wine_env.sh.
set -uo pipefail

build64="${1:?usage: run_wow64_test.sh WIN64-BUILD-DIR WIN32-BUILD-DIR}"
build32="${2:?usage: run_wow64_test.sh WIN64-BUILD-DIR WIN32-BUILD-DIR}"
started=$SECONDS
here="$(dirname "$0")"
wine32="${VELTO_WINE32:-/usr/lib/wine/wine}"

if ! reason="$("$here/wine32_ready.sh" "$wine32")"; then
  echo "SKIP: the WoW64 test, because $reason"
  exit 77
fi

build="$build64"  # the prefix is 64-bit: wine64 boots it
export VELTO_BUDGET="${VELTO_BUDGET:-600}"
source "$here/wine_env.sh"
source "$here/veltoctl_env.sh"
for file in "$build64"/{velto64.dll,veltoctl.exe,velto-companion64.exe,velto-window-text.exe} \
  "$build32"/{velto.dll,veltoctl.exe,velto-companion.exe}; do
  [ -f "$file" ] || { say "FAIL: $file is missing (scripts/build.sh win64 and win32)"; exit 1; }
done
say "Xvfb on $DISPLAY, 64-bit Wine prefix ready"

bin="$tmp/bin"
mkdir -p "$bin/x86"
cp "$build64"/{velto64.dll,veltoctl.exe,velto-companion64.exe,velto-window-text.exe} "$bin/"
cp "$build32"/{velto.dll,velto-companion.exe} "$bin/"
# The 32-bit controller, in a folder of its own with its library and the
# 64-bit companion.
cp "$build32"/{velto.dll,veltoctl.exe} "$build64"/{velto64.dll,velto-companion64.exe} "$bin/x86/"

# The shipped US International and Russian phonetic layouts, but without the
# Scroll Lock light as layout indicator: while Wine's Scroll Lock differs
# from the X server's, every key comes after a Scroll Lock press of Wine's
# own, which would stand between the two Shift keys of the layout hotkey.
veltoc="${VELTO_VELTOC:-$build64/../host/veltoc}"
mkdir -p "$tmp/src"
cp "$here/../../layouts/us.vkl" "$tmp/src/"
for name in intl ru-phonetic; do
  sed '/^option scroll-lock-shows-layout/d' "$here/../../layouts/$name.vkl" >"$tmp/src/$name.vkl"
  if ! "$veltoc" compile "$tmp/src/$name.vkl" -o "$bin/$name.vkb" >"$tmp/veltoc.log" 2>&1; then
    say "FAIL: $veltoc cannot compile $name.vkl: $(cat "$tmp/veltoc.log")"; exit 1
  fi
done
cp "$bin/intl.vkb" "$bin/x86/"

companions() { pgrep -f 'velto-companion(64)?\.exe' | wc -l; }
no_companion() { [ "$(companions)" = 0 ]; }

# start_ctl NAME DIR OTHER-ARCH [FILE]: a controller on layout 1 of FILE
# (intl.vkb) that reports its companion ready.
start_ctl() {
  run_ctl "$1" "$2" "${4:-intl.vkb}" --layout 1
  local log="$tmp/$1.log"
  wait_until 60 log_has "$log" "$3 applications are translated too"
  check "$1 runs with the $3 companion" $? "$(lines "$log")"
}

start_ctl ctl "$bin" 32-bit

# Notepad of each architecture, each on a file of its own so that the two
# windows can be told apart by their titles.
: >"$tmp/n64.txt"
: >"$tmp/n32.txt"
(cd "$tmp" && exec "$wine" notepad n64.txt) >/dev/null 2>&1 &
track $!
(cd "$tmp" && exec "$wine32" 'C:\windows\syswow64\notepad.exe' n32.txt) >/dev/null 2>&1 &
track $!
find_window() {  # find_window NAME: sets ${NAME}_window from the title "NAME.txt - Notepad"
  local w
  w="$(xdotool search --onlyvisible --name "^$1.txt - Notepad\$" 2>/dev/null | head -1)"
  [ -n "$w" ] && eval "${1}_window=$w"
}
for n in n64 n32; do
  wait_until 60 find_window "$n" || { say "FAIL: notepad for $n.txt did not open"; exit 1; }
done
# Side by side, so that a click reaches the one it is for (no window manager
# runs to activate a window otherwise).
xdotool windowmove "$n64_window" 0 0 windowsize "$n64_window" 500 400
xdotool windowmove "$n32_window" 512 0 windowsize "$n32_window" 500 400
say "notepad 64-bit window $n64_window, 32-bit window $n32_window"

use() {  # use NAME: the notepad that the next keys go to, activated by a click
  current="$1"
  window="$(eval echo "\$${1}_window")"
  xdotool mousemove --window "$window" 150 150 click 1
  wait_until 20 focus || { say "FAIL: cannot focus $1"; exit 1; }
  sleep 0.5
}
text() { (cd "$bin" && "$wine" velto-window-text.exe Notepad Edit "$current.txt - Notepad") 2>/dev/null | tr -d '\r'; }
arch() { [ "$1" = n32 ] && echo 32-bit || echo 64-bit; }

# types_translated WHAT: "'e" types é in the notepad in use.
types_translated() {
  clear_notepad
  xdotool type --delay 60 "'e"
  wait_until 10 text_is "é"
  check "$1" $? "$current holds '$(text)'"
}
types_untranslated() {
  clear_notepad
  xdotool type --delay 60 "'e"
  wait_until 10 text_is "'e"
  check "$1" $? "$current holds '$(text)'"
}

# --- Both notepads, one after the other ---------------------------------------------
for n in n32 n64 n32; do
  use "$n"
  clear_notepad
  xdotool type --delay 60 "caf'e, na\"ive "
  ralt 5 €
  xdotool type --delay 60 " "
  ralt g
  ralt j  # {HOME}{LSHIFT+END}: selects the line, which the next keys replace
  xdotool type --delay 60 "~n"
  expected=$'café, naïve € Best regards,\nñ'
  wait_until 15 text_is "$expected"
  check "$(arch "$n") notepad: dead keys, right Alt and macros, one a chord" $? \
    "$n: $(where_text_differs "$expected")"
done

use n64
xdotool keydown Shift_L keydown Shift_R keyup Shift_R keyup Shift_L
wait_until 10 log_has "$ctl_log" "layout 0 (US), translation on"
check "the layout hotkey in the 64-bit notepad reaches the controller" $? "$(lines "$ctl_log" | tail -2)"
use n32
types_untranslated "  ... and the 32-bit notepad types by layout 0"
xdotool keydown Shift_L keydown Shift_R keyup Shift_R keyup Shift_L
last_state_is_layout_1() { lines "$ctl_log" | grep '^layout' | tail -1 | grep -q '^layout 1 (US International)'; }
wait_until 10 last_state_is_layout_1
check "the hotkey in the 32-bit notepad switches back" $? "$(lines "$ctl_log" | tail -2)"
use n64
types_translated "  ... and the 64-bit notepad types by layout 1"

# types_exactly NOTEPAD DELAY KEYS EXPECTED WHAT: empties the notepad, types
# KEYS DELAY ms apart, and checks that it then holds EXPECTED.
types_exactly() {
  use "$1"
  clear_notepad
  xdotool type --delay "$2" "$3"
  wait_until 60 text_is "$4"
  check "$5" $? "$(where_text_differs "$4")"
}

burst=""
for i in $(seq 1 50); do burst+="key $((i % 10))'e "; done   # 8 keys each, 400 in all
burst+="$(printf 'abcdefghij%.0s' {1..10})"                     # and 100 more
expected="${burst//\'e/é}"
for n in n32 n64; do
  types_exactly "$n" 15 "$burst" "$expected" "$(arch "$n") notepad: a burst of 500 keys arrives whole and in order"
done

# --- The companion killed ------------------------------------------------------------
pkill -9 -f 'velto-companion\.exe'
wait_until 30 log_has "$ctl_log" "The 32-bit companion stopped"
check "the controller notices its companion killed" $? "$(lines "$ctl_log" | tail -2)"
ready_twice() { [ "$(lines "$ctl_log" | grep -c '32-bit applications are translated too')" = 2 ]; }
wait_until 30 ready_twice
check "  ... and starts it again" $? "$(lines "$ctl_log" | tail -3)"
use n32
types_translated "  ... and the 32-bit notepad is translated again"

# --- The companion given up ----------------------------------------------------------
# Killed time after time: after five starts within a minute the controller
# gives it up, says so in 'state', and 'companion' starts it again.
ready_count() { lines "$ctl_log" | grep -c '32-bit applications are translated too'; }
given_up() { log_has "$ctl_log" "times within a minute"; }
for _ in 1 2 3 4 5 6 7; do
  given_up && break
  before="$(ready_count)"
  pkill -9 -f 'velto-companion\.exe'
  back_or_given_up() { [ "$(ready_count)" -gt "$before" ] || given_up; }
  wait_until 30 back_or_given_up || break
done
given_up
check "the companion killed time after time is given up" $? "$(lines "$ctl_log" | tail -3)"
echo state >&"$ctl_fd"
wait_until 10 log_has "$ctl_log" "32-bit applications type untranslated (the companion was given up)"
check "  ... and 'state' says so" $? "$(lines "$ctl_log" | tail -2)"
before="$(ready_count)"
echo companion >&"$ctl_fd"
started_again() { [ "$(ready_count)" -gt "$before" ]; }
wait_until 30 started_again
check "  ... 'companion' starts it again" $? "$(lines "$ctl_log" | tail -3)"
use n32
types_translated "  ... and the 32-bit notepad is translated again"

# --- The controller killed -----------------------------------------------------------
kill -9 "$ctl_pid"
wait "$ctl_pid" 2>/dev/null
wait_until 20 no_companion
check "the companion ends with its controller" $? "$(companions) companion(s) still running"
start_ctl ctl2 "$bin" 32-bit
for n in n32 n64; do
  use "$n"
  types_translated "  ... and a new controller translates the $(arch "$n") notepad"
done

# --- The last RemoveHook -------------------------------------------------------------
quit_ctl ctl2 "'quit' stops the controller with status 0"
no_companion
check "  ... and its companion" $? "$(companions) companion(s) still running"
for n in n32 n64; do
  use "$n"
  types_untranslated "  ... and the $(arch "$n") notepad is no longer translated"
done

# --- A 32-bit controller with the 64-bit companion -----------------------------------
start_ctl ctl3 "$bin/x86" 64-bit
for n in n64 n32; do
  use "$n"
  types_translated "  ... which translates the $(arch "$n") notepad"
done
echo quit >&"$ctl3_fd"
wait_until 20 exited "$ctl3_pid"
wait_until 10 no_companion
check "  ... and stops it on 'quit'" $? "$(companions) companion(s) still running"

# --- Cyrillic into both, delivered as Unicode ----------------------------------------
start_ctl ctl4 "$bin" 32-bit ru-phonetic.vkb
for n in n32 n64; do
  types_exactly "$n" 60 "Privet mir" "Привет мир" \
    "  ... the Russian phonetic layout types Cyrillic into the $(arch "$n") notepad"
done
quit_ctl ctl4 "  ... and stops on 'quit'"

if [ "$failures" -ne 0 ]; then
  say "$failures check(s) failed"
  exit 1
fi
say "all checks passed"
