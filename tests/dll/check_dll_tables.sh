#!/usr/bin/env bash
# Checks the export and import tables and the machine type of both library
# builds: exactly the thirteen control functions under their underscore names
# (by name, no ordinal-only extras), imports from KERNEL32, USER32 and msvcrt
# only, i386 for velto.dll and x86-64 for velto64.dll.
#
# Usage: check_dll_tables.sh SOURCE-DIR [OBJDUMP]
#   the DLLs are SOURCE-DIR/build/win32/velto.dll and SOURCE-DIR/build/win64/velto64.dll
set -uo pipefail

src="${1:?usage: check_dll_tables.sh SOURCE-DIR [OBJDUMP]}"
objdump="${2:-x86_64-w64-mingw32-objdump}"

expected_exports="_CurrentLayout
_CurrentLayoutName
_DLLEnabled
_DLLHooked
_Enable
_InstallHook
_Leds
_MMFileSize
_RemoveHook
_SelectLayout
_SetCurrentKR
_SetupKeyboard
_ToggleLayout"
allowed_imports="kernel32.dll msvcrt.dll user32.dll"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# check_dll FILE FORMAT MAGIC
check_dll() {
  local dll="$1" format="$2" magic="$3" name dump
  name="$(basename "$dll")"
  echo "== $dll"
  if [ ! -f "$dll" ]; then
    fail "$dll does not exist (build it with scripts/build.sh win32 / win64)"
    return
  fi
  if ! dump="$("$objdump" -p "$dll" 2>&1)"; then
    fail "$objdump -p $name: $dump"
    return
  fi

  # Machine type and kind of image.
  local got_format got_magic
  got_format="$(sed -n 's/.*file format \([^ ]*\).*/\1/p' <<<"$dump" | head -1)"
  got_magic="$(awk '$1 == "Magic" { print $2; exit }' <<<"$dump")"
  [ "$got_format" = "$format" ] || fail "$name: file format '$got_format', expected '$format'"
  [ "$got_magic" = "$magic" ] || fail "$name: optional header '$got_magic', expected '$magic'"
  # The DLL flag (0x2000) of the file header's characteristics.
  local characteristics
  characteristics="$(awk '$1 == "Characteristics" { print $2; exit }' <<<"$dump")"
  if [ -z "$characteristics" ] || (( (characteristics & 0x2000) == 0 )); then
    fail "$name: characteristics '$characteristics' lack the DLL flag"
  fi

  # Export directory: its name, the number of addresses and of names.
  local dir_name addresses names
  dir_name="$(awk '/^The Export Tables/ { e = 1 } e && $1 == "Name" { print $3; exit }' <<<"$dump")"
  addresses="$(awk '/^Number in:/ { n = 1; next } n && /Export Address Table/ { print $NF; exit }' <<<"$dump")"
  names="$(awk '/^Number in:/ { n = 1; next } n && /Name Pointer\/Ordinal/ { print $NF; exit }' <<<"$dump")"
  [ "$dir_name" = "$name" ] || fail "$name: export directory names the module '$dir_name'"
  [ -n "$addresses" ] && (( 16#$addresses == 13 )) ||
    fail "$name: $((16#${addresses:-0})) entries in the export address table, expected 13"
  [ -n "$names" ] && (( 16#$names == 13 )) ||
    fail "$name: $((16#${names:-0})) exported names, expected 13"

  local exports
  exports="$(awk '/^\[Ordinal\/Name Pointer\] Table/ { t = 1; next }
                  t && /^[[:space:]]*$/ { exit }
                  t && /^[[:space:]]*\[/ { print $NF }' <<<"$dump" | LC_ALL=C sort)"
  if [ "$exports" != "$expected_exports" ]; then
    fail "$name: exported names differ from the thirteen control functions:"
    diff <(echo "$expected_exports") <(echo "$exports") | sed 's/^/    /'
  else
    echo "   exports: $(tr '\n' ' ' <<<"$exports")"
  fi

  local imports dll_import
  imports="$(awk -F': ' '/DLL Name:/ { print $2 }' <<<"$dump" | tr 'A-Z' 'a-z' | LC_ALL=C sort -u)"
  if [ -z "$imports" ]; then
    fail "$name: no import table found"
  fi
  for dll_import in $imports; do
    case " $allowed_imports " in
      *" $dll_import "*) ;;
      *) fail "$name: imports from $dll_import" ;;
    esac
  done
  # Both system libraries the library is made of must be there.
  for dll_import in kernel32.dll user32.dll; do
    grep -qx "$dll_import" <<<"$imports" || fail "$name: does not import $dll_import"
  done
  echo "   imports: $(tr '\n' ' ' <<<"$imports")"
}

check_dll "$src/build/win32/velto.dll" pei-i386 010b
check_dll "$src/build/win64/velto64.dll" pei-x86-64 020b

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "both libraries: exports, imports and machine types as expected"
