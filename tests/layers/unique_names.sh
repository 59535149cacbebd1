#!/usr/bin/env bash
# Every source file of src/ and tools/ has a name of its own, so that a name
# in an include, a message or a conversation points at one file: a header and
# its source share one, and each program's main.cpp is left aside.
# Usage: unique_names.sh SOURCE-DIR
set -euo pipefail
cd "$1"
repeated=$(find src tools -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.inc' -o -name '*.def' \) \
             ! -name main.cpp | sed -E 's#^(.*)/([^/]*)\.[^.]*$#\2 \1#' | sort -u |
           awk '{n[$1]++; at[$1] = at[$1] " " $2} END {for (k in n) if (n[k] > 1) print k ":" at[k]}')
if [ -n "$repeated" ]; then
  echo "file names used in more than one folder:"
  echo "$repeated"
  exit 1
fi
echo "every file name in src/ and tools/ is its own"
