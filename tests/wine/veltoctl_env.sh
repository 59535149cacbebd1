# Shared by the veltoctl Wine tests (sourced after wine_env.sh):
#   run_ctl NAME DIR ARGS...  veltoctl.exe of DIR in the background, its input a
#                             FIFO kept open on a file descriptor of this shell;
#                             sets $NAME_pid, $NAME_fd and $NAME_log
#   quit_ctl NAME CHECK       "quit" to NAME; CHECK passes when it says
#                             "Velto is stopped." and ends with status 0
#   log_has FILE TEXT         FILE holds TEXT
#   exited PID                the process has ended

run_ctl() {
  local name="$1" dir="$2"
  shift 2
  local in="$tmp/$name.in" log="$tmp/$name.log"
  rm -f "$in"
  mkfifo "$in"
  (cd "$dir" && exec "$wine" veltoctl.exe "$@" <"$in" >"$log" 2>&1) &
  track $!
  eval "${name}_pid=$! ${name}_log=$log"
  exec {fd}>"$in"
  eval "${name}_fd=$fd"
}

quit_ctl() {
  local pid log fd status
  pid="$(eval echo "\$${1}_pid")"
  log="$(eval echo "\$${1}_log")"
  fd="$(eval echo "\$${1}_fd")"
  echo quit >&"$fd"
  wait_until 20 exited "$pid"
  wait "$pid"
  status=$?
  [ "$status" = 0 ] && log_has "$log" "Velto is stopped."
  check "$2" $? "status $status: $(lines "$log" | tail -2)"
}

log_has() { [ -f "$1" ] && lines "$1" | grep -qF -- "$2"; }
exited() { ! kill -0 "$1" 2>/dev/null; }

# copy_to_bin LAYOUT FILE...: checks that the build has FILE... (paths in
# it) and that a veltoc runs here ($VELTO_VELTOC, by default the Windows
# builds' build/host/veltoc), copies the library and FILE... to $bin, and
# compiles the test layout LAYOUT (tests/wine/data/LAYOUT.vkl) to $bin.
copy_to_bin() {
  local layout="$1" file
  shift
  veltoc="${VELTO_VELTOC:-$build/../host/veltoc}"
  for file in "$@"; do
    [ -f "$build/$file" ] || { say "FAIL: $build/$file is missing (scripts/build.sh win$bits)"; exit 1; }
  done
  [ -x "$veltoc" ] || { say "FAIL: no veltoc at $veltoc (scripts/build.sh win$bits, or set VELTO_VELTOC)"; exit 1; }
  say "Xvfb on $DISPLAY, Wine prefix ready ($bits-bit, $("$wine" --version 2>/dev/null | tr -d '\r'))"
  bin="$tmp/bin"
  mkdir -p "$bin"
  for file in "$dll" "$@"; do cp "$build/$file" "$bin/"; done
  if ! "$veltoc" compile "$here/data/$layout.vkl" -o "$bin/$layout.vkb" >"$tmp/veltoc.log" 2>&1; then
    say "FAIL: $veltoc cannot compile the test layout: $(cat "$tmp/veltoc.log")"; exit 1
  fi
}
