#!/usr/bin/env bash
# veltoc as a user runs it: exit statuses, messages, nothing written on error.
# With a second argument, also runs veltoc.exe from that Windows build under
# Wine and compares what it writes with the native compiler's output.
# Usage: veltoc_cli.sh NATIVE-BUILD-DIR [WIN64-BUILD-DIR]
set -uo pipefail
veltoc="$1/veltoc"
src="$(cd "$(dirname "$0")/../.." && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
failures=0
check() {  # check WHAT EXPECTED-STATUS COMMAND...
  local what="$1" expected="$2"
  shift 2
  "$@" >"$tmp/out" 2>"$tmp/err"
  local status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "FAIL: $what: exit $status, expected $expected"; cat "$tmp/err"; failures=$((failures + 1))
  fi
}
grep_err() {  # grep_err WHAT PATTERN
  if ! grep -qF -- "$2" "$tmp/err"; then
    echo "FAIL: $1: no '$2' in:"; cat "$tmp/err"; failures=$((failures + 1))
  fi
}

check "compile" 0 "$veltoc" compile "$src/layouts/intl.vkl" -o "$tmp/intl.vkb"
# The five blocks, then the table of its compose key's compositions.
[ "$(stat -c %s "$tmp/intl.vkb")" -gt 81528 ] || { echo "FAIL: intl.vkb has no composition table"; failures=$((failures + 1)); }
check "decompile" 0 "$veltoc" decompile "$tmp/intl.vkb" -o "$tmp/intl.vkl"
check "recompile" 0 "$veltoc" compile "$tmp/intl.vkl" -o "$tmp/again.vkb"
cmp -s "$tmp/intl.vkb" "$tmp/again.vkb" || { echo "FAIL: the round trip changed the bytes"; failures=$((failures + 1)); }

printf 'layout 1 {\n  key FOO a\n  key A \xd0\xb6\n}\n' >"$tmp/bad.vkl"
check "compile with errors" 1 "$veltoc" compile "$tmp/bad.vkl" -o "$tmp/bad.vkb"
grep_err "unknown key" "$tmp/bad.vkl:2:7: error: unknown key name \"FOO\""
grep_err "code page" "$tmp/bad.vkl:3:9: error: character U+0436"
[ ! -e "$tmp/bad.vkb" ] || { echo "FAIL: a file was written despite errors"; failures=$((failures + 1)); }
check "check with errors" 1 "$veltoc" check "$tmp/bad.vkl"

head -c 100 "$tmp/intl.vkb" >"$tmp/short.vkb"
check "short vkb" 1 "$veltoc" decompile "$tmp/short.vkb" -o "$tmp/short.vkl"
grep_err "short vkb" "it has 100 bytes, a .vkb file has 81528, followed by nothing or by a whole composition table"
check "no command" 2 "$veltoc"
check "unknown command" 2 "$veltoc" frobnicate x
grep_err "unknown command" "usage: veltoc compile"
check "no output" 2 "$veltoc" compile "$src/layouts/intl.vkl"
check "help" 0 "$veltoc" --help

check "render after a dead key" 0 "$veltoc" render "$src/layouts/intl.vkl" --after U+00B4 -o "$tmp/acute.svg"
[ -s "$tmp/acute.svg" ] || { echo "FAIL: render --after wrote no picture"; failures=$((failures + 1)); }
check "render after no dead key" 1 "$veltoc" render "$src/layouts/intl.vkl" --after x -o "$tmp/x.svg"
grep_err "render after no dead key" "intl.vkl: error: layout 1 has no dead key that shows 'x'"
[ ! -e "$tmp/x.svg" ] || { echo "FAIL: render wrote a picture despite errors"; failures=$((failures + 1)); }
check "render --after without steps" 2 "$veltoc" render "$src/layouts/intl.vkl" -o "$tmp/x.svg" --after

if [ $# -ge 2 ]; then
  export WINEPREFIX="$tmp/prefix" WINEDEBUG=-all DISPLAY=
  if ! /usr/lib/wine/wine64 "$2/veltoc.exe" compile "Z:$src/layouts/intl.vkl" -o "Z:$tmp/exe.vkb" >/dev/null 2>"$tmp/err"; then
    echo "FAIL: veltoc.exe under Wine"; cat "$tmp/err"; failures=$((failures + 1))
  elif ! cmp -s "$tmp/intl.vkb" "$tmp/exe.vkb"; then
    echo "FAIL: veltoc.exe wrote other bytes than the native veltoc"; failures=$((failures + 1))
  fi
  /usr/lib/wine/wineserver64 -k 2>/dev/null
fi

if [ "$failures" -ne 0 ]; then echo "$failures checks failed"; exit 1; fi
echo "veltoc: all checks passed"
