#!/usr/bin/env bash
# The installer and the portable zip under Wine, each part in a fresh prefix:
#
#   1. a silent per-user install: the files, the Start menu shortcut, the Run
#      value and the uninstall key; Velto started by the installer, and again
#      from where the shortcut points, typing into notepad (and, where this
#      machine runs 32-bit programs, into Wine's 32-bit notepad); a silent
#      uninstall that leaves nothing behind but the user's settings;
#   2. an upgrade from 0.0.1 over a running Velto: the user's settings and
#      layouts kept byte for byte, start at sign-in left off as the user set
#      it, the new version in the uninstall key, Velto running again; the
#      uninstall with /REMOVESETTINGS removes the settings too, and the
#      registry holds nothing of Velto's;
#   3. the portable zip unpacked into a folder named with spaces and
#      non-ASCII characters: it runs, types, and writes nothing outside its
#      folder and %APPDATA%\Velto.
# The installers are made here with makensis (the 32-bit one only built: this
# machine runs no 32-bit program); the 64-bit one takes its companion from
# build/win32.
#
# Usage: run_install_test.sh WIN64-BUILD-DIR
set -uo pipefail

build="${1:?usage: run_install_test.sh WIN64-BUILD-DIR}"
build="$(cd "$build" 2>/dev/null && pwd)" || { echo "FAIL: no build directory $1"; exit 1; }
started=$SECONDS
here="$(cd "$(dirname "$0")" && pwd)"
src="$(cd "$here/../.." && pwd)"
if ! command -v makensis >/dev/null; then
  why="makensis is not installed (scripts/deps.sh package)"
  [ -f "$src/build/deps/nsis.unavailable" ] && why="$(cat "$src/build/deps/nsis.unavailable")"
  echo "SKIP: $(basename "$0"), because $why"
  exit 77
fi
build32="$(cd "$build/.." && pwd)/win32"
for file in velto-companion.exe velto.dll velto.exe; do
  if [ ! -f "$build32/$file" ]; then
    echo "FAIL: $build32/$file is missing: the 64-bit installer takes the 32-bit companion from there (scripts/build.sh win32)"
    exit 1
  fi
done
export VELTO_BUDGET="${VELTO_BUDGET:-540}"
source "$here/wine_env.sh"
source "$here/veltoctl_env.sh"
# Wine's menu builder would copy the Start menu shortcut to this machine's own menus.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
say "Xvfb on $DISPLAY, Wine prefix ready ($("$wine" --version 2>/dev/null | tr -d '\r'))"

version="$(head -1 "$src/VERSION" | tr -d '[:space:]')"
old_version=0.0.1
nsis() {  # nsis VERSION ARCH MAIN OUT [COMPANION]
  local extra=()
  [ -n "${5:-}" ] && extra=(-DCOMPANION="$5")
  makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$1" -DARCH="$2" -DSRC="$src" -DMAIN="$3" -DOUTFILE="$4" \
    "${extra[@]}" "$src/installer/velto.nsi" >"$tmp/makensis.log" 2>&1
}
nsis "$version" x64 "$build" "$tmp/setup.exe" "$build32" &&
  nsis "$old_version" x64 "$build" "$tmp/setup-old.exe" "$build32" &&
  nsis "$version" x86 "$build32" "$tmp/setup-x86.exe"
check "makensis builds the installers (x64 $version and $old_version, x86)" $? "$(tail -20 "$tmp/makensis.log")"
say "  (x64 installer: $(stat -c %s "$tmp/setup.exe" 2>/dev/null) bytes)"
[ -f "$tmp/setup.exe" ] && [ -f "$tmp/setup-old.exe" ] || exit 1

# Every part starts from a copy of the prefix as wineboot left it.
cp -a "$WINEPREFIX" "$tmp/pristine"
fresh_prefix() {
  timeout 30 "$wineserver" -k 2>/dev/null
  timeout 30 "$wineserver" -w 2>/dev/null
  export WINEPREFIX="$tmp/$1"
  cp -a "$tmp/pristine" "$WINEPREFIX"
}

winpath() { local p="Z:$1"; echo "${p//\//\\}"; }
unixpath() { realpath -m "$("$wine" winepath -u "$1" 2>/dev/null | tr -d '\r')"; }
uninst_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velto'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
regval() {  # regval KEY NAME: the value's data; fails when it is not there
  local out
  out="$("$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r')" || return 1
  echo "$out" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
no_key() { ! "$wine" reg query "$1" >/dev/null 2>&1; }
install() {  # install SETUP ARGS...: a silent install; its status
  timeout 120 "$wine" "$@" /S >"$tmp/install.out" 2>&1
}
runs() { (cd "$1" && timeout 20 "$wine" velto.exe --send state) >/dev/null 2>&1; }
stops() { (cd "$1" && timeout 20 "$wine" velto.exe --send quit) >/dev/null 2>&1; wait_until 20 eval "! runs '$1'"; }
start_logged() {  # start_logged DIR LOG: velto.exe of DIR with --log; sets $velto_pid
  (cd "$1" && exec "$wine" velto.exe --log "$(winpath "$2")") >/dev/null 2>&1 &
  velto_pid=$!
  track $velto_pid
  wait_until 30 log_has "$2" "Velto is running"
}
text() { (cd "$build" && "$wine" velto-window-text.exe Notepad) 2>/dev/null | tr -d '\r'; }
notepad_window() { window="$(xdotool search --onlyvisible --name "Notepad" 2>/dev/null | head -1)"; [ -n "$window" ]; }
# types_accent DIR NAME: the Velto of DIR on US International types 'e as é
# into a new notepad
types_accent() {
  (cd "$1" && timeout 20 "$wine" velto.exe --send "layout 1") >/dev/null 2>&1
  "$wine" notepad >/dev/null 2>&1 &
  track $!
  wait_until 60 notepad_window && wait_until 20 focus || { check "$2" 1 "notepad did not open"; return; }
  sleep 0.5
  xdotool type --delay 80 "'e"
  wait_until 10 text_is "é"
  check "$2" $? "notepad holds '$(text)'"
}
user_dir() { echo "$WINEPREFIX/drive_c/users/$(whoami)"; }
shipped=(velto.exe veltoctl.exe velto64.dll veltoc.exe velto-companion.exe velto.dll uninstall.exe README.md
  layouts/us.vkl layouts/intl.vkl layouts/intl.vkb docs/settings.md docs/tray-menu.png locale/compose.dir
  locale/en_US.UTF-8/Compose)

# --- 1. A fresh per-user install, run, uninstalled ---------------------------------------
install "$tmp/setup.exe"
check "a silent per-user install ends with status 0" $? "$(lines "$tmp/install.out")"
inst_win="$(regval "$uninst_key" InstallLocation)"
inst="$(unixpath "$inst_win")"
appdata="$(user_dir)/AppData/Roaming"
[ "$inst" = "$(user_dir)/AppData/Local/Programs/Velto" ]
check "  ... into the user's programs folder" $? "InstallLocation '$inst_win' ($inst)"
missing=""
for file in "${shipped[@]}"; do [ -f "$inst/$file" ] || missing+=" $file"; done
cmp -s "$inst/velto-companion.exe" "$build32/velto-companion.exe" && cmp -s "$inst/velto64.dll" "$build/velto64.dll" &&
  [ -z "$missing" ] && [ "$(ls "$inst/layouts" | wc -l)" = "$(($(ls "$src/layouts" | wc -l) * 2))" ]
check "  ... the programs, the 32-bit companion, the layouts and the docs" $? "missing:${missing:- none}; $(ls "$inst" "$inst/layouts" 2>&1 | tr '\n' ' ')"
# intl.vkl takes its compose key's sequences from the Compose file beside the programs.
(cd "$inst" && "$wine" veltoc.exe compile layouts/intl.vkl -o intl-check.vkb) >"$tmp/veltoc-installed.out" 2>&1 &&
  cmp -s "$inst/intl-check.vkb" "$inst/layouts/intl.vkb"
check "  ... and its veltoc.exe compiles intl.vkl, compose key and all, to the shipped intl.vkb" $? \
  "$(lines "$tmp/veltoc-installed.out")"
rm -f "$inst/intl-check.vkb"
lnk="$appdata/Microsoft/Windows/Start Menu/Programs/Velto.lnk"
target="$(python3 - "$lnk" <<'EOF' 2>/dev/null
import re, sys
data = open(sys.argv[1], "rb").read()
for text in (data.decode("latin-1"), data.decode("utf-16-le", "replace"), data[1:].decode("utf-16-le", "replace")):
    m = re.search(r"[A-Za-z]:\\[^\x00\ufffd]*?velto\.exe", text, re.I)
    if m:
        print(m.group(0))
        break
EOF
)"
[ "$target" = "$inst_win\\velto.exe" ]
check "the Start menu shortcut points at the installed velto.exe" $? "'$lnk' names '$target'"
[ "$(regval "$run_key" Velto)" = "\"$inst_win\\velto.exe\"" ]
check "start at sign-in: the user's Run value" $? "$("$wine" reg query "$run_key" 2>&1 | tr -d '\r')"
[ "$(regval "$uninst_key" DisplayVersion)" = "$version" ] && [ "$(regval "$uninst_key" Publisher)" = Velto ] &&
  [ "$(regval "$uninst_key" QuietUninstallString)" = "\"$inst_win\\uninstall.exe\" /CURRENTUSER /S" ] &&
  regval "$uninst_key" EstimatedSize >/dev/null && regval "$uninst_key" NoModify >/dev/null
check "the uninstall key: version $version, publisher, quiet uninstall, size" $? "$("$wine" reg query "$uninst_key" 2>&1 | tr -d '\r')"
wait_until 30 runs "$inst"
check "the installer starts Velto" $? "--send state finds none"
grep -q '^start at sign-in = on' "$appdata/Velto/settings.ini" 2>/dev/null
check "  ... whose first start writes the settings, start at sign-in on" $? "$(ls "$appdata/Velto" 2>&1)"

stops "$inst"
start_logged "$(dirname "$(unixpath "$target")")" "$tmp/velto1.log"
check "Velto starts from where the shortcut points" $? "$(lines "$tmp/velto1.log" 2>/dev/null)"
types_accent "$inst" "  ... and types into notepad: 'e gives é on US International"

# Where this machine runs 32-bit programs, the 64-bit install translates
# Wine's 32-bit notepad too, through the companion it installed.
wine32="${VELTO_WINE32:-/usr/lib/wine/wine}"
if reason="$("$here/wine32_ready.sh" "$wine32")"; then
  wait_until 30 log_has "$tmp/velto1.log" "32-bit applications are translated too"
  check "  ... with its 32-bit companion" $? "$(lines "$tmp/velto1.log" | tail -2)"
  : >"$tmp/n32.txt"
  (cd "$tmp" && exec "$wine32" 'C:\windows\syswow64\notepad.exe' n32.txt) >/dev/null 2>&1 &
  track $!
  n32_window() { window="$(xdotool search --onlyvisible --name '^n32.txt - Notepad$' 2>/dev/null | head -1)"; [ -n "$window" ]; }
  text32() { (cd "$build" && "$wine" velto-window-text.exe Notepad Edit "n32.txt - Notepad") 2>/dev/null | tr -d '\r'; }
  if wait_until 60 n32_window && wait_until 20 focus; then
    sleep 0.5
    xdotool type --delay 80 "'e"
    wait_until 10 eval '[ "$(text32)" = "é" ]'
    check "  ... and types into Wine's 32-bit notepad" $? "notepad holds '$(text32)'"
  else
    check "  ... and types into Wine's 32-bit notepad" 1 "the 32-bit notepad did not open"
  fi
else
  say "skipped: typing into Wine's 32-bit notepad, because $reason"
fi

timeout 60 "$wine" "$inst/uninstall.exe" /S >/dev/null 2>&1
uninstalled() { [ ! -e "$inst" ] && no_key "$uninst_key"; }
wait_until 60 uninstalled
check "a silent uninstall removes the install folder and the uninstall key" $? "$(find "$inst" 2>&1 | head -5 | tr '\n' ' ')"
! regval "$run_key" Velto >/dev/null && [ ! -e "$lnk" ]
check "  ... the Run value and the shortcut" $? "Run: $(regval "$run_key" Velto); $(ls "$lnk" 2>&1)"
wait_until 20 exited "$velto_pid" && log_has "$tmp/velto1.log" "Velto is stopped."
check "  ... having stopped the Velto that ran" $? "$(lines "$tmp/velto1.log" | tail -2)"
[ -f "$appdata/Velto/settings.ini" ]
check "  ... and keeps the user's settings" $? "$(ls -R "$appdata/Velto" 2>&1)"

# --- 2. An upgrade over a running Velto -----------------------------------------------------
fresh_prefix upgrade
say "fresh prefix: $WINEPREFIX"
install "$tmp/setup-old.exe"
inst_win="$(regval "$uninst_key" InstallLocation)"
inst="$(unixpath "$inst_win")"
appdata="$(user_dir)/AppData/Roaming"
wait_until 30 runs "$inst" && [ "$(regval "$uninst_key" DisplayVersion)" = "$old_version" ] &&
  regval "$run_key" Velto >/dev/null
check "version $old_version installed and running, starting at sign-in" $? "$(lines "$tmp/install.out")"
(cd "$inst" && timeout 20 "$wine" velto.exe --send "sign-in off") >/dev/null 2>&1
wait_until 10 eval '! regval "$run_key" Velto >/dev/null'
stops "$inst"
start_logged "$inst" "$tmp/velto2.log"
printf '# my own line\n' >>"$appdata/Velto/settings.ini"
printf 'layout 0 "Mine" {\n  key Q x\n}\n' >"$appdata/Velto/layouts/mine.vkl"
cp "$appdata/Velto/settings.ini" "$tmp/settings.before"
install "$tmp/setup.exe"
check "version $version installs over it" $? "$(lines "$tmp/install.out")"
wait_until 20 exited "$velto_pid" && log_has "$tmp/velto2.log" "Velto is stopped."
check "  ... stopping the running Velto first" $? "$(lines "$tmp/velto2.log" | tail -2)"
cmp -s "$tmp/settings.before" "$appdata/Velto/settings.ini" && [ -f "$appdata/Velto/layouts/mine.vkl" ]
check "  ... keeping the user's settings and layouts" $? "$(diff "$tmp/settings.before" "$appdata/Velto/settings.ini" | head -5)"
[ "$(regval "$uninst_key" DisplayVersion)" = "$version" ] && [ "$(regval "$uninst_key" InstallLocation)" = "$inst_win" ]
check "  ... the uninstall key now says $version, in the same folder" $? "$("$wine" reg query "$uninst_key" 2>&1 | tr -d '\r')"
! regval "$run_key" Velto >/dev/null
check "  ... and start at sign-in stays off, as the user set it" $? "Run: $(regval "$run_key" Velto)"
wait_until 30 runs "$inst"
check "  ... and Velto runs again" $? "--send state finds none"

timeout 60 "$wine" "$inst/uninstall.exe" /S /REMOVESETTINGS >/dev/null 2>&1
wait_until 60 uninstalled && wait_until 10 test ! -e "$appdata/Velto"
check "an uninstall with /REMOVESETTINGS removes the settings too" $? "$(ls "$inst" "$appdata/Velto" 2>&1 | tr '\n' ' ')"
timeout 30 "$wineserver" -k 2>/dev/null
timeout 30 "$wineserver" -w 2>/dev/null
temp="$(user_dir)/Temp"
left="$(grep -il velto "$WINEPREFIX"/*.reg; find "$WINEPREFIX/drive_c" -iname '*velto*')"
[ -z "$left" ]
check "  ... and nothing named Velto is left in the registry or on the disk" $? "$left $(grep -ih velto "$WINEPREFIX"/*.reg | head -5)"
# A library still mapped by a program that had the hook (notepad, Wine's
# desktop) cannot be deleted: it waits in the temporary folder for a restart.
pending="$(grep -A3 PendingFileRenameOperations "$WINEPREFIX/system.reg")"
unscheduled=""
for file in "$temp"/*; do
  if [ -f "$file" ] && cmp -s "$file" "$build/velto64.dll" && [[ "$pending" != *"$(basename "$file")"* ]]; then
    unscheduled+=" $file"
  fi
done
[ -z "$unscheduled" ]
check "  ... but libraries still in use, in the temporary folder, deleted at the next restart" $? \
  "not scheduled:$unscheduled; $pending"
say "  ($(for f in "$temp"/*; do [ -f "$f" ] && cmp -s "$f" "$build/velto64.dll" && echo x; done | wc -l) libraries moved aside)"

# --- 3. The portable zip, in a folder with spaces and non-ASCII characters ---------------------
fresh_prefix portable
say "fresh prefix: $WINEPREFIX"
zip="$tmp/velto-$version-portable-x64.zip"
"$src/scripts/portable_zip.py" "$src" "$build" "$build32" "$version" "$zip"
check "the portable zip is written" $? "portable_zip.py failed"
folder="$WINEPREFIX/drive_c/Velto portable ü 日本"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$folder"
portable="$folder/Velto-$version"
missing=""
for file in "${shipped[@]}" PORTABLE.txt; do
  [ "$file" = uninstall.exe ] || [ -f "$portable/$file" ] || missing+=" $file"
done
[ -z "$missing" ]
check "  ... holding the 64-bit set under Velto-$version" $? "missing:$missing"
sleep 1.1
touch "$tmp/before-portable"
start_logged "$portable" "$tmp/velto3.log"
check "the portable Velto runs from '$(basename "$folder")'" $? "$(lines "$tmp/velto3.log" 2>/dev/null)"
types_accent "$portable" "  ... and types into notepad"
stops "$portable"
appdata="$(user_dir)/AppData/Roaming"
written="$(find "$WINEPREFIX/drive_c" -newer "$tmp/before-portable" -type f -not -path "$folder/*" \
  -not -path "$appdata/Velto/*")"
[ -z "$written" ] && [ -f "$appdata/Velto/settings.ini" ] && ! regval "$run_key" Velto >/dev/null
check "  ... writing nothing outside its folder and %APPDATA%\\Velto" $? "$written"

say "$failures failed, in $((SECONDS - started)) s"
[ "$failures" = 0 ]
