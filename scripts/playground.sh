#!/usr/bin/env bash
# Builds the playground, the engine and the layout kit as WebAssembly with a
# page to edit a layout and type with it, into build/playground/ as static
# files; with --serve, then serves that folder on 127.0.0.1.
#
# Usage: scripts/playground.sh [--serve [PORT]]   (PORT defaults to 8080)
#
# Built with Debian's emscripten (scripts/deps.sh playground installs it): it
# brings the C++ standard library and the loader the page needs, where clang
# with wasi-libc would leave both to us. Exit status 3 when emscripten is not
# installed and cannot be, with the reason.
set -euo pipefail
cd "$(dirname "$0")/.."

serve=0
port=8080
case "${1:-}" in
  "") ;;
  --serve)
    serve=1
    port="${2:-8080}"
    [[ "$port" =~ ^[0-9]+$ ]] || { echo "playground.sh: PORT must be a number, not '$port'" >&2; exit 2; }
    ;;
  -h|--help)
    sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  *) echo "playground.sh: unknown option '$1' (usage: scripts/playground.sh [--serve [PORT]])" >&2; exit 2 ;;
esac

if ! command -v em++ >/dev/null; then
  scripts/deps.sh playground
  if ! command -v em++ >/dev/null; then
    echo "playground.sh: emscripten is missing: $(cat build/deps/emscripten.unavailable 2>/dev/null || echo 'not installed')" >&2
    exit 3
  fi
fi

# Debian's emscripten runs its JavaScript tools with the machine's node, which
# may not look where Debian keeps their modules.
export NODE_PATH="/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}"
log="$(mktemp)"
if ! emcmake cmake -S . -B build/wasm -G Ninja -DCMAKE_BUILD_TYPE=Release >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  exit 1
fi
rm -f "$log"
cmake --build build/wasm --target velto-playground

out=build/playground
rm -rf "$out"
mkdir -p "$out/layouts"
cp build/wasm/velto.js build/wasm/velto.wasm "$out/"
cp tools/playground/web/* "$out/"
cp layouts/*.vkl "$out/layouts/"
# The shipped layouts the page offers, International first.
{
  printf '['
  first=1
  for file in layouts/intl.vkl layouts/*.vkl; do
    name="$(basename "$file")"
    [ "$first" = 0 ] && [ "$name" = intl.vkl ] && continue
    [ "$first" = 1 ] || printf ','
    printf '"%s"' "$name"
    first=0
  done
  printf ']\n'
} >"$out/layouts/index.json"
echo "playground.sh: built $out ($(du -sh "$out" | cut -f1))"

if [ "$serve" = 1 ]; then
  echo "Velto playground: http://127.0.0.1:$port/ (Ctrl+C stops it)"
  exec python3 -m http.server --bind 127.0.0.1 --directory "$out" "$port"
fi
