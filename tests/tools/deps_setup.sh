#!/usr/bin/env bash
# scripts/deps.sh against a Debian mirror in the middle of a sync, played by
# stand-ins for apt-get, dpkg and dpkg-query first on PATH:
#   - every `apt-get update` fails for an i386 index, then the install works;
#   - wine32:i386 (and the screenshot tool) cannot be installed: the run goes
#     on, and the 32-bit Wine tests skip with apt's reason;
#   - a needed package cannot be installed, or its file is missing from the
#     mirror: one line names it and apt's reason.
# Usage: deps_setup.sh NATIVE-BUILD-DIR (its CTest lists the wine32 tests)
set -uo pipefail
build="${1:?usage: deps_setup.sh NATIVE-BUILD-DIR}"
src="$(cd "$(dirname "$0")/../.." && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
has() {  # has FILE TEXT: the file holds the text
  grep -qF -- "$2" "$1" || { fail "no '$2' in $(basename "$1"):"; sed 's/^/    /' "$1"; }
}

# The stand-ins keep their state in $fake: installed packages, foreign
# architectures, every apt-get call; $fake/broken/PKG is what apt-get says
# when asked to install PKG, which it then refuses.
fake="$tmp/fake"
mkdir -p "$fake/bin" "$fake/broken"
cat >"$fake/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "$*" >>"$FAKE/calls"
case "$1" in
  update)
    n=$(($(cat "$FAKE/updates" 2>/dev/null || echo 0) + 1))
    echo "$n" >"$FAKE/updates"
    [ "$n" -gt "${FAKE_UPDATE_FAILS:-0}" ] && exit 0
    echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 151.101.2.132 80]"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
  install)
    shift
    pkgs=()
    simulate=0
    for arg; do
      case "$arg" in -s) simulate=1 ;; -*) ;; *) pkgs+=("$arg") ;; esac
    done
    for pkg in "${pkgs[@]}"; do
      [ -f "$FAKE/broken/$pkg" ] && { cat "$FAKE/broken/$pkg"; exit 100; }
    done
    [ "$simulate" = 1 ] || printf '%s\n' "${pkgs[@]}" >>"$FAKE/installed"
    exit 0 ;;
esac
EOF
cat >"$fake/bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
pkg="${*: -1}"
grep -qxF -- "$pkg" "$FAKE/installed" 2>/dev/null && { printf 'install ok installed'; exit 0; }
echo "dpkg-query: no packages found matching $pkg" >&2
exit 1
EOF
cat >"$fake/bin/dpkg" <<'EOF'
#!/usr/bin/env bash
case "$1" in
  --print-foreign-architectures) cat "$FAKE/archs" 2>/dev/null ;;
  --add-architecture) echo "$2" >>"$FAKE/archs" ;;
esac
EOF
printf '#!/bin/sh\nexec "$@"\n' >"$fake/bin/sudo"
printf '#!/bin/sh\nexit 0\n' >"$fake/runs-32bit"
chmod +x "$fake/bin/"* "$fake/runs-32bit"

# deps CASE GROUP...: a fresh machine (with the foreign architectures of
# $FAKE_ARCHS), scripts/deps.sh with the stand-ins;
# its output in $tmp/CASE.out and .err, its status in $status.
deps() {
  local name="$1"
  shift
  rm -f "$fake/installed" "$fake/archs" "$fake/calls" "$fake/updates"
  [ -z "${FAKE_ARCHS:-}" ] || echo "$FAKE_ARCHS" >"$fake/archs"
  PATH="$fake/bin:$PATH" FAKE="$fake" VELTO_APT_PAUSE=0 VELTO_DEPS_STATE="$tmp/state" \
    VELTO_32BIT_PROBE="$fake/runs-32bit" "$src/scripts/deps.sh" "$@" >"$tmp/$name.out" 2>"$tmp/$name.err"
  status=$?
}

# A mirror in the middle of a sync: the i386 index of an architecture an
# earlier run added fails every time, the packages install all the same.
FAKE_UPDATE_FAILS=9 FAKE_ARCHS=i386 deps partial native
[ "$status" = 0 ] || fail "a partial update ended the run with status $status"
[ "$(grep -c '^update' "$fake/calls")" = 3 ] || fail "apt-get update was not tried 3 times: $(grep -c '^update' "$fake/calls")"
has "$tmp/partial.out" "warning: apt-get update failed 3 times (Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
for pkg in cmake ninja-build g++ libgtest-dev libgmock-dev; do
  grep -qx "$pkg" "$fake/installed" || fail "$pkg was not installed after a partial update"
done
FAKE_UPDATE_FAILS=1 deps second-try native
[ "$status" = 0 ] && [ "$(grep -c '^update' "$fake/calls")" = 2 ] && ! grep -q warning "$tmp/second-try.out" ||
  fail "an update that works the second time: status $status, $(grep -c '^update' "$fake/calls") updates, $(cat "$tmp/second-try.out")"

# wine32:i386 and imagemagick that cannot be installed: warnings, and the
# reasons kept for the tests and the demo.
breaks="E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages."
echo "$breaks" >"$fake/broken/wine32:i386"
printf 'E: Package %s has no installation candidate\n' "'imagemagick'" >"$fake/broken/imagemagick"
deps wine32 native wine32 demo
[ "$status" = 0 ] || fail "wine32 that cannot be installed ended the run with status $status: $(cat "$tmp/wine32.err")"
grep -qx i386 "$fake/archs" || fail "the i386 architecture was not added"
reason="wine32:i386 could not be installed: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages."
has "$tmp/state/wine32.unavailable" "$reason"
has "$tmp/wine32.out" "warning: wine32:i386 could not be installed"
has "$tmp/state/screenshot.unavailable" "imagemagick could not be installed: Package 'imagemagick' has no installation candidate"
export VELTO_DEPS_STATE="$tmp/state" VELTO_32BIT_PROBE="$fake/runs-32bit"
VELTO_WINE32=/nonexistent/wine "$src/tests/wine/skipped_wine32_tests.sh" "$build" -LE stress >"$tmp/skips" 2>&1
for test in wine_end_to_end_32 veltoctl_wine_32 wine_wow64; do
  has "$tmp/skips" "skipping $test: $reason"
done
mkdir -p "$tmp/win32" && : >"$tmp/win32/velto.dll"
VELTO_WINE=/nonexistent/wine "$src/tests/wine/run_wine_test.sh" "$tmp/win32" >"$tmp/skip32" 2>&1
status=$?
[ "$status" = 77 ] || fail "the 32-bit Wine test ended with status $status, not 77 (skipped): $(cat "$tmp/skip32")"
has "$tmp/skip32" "because $reason"
unset VELTO_DEPS_STATE VELTO_32BIT_PROBE

# A needed package that cannot be installed: one line, its name and why.
printf '%s\n' "Some packages could not be installed." \
  "The following packages have unmet dependencies:" \
  " g++ : Depends: g++-12 (>= 12.2.0-1~) but it is not going to be installed" \
  "E: Unable to correct problems, you have held broken packages." >"$fake/broken/g++"
deps needed native
[ "$status" = 1 ] || fail "a needed package that cannot be installed: status $status, not 1"
[ "$(cat "$tmp/needed.err")" = "deps.sh: g++ cannot be installed: Depends: g++-12 (>= 12.2.0-1~) but it is not going to be installed" ] ||
  fail "the error is not the one line expected: $(cat "$tmp/needed.err")"
# A package file missing from the mirror: tried three times, then named.
rm -f "$fake/broken/"*
echo "E: Failed to fetch http://deb.debian.org/debian/pool/main/w/wine/wine64_8.0%7erepack-4_amd64.deb  404  Not Found [IP: 151.101.2.132 80]" >"$fake/broken/wine64"
deps fetch wine
[ "$status" = 1 ] && [ "$(grep -c '^install -y' "$fake/calls")" = 3 ] ||
  fail "a package file the mirror lacks: status $status, $(grep -c '^install -y' "$fake/calls") tries"
has "$tmp/fetch.err" "deps.sh: wine64 cannot be installed: Failed to fetch http://deb.debian.org/debian/pool/main/w/wine/wine64_8.0%7erepack-4_amd64.deb  404  Not Found"

[ "$failures" = 0 ] && echo "deps_setup: all passed" || echo "deps_setup: $failures failed"
[ "$failures" = 0 ]
