#!/usr/bin/env bash
# Builds the three targets, shows lookups through a loaded keyboard
# description, then runs velto64.dll for real under Wine: a controlling
# application installs it, and real key events (Xvfb, xdotool) typed into
# its window and into another process come out translated.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh native mingw wine
scripts/build.sh native
scripts/build.sh win32
scripts/build.sh win64
echo
build/native/velto-lookup
echo
echo "velto64.dll under Wine (keys typed -> what the window received):"
tests/wine/run_wine_test.sh build/win64
