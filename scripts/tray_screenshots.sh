#!/usr/bin/env bash
# The pictures of velto.exe in the README: its icon in Wine's notification
# area with translation on and off, for the two built-in layouts
# (docs/tray-icons.png), and its menu (docs/tray-menu.png). Needs a win64
# build (scripts/build.sh win64) and ImageMagick (scripts/deps.sh demo).
#
# Usage: scripts/tray_screenshots.sh [OUTPUT-DIR]   (default docs)
set -uo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
build=build/win64
started=$SECONDS
command -v import >/dev/null && command -v montage >/dev/null ||
  { echo "tray_screenshots.sh: ImageMagick is not installed (scripts/deps.sh demo)" >&2; exit 1; }
[ -f "$build/velto.exe" ] || { echo "tray_screenshots.sh: no $build/velto.exe (scripts/build.sh win64)" >&2; exit 1; }
VELTO_BUDGET=120 source tests/wine/wine_env.sh

bin="$tmp/bin"
mkdir -p "$bin"
cp "$build/velto64.dll" "$build/velto.exe" "$bin/"
printf '[velto]\nnotifications = off\n' >"$tmp/settings.ini"
settings="Z:${tmp//\//\\}\\settings.ini"
log="$tmp/velto.log"
tray() { xdotool search --name '^Wine System Tray$' 2>/dev/null | head -1; }
send() { (cd "$bin" && "$wine" velto.exe --settings "$settings" --send "$1") >/dev/null 2>&1; sleep 1; }
# start ARGS...: velto.exe anew (Wine's tray draws a changed icon over the
# old one without clearing it, which the Windows shell does not do).
start() {
  : >"$log"
  (cd "$bin" && exec "$wine" velto.exe --no-companion --settings "$settings" --log "Z:${log//\//\\}" "$@") \
    >/dev/null 2>&1 &
  track $!
  wait_until 30 grep -qs "Velto is running" "$log" && wait_until 30 tray >/dev/null ||
    { say "velto.exe did not start: $(cat "$log" 2>/dev/null)"; exit 1; }
  sleep 1
}
stop() { send quit; wait_until 10 grep -qs "Velto is stopped" "$log"; sleep 1; }

# The icon: the tray window's first icon, at its own size, enlarged six
# times pixel for pixel, with what it shows beneath.
font="$(fc-match -f '%{file}' sans 2>/dev/null)"
tiles=()
for state in "0::US, on" "1::US International, on" "0:--disabled:US, off" "1:--disabled:US International, off"; do
  IFS=: read -r layout disabled label <<<"$state"
  start --layout "$layout" $disabled
  eval "$(xdotool getwindowgeometry --shell "$(tray)")"
  name="icon-$layout${disabled:+-off}"
  import -window root -crop "${HEIGHT}x${HEIGHT}+${X}+${Y}" +repage "$tmp/$name.png"
  convert "$tmp/$name.png" -filter point -resize 600% "$tmp/$name-big.png"
  tiles+=(-label "$label" "$tmp/$name-big.png")
  stop
done
montage -background white ${font:+-font "$font"} -pointsize 14 -geometry +30+6 "${tiles[@]}" -tile 4x1 \
  "$out/tray-icons.png"

# The menu, as a second start opens it, at the pointer.
start --layout 1
xdotool mousemove 40 60
send show
import -window root -crop 420x400+0+0 +repage "$tmp/menu.png"
convert "$tmp/menu.png" -trim +repage -bordercolor black -border 8 "$out/tray-menu.png"
send quit
echo "Wrote $out/tray-icons.png and $out/tray-menu.png"
