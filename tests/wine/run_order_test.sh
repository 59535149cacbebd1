#!/usr/bin/env bash
# Keys typed fast, on a machine whose cores are all busy, arrive in the order
# they were typed: veltoctl under Wine with tests/wine/data/order.vkl, real key
# events from xdotool 1 ms apart, typing into Wine's own notepad.
#
# One stretch of 15 keys mixes what the layout types (Greek letters), what it
# leaves to the system (X, y, z, digits, Space), right-Alt characters and a
# macro, which the library types itself, and a dead key. Each right-Alt
# character is followed at once by a plain key, each macro by a shifted
# letter of the system's or by a translated key, so that a key overtaking
# them, or typed untranslated while a macro plays, shows in the text. A run
# types the stretch twelve times into an empty notepad and compares the
# text with the expected one exactly; ten runs must all be exact.
#
# Usage: run_order_test.sh WIN64-BUILD-DIR
# Environment: VELTO_ORDER_DELAY (ms between key events, default 1),
#              VELTO_ORDER_LOAD (0: no busy loops; default one per core),
#              VELTO_VELTOC (a veltoc that runs here, by default the Windows
#              builds' build/host/veltoc), and those of wine_env.sh.
set -uo pipefail

build="${1:?usage: run_order_test.sh WIN64-BUILD-DIR}"
started=$SECONDS
here="$(dirname "$0")"
VELTO_BUDGET="${VELTO_BUDGET:-480}"  # ten runs at a slow VELTO_ORDER_DELAY take minutes
source "$here/wine_env.sh"
source "$here/veltoctl_env.sh"
delay="${VELTO_ORDER_DELAY:-1}"
load="${VELTO_ORDER_LOAD:-1}"
copy_to_bin order veltoctl.exe velto-window-text.exe

run_ctl ctl "$bin" order.vkb --layout 1 --no-companion
wait_until 30 log_has "$ctl_log" "Velto is running" || { say "FAIL: veltoctl did not start: $(lines "$ctl_log")"; exit 1; }
(cd "$bin" && exec "$wine" notepad) >/dev/null 2>&1 &
track $!
find_notepad() { window="$(xdotool search --onlyvisible --name "Notepad" 2>/dev/null | head -1)"; [ -n "$window" ]; }
wait_until 60 find_notepad || { say "FAIL: notepad did not open"; exit 1; }
xdotool mousemove --window "$window" 150 150 click 1
wait_until 20 focus || { say "FAIL: cannot focus notepad"; exit 1; }
sleep 0.5
text() { (cd "$bin" && "$wine" velto-window-text.exe Notepad) 2>/dev/null | tr -d '\r'; }

# Right Alt by its keycode (xdotool's Alt_R presses left Alt too); keys
# $delay ms apart, right Alt's presses and releases among them.
d="--delay $delay"
ralt_down="keydown $d $right_alt key $d" ralt_up="keyup $d $right_alt"
stretch="$ralt_down e $ralt_up key $d a $ralt_down m $ralt_up key $d shift+x s y apostrophe e 1"
stretch+=" $ralt_down s $ralt_up key $d z $ralt_down m $ralt_up key $d d 2 space"
once="€α«m»Xσyέ1ßz«m»δ2 "
keys="" expected=""
for _ in {1..12}; do keys+=" $stretch" expected+="$once"; done

conditions="$delay ms between key events, no load"
if [ "$load" != 0 ]; then
  for _ in $(seq "$(nproc)"); do
    yes >/dev/null &
    track $!
  done
  conditions="$delay ms between key events, $(nproc) busy loops"
fi

# True once notepad holds $expected, or once its text ($got) has stayed the
# same for 3 s or more: a run that lost or reordered keys never gets there.
settled() {
  local now
  now="$(text)"
  [ "$now" = "$expected" ] && { got="$now"; return 0; }
  [ "$now" = "$got" ] || { got="$now"; since=$SECONDS; return 1; }
  [ $((SECONDS - since)) -ge 4 ]
}

exact=0
for run in {1..10}; do
  name="run $run: 12 x 15 keys typed exactly"
  # What is left now came late, or ctrl+a and BackSpace were lost: the
  # runs after would only fail the same way.
  if ! clear_notepad; then
    check "$name" 1 "notepad cannot be emptied before it, it holds '$(text)'; runs $run to 10 not typed"
    break
  fi
  # shellcheck disable=SC2086  # $keys is xdotool's command chain, word by word
  xdotool $keys
  got="" since=$SECONDS
  wait_until 60 settled
  [ "$got" = "$expected" ]
  check "$name" $? "received ${#got} characters '${got//$'\n'/\\n}', expected 12 x '$once'"
  exact=$((run - failures))
done

say "$exact of 10 runs exact ($conditions)"
[ "$exact" = 10 ]
