#!/usr/bin/env bash
# Builds the three targets and shows lookups through a loaded keyboard description.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh native mingw
scripts/build.sh native
scripts/build.sh win32
scripts/build.sh win64
echo
build/native/velto-lookup
