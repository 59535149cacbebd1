#!/usr/bin/env bash
# Layouts with a character set under Wine, on a system whose ANSI code page
# is 1252 (the C.UTF-8 locale of wine_env.sh): veltoctl with real key events
# from xdotool, typing into Wine's own notepad, read back as Unicode.
#
#   - the shipped Russian phonetic layout types Cyrillic, without a warning;
#   - a Unicode layout (tests/wine/data/unicode.vkl, compiled here) types
#     Devanagari, through a dead key and a macro too;
#   - an emoji beyond U+FFFF, on a key and in a macro, arrives as one
#     character, with the keys after it in order;
#   - an ANSI window of our own (velto-ansi-window.exe) receives each
#     character converted to code page 1252;
#   - dead keys as deep as Compose (tests/wine/data/compose.vkl): a chain of
#     two dead keys, a composition of two characters and compose sequences
#     on the Menu key, the ones that would slip past to the system included.
#
# A win64 build's programs run under 64-bit Wine, a win32 build's under
# 32-bit Wine (skipped, exit 77, where this machine cannot run 32-bit
# programs; see wine_env.sh).
#
# Usage: run_unicode_test.sh WIN64-OR-WIN32-BUILD-DIR
# Environment: VELTO_VELTOC (a veltoc that runs here, by default the
#              Windows builds' build/host/veltoc), and those of wine_env.sh.
set -uo pipefail

build="${1:?usage: run_unicode_test.sh WIN64-OR-WIN32-BUILD-DIR}"
started=$SECONDS
here="$(dirname "$0")"
source "$here/wine_env.sh"
source "$here/veltoctl_env.sh"
copy_to_bin unicode veltoctl.exe velto-window-text.exe velto-ansi-window.exe layouts/ru-phonetic.vkb

# start_ctl NAME FILE: a controller on layout 1 of FILE, which must warn of
# nothing (without a companion, of which it would): a layout with a
# character set types right whatever the system's code page.
start_ctl() {
  run_ctl "$1" "$bin" "$2" --layout 1 --no-companion
  local log="$tmp/$1.log"
  wait_until 30 log_has "$log" "Velto is running"
  check "veltoctl starts with $2" $? "$(lines "$log")"
  ! log_has "$log" "warning:"
  check "  ... and warns of no code page" $? "$(lines "$log" | grep 'warning:')"
}

# use NAME: the window that the next keys go to, activated by a click (no
# window manager runs to activate it otherwise).
use() {
  window="$(eval echo "\$${1}_window")"
  xdotool mousemove --window "$window" 150 150 click 1
  wait_until 20 focus || { say "FAIL: cannot focus the $1 window"; exit 1; }
  sleep 0.5
}
text() { (cd "$bin" && "$wine" velto-window-text.exe Notepad) 2>/dev/null | tr -d '\r'; }

# --- Cyrillic by the shipped layout --------------------------------------------------
start_ctl ctl ru-phonetic.vkb
(cd "$bin" && exec "$wine" notepad) >/dev/null 2>&1 &
track $!
find_notepad() { notepad_window="$(xdotool search --onlyvisible --name "Notepad" 2>/dev/null | head -1)"; [ -n "$notepad_window" ]; }
wait_until 60 find_notepad || { say "FAIL: notepad did not open"; exit 1; }
# Beside the ANSI window, which goes to x 512.
xdotool windowmove "$notepad_window" 0 0 windowsize "$notepad_window" 500 400
use notepad
xdotool type --delay 60 "Privet mir"
wait_until 15 text_is "Привет мир"
check "ru-phonetic types Cyrillic into notepad" $? "$(where_text_differs "Привет мир")"

# --- The ANSI window, with Cyrillic --------------------------------------------------
(cd "$bin" && exec "$wine" velto-ansi-window.exe chars.txt) >"$tmp/ansi.log" 2>&1 &
track $!
find_ansi() { ansi_window="$(xdotool search --onlyvisible --name "Velto ANSI window" 2>/dev/null | head -1)"; [ -n "$ansi_window" ]; }
wait_until 60 log_has "$tmp/ansi.log" READY && wait_until 20 find_ansi ||
  { say "FAIL: the ANSI window did not open: $(lines "$tmp/ansi.log")"; exit 1; }
xdotool windowmove "$ansi_window" 512 0
# What it received, its character codes in hex on one line.
received() { lines "$bin/chars.txt" 2>/dev/null | tr '\n' ' ' | sed 's/ $//'; }
received_is() { [ "$(received)" = "$1" ]; }
use ansi
# п is no character of code page 1252: the conversion for the ANSI window
# makes it the default character '?' (0x3F), as WideCharToMultiByte does.
xdotool type --delay 60 "p1"
wait_until 10 received_is "3F 31"
check "an ANSI window receives Cyrillic as '?' (code page 1252 lacks it)" $? "received '$(received)'"
quit_ctl ctl "veltoctl stops on 'quit'"

# --- A Unicode layout: Devanagari, é and an emoji ------------------------------------
start_ctl ctl2 unicode.vkb
log_has "$ctl2_log" "layout 1 (देवनागरी)"
check "  ... and names the layout in its own script" $? "$(lines "$ctl2_log" | head -2)"
use ansi
# é is in code page 1252: the window receives its byte there. क is not.
ralt e
wait_until 10 received_is "3F 31 E9"
xdotool type --delay 60 "k"
wait_until 10 received_is "3F 31 E9 3F"
check "the ANSI window receives é as 0xE9 and Devanagari as '?'" $? "received '$(received)'"

use notepad
clear_notepad
# Letters and vowel signs, the virama (x), the nukta dead key (') and a macro.
xdotool type --delay 60 "nmsxte hinxdI 'k'd "
ralt m नमस्ते
# The nukta rows give the precomposed letters U+0958 and U+095C.
expected="नमस्ते हिन्दी "$'\u0958\u095c'" नमस्ते"
wait_until 15 text_is "$expected"
check "the Unicode layout types Devanagari, by keys, a dead key and a macro" $? "$(where_text_differs "$expected")"

clear_notepad
# U+1F600 is two WM_CHARs, the high half first. The text reads back as UTF-8,
# in which a lone or swapped half cannot come out as the emoji.
xdotool type --delay 60 "qnm"
ralt q "😀 ok"
xdotool type --delay 60 "k"
expected="😀नम😀 okक"
wait_until 15 text_is "$expected"
check "an emoji, on a key and in a macro, arrives as one character, the keys after it in order" $? \
  "$(where_text_differs "$expected")"
quit_ctl ctl2 "veltoctl stops on 'quit'"

# --- Dead keys as deep as Compose -------------------------------------------------------
if ! "$veltoc" compile "$here/data/compose.vkl" -o "$bin/compose.vkb" >"$tmp/veltoc.log" 2>&1; then
  say "FAIL: $veltoc cannot compile compose.vkl: $(cat "$tmp/veltoc.log")"; exit 1
fi
start_ctl ctl3 compose.vkb
use notepad
clear_notepad
# ^ then the dot below, then a; ´ then j (two characters); the compose key
# (Menu), o, c and e, e (a text); ´ then Space.
xdotool key --delay 60 1 2 a 3 j Menu o c Menu e e 3 space
expected=$'ậj́©€uro´'
wait_until 15 text_is "$expected"
check "a chained dead key, a composition of two characters and compose sequences type into notepad" $? \
  "$(where_text_differs "$expected")"
quit_ctl ctl3 "veltoctl stops on 'quit'"

if [ "$failures" -ne 0 ]; then
  say "$failures check(s) failed"
  exit 1
fi
say "all checks passed"
