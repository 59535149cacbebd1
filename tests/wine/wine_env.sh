# Shared by the Wine tests and the demo (sourced, not run): a temporary Wine
# prefix on a virtual X display of its own, and clean-up of every process
# started through it.
#
# Before sourcing, set `started=$SECONDS`, and `build` to a Windows build
# directory: its library, velto64.dll or velto.dll ($dll), chooses 64-bit or
# 32-bit Wine ($bits 64 or 32). A 32-bit build runs in a 32-bit prefix; where
# this machine cannot run 32-bit programs or 32-bit Wine is not installed
# (wine32_ready.sh), the sourcing script prints why and exits 77 (skipped).
# After it: $tmp, $wine, $wineserver, $DISPLAY, $right_alt (the right Alt
# key's X keycode), and
#   say TEXT...          a line with the seconds since the start
#   wait_until S CMD...  runs CMD every 0.1 s until it succeeds, S seconds at most
#   track PID            a process that the clean-up ends
#   check NAME STATUS D  "ok NAME" when STATUS is 0, else "FAIL NAME: D" (counted in $failures)
#   lines FILE           a program's output without carriage returns
#   focus                gives $window the X focus; true once it has it
#   text_is TEXT         the sourcing script's `text` prints TEXT
#   clear_notepad        empties the edit control in focus (ctrl+a, BackSpace)
#   where_text_differs TEXT  where `text` first differs from TEXT, for a failure
#   ralt KEY [TEXT]      KEY with right Alt held; with TEXT, waits (10 s at most)
#                        until `text` ends with it: a macro the timer types
#                        may otherwise be overtaken by a key the system types
# Environment: VELTO_WINE, VELTO_WINESERVER (by default /usr/lib/wine/wine64
# and wineserver64, for a 32-bit build /usr/lib/wine/wine and wineserver),
# WINEARCH (win32 for a 32-bit build unless set), VELTO_KEEP_TMP=1 (keeps
# $tmp), VELTO_BUDGET (seconds after which every wait gives up; default 270).

say() { printf '[%3ds] %s\n' $((SECONDS - started)) "$*"; }

if [ -f "${build:-}/velto64.dll" ]; then
  dll=velto64.dll bits=64
elif [ -f "${build:-}/velto.dll" ]; then
  dll=velto.dll bits=32
else
  say "FAIL: ${build:-(no build directory)} holds neither velto64.dll nor velto.dll (scripts/build.sh win64 or win32)"
  exit 1
fi
if [ "$bits" = 64 ]; then
  wine="${VELTO_WINE:-/usr/lib/wine/wine64}"
  wineserver="${VELTO_WINESERVER:-/usr/lib/wine/wineserver64}"
else
  wine="${VELTO_WINE:-/usr/lib/wine/wine}"
  wineserver="${VELTO_WINESERVER:-/usr/lib/wine/wineserver}"
  export WINEARCH="${WINEARCH:-win32}"
  skip() { echo "SKIP: $(basename "$0") $build ($dll under 32-bit Wine), because $*"; exit 77; }
  if ! why="$("$(dirname "${BASH_SOURCE[0]}")/wine32_ready.sh" "$wine")"; then
    skip "$why"
  fi
fi

for tool in "$wine" "$wineserver" Xvfb xdotool xkbcomp; do
  if ! command -v "$tool" >/dev/null; then
    say "FAIL: $tool is not installed (scripts/deps.sh wine)"
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

track() { pids+=("$1"); }

failures=0
check() {  # check NAME STATUS DETAILS: STATUS 0 passes
  if [ "$2" = 0 ]; then
    say "ok   $1"
  else
    say "FAIL $1: $3"
    failures=$((failures + 1))
  fi
}

# A program's stdout, without the carriage returns of Wine's text mode.
lines() { tr -d '\r' <"$1"; }

focus() {
  timeout 10 xdotool windowfocus --sync "$window" 2>/dev/null
  [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ]
}
text_is() { [ "$(text)" = "$1" ]; }
clear_notepad() {
  focus
  xdotool key ctrl+a BackSpace
  wait_until 10 text_is ""
}
ralt() {
  xdotool keydown "$right_alt" key "$1" keyup "$right_alt"
  if [ -n "${2:-}" ]; then
    wait_until 10 text_ends_with "$2"
  else
    sleep 0.1
  fi
}
text_ends_with() { [[ "$(text)" == *"$1" ]]; }
where_text_differs() {
  local got i=0
  got="$(text)"
  while [ "$i" -lt "${#1}" ] && [ "${1:i:1}" = "${got:i:1}" ]; do i=$((i + 1)); done
  local line="${#got} characters for ${#1}, first differing at $i: '${got:i:24}' for '${1:i:24}'"
  line+=" (before it '${got:$((i < 24 ? 0 : i - 24)):$((i < 24 ? i : 24))}')"
  echo "${line//$'\n'/\\n}"
}

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

budget_end=$((started + ${VELTO_BUDGET:-270}))

wait_until() {
  local deadline=$((SECONDS + $1))
  [ "$deadline" -le "$budget_end" ] || deadline=$budget_end
  shift
  while ! "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# --- X server ----------------------------------------------------------------------
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
if ! wait_until 30 test -s "$tmp/display"; then
  say "FAIL: Xvfb did not start"; cat "$tmp/xvfb.log"; exit 1
fi
export DISPLAY=":$(head -1 "$tmp/display")"
# The right Alt key by its keycode: xdotool's "Alt_R" presses left Alt with it.
right_alt="$(xkbcomp -xkb "$DISPLAY" - 2>/dev/null | sed -n 's/^ *<RALT> = \([0-9]*\);.*/\1/p')"
if [ -z "$right_alt" ]; then
  say "FAIL: no right Alt key in the X server's keymap"; exit 1
fi

# --- Wine prefix -------------------------------------------------------------------
if ! timeout 150 "$wine" wineboot --init >"$tmp/wineboot.log" 2>&1; then
  say "FAIL: wineboot did not finish"; tail -20 "$tmp/wineboot.log"; exit 1
fi
timeout 60 "$wineserver" -w
if [ "$bits" = 32 ] && [ "$WINEARCH" = win32 ] && ! grep -q '^#arch=win32' "$WINEPREFIX/system.reg"; then
  say "FAIL: $wine made no 32-bit prefix: $(grep -m1 '^#arch' "$WINEPREFIX/system.reg")"; exit 1
fi
