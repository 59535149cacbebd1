#!/usr/bin/env bash
# velto.exe, the tray program, under Wine with real key events from xdotool
# into Wine's notepad and a window of the test's own:
#
#   - it is a program of the Windows subsystem (no console), and veltoctl.exe
#     one of the console subsystem;
#   - a .vkl layout loaded from the settings, edited while it runs (a key
#     changed) and typed with again; a broken edit keeps the layout in use
#     and is reported as FILE:LINE:COL; a broken settings line is reported;
#   - a rule turns translation off while notepad is in front and not in the
#     other window, and the user's state comes back when the focus returns;
#     a choice made inside notepad lasts while it stays in front;
#   - start at sign-in written to the Run key and removed from it;
#   - a second start says it is running, and leaves the first running;
#   - veltoctl.exe on the same settings: another layout file chosen, and a
#     broken edit's errors printed;
#   - a first start writes the settings; a layout file broken at the first
#     start leaves Velto running on the built-in layouts, with the errors
#     shown; a restart (as administrator) takes over from the one before.
# Its log (--log) holds what the tray shows in balloons and the tooltip.
#
# Usage: run_tray_test.sh WIN64-BUILD-DIR
set -uo pipefail

build="${1:?usage: run_tray_test.sh WIN64-BUILD-DIR}"
started=$SECONDS
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine_env.sh"
source "$here/veltoctl_env.sh"
for file in velto.exe veltoctl.exe velto-window-text.exe velto-wine-controller.exe; do
  [ -f "$build/$file" ] || { say "FAIL: $build/$file is missing (scripts/build.sh win$bits)"; exit 1; }
done
say "Xvfb on $DISPLAY, Wine prefix ready ($bits-bit, $("$wine" --version 2>/dev/null | tr -d '\r'))"

bin="$tmp/bin"
conf="$tmp/conf"
mkdir -p "$bin" "$conf"
cp "$build/$dll" "$build/velto.exe" "$build/veltoctl.exe" "$build/velto-window-text.exe" \
  "$build/velto-wine-controller.exe" "$bin/"
winpath() { local p="Z:$1"; echo "${p//\//\\}"; }
settings="$(winpath "$conf/settings.ini")"
tray_log="$tmp/tray.log"

# --- The two programs' subsystems ----------------------------------------------------
subsystem() {  # the PE optional header's Subsystem field: 2 Windows GUI, 3 console
  python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(); pe=struct.unpack_from("<I",d,0x3c)[0]; print(struct.unpack_from("<H",d,pe+0x5c)[0])' "$1"
}
[ "$(subsystem "$bin/velto.exe")" = 2 ]
check "velto.exe is a Windows-subsystem program: no console comes with it" $? "subsystem $(subsystem "$bin/velto.exe")"
[ "$(subsystem "$bin/veltoctl.exe")" = 3 ]
check "veltoctl.exe stays a console program" $? "subsystem $(subsystem "$bin/veltoctl.exe")"

version="$(head -1 "$here/../../VERSION")"
[ "$(cd "$bin" && "$wine" velto.exe --version 2>/dev/null | tr -d '\r')" = "velto $version" ]
check "velto.exe --version prints the project's version" $? "$(cd "$bin" && "$wine" velto.exe --version 2>&1)"
strings -el "$bin/velto.exe" | grep -qx "$version"
check "  ... which its version resource holds too" $? "$(strings -el "$bin/velto.exe" | grep -A1 FileVersion)"

# --- Started with a .vkl from the settings -----------------------------------------------
layout_text() {  # layout_text CHAR: key Q types CHAR on layout 0
  printf 'layout 0 "Test" {\n  key Q %s\n}\n' "$1"
}
layout_text "ä" >"$conf/test.vkl"
cat >"$conf/settings.ini" <<'EOF'
[velto]
layout file = test.vkl
layout = 0
EOF
velto() { (cd "$bin" && timeout 30 "$wine" velto.exe --settings "$settings" "$@") 2>&1 | tr -d '\r'; }
(cd "$bin" && exec "$wine" velto.exe --settings "$settings" --log "$(winpath "$tray_log")") >"$tmp/tray.out" 2>&1 &
tray_pid=$!
track $tray_pid
wait_until 30 log_has "$tray_log" "Velto is running"
check "velto.exe starts" $? "$(lines "$tmp/tray.out"; lines "$tray_log" 2>/dev/null)"
log_has "$tray_log" "layout 0 (Test), translation on"
check "  ... with the settings' layout file, compiled from source" $? "$(lines "$tray_log")"

(cd "$bin" && exec "$wine" notepad) >/dev/null 2>&1 &
track $!
notepad_window() { window="$(xdotool search --onlyvisible --name "Notepad" 2>/dev/null | head -1)"; [ -n "$window" ]; }
wait_until 60 notepad_window || { say "FAIL: notepad did not open"; exit 1; }
notepad=$window
wait_until 20 focus || { say "FAIL: cannot focus notepad"; exit 1; }
sleep 0.5
text() { (cd "$bin" && "$wine" velto-window-text.exe Notepad) 2>/dev/null | tr -d '\r'; }
type_q() { focus; xdotool type --delay 60 "q"; }

type_q
wait_until 10 text_is "ä"
check "the layout types: q gives ä" $? "notepad holds '$(text)'"

# --- Edited while it runs -------------------------------------------------------------------
loads() { lines "$tray_log" | grep -c '^Loaded '; }
more_loads() { [ "$(loads)" -gt "$1" ]; }
before=$(loads)
saved_at=$(date +%s%N)
layout_text "ö" >"$conf/test.vkl"
wait_until 10 more_loads "$before"
check "a saved edit is loaded again" $? "$(lines "$tray_log" | tail -3)"
say "  (loaded $(( ($(date +%s%N) - saved_at) / 1000000 )) ms after the save)"
clear_notepad
type_q
wait_until 10 text_is "ö"
check "  ... and q now gives ö" $? "notepad holds '$(text)'"

printf 'layout 0 "Test" {\n  key Q ö\n  key NOPE x\n}\n' >"$conf/test.vkl"
wait_until 10 log_has "$tray_log" "test.vkl has errors; the layouts in use stay."
check "a broken edit is reported" $? "$(lines "$tray_log" | tail -3)"
log_has "$tray_log" "$(winpath "$conf/test.vkl"):3:7: error: unknown key name"
check "  ... as FILE:LINE:COL: error:" $? "$(lines "$tray_log" | tail -3)"
clear_notepad
type_q
wait_until 10 text_is "ö"
check "  ... and the layout in use stays" $? "notepad holds '$(text)'"
before=$(loads)
layout_text "ö" >"$conf/test.vkl"
wait_until 10 more_loads "$before"
check "  ... until the file is mended" $? "$(lines "$tray_log" | tail -3)"

# --- A rule for notepad -----------------------------------------------------------------------
cat >>"$conf/settings.ini" <<'EOF'
colour = blue

[rule notepad]
program = notepad.exe
translation = off
EOF
wait_until 10 log_has "$tray_log" "settings.ini:4:1: error: unknown setting \"colour\""
check "a broken settings line is reported with its line" $? "$(lines "$tray_log" | tail -3)"
wait_until 10 log_has "$tray_log" "Settings read again"
check "  ... and the rest of the settings taken in" $? "$(lines "$tray_log" | tail -3)"

target_out="$tmp/target.txt"
(cd "$bin" && exec "$wine" velto-wine-controller.exe --target "$(winpath "$target_out")" 200) >"$tmp/target.log" 2>&1 &
track $!
target_window() { window="$(xdotool search --onlyvisible --name '^velto-wine-target$' 2>/dev/null | head -1)"; [ -n "$window" ]; }
wait_until 60 target_window || { say "FAIL: the target window did not open"; exit 1; }
target=$window
target_text() { cat "$target_out" 2>/dev/null; }
target_is() { [ "$(target_text)" = "$1" ]; }

# to WINDOW: gives it the focus (a click, which also makes it the foreground
# window under Wine) and waits for the controller to follow.
# Prints how long after the click the controller said so, where it did.
to() {
  window=$1
  local before clicked n
  wait_until 10 focus
  eval "$(xdotool getwindowgeometry --shell "$window")"
  before=$(lines "$tray_log" | grep -c ' in front: ')
  clicked=$(date +%s%N)
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
  for n in $(seq 1 100); do
    if [ "$(lines "$tray_log" | grep -c ' in front: ')" -gt "$before" ]; then
      say "  (the controller followed $(( ($(date +%s%N) - clicked) / 1000000 )) ms after the click)"
      break
    fi
    sleep 0.01
  done
  sleep 0.3
}
to "$notepad"
clear_notepad
wait_until 10 log_has "$tray_log" 'notepad.exe in front: rule "notepad", translation off'
check "notepad in front: the rule turns translation off" $? "$(lines "$tray_log" | tail -3)"
type_q
wait_until 10 text_is "q"
check "  ... and q types q there" $? "notepad holds '$(text)'"
to "$target"
type_q
wait_until 10 target_is "ö"
check "the other window: translation is on again" $? "target holds '$(target_text)'; $(lines "$tray_log" | tail -2)"
to "$notepad"
type_q
wait_until 10 text_is "qq"
check "back in notepad: off again" $? "notepad holds '$(text)'"
velto --send on >/dev/null
wait_until 10 log_has "$tray_log" "translation on"
type_q
wait_until 10 text_is "qqö"
check "a choice made inside notepad lasts while it is in front" $? "notepad holds '$(text)'"
to "$target"
type_q
wait_until 10 target_is "öö"
check "the state comes back when the focus returns" $? "target holds '$(target_text)'"

# --- Start at sign-in ------------------------------------------------------------------------
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
run_entry() { "$wine" reg query "$run_key" /v Velto 2>/dev/null | tr -d '\r' | grep -i 'velto.exe'; }
velto --send "sign-in on" >/dev/null
wait_until 10 run_entry >/dev/null
check "start at sign-in is written to the Run key" $? "$("$wine" reg query "$run_key" 2>&1 | tr -d '\r')"
say "  (Run key: $(run_entry | sed 's/^ *//'))"
grep -q '^start at sign-in = on' "$conf/settings.ini"
check "  ... and to the settings" $? "$(cat "$conf/settings.ini")"
velto --send "sign-in off" >/dev/null
wait_until 10 eval '! run_entry >/dev/null'
check "  ... and removed from it" $? "$(run_entry)"

# --- A second start -----------------------------------------------------------------------------
second="$(velto)"
status=$?
[ "$status" = 0 ] && [[ "$second" == *"Velto is already running"* ]]
check "a second start says it is running, with status 0" $? "status $status: $second"
wait_until 10 log_has "$tray_log" "Velto is running: layout"
check "  ... and the first shows itself" $? "$(lines "$tray_log" | tail -2)"
kill -0 "$tray_pid"
check "  ... and goes on" $? "it stopped"
shows=$(lines "$tray_log" | grep -c "Velto is running: layout")
quiet="$(velto --quiet)"
status=$?
[ "$status" = 0 ] && [ -z "$quiet" ] && sleep 1 && [ "$(lines "$tray_log" | grep -c "Velto is running: layout")" = "$shows" ]
check "a second start with --quiet (an all-users sign-in) leaves it alone" $? "status $status: $quiet"

velto --send quit >/dev/null  # while the menu it opened is still open
status=running
wait_until 20 exited "$tray_pid" && { wait "$tray_pid"; status=$?; }
[ "$status" = 0 ] && log_has "$tray_log" "Velto is stopped."
check "--send quit stops it with status 0" $? "status $status: $(lines "$tray_log" | tail -2)"

# --- veltoctl: the same controller, printing what the tray shows ----------------------------
layout_text "ß" >"$conf/other.vkl"
run_ctl ctl "$bin" --settings "$settings"
wait_until 30 log_has "$ctl_log" "Velto is running"
check "veltoctl starts with the same settings" $? "$(lines "$ctl_log")"
echo "use $(winpath "$conf/other.vkl")" >&"$ctl_fd"
wait_until 10 log_has "$ctl_log" "Loaded $(winpath "$conf/other.vkl")."
check "'use FILE' loads another layout file" $? "$(lines "$ctl_log" | tail -3)"
grep -qF "layout file = $(winpath "$conf/other.vkl")" "$conf/settings.ini"
check "  ... and keeps it in the settings" $? "$(grep -i 'layout file' "$conf/settings.ini")"
printf 'layout 0 "Test" {\n  key Q ß\n  key Q x\n}\n' >"$conf/other.vkl"
wait_until 10 log_has "$ctl_log" "other.vkl:3:7: error: duplicate definition"
check "veltoctl prints a broken edit's errors as the tray shows them" $? "$(lines "$ctl_log" | tail -3)"
quit_ctl ctl "veltoctl stops on 'quit'"

# --- A first start: the settings written; a layout file broken --------------------------------
printf 'layout 0 "Test" {\n  key Q ä ä ä ä\n}\n' >"$conf/test.vkl"
fresh="$tmp/fresh/settings.ini"
mkdir -p "$tmp/fresh"
: >"$tray_log"
(cd "$bin" && exec "$wine" velto.exe "$(winpath "$conf/test.vkl")" --settings "$(winpath "$fresh")" \
  --log "$(winpath "$tray_log")") >"$tmp/tray.out" 2>&1 &
tray_pid=$!
track $tray_pid
wait_until 30 log_has "$tray_log" "Velto is running"
log_has "$tray_log" "test.vkl has errors; the built-in layouts are in use." &&
  log_has "$tray_log" "test.vkl:2:" && log_has "$tray_log" "layout 0 (US), translation on"
check "a file broken at the first start: running on the built-in layouts, errors shown" $? "$(lines "$tray_log")"
grep -q '^\[rule remote desktop\]' "$fresh" && [ -d "$tmp/fresh/layouts" ]
check "the first start writes the settings, with the recommended rules, and the layouts folder" $? \
  "$(ls "$tmp/fresh"; head -3 "$fresh" 2>/dev/null)"

# "Restart as administrator" starts the new instance with --elevated-restart
# (Windows asks for the rights; Wine has none to ask for): the old one makes way.
first_pid=$tray_pid
(cd "$bin" && exec "$wine" velto.exe --elevated-restart --settings "$(winpath "$fresh")" \
  --log "$(winpath "$tmp/new.log")") >/dev/null 2>&1 &
tray_pid=$!
track $tray_pid
status=running
wait_until 20 exited "$first_pid" && { wait "$first_pid"; status=$?; }
wait_until 30 log_has "$tmp/new.log" "Velto is running"
[ "$status" = 0 ] && kill -0 "$tray_pid"
check "a restarted Velto takes over from the one before" $? "old: $status; new: $(lines "$tmp/new.log" 2>/dev/null)"
(cd "$bin" && timeout 30 "$wine" velto.exe --settings "$(winpath "$fresh")" --send quit) >/dev/null 2>&1
wait_until 20 exited "$tray_pid"
check "  ... and stops on --send quit" $? "still running"

say "$failures failed, in $((SECONDS - started)) s"
[ "$failures" = 0 ]
