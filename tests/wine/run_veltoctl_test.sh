#!/usr/bin/env bash
# veltoctl under Wine, with Wine's own notepad as the program typed into:
# real key events from xdotool on a virtual X display.
#
#   - its error exits: bad arguments, a missing or wrong-sized file, a library
#     that cannot be loaded or lacks an export, a second instance;
#   - a sentence with dead keys, right-Alt characters and a macro, and a burst
#     of 500 keys, read back from notepad's edit control;
#   - a second process watching the state through the exports (--attach);
#   - a controller killed with kill -9, and a new one that takes over;
#   - --disabled, --quiet, and the warning for a layout without a character
#     set in another code page (none for one with a set);
#   - stopping on a line "quit", on --send quit and on Ctrl+C; the end of
#     its input, or input from /dev/null, ends only the commands;
#   - --send of something that is not a command: refused by the sender.
#
# A win64 build's programs run under 64-bit Wine, a win32 build's under
# 32-bit Wine in a 32-bit prefix (skipped, exit 77, where this machine cannot
# run 32-bit programs; see wine_env.sh).
#
# Usage: run_veltoctl_test.sh WIN64-OR-WIN32-BUILD-DIR
set -uo pipefail

build="${1:?usage: run_veltoctl_test.sh WIN64-OR-WIN32-BUILD-DIR}"
started=$SECONDS
source "$(dirname "$0")/wine_env.sh"
source "$(dirname "$0")/veltoctl_env.sh"
for file in veltoctl.exe velto-window-text.exe layouts/intl.vkb; do
  [ -f "$build/$file" ] || { say "FAIL: $build/$file is missing (scripts/build.sh win$bits)"; exit 1; }
done
say "Xvfb on $DISPLAY, Wine prefix ready ($bits-bit, $("$wine" --version 2>/dev/null | tr -d '\r'))"

bin="$tmp/bin"
mkdir -p "$bin"
cp "$build/$dll" "$build/veltoctl.exe" "$build/velto-window-text.exe" "$build/layouts/intl.vkb" "$bin/"

# expect_exit NAME STATUS MESSAGE ARGS...: veltoctl in the foreground.
expect_exit() {
  local name="$1" status="$2" message="$3"
  shift 3
  (cd "$bin" && timeout 60 "$wine" veltoctl.exe "$@" </dev/null >"$tmp/out" 2>&1)
  local got=$?
  [ "$got" = "$status" ] && log_has "$tmp/out" "$message"
  check "$name: exit $status, '$message'" $? "exit $got: $(lines "$tmp/out" | head -3)"
}

# --- Error exits, with nothing installed ---------------------------------------------
head -c 1000 "$bin/intl.vkb" >"$bin/short.vkb"
expect_exit "unknown option" 2 "unknown option '--frobnicate'" --frobnicate
expect_exit "bad layout" 2 "the layout is 0, 1, 2 or 3" --layout 7
expect_exit "missing file" 2 "nothing.vkb: error: cannot open" nothing.vkb
expect_exit "wrong size" 2 "it has 1000 bytes, a .vkb file has 81528, followed by nothing or by a whole composition table" short.vkb
expect_exit "no library" 2 "cannot load the library missing.dll" --dll missing.dll
expect_exit "library without the exports" 2 "lacks the export _InstallHook" --dll velto-window-text.exe
expect_exit "attach to nothing" 1 "Velto is not running" --attach

# --- The controller and notepad ----------------------------------------------------
run_ctl ctl "$bin" intl.vkb --layout 1 --events
wait_until 30 log_has "$ctl_log" "Velto is running"
check "veltoctl starts" $? "$(lines "$ctl_log")"
log_has "$ctl_log" "layout 1 (US International), translation on"
check "it reports layout 1" $? "$(lines "$ctl_log" | head -2)"
expect_exit "second instance" 1 "Velto is already running"

(cd "$bin" && exec "$wine" notepad) >/dev/null 2>&1 &
track $!
notepad_window() { window="$(xdotool search --onlyvisible --name "Notepad" 2>/dev/null | head -1)"; [ -n "$window" ]; }
wait_until 60 notepad_window || { say "FAIL: notepad did not open"; exit 1; }
wait_until 20 focus || { say "FAIL: cannot focus notepad"; exit 1; }
sleep 0.5
text() { (cd "$bin" && "$wine" velto-window-text.exe Notepad) 2>/dev/null | tr -d '\r'; }

xdotool type --delay 60 "Velto: caf'e, na\"ive, ~nino "
ralt 5 €
xdotool type --delay 60 " "
ralt g
expected=$'Velto: café, naïve, ñino € Best regards,\nVelto'
wait_until 15 text_is "$expected"
check "a sentence with dead keys, right Alt and a macro" $? "$(where_text_differs "$expected")"
wait_until 10 log_has "$ctl_log" "key QUOTE (scan 0x028) down"
check "--events prints the translated keys" $? "$(lines "$ctl_log" | tail -3)"

clear_notepad
burst=""
for i in $(seq 1 50); do burst+="key $((i % 10))'e "; done   # 8 keys each, 400 in all
burst+="$(printf 'abcdefghij%.0s' {1..10})"                     # and 100 more
expected="${burst//\'e/é}"
focus
xdotool type --delay 1 "$burst"
wait_until 60 text_is "$expected"
check "a burst of 500 keys arrives whole and in order" $? "$(where_text_differs "$expected")"

# --- A second process watching through the exports ---------------------------------
run_ctl watch "$bin" --attach
wait_until 30 log_has "$watch_log" "Watching Velto"
log_has "$watch_log" "layout 1 (US International), translation on"
check "--attach reads the state through the exports" $? "$(lines "$watch_log")"
focus
xdotool keydown Shift_L keydown Shift_R keyup Shift_R keyup Shift_L
wait_until 10 log_has "$watch_log" "layout 0 (US), translation on"
check "the watcher hears of the layout toggled by the hotkey" $? "$(lines "$watch_log" | tail -2)"
echo quit >&"$watch_fd"
wait_until 20 exited "$watch_pid"
check "the watcher stops on 'quit'" $? "still running"
wait "$watch_pid"
check "  ... with status 0, and the controller goes on" $? "status $?"
clear_notepad
xdotool type --delay 60 "'e"
wait_until 10 text_is "'e"
check "layout 0 types as the US keyboard" $? "notepad holds '$(text)'"

# --- A controller killed, and a new one taking over ----------------------------------
kill -9 "$ctl_pid"
wait "$ctl_pid" 2>/dev/null
run_ctl ctl2 "$bin" --layout 1
wait_until 30 log_has "$ctl2_log" "Velto is running"
check "a new controller starts after kill -9" $? "$(lines "$ctl2_log")"
clear_notepad
xdotool type --delay 60 "'e"
wait_until 10 text_is "é"
check "  ... and typing is translated again" $? "notepad holds '$(text)'"

# --- Stopping ----------------------------------------------------------------------
quit_ctl ctl2 "a line 'quit' stops it with status 0"
clear_notepad
xdotool type --delay 60 "'e"
wait_until 10 text_is "'e"
check "  ... and keys are no longer translated" $? "notepad holds '$(text)'"

# A description from before character sets: ru-phonetic.vkb with bytes
# 6..37 of layout record 1 (the records start at 528 + 14336, 90 bytes each)
# made code page 1251 and no set. Such a layout's bytes are posted as they
# are, and arrive as others on this code page 1252 system.
cp "$build/layouts/ru-phonetic.vkb" "$bin/"
cp "$bin/ru-phonetic.vkb" "$bin/ru-ansi.vkb"
{ printf '\xe3\x04'; head -c 30 /dev/zero; } |
  dd of="$bin/ru-ansi.vkb" bs=1 seek=$((528 + 14336 + 90 + 6)) conv=notrunc status=none
run_ctl ctl3 "$bin" ru-ansi.vkb --disabled --quiet
wait_until 30 log_has "$ctl3_log" "the characters of layout 1 (code page 1251) will arrive as others"
check "a layout without a set, in another code page than the system's, is warned of" $? "$(lines "$ctl3_log")"
clear_notepad
xdotool type --delay 60 "'e"
wait_until 10 text_is "'e"
check "--disabled starts with translation off" $? "notepad holds '$(text)'"
exec {ctl3_fd}>&-
sleep 2
! exited "$ctl3_pid"
check "the end of its input leaves it running" $? "it stopped: $(lines "$ctl3_log" | tail -2)"
(cd "$bin" && timeout 30 "$wine" veltoctl.exe --send quit) >/dev/null 2>&1
wait_until 20 exited "$ctl3_pid"
wait "$ctl3_pid"
check "  ... until --send quit stops it with status 0" $? "status $?"
[ "$(lines "$ctl3_log" | grep -vc 'warning:')" = 0 ]
check "--quiet prints nothing but errors and warnings" $? "$(lines "$ctl3_log")"

run_ctl ctl4 "$bin" ru-phonetic.vkb
wait_until 30 log_has "$ctl4_log" "Velto is running"
! log_has "$ctl4_log" "will arrive as others"
check "a layout with a character set is not warned of" $? "$(lines "$ctl4_log" | grep 'warning:')"
kill -INT "$ctl4_pid"
wait_until 20 exited "$ctl4_pid"
wait "$ctl4_pid"
status=$?
[ "$status" = 0 ] && log_has "$ctl4_log" "Velto is stopped."
check "Ctrl+C stops it with status 0" $? "status $status: $(lines "$ctl4_log" | tail -2)"

# Standard input at /dev/null, as a scheduled task or "< NUL" gives it:
# veltoctl runs on, translating, until it is told to stop.
(cd "$bin" && exec "$wine" veltoctl.exe intl.vkb --layout 1 </dev/null >"$tmp/ctl5.log" 2>&1) &
track $!
ctl5_pid=$!
wait_until 30 log_has "$tmp/ctl5.log" "Velto is running"
sleep 3
! exited "$ctl5_pid"
check "with its input at /dev/null it runs on" $? "it stopped: $(lines "$tmp/ctl5.log" | tail -2)"
clear_notepad
xdotool type --delay 60 "'e"
wait_until 10 text_is "é"
check "  ... and translates" $? "notepad holds '$(text)'"
expect_exit "--send of something that is not a command" 2 "veltoctl: unknown command 'bogus' (help lists them)" \
  --send bogus
! log_has "$tmp/ctl5.log" "bogus"
check "  ... is refused by the sender alone" $? "$(lines "$tmp/ctl5.log" | tail -2)"
(cd "$bin" && timeout 30 "$wine" veltoctl.exe --send quit) >/dev/null 2>&1
wait_until 20 exited "$ctl5_pid"
wait "$ctl5_pid"
status=$?
[ "$status" = 0 ] && log_has "$tmp/ctl5.log" "Velto is stopped."
check "  ... and --send quit stops it with status 0" $? "status $status: $(lines "$tmp/ctl5.log" | tail -2)"

if [ "$failures" -ne 0 ]; then
  say "$failures check(s) failed"
  exit 1
fi
say "all checks passed"
