#!/usr/bin/env bash
# veltoctl.exe --diagnostics under Wine: a veltoctl runs with the shipped
# international layouts and a settings file with a rule, a few words are
# typed into Wine's notepad, and a second veltoctl asks it for its report.
# The report is checked line by line (version, library, layouts, settings,
# the rule that applies, notepad in front, the code page), and must hold
# none of the words typed. With no instance running, the report says that
# it shows only what the program sees.
#
# Usage: run_diagnostics_test.sh WIN64-BUILD-DIR
set -uo pipefail

build="${1:?usage: run_diagnostics_test.sh WIN64-BUILD-DIR}"
started=$SECONDS
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine_env.sh"
source "$here/veltoctl_env.sh"
for file in veltoctl.exe velto-window-text.exe layouts/intl.vkb; do
  [ -f "$build/$file" ] || { say "FAIL: $build/$file is missing (scripts/build.sh win$bits)"; exit 1; }
done
say "Xvfb on $DISPLAY, Wine prefix ready ($bits-bit, $("$wine" --version 2>/dev/null | tr -d '\r'))"

bin="$tmp/bin"
mkdir -p "$bin"
cp "$build/$dll" "$build/veltoctl.exe" "$build/velto-window-text.exe" "$build/layouts/intl.vkb" "$bin/"
printf '[velto]\nlayout = 1\n[rule notes]\nprogram = notepad.exe\nlayout = 1\n' >"$bin/settings.ini"
version="$(head -1 "$here/../../VERSION")"

run_ctl ctl "$bin" intl.vkb --layout 1 --settings settings.ini --no-companion
wait_until 30 log_has "$ctl_log" "Velto is running"
check "veltoctl starts" $? "$(lines "$ctl_log")"

(cd "$bin" && exec "$wine" notepad) >/dev/null 2>&1 &
track $!
notepad_window() { window="$(xdotool search --onlyvisible --name "Notepad" 2>/dev/null | head -1)"; [ -n "$window" ]; }
wait_until 60 notepad_window || { say "FAIL: notepad did not open"; exit 1; }
wait_until 20 focus || { say "FAIL: cannot focus notepad"; exit 1; }
sleep 0.5
text() { (cd "$bin" && "$wine" velto-window-text.exe Notepad) 2>/dev/null | tr -d '\r'; }

xdotool type --delay 60 "Wombat quokka caf'e"
wait_until 15 text_is "Wombat quokka café"
check "the words are typed through the layout" $? "$(where_text_differs "Wombat quokka café")"

report="$tmp/report.txt"
(cd "$bin" && timeout 60 "$wine" veltoctl.exe --diagnostics </dev/null 2>&1) | tr -d '\r' >"$report"
status=${PIPESTATUS[0]}
check "--diagnostics ends with status 0" "$status" "status $status: $(head -3 "$report")"

# has NAME TEXT: the report holds the line TEXT.
has() {
  grep -qxF -- "$2" "$report"
  check "report: $1" $? "no line '$2' in: $(tr '\n' '|' <"$report")"
}
# has_like NAME REGEX: a line of the report matches REGEX.
has_like() {
  grep -qE -- "$2" "$report"
  check "report: $1" $? "no line like '$2' in: $(tr '\n' '|' <"$report")"
}
[ "$(sed -n 2p "$report")" = "" ]
check "report: of the running instance (no note in its first lines)" $? "$(head -2 "$report" | tr '\n' '|')"
has "the version" "version: $version"
has_like "the library's path" '^library: [A-Z]:\\.*\\velto64\.dll$'
has_like "the program's path" '^program: [A-Z]:\\.*\\veltoctl\.exe$'
has_like "the hooks, installed by the instance" '^64-bit: installed, by this process \(pid [0-9]+\)$'
has "the region's name" "name: quorvexveltodll"
has "the region's size" "size: 83400 bytes"
has_like "the layout file" '^source: [A-Z]:\\.*\\intl\.vkb$'
has "layout 0's name" 'layout 0: "US", character set code page 1252, badge "US"'
has_like "layout 1's name" '^layout 1: "US International", character set '
has_like "the counts" '^dead keys: [1-9][0-9]*, chains: [0-9]+, macros: [1-9][0-9]*$'
has_like "the settings file" '^file: [A-Z]:\\.*\\settings\.ini$'
has "no settings errors" "errors: none"
has "the rule" "[rule notes] notepad.exe: layout 1"
has "the rule that applies now" "applies now: [rule notes] notepad.exe: layout 1"
has "notepad in front" "executable: notepad.exe"
has "its window class" "window class: Notepad"
has "its architecture" "architecture: 64-bit"
has_like "whether it is administrator" '^administrator: (yes|no)$'
has "not in an AppContainer" "AppContainer: no"
has_like "whether its window takes Unicode" '^Unicode window: (yes|no)$'
has "the code page" "ANSI code page: 1252"
has_like "the keyboard layout" '^keyboard layout: [0-9A-F]{8}'
for typed in Wombat quokka café é; do
  ! grep -qF -- "$typed" "$report"
  check "report: nothing typed ('$typed')" $? "$(grep -F -- "$typed" "$report")"
done

quit_ctl ctl "veltoctl stops"
(cd "$bin" && timeout 60 "$wine" veltoctl.exe --diagnostics --settings settings.ini </dev/null 2>&1) |
  tr -d '\r' >"$report"
has "with none running, it says whose view it is" \
  "Note: Velto is not running: this report shows what this program sees."
has_like "  ... and that no hooks are in" '^64-bit: not installed, not by this process \(pid [0-9]+\)$'
has "  ... and no layouts handed over" "source: none handed over"
has_like "  ... with the settings file all the same" '^file: [A-Z]:\\.*\\settings\.ini$'

if [ "$failures" -ne 0 ]; then
  say "$failures check(s) failed"
  exit 1
fi
say "all checks passed"
