#!/usr/bin/env bash
# Installs what the build needs, from Debian's packages, when it is missing.
#
# Usage: scripts/deps.sh GROUP...
#   needed:   native, mingw, wine, wine-bench, bench, fuzz
#   optional: wine32 (32-bit Wine, wine32:i386, for the 32-bit build's Wine
#             tests; only where this machine runs 32-bit programs, as
#             tests/wine/can_run_32bit.sh finds, and it adds Debian's i386
#             architecture if missing), demo (the demo's screenshot tool,
#             and the fonts that veltoc render's pictures name: every
#             script, CJK and emoji), package (makensis, Debian's nsis,
#             for scripts/package.sh's installers), playground (emscripten,
#             for scripts/playground.sh), browser (chromium, chromium-driver
#             and python3-selenium, for the playground's browser test)
#
# Debian's mirror is sometimes in the middle of a sync. `apt-get update` is
# tried three times, and one that still fails for some indexes is a warning:
# what counts is whether the packages then install. A package of a needed
# group that cannot be installed ends the run with one line naming it and
# apt's reason (exit status 1). An optional one is a warning: its reason is
# kept in build/deps/NAME.unavailable (wine32, screenshot, fonts-*, nsis,
# emscripten, browser), where the tests and the demo read why they skip.
#
# Environment: VELTO_DEPS_STATE (where the reasons are kept, default
#              build/deps), VELTO_APT_PAUSE (seconds between tries, default
#              5), VELTO_32BIT_PROBE (default tests/wine/can_run_32bit.sh).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
probe="${VELTO_32BIT_PROBE:-$root/tests/wine/can_run_32bit.sh}"
state="${VELTO_DEPS_STATE:-$root/build/deps}"
pause="${VELTO_APT_PAUSE:-5}"

needed=()
wine32=0
screenshot=0
package=0
playground=0
browser=0
for group in "$@"; do
  case "$group" in
    native) needed+=(cmake ninja-build g++ libgtest-dev libgmock-dev python3 pkg-config libxkbcommon-dev xkb-data libx11-data) ;;  # python3: the layers test; libxkbcommon, xkb-data, libx11-data: the oracle of the xkb import
    mingw) needed+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 libx11-data) ;;  # libx11-data: the Compose file the Windows programs ship with
    wine) needed+=(wine wine64 xvfb xdotool) ;;
    wine32) needed+=(gcc) wine32=1 ;;  # gcc builds the probe
    wine-bench) needed+=(python3 libx11-6 libxtst6) ;;  # bench/wine_latency.sh sends XTEST events itself
    bench) needed+=(valgrind libbenchmark-dev pkg-config libxkbcommon-dev xkb-data libx11-data) ;;
    fuzz) needed+=(clang-14 libclang-rt-14-dev) ;;
    demo) screenshot=1 ;;
    package) package=1 ;;
    playground) playground=1 ;;
    browser) browser=1 ;;
    *) echo "deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
log="$(mktemp)"
trap 'rm -f "$log"' EXIT

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing_of() {  # missing_of PACKAGE...: prints those that are not installed
  local pkg
  for pkg; do installed "$pkg" || echo "$pkg"; done
}

apt_get() { DEBIAN_FRONTEND=noninteractive $sudo apt-get "$@"; }

# Brings the package lists up to date once per run (again after an
# architecture is added). Partial failures are warned about, not fatal.
lists_fresh=0
update_lists() {
  [ "$lists_fresh" = 1 ] && return 0
  lists_fresh=1
  local try
  for try in 1 2 3; do
    apt_get update -q >"$log" 2>&1 && return 0
    [ "$try" = 3 ] || sleep "$pause"
  done
  local why
  why="$(grep -m1 -E '^[WE]: Failed to fetch' "$log")" && why="$(one_line "$why")" || why="$(reason_in "$log")"
  echo "deps.sh: warning: apt-get update failed 3 times ($why); going on with the package lists at hand"
}

# one_line LINE: a line of apt's without its "E: " or "W: ", its indent and
# the mirror's address.
one_line() {
  local line="${1#[EW]: }"
  line="${line#"${line%%[! ]*}"}"
  echo "${line%% \[IP: *}"
}

# reason_in LOG: apt's reason for a failure, on one line: the first unmet
# dependency, else the last error.
reason_in() {
  local line
  line="$(grep -m1 -E '^ +[^ ]+ : (Depends|PreDepends|Breaks|Conflicts):' "$1")" ||
    line="$(grep -E '^E: ' "$1" | tail -1)" ||
    line="$(grep -v '^ *$' "$1" | tail -1)"
  one_line "$line"
}

# Tries to install PACKAGE... (a fetch that fails, as in a mirror sync, is
# tried again after fresh lists; an install that an earlier run left
# unfinished is finished first); on failure sets $culprit and $reason to the
# package that cannot be installed and apt's reason.
culprit="" reason=""
try_install() {
  local try pkg fetch
  for try in 1 2 3; do
    apt_get install -y -q --no-install-recommends "$@" >"$log" 2>&1 && return 0
    if grep -q "dpkg --configure -a" "$log"; then
      $sudo dpkg --configure -a >/dev/null 2>&1 || break
      continue
    fi
    grep -qE 'Failed to fetch|Hash Sum mismatch|unexpected size' "$log" || break
    if [ "$try" != 3 ]; then sleep "$pause"; lists_fresh=0; update_lists >/dev/null; fi
  done
  reason="$(reason_in "$log")"
  culprit=""
  if fetch="$(grep -m1 -E 'Failed to fetch [^ ]+\.deb' "$log")"; then
    reason="$(one_line "$fetch")"
    culprit="$(echo "$fetch" | grep -oE '[^/ ]+_[^/ ]+\.deb' | tail -1 | cut -d_ -f1)"
  fi
  if [ -z "$culprit" ] && [ $# -gt 1 ]; then  # which one? ask apt of each, without installing
    for pkg; do
      if ! apt_get install -s --no-install-recommends "$pkg" >"$log" 2>&1; then
        culprit="$pkg" reason="$(reason_in "$log")"
        break
      fi
    done
  fi
  [ -n "$culprit" ] || culprit="$1"
  [ -n "$reason" ] || reason="apt-get install failed and said nothing"
  reason="${reason#"$culprit : "}"
  return 1
}

# optional NAME PACKAGE WHAT: installs PACKAGE if missing; on failure warns
# and keeps the reason in $state/NAME.unavailable.
optional() {
  local name="$1" pkg="$2" what="$3"
  rm -f "$state/$name.unavailable"
  installed "$pkg" && return 0
  echo "Installing: $pkg"
  update_lists
  try_install "$pkg" && return 0
  mkdir -p "$state"
  echo "$pkg could not be installed: $reason" >"$state/$name.unavailable"
  echo "deps.sh: warning: $pkg could not be installed ($reason); $what"
}

mapfile -t missing < <(missing_of "${needed[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  update_lists
  if ! try_install "${missing[@]}"; then
    echo "deps.sh: $culprit cannot be installed: $reason" >&2
    exit 1
  fi
fi

if [ "$screenshot" = 1 ]; then
  optional screenshot imagemagick "the demo takes no screenshot"
  # One at a time: a picture without one of them still shows the others'.
  for font in fonts-dejavu-core fonts-noto-core fonts-noto-cjk fonts-noto-color-emoji; do
    optional "$font" "$font" "pictures show boxes for the characters it has"
  done
fi

if [ "$package" = 1 ]; then
  optional nsis nsis "there are no installers (scripts/package.sh), and their Wine test is skipped"
fi

if [ "$playground" = 1 ]; then
  optional emscripten emscripten "there is no playground (scripts/playground.sh), and its browser test is skipped"
fi

if [ "$browser" = 1 ]; then
  # One reason for the three: the browser test needs them all.
  rm -f "$state/browser.unavailable"
  for pkg in chromium chromium-driver python3-selenium; do
    [ -f "$state/browser.unavailable" ] && break
    optional browser "$pkg" "the playground's browser test is skipped"
  done
fi

if [ "$wine32" = 1 ]; then
  if ! why="$("$probe")"; then
    echo "deps.sh: wine32 skipped: $why"
  else
    if ! installed wine32:i386 && ! dpkg --print-foreign-architectures | grep -qx i386; then
      echo "Adding the i386 architecture"
      $sudo dpkg --add-architecture i386
      lists_fresh=0
    fi
    optional wine32 wine32:i386 "the 32-bit Wine tests will be skipped"
  fi
fi
exit 0
