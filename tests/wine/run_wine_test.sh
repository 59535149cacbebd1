#!/usr/bin/env bash
# End-to-end test of the library under Wine: real hooks, real key events.
# A win64 build's velto64.dll runs under 64-bit Wine, a win32 build's
# velto.dll under 32-bit Wine in a 32-bit prefix (skipped, exit 77, where this
# machine cannot run 32-bit programs; see wine_env.sh).
#
# Starts Xvfb on a free display and the controller (velto-wine-controller.exe)
# in a fresh Wine prefix, gives a window the X focus, presses keys with
# xdotool (XTEST, as a keyboard would) and compares what the window's EDIT
# control received with what the keyboard description should type. The
# programs write their EDIT's text to a file on every change.
#
# Part 1 types into the controller's own EDIT; part 2 into a second process
# (the same program with --target, without the library), which the library
# reaches only through its global hooks and the shared region. Part 3 holds
# modifier and lock keys in the controller's EDIT: macros while right Alt is
# held (part 2 has some too, one of them with the other process slow to take
# its keys), Caps Lock as a momentary layout switch, the keypad with and
# without Num Lock. After a macro under right Alt no modifier may be left
# down: the programs report the key state on F7, and the controller watches
# it (and the lock states) all along.
#
# With "stress", it only lets go of right Alt at 0, 1, 2, 5, 10 and 20 ms
# after a key that types by a one-character macro, 50 times each, in the
# other process: each time the character arrives, a plain key after it types
# as usual, and after each 50 no modifier is down.
#
# Usage: run_wine_test.sh WIN64-OR-WIN32-BUILD-DIR [stress]
# Environment: VELTO_WINE, VELTO_WINESERVER (by default those of the build's
#              architecture, see wine_env.sh), VELTO_KEEP_TMP=1 keeps the
#              temporary directory, VELTO_NO_32BIT=1 skips a 32-bit build.
set -uo pipefail

build="${1:?usage: run_wine_test.sh WIN64-OR-WIN32-BUILD-DIR [stress]}"
mode="${2:-all}"
started=$SECONDS

source "$(dirname "$0")/wine_env.sh"
if [ ! -f "$build/velto-wine-controller.exe" ]; then
  say "FAIL: $build/velto-wine-controller.exe is missing (scripts/build.sh win$bits)"
  exit 1
fi

say "Xvfb on $DISPLAY"
say "Wine prefix ready ($bits-bit, $("$wine" --version 2>/dev/null | tr -d '\r'))"

mkdir -p "$tmp/bin"
cp "$build/$dll" "$build/velto-wine-controller.exe" "$tmp/bin/"

# start NAME FIRST-ARGUMENT TITLE: runs the program, waits for its READY line
# and its X window; sets $window, $out and $log for the cases below.
start() {
  local name="$1" first="$2" title="$3"
  out="$tmp/$name.txt"
  log="$tmp/$name.log"
  (cd "$tmp/bin" && exec "$wine" velto-wine-controller.exe "$first" "Z:${out//\//\\}" 200) >"$log" 2>&1 &
  pids+=($!)
  eval "${name}_pid=$!"
  if ! wait_until 60 grep -qs '^READY' "$log"; then
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

text() { cat "$out" 2>/dev/null; }
notes() { lines "$log" | grep -c '^NOTE '; }
more_notes_than() { [ "$(notes)" -gt "$1" ]; }

# press_command KEY [EXPECTED-STATE]: presses a command key and waits for its
# "CMD n KEY ..." line, which must report EXPECTED-STATE (if given). Fails
# when no reply comes; the count then goes on from the program's own.
press_command() {
  commands=$((commands + 1))
  xdotool key "$1"
  if ! wait_until 10 grep -q "^CMD $commands " "$log"; then
    check "command $1" 1 "no reply"
    commands="$(lines "$log" | grep -c '^CMD ')"
    return 1
  fi
  local line
  line="$(lines "$log" | grep "^CMD $commands ")"
  if [ $# -gt 1 ]; then
    [ "$line" = "CMD $commands $1 $2" ]
    check "command $1 -> $2" $? "$line"
  fi
}

# hotkey MODIFIER KEY EXPECTED-STATE [modifier-first]: presses a hotkey of
# the description and waits for the controller's notification, which must
# report EXPECTED-STATE. The modifier is let go after the key, or with
# "modifier-first" before it, as "xdotool key ctrl+F1" does.
hotkey() {
  local before line
  before="$(notes)"
  focus
  if [ "${4:-}" = modifier-first ]; then
    xdotool key "$1+$2"
  else
    xdotool keydown "$1" keydown "$2" keyup "$2" keyup "$1"
  fi
  if wait_until 10 more_notes_than "$before"; then
    line="$(lines "$log" | grep '^NOTE ' | tail -1)"
    [ "$line" = "NOTE $3" ]
    check "hotkey $1+$2 notifies $3" $? "the notification says '$line'"
  else
    check "hotkey $1+$2 notifies $3" 1 "no notification"
  fi
}

clear_edit() {
  press_command F11
  wait_until 6 text_is "" || check "clearing the EDIT" 1 "it still holds '$(text)'"
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
  clear_edit
}

# stop NAME: F12 to the program; checks its exit, and that none of the
# library's marker keys reached its windows.
stop() {
  local pid
  pid="$(eval echo "\$${1}_pid")"
  ! lines "$log" | grep -q '^KEY .* vk=0xc[1-6] '
  check "$1: no marker key reached a window" $? "$(lines "$log" | grep -m3 '^KEY .* vk=0xc[1-6] ')"
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

# last WORD: the program's last output line that starts with WORD.
last() { lines "$log" | grep "^$1 " | tail -1; }

# field NAME LINE: the value of "NAME=value" in LINE.
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$2"; }

# report: F7; sets $region and $keys to the REGION and KEYS lines it printed.
report() {
  region="no reply"
  keys=""
  press_command F7 || return 1
  region="$(last REGION)"
  keys="$(last KEYS)"
}

# nothing_held: no modifier key is down for the system (GetAsyncKeyState) or
# for the EDIT's thread (GetKeyState), and the region's `modifiers` is 0.
nothing_held() {
  report && [[ "$region" == "REGION modifiers=0 "* && "$keys" == "KEYS async=none thread=none "* ]]
}

# The controller's last WATCH line: the keys down, the lock states, the
# library's lights and `modifiers`, whichever program has the focus.
watch_line() { lines "$tmp/controller.log" | grep '^WATCH ' | tail -1; }
watch_is() { [ "$(watch_line)" = "$1" ]; }

# watch_nothing_held: by the last WATCH line, no modifier key is down and
# the region's `modifiers` is 0.
watch_nothing_held() {
  local line
  line="$(watch_line)"
  [ "$(field held "$line")" = none ] && (($(field mods "$line") == 0))
}

# expect_nothing_held NAME: waits (3 s at most each) for the WATCH lines and
# then F7 to show nothing held; the library compares its `modifiers` with
# the key state every 25 ticks of its timer. (While a modifier is down, F7
# would not be a command: the WATCH lines come first.) Right Alt left down
# is let go of afterwards, so that the cases that follow start clean; the
# function then fails.
expect_nothing_held() {
  sleep 0.2  # the WATCH lines show the keys now (Wine may answer "up" 50 ms late)
  if wait_until 3 watch_nothing_held; then
    wait_until 3 nothing_held
    check "$1: afterwards no modifier is down" $? "$region / $keys"
  else
    check "$1: afterwards no modifier is down" 1 "$(watch_line)"
    xdotool key "$right_alt"
    wait_until 3 watch_nothing_held
    return 1
  fi
}

# right_alt_down: right Alt is down for the system and in the region's
# `modifiers` (bit 3).
right_alt_down() {
  local line
  line="$(watch_line)"
  [[ ",$(field held "$line")," == *,ralt,* ]] && (($(field mods "$line") & 0x8))
}

# Alt key messages that reached the program's windows so far, but for two
# kinds that change nothing:
# - the repeats of a held key (the X server repeats right Alt when the
#   machine is slow to let the test go on);
# - a release without a scan code: the library's, at a macro's end, of a
#   modifier that the user let go while the macro played, up already.
alt_messages() {
  local key message vk lparam n=0
  while read -r key message vk lparam; do
    [ "$vk" = vk=0x12 ] || continue
    lparam="${lparam#lParam=}"
    if [[ "$message" == 0x10[04] ]]; then
      ((lparam >> 30 & 1)) && continue  # a key-down of a key already down
    elif (((lparam >> 16 & 0xFF) == 0)); then
      continue
    fi
    n=$((n + 1))
  done < <(lines "$log" | grep '^KEY ')
  echo "$n"
}

# expect_two_alt_messages NAME ALT-MESSAGES-BEFORE: the user's own press and
# release of right Alt reached the window, and nothing else of Alt: the
# library's release and second press of it reach no window.
expect_two_alt_messages() {
  local seen=$(($(alt_messages) - $2))
  [ "$seen" = 2 ]
  check "$1: the window saw right Alt pressed and released once" $? \
    "$seen Alt key messages, the last: $(lines "$log" | grep '^KEY .* vk=0x12 ' | tail -4 | tr '\n' ' ')"
}

# shown TEXT: TEXT, or its start when it is long.
shown() { if [ ${#1} -gt 12 ]; then echo "${1:0:8}...(${#1} characters)"; else echo "$1"; fi; }

# tap_args KEY...: xdotool arguments that press and release each KEY in turn.
tap_args() {
  local key
  for key; do printf '%s\n' keydown "$key" keyup "$key"; done
}

# right_alt_held NAME EXPECTED KEY...: holds right Alt, taps the KEYs, waits
# for the EDIT to hold EXPECTED and for right Alt to be down again (the
# library lets go of it for its output and presses it again while the user
# holds it), then lets go of right Alt; nothing may be left down.
right_alt_held() {
  local name="$1" expected="$2" taps alt_before
  shift 2
  mapfile -t taps < <(tap_args "$@")
  alt_before="$(alt_messages)"
  focus
  xdotool keydown "$right_alt" "${taps[@]}"
  wait_until 6 text_is "$expected"
  check "$name: right Alt held, $* -> '$(shown "$expected")'" $? "the EDIT holds '$(text)'"
  sleep 0.2  # the WATCH lines come every 10 ms: one of them shows the keys now
  wait_until 3 right_alt_down
  check "$name: right Alt is down again while it is held" $? "$(watch_line)"
  xdotool keyup "$right_alt"
  expect_nothing_held "$name" && expect_two_alt_messages "$name" "$alt_before"
  clear_edit
}

# right_alt_quick NAME EXPECTED KEY: right Alt down, KEY down and up, right
# Alt up 20 ms later, as a quick typist lets go: about when the library
# plays what KEY typed. (Let go at the same instant, right Alt can be up for
# the system before the window has taken KEY; the library's timer, which
# compares its modifiers with the key state every 25 ticks, may then forget
# right Alt before KEY is looked up.)
right_alt_quick() {
  local name="$1" expected="$2" key="$3" alt_before
  alt_before="$(alt_messages)"
  focus
  xdotool keydown --delay 0 "$right_alt" "$key" keyup --delay 20 "$key" "$right_alt"
  wait_until 6 text_is "$expected"
  check "$name: right Alt let go at once, $key -> '$expected'" $? "the EDIT holds '$(text)'"
  expect_nothing_held "$name" && expect_two_alt_messages "$name" "$alt_before"
  clear_edit
}

# right_alt_let_go_while_playing NAME EXPECTED KEY: right Alt is let go 0.12 s
# after KEY, while the library still plays KEY's long macro.
right_alt_let_go_while_playing() {
  local name="$1" expected="$2" key="$3"
  focus
  xdotool keydown "$right_alt" keydown "$key" keyup "$key" sleep 0.12 keyup "$right_alt"
  wait_until 6 text_is "$expected"
  check "$name: right Alt let go while it plays, $key -> '$(shown "$expected")'" $? \
    "the EDIT holds '$(text)'"
  expect_nothing_held "$name"
  clear_edit
}

# wait_note NAME EXPECTED-STATE NOTES-BEFORE: waits for a notification after
# the first NOTES-BEFORE ones; the last must report EXPECTED-STATE.
wait_note() {
  local line=""
  wait_until 10 more_notes_than "$3" && line="$(last NOTE)"
  [ "$line" = "NOTE $2" ]
  check "$1 notifies $2" $? "the last notification says '$line'"
}

# caps_layout_switch: Caps Lock held types by layout 1; its release brings
# layout 0 back and puts Caps Lock back as it was, in the thread's key state
# and in the library's lights (_Leds).
caps_layout_switch() {
  local before during notes_before
  before="$(watch_line)"
  [[ "$before" == "WATCH held=none caps=0 "* ]]
  check "Caps Lock is off before its case" $? "$before"
  # Held, Caps Lock is on and the region's `modifiers` has its bit 10.
  printf -v during 'WATCH held=caps caps=1 num=%s leds=%#x mods=%#x wait=0 pass=0' \
    "$(field num "$before")" $(($(field leds "$before") | 2)) $(($(field mods "$before") | 0x400))
  notes_before="$(notes)"
  focus
  xdotool keydown Caps_Lock
  wait_note "Caps Lock pressed" "$(state 1 1 Second)" "$notes_before"
  xdotool key --delay 80 a s
  wait_until 6 text_is "ky"
  check "Caps Lock held: a s -> 'ky'" $? "the EDIT holds '$(text)'"
  wait_until 3 watch_is "$during"
  check "Caps Lock held: Caps Lock and its light on" $? "$(watch_line)"
  notes_before="$(notes)"
  xdotool keyup Caps_Lock
  wait_note "Caps Lock released" "$(state 1 0 WineTest)" "$notes_before"
  wait_until 3 watch_is "$before"
  check "Caps Lock released: Caps Lock and its light as before" $? "$(watch_line)"
  caps_lock_after_next_key "$before"
  clear_edit
  case_ "after Caps Lock: layout 0 without Caps Lock" "qx" a s
}

# caps_lock_after_next_key WATCH-BEFORE: the X server toggled its Caps Lock
# on the press and knows nothing of the library's keybd_event that put it
# back, so with the next X key event Wine presses Caps Lock itself to agree
# with the X server; the library sees that press like any other. Whatever the
# state then is, the library's light must agree with the system's. A Caps
# Lock left on is switched off with a real press.
caps_lock_after_next_key() {
  local caps light
  report || return
  caps="$(field caps "$keys")"
  light=$(($(field leds "$region") >> 1 & 1))
  say "     after the next key: Caps Lock $caps, the library's Caps Lock light $light"
  [ "$caps" = "$light" ]
  check "after the next key the library's Caps Lock light follows the system's" $? "$keys / $region"
  if [ "$caps" = 1 ]; then
    xdotool key Caps_Lock
    wait_until 3 watch_is "$1"
    check "Caps Lock pressed again: Caps Lock and its light off" $? "$(watch_line)"
  fi
}

# num_lock_is STATE: the thread's Num Lock and the library's light show STATE.
num_lock_is() {
  local line
  line="$(watch_line)"
  [ "$(field num "$line")" = "$1" ] && [ $(($(field leds "$line") & 1)) = "$1" ]
}

# num_lock STATE: presses Num Lock, which must then be STATE (0 or 1).
num_lock() {
  focus
  xdotool key Num_Lock
  wait_until 3 num_lock_is "$1"
  check "Num Lock pressed: Num Lock and its light $1" $? "$(watch_line)"
}

# numpad_digits: keypad 7 types the table's g with Num Lock on, and is Home,
# untranslated, with Num Lock off. (xdotool's KP_Home is the keypad 7 key
# pressed without Shift, whatever Num Lock says.)
numpad_digits() {
  num_lock_is 0
  check "Num Lock is off before its case" $? "$(watch_line)"
  case_ "Num Lock off: keypad 7 is Home, untranslated" "xq" a KP_Home s
  num_lock 1
  case_ "Num Lock on: keypad 7 translated" "qg" a KP_Home
  num_lock 0
  case_ "Num Lock off again: keypad 7 is Home" "xq" a KP_Home s
}

# wait_text EXPECTED: the EDIT holds EXPECTED within 3 s (looked at often).
wait_text() {
  local deadline=$((SECONDS + 3))
  until text_is "$1"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.02
  done
}

# right_alt_stress: right Alt down, e down and up, right Alt up DELAY ms
# later, for each DELAY 50 times; e types the euro sign by a one-character
# macro, for which the library lets go of right Alt and presses it again.
right_alt_stress() {
  local delay i expected lost gap
  for delay in 0 1 2 5 10 20; do
    gap=()
    [ "$delay" = 0 ] || gap=(sleep "$(printf '0.%03d' "$delay")")
    expected=""
    lost=""
    focus
    for ((i = 1; i <= 50; i++)); do
      xdotool keydown --delay 0 "$right_alt" keydown --delay 0 e keyup --delay 0 e "${gap[@]}" \
        keyup --delay 0 "$right_alt"
      expected+="€"
      wait_text "$expected" || { lost="after e, try $i: the EDIT holds '$(text)'"; break; }
      xdotool key --delay 0 s
      expected+="x"
      wait_text "$expected" || { lost="after s, try $i: the EDIT holds '$(text)'"; break; }
    done
    [ -z "$lost" ]
    check "right Alt let go $delay ms after the key, 50 times: every key typed" $? "$lost"
    expect_nothing_held "right Alt let go $delay ms after the key"
    clear_edit
  done
}

if [ "$mode" = stress ]; then
  start controller "$dll" velto-wine-controller
  start target --target velto-wine-target
  use target
  right_alt_stress
  stop target
  use controller
  stop controller
  if [ "$failures" -ne 0 ]; then
    say "controller log:"
    lines "$tmp/controller.log" | tail -40 | sed 's/^/    /'
    say "$failures check(s) failed"
    exit 1
  fi
  say "all checks passed"
  exit 0
fi

# --- Part 1: the controller's own EDIT ---------------------------------------------
start controller "$dll" velto-wine-controller
[ "$(lines "$log" | grep '^READY')" = "READY $(state 1 0 WineTest)" ]
check "after _InstallHook, _SetupKeyboard, _Enable(1)" $? "$(lines "$log" | grep '^READY')"
use controller

case_ "translated letters" "qxjv" a s d f
case_ "left Shift column" "QXJ" shift+a shift+s shift+d
case_ "keys without translation type as usual" "k12 3," k 1 2 space 3 comma
case_ "translated and untranslated keys keep their order" "q1x2jk" a 1 s 2 d k
case_ "dead key with a vowel composes" "êô" grave e grave o
case_ "macro: posted text and synthesized cursor keys" "sZad" m
# The macro leaves the cursor after its Z: the next key types there. That
# key waits for the macro's end: the timer types the Z, and a key the system
# types itself may come before it when the timer is slow, the machine busy.
focus
xdotool key --delay 80 a m
wait_until 6 text_is "qsZad" && xdotool key 1 && wait_until 6 text_is "qsZ1ad"
check "macro between typed keys: a m, then 1 -> 'qsZ1ad'" $? "the EDIT holds '$(text)'"
clear_edit

press_command F9 "$(state 1 1 Second)"
case_ "second layout (_ToggleLayout)" "kyd" a s d
press_command F9 "$(state 1 0 WineTest)"
press_command F8 "$(state 0 0 WineTest)"
case_ "translation disabled (_Enable(0)): keys type as usual" "asm" a s m
press_command F8 "$(state 1 0 WineTest)"
case_ "translation enabled again" "qx" a s

hotkey ctrl F1 "$(state 1 1 Second)"
case_ "second layout (layout hotkey)" "kyd" a s d
hotkey ctrl F1 "$(state 1 0 WineTest)" modifier-first
hotkey ctrl F2 "$(state 0 0 WineTest)"
case_ "translation disabled (disable hotkey)" "as" a s
hotkey ctrl F3 "$(state 1 0 WineTest)" modifier-first
case_ "translation enabled (enable hotkey)" "qx" a s

# --- Part 2: another process -------------------------------------------------------
start target --target velto-wine-target
use target
case_ "other process: translated and untranslated keys" "qxj1k" a s d 1 k
case_ "other process: Shift column" "QV" shift+a shift+f
case_ "other process: dead key with a vowel" "ê" grave e
case_ "other process: macro played from the controller's timer" "sZad" m
right_alt_held "other process: macro" "acb" m
right_alt_quick "other process: macro" "acb" m
right_alt_held "other process: one-character macro" "€" e
# A busy application takes its keys from its queue late: the library's timer
# (in the controller) plays the macro while the release of right Alt still
# waits there.
press_command F6
right_alt_quick "other process, slow with its keys: macro" "acb" m
press_command F6
stop target

use controller
case_ "controller again after the other process ended" "qx" a s

# --- Part 3: modifier and lock keys in the controller's EDIT -------------------------
right_alt_held "macro with text and a chord" "acb" m
right_alt_quick "macro with text and a chord" "acb" m
right_alt_held "one-character macro" "€" e
right_alt_quick "one-character macro" "€" e
right_alt_held "a macro and a one-character macro in one hold" "ac€b" m e
# Macro 3 takes longer to play than the 25 ticks between two of the library's
# comparisons of `modifiers` with the key state.
long_text="$(printf 'ab%.0s' {1..40})"
right_alt_held "a long macro" "$long_text" l
right_alt_let_go_while_playing "a long macro" "$long_text" l
case_ "after right Alt: keys type as usual" "qx" a s
caps_layout_switch
numpad_digits
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
