#!/usr/bin/env bash
# The pictures of the on-screen keyboard in the README, as velto.exe draws
# it under Wine: US International (layout 1) as it types, and with Shift
# held (docs/onscreen-keyboard.png, docs/onscreen-keyboard-shift.png). Needs
# a win64 build (scripts/build.sh win64) and ImageMagick (scripts/deps.sh demo).
#
# Usage: scripts/keyboard_screenshots.sh [OUTPUT-DIR]   (default docs)
set -uo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
build=build/win64
started=$SECONDS
command -v import >/dev/null ||
  { echo "keyboard_screenshots.sh: ImageMagick is not installed (scripts/deps.sh demo)" >&2; exit 1; }
[ -f "$build/velto.exe" ] || { echo "keyboard_screenshots.sh: no $build/velto.exe (scripts/build.sh win64)" >&2; exit 1; }
VELTO_BUDGET=120 source tests/wine/wine_env.sh

bin="$tmp/bin"
mkdir -p "$bin"
cp "$build/velto64.dll" "$build/velto.exe" "$bin/"
printf '[velto]\nnotifications = off\nkeyboard window = 40, 40, 760, 345\n' >"$tmp/settings.ini"
settings="Z:${tmp//\//\\}\\settings.ini"
log="$tmp/velto.log"
send() { (cd "$bin" && "$wine" velto.exe --settings "$settings" --send "$1") >/dev/null 2>&1; }

(cd "$bin" && exec "$wine" velto.exe --no-companion --layout 1 --settings "$settings" --log "Z:${log//\//\\}") \
  >/dev/null 2>&1 &
track $!
wait_until 30 grep -qs "Velto is running" "$log" || { say "velto.exe did not start: $(cat "$log" 2>/dev/null)"; exit 1; }
send "keyboard show"
keyboard() { xdotool search --onlyvisible --name '^Velto keyboard$' 2>/dev/null | head -1; }
wait_until 10 keyboard >/dev/null || { say "the keyboard did not show: $(cat "$log")"; exit 1; }
window=$(keyboard)
sleep 1
import -window "$window" "$out/onscreen-keyboard.png"
xdotool keydown Shift_L
sleep 0.5
import -window "$window" "$out/onscreen-keyboard-shift.png"
xdotool keyup Shift_L
send quit
echo "Wrote $out/onscreen-keyboard.png and $out/onscreen-keyboard-shift.png"
