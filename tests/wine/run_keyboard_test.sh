#!/usr/bin/env bash
# The on-screen keyboard of velto.exe under Wine, with Wine's notepad as the
# program typed into (real key events from xdotool):
#
#   - --send "keyboard show" opens the window "Velto keyboard", and notepad
#     keeps the focus and every key typed while it is shown;
#   - what it draws changes with a dead key typed (it waits for the next
#     key), with Shift held, with a layout switch and with translation off
#     (screenshots of the window compared, where ImageMagick is installed);
#   - a click on it leaves the focus with notepad;
#   - --send "keyboard hide" closes it, its place is kept in the settings,
#     and it comes back there;
#   - veltoctl shows and hides it by commands on its input.
#
# Usage: run_keyboard_test.sh WIN64-BUILD-DIR
set -uo pipefail

build="${1:?usage: run_keyboard_test.sh WIN64-BUILD-DIR}"
started=$SECONDS
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine_env.sh"
source "$here/veltoctl_env.sh"
for file in velto.exe veltoctl.exe velto-window-text.exe; do
  [ -f "$build/$file" ] || { say "FAIL: $build/$file is missing (scripts/build.sh win$bits)"; exit 1; }
done
say "Xvfb on $DISPLAY, Wine prefix ready ($bits-bit, $("$wine" --version 2>/dev/null | tr -d '\r'))"

bin="$tmp/bin"
mkdir -p "$bin"
cp "$build/$dll" "$build/velto.exe" "$build/velto-window-text.exe" "$bin/"
conf="Z:${tmp//\//\\}\\settings.ini"
printf '[velto]\nnotifications = off\n' >"$tmp/settings.ini"
log="$tmp/velto.log"
send() { (cd "$bin" && timeout 30 "$wine" velto.exe --settings "$conf" --send "$1") >/dev/null 2>&1; }

(cd "$bin" && exec "$wine" velto.exe --no-companion --layout 1 --settings "$conf" --log "Z:${log//\//\\}") \
  >"$tmp/velto.out" 2>&1 &
velto_pid=$!
track $velto_pid
wait_until 30 log_has "$log" "Velto is running"
check "velto.exe starts on US International" $? "$(lines "$tmp/velto.out"; lines "$log" 2>/dev/null)"

(cd "$bin" && exec "$wine" notepad) >/dev/null 2>&1 &
track $!
notepad_window() { window="$(xdotool search --onlyvisible --name "Notepad" 2>/dev/null | head -1)"; [ -n "$window" ]; }
wait_until 60 notepad_window || { say "FAIL: notepad did not open"; exit 1; }
notepad=$window
wait_until 20 focus || { say "FAIL: cannot focus notepad"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$notepad")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
sleep 0.5
text() { (cd "$bin" && "$wine" velto-window-text.exe Notepad) 2>/dev/null | tr -d '\r'; }

# --- Shown, and notepad keeps the focus and the keys -------------------------------------
keyboard_window() { keyboard="$(xdotool search --onlyvisible --name '^Velto keyboard$' 2>/dev/null | head -1)"; [ -n "$keyboard" ]; }
send "keyboard show"
wait_until 10 keyboard_window
check "--send \"keyboard show\" opens the window \"Velto keyboard\"" $? "$(lines "$log" | tail -2)"
log_has "$log" "The on-screen keyboard is shown."
check "  ... and says so" $? "$(lines "$log" | tail -2)"
sleep 0.5
[ "$(xdotool getwindowfocus 2>/dev/null)" = "$notepad" ]
check "  ... and notepad keeps the focus" $? "the focus is on $(xdotool getwindowfocus 2>/dev/null), notepad is $notepad"
xdotool type --delay 60 "caf'e na\"ive"
wait_until 10 text_is "café naïve"
check "typing into notepad goes on while it is shown" $? "$(where_text_differs "café naïve")"
[ "$(xdotool getwindowfocus 2>/dev/null)" = "$notepad" ]
check "  ... and the focus stays there" $? "the focus is on $(xdotool getwindowfocus 2>/dev/null)"
eval "$(xdotool getwindowgeometry --shell "$keyboard")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
sleep 0.5
xdotool type --delay 60 " ok"
wait_until 10 text_is "café naïve ok"
check "a click on it leaves the focus and the keys with notepad" $? \
  "focus on $(xdotool getwindowfocus 2>/dev/null), notepad $notepad: $(where_text_differs "café naïve ok")"

# --- What it draws ---------------------------------------------------------------------------------
if command -v import >/dev/null; then
  # shot NAME: the window's pixels, after it has had time to look (every 50 ms).
  shot() { sleep 0.4; import -window "$keyboard" "$tmp/$1.png" 2>/dev/null && convert "$tmp/$1.png" "$tmp/$1.rgb"; }
  differs() { ! cmp -s "$tmp/$1.rgb" "$tmp/$2.rgb"; }
  shot intl
  check "a screenshot of the window" $? "import -window $keyboard failed"
  xdotool type --delay 60 "'"
  shot dead
  differs intl dead
  check "a dead key typed is marked until the next key" $? "the same picture"
  xdotool type --delay 60 "e"
  wait_until 10 text_is "café naïve oké"
  shot after
  ! differs intl after
  check "  ... which ends it" $? "the picture did not come back"
  xdotool keydown Shift_L
  shot shift
  xdotool keyup Shift_L
  differs intl shift
  check "Shift held changes what it draws" $? "the same picture"
  send "layout 0"
  wait_until 10 log_has "$log" "layout 0 (US), translation on"
  shot us
  differs intl us
  check "a layout switch changes what it draws" $? "the same picture"
  send off
  wait_until 10 log_has "$log" "layout 0 (US), translation off"
  shot off
  differs us off
  check "translation off greys it" $? "the same picture"
  send on
  send "layout 1"
  shot again
  ! differs intl again
  check "  ... and back on layout 1 it draws what it drew" $? "another picture"
else
  say "skip the screenshots: ImageMagick is not installed (scripts/deps.sh demo)"
fi

# --- Hidden, its place kept ------------------------------------------------------------------------
eval "$(xdotool getwindowgeometry --shell "$keyboard")"
shown_at="$X,$Y ${WIDTH}x$HEIGHT"
send "keyboard hide"
wait_until 10 eval '! keyboard_window'
check "--send \"keyboard hide\" closes it" $? "still there: $keyboard"
grep -Eq '^keyboard window = -?[0-9]+, -?[0-9]+, [0-9]+, [0-9]+' "$tmp/settings.ini"
check "  ... and its place is kept in the settings" $? "$(cat "$tmp/settings.ini")"
send "keyboard toggle"
wait_until 10 keyboard_window
eval "$(xdotool getwindowgeometry --shell "$keyboard")"
[ "$X,$Y ${WIDTH}x$HEIGHT" = "$shown_at" ]
check "\"keyboard toggle\" shows it again where it was" $? "at $X,$Y ${WIDTH}x$HEIGHT, before $shown_at"

send quit
wait_until 20 exited "$velto_pid"
check "velto.exe stops on --send quit" $? "still running"

# --- veltoctl: the same, by commands on its input -----------------------------------------------
cp "$build/veltoctl.exe" "$bin/"
run_ctl ctl "$bin" --no-companion --settings "$conf"
wait_until 30 log_has "$ctl_log" "Velto is running"
echo "keyboard toggle" >&"$ctl_fd"
wait_until 10 keyboard_window
check "veltoctl: \"keyboard toggle\" on its input shows it" $? "$(lines "$ctl_log" | tail -2)"
echo "keyboard hide" >&"$ctl_fd"
wait_until 10 eval '! keyboard_window'
check "  ... and \"keyboard hide\" closes it" $? "$(lines "$ctl_log" | tail -2)"
quit_ctl ctl "  ... and veltoctl stops on quit"

say "$failures failed, in $((SECONDS - started)) s"
[ "$failures" = 0 ]
