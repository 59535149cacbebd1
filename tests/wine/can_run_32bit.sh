#!/usr/bin/env bash
# Whether this machine runs 32-bit (i386) programs, as 32-bit Wine needs:
# builds a static i386 executable that only exits with status 42 (no C
# library, so gcc alone suffices) and runs it. Exits 0 when it ran, else 1
# with one line saying why.
#
# Usage: can_run_32bit.sh
# Environment: VELTO_NO_32BIT=1 answers "no", as on a machine without 32-bit
#              execution.
set -uo pipefail

no() { echo "$*"; exit 1; }
cannot() { no "this machine cannot run 32-bit programs ($*)"; }

[ "${VELTO_NO_32BIT:-0}" = 1 ] && cannot "VELTO_NO_32BIT=1"
command -v gcc >/dev/null || no "whether this machine runs 32-bit programs is unknown: gcc is not installed"

dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
echo 'void _start(void) { __asm__ volatile("movl $1, %eax; movl $42, %ebx; int $0x80"); }' >"$dir/probe.c"
gcc -m32 -nostdlib -static -fno-pic -o "$dir/probe" "$dir/probe.c" 2>"$dir/gcc.log" ||
  no "whether this machine runs 32-bit programs is unknown: gcc cannot build an i386 executable ($(head -1 "$dir/gcc.log"))"
"$dir/probe" 2>/dev/null
status=$?
case "$status" in
  42) exit 0 ;;
  126) cannot "the kernel refused an i386 executable" ;;
  *) cannot "an i386 executable that exits with 42 ended with status $status" ;;
esac
