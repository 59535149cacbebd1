#!/usr/bin/env bash
# Measures Velto under Wine on a virtual X display, with the real controller
# (veltoctl.exe) and velto64.dll, and prints a short Markdown report:
#
#   1. the latency from an X key event (XTEST) to the WM_CHAR in a target
#      window (velto-latency-target.exe), on layout 1 of bench/wine/latency.vkl
#      (the built-in layout 1's `e`, `'` and right Alt + `e`, and a key of each
#      other kind), interleaved in one run: `e`, which the library lets pass
#      (the system types the same); `;`, which it swallows and types as `ø`;
#      `e` after the dead key `'`, and right Alt + `e`, both of which it
#      swallows and types as `é` itself; `a` after two dead keys, typed as
#      `ậ`; and `e` typed while a 255-character macro plays, which waits
#      behind the macro's text; then `e` once more with no controller
#      running, and once more with the controller's hooks in place but
#      translation off, for comparison, and what the hooks add to a passed key;
#   2. the time to play a 255-character macro and a ten-chord macro
#      (bench/wine/macros.vkl) in Wine's notepad, from the X event of the key
#      that starts it to the moment the whole text is in notepad's edit
#      control; for comparison the same macros into the target window, and
#      the text posted to notepad by another program with no controller;
#   3. the CPU time of veltoctl's Wine process while idle for 10 seconds, and
#      of wineserver in 10 idle seconds with it and without it.
#
# Every character that arrives is checked against the one expected, in order,
# and every translated key against its key-down reaching the window. Progress
# goes to stderr, the report to stdout. It takes about five minutes.
#
# The clocks. The key events are timed on the Linux side, the WM_CHARs with
# QueryPerformanceCounter inside Wine, so both must read one clock. Watched
# here (Wine 8.0, Debian): QueryPerformanceFrequency is 10 MHz and the counter
# is CLOCK_MONOTONIC_RAW in units of 100 ns, with no offset: a counter value
# printed by a Wine program and read back through a pipe is 20 to 40 us behind
# CLOCK_MONOTONIC_RAW read on arrival at the least (50 to 80 us in the
# median), never ahead. CLOCK_MONOTONIC is not
# the same clock (it ran 146 ms ahead of it after 8 hours of uptime, NTP's
# slewing), and GetSystemTimePreciseAsFileTime follows CLOCK_REALTIME. So the
# sender reads CLOCK_MONOTONIC_RAW. Since this could differ with another Wine,
# every run probes it again (latency.py clock) and stops if the counter
# follows no Linux clock; the report names the clock and the offset seen.
#
# Usage: bench/wine_latency.sh BUILD-WIN64-DIR    (built by scripts/build.sh win64)
# Environment: VELTO_BENCH_SAMPLES (key samples of each kind, default 200),
#              VELTO_BENCH_PLAYS (plays of each macro, default 5), and those of
#              tests/wine/wine_env.sh (VELTO_KEEP_TMP=1 keeps the temporary files).
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-}"
if [ -z "$build" ] || [ ! -d "$build" ]; then
  echo "usage: bench/wine_latency.sh BUILD-WIN64-DIR (scripts/build.sh win64 makes build/win64)" >&2
  exit 2
fi
build="$(cd "$build" && pwd)"
samples="${VELTO_BENCH_SAMPLES:-200}"
plays="${VELTO_BENCH_PLAYS:-5}"
idle_seconds=10

for file in velto64.dll veltoctl.exe veltoc.exe velto-window-text.exe velto-latency-target.exe; do
  if [ ! -f "$build/$file" ]; then
    echo "wine_latency.sh: FAIL: $build/$file is missing (scripts/build.sh win64)" >&2
    exit 1
  fi
done
if ! "$root/scripts/deps.sh" wine wine-bench >&2; then
  echo "wine_latency.sh: FAIL: scripts/deps.sh wine wine-bench did not install what is needed" >&2
  exit 1
fi

started=$SECONDS
export VELTO_BUDGET=480  # every wait gives up after this many seconds
# Xvfb on a free display, a fresh Wine prefix, and the clean-up of both.
source "$root/tests/wine/wine_env.sh" >&2
say() { printf '[%3ds] %s\n' $((SECONDS - started)) "$*" >&2; }
fail() { say "FAIL: $*"; exit 1; }
# The wineserver's directory (found below) goes too; its parent if that is left empty.
server_path=""
remove_server_dir() {
  [ -n "$server_path" ] || return 0
  rm -rf "$server_path"
  rmdir "$(dirname "$server_path")" 2>/dev/null
  return 0
}
trap 'cleanup >&2; remove_server_dir' EXIT
say "Xvfb on $DISPLAY, Wine prefix ready"

bin="$tmp/bin"
mkdir -p "$bin"
for file in velto64.dll veltoctl.exe veltoc.exe velto-window-text.exe velto-latency-target.exe; do
  cp "$build/$file" "$bin/"
done
winpath() { local p="$1"; echo "Z:${p//\//\\}"; }
# compile_vkl VKL VKB-NAME: veltoc.exe compiles the description into $bin.
compile_vkl() {
  (cd "$(dirname "$1")" && "$wine" "$bin/veltoc.exe" compile "$(basename "$1")" -o "$(winpath "$bin/$2")") \
    >"$tmp/veltoc.log" 2>&1 || fail "veltoc.exe cannot compile $1: $(lines "$tmp/veltoc.log")"
}
# macro_text VKL NAME: the text of that macro of the description.
macro_text() { sed -n "s/^macro $2 \"\(.*\)\"\$/\1/p" "$1"; }
py() { python3 "$root/bench/wine/latency.py" "$@"; }
log_has() { [ -f "$1" ] && lines "$1" | grep -qF -- "$2"; }
exited() { ! kill -0 "$1" 2>/dev/null; }

# run_bg NAME PROGRAM ARGS...: a Wine program in $bin in the background, its
# input a FIFO kept open on a file descriptor of this shell; sets $NAME_pid,
# $NAME_fd and $NAME_log.
run_bg() {
  local name="$1"
  shift
  local in="$tmp/$name.in" log="$tmp/$name.log"
  rm -f "$in"
  mkfifo "$in"
  (cd "$bin" && exec "$wine" "$@" <"$in" >"$log" 2>&1) &
  track $!
  eval "${name}_pid=$! ${name}_log=$log"
  exec {fd}>"$in"
  eval "${name}_fd=$fd"
}

# stop NAME: a line "quit", then its exit.
stop() {
  local pid fd
  eval "pid=\$${1}_pid fd=\$${1}_fd"
  echo quit >&"$fd"
  wait_until 20 exited "$pid" || fail "$1 did not stop on 'quit'"
  wait "$pid" 2>/dev/null
}

# focus_window TITLE: the first visible X window of that title gets the X focus; sets $window.
focus_window() {
  local title="$1"
  find_window() { window="$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -1)"; [ -n "$window" ]; }
  wait_until 60 find_window || fail "no window '$title'"
  focused() {
    timeout 10 xdotool windowfocus --sync "$window" 2>/dev/null
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ]
  }
  wait_until 20 focused || fail "cannot focus the window '$title'"
}
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ]; }

# --- The clock both sides read ---------------------------------------------------------
probe="$(py clock "$wine" "$bin/velto-latency-target.exe")" || fail "the clock probe failed"
read -r clock clock_min clock_median clock_reads qpc_freq timer_ticks <<<"$probe"
say "QueryPerformanceCounter follows $clock (${clock_min} ns behind at least, over $clock_reads reads)"

# --- 1. Key latency, with bench/wine/latency.vkl on layout 1 ---------------------------
latency_vkl="$root/bench/wine/latency.vkl"
compile_vkl "$latency_vkl" latency.vkb
macro_text "$latency_vkl" long | tr -d '\n' >"$tmp/latency-macro.txt"
[ "$(wc -c <"$tmp/latency-macro.txt")" = 255 ] || fail "the macro of $latency_vkl is not 255 characters"
run_bg ctl veltoctl.exe latency.vkb --layout 1
wait_until 30 log_has "$ctl_log" "Velto is running" || fail "veltoctl did not start: $(lines "$ctl_log")"
log_has "$ctl_log" "layout 1 (Latency bench), translation on" || fail "veltoctl is not on layout 1: $(lines "$ctl_log")"
say "veltoctl runs bench/wine/latency.vkl, layout 1"

# type_samples NAME KIND,...: the target window, the samples typed into it, its
# records matched to them; the table rows in $rows, the medians appended to
# $tmp/medians ("KIND NS").
type_samples() {
  local name="$1" kinds="$2" records="$tmp/$1-records.log"
  run_bg "$name" velto-latency-target.exe window "$(winpath "$records")"
  wait_until 30 log_has "$tmp/$name.log" "ready" || fail "the target window did not start: $(lines "$tmp/$name.log")"
  focus_window "Velto latency target"
  sleep 0.5
  say "typing $samples samples of each of $kinds into the target window"
  py keys "$clock" "$right_alt" "$samples" "$tmp/$name-sent.json" "$kinds" "$tmp/latency-macro.txt" ||
    fail "sending the keys failed"
  has_focus || fail "the target window lost the focus while the keys were typed"
  sleep 0.3
  stop "$name"
  [ -s "$records" ] || fail "the target window wrote no records: $(lines "$tmp/$name.log")"
  rows="$(py keys-report "$tmp/$name-sent.json" "$records" "$tmp/medians")" ||
    fail "the key samples did not arrive as expected"
}
type_samples keys untranslated,translated,dead,ralt,chain,macro
key_rows="$rows"

# --- 3. veltoctl idle, and wineserver without it ---------------------------------------
# The CPU time of a process, all its threads: "TICKS NS", utime+stime in clock
# ticks from /proc/PID/stat, and the scheduler's run time summed over the
# threads' schedstat (nanoseconds; threads that end on the way drop out of it).
cpu_of() {
  local pid="$1" stat ns=0 task run
  stat="$(cat "/proc/$pid/stat" 2>/dev/null)" || return 1
  stat="${stat##*) }"  # the fields after the command name, from the state on
  for task in /proc/"$pid"/task/*/schedstat; do
    read -r run _ <"$task" 2>/dev/null && ns=$((ns + run))
  done
  read -r -a fields <<<"$stat"
  echo "$((fields[11] + fields[12])) $ns"  # utime and stime, fields 14 and 15
}
# The wineserver of this prefix runs in a directory named after the prefix's
# device and inode (under /tmp/.wine-UID, or a directory of its own in /tmp).
server_dir="server-$(stat -c '%D' "$WINEPREFIX" | sed 's/^0*\(.\)/\1/')-$(printf '%x' "$(stat -c '%i' "$WINEPREFIX")")"
server_pid=""
for proc in /proc/[0-9]*; do
  [ "$(basename "$(readlink "$proc/cwd" 2>/dev/null)")" = "$server_dir" ] || continue
  case "$(cat "$proc/comm" 2>/dev/null)" in wineserver*) server_pid="${proc#/proc/}" ;; esac
done
[ -n "$server_pid" ] || fail "cannot find the wineserver of $WINEPREFIX (in $server_dir)"
server_path="$(readlink "/proc/$server_pid/cwd")"
ctl_comm="$(cat "/proc/$ctl_pid/comm" 2>/dev/null)"
[ "$ctl_comm" = veltoctl.exe ] || fail "process $ctl_pid is '$ctl_comm', not veltoctl.exe"
hz="$(getconf CLK_TCK)"

# idle NAME PID...: the CPU time of the processes over $idle_seconds without
# input; sets NAME_ticks_PID, NAME_ns_PID and NAME_wall (ns).
idle() {
  local name="$1" pid cpu t0 t1 before=() after=() i=0 b_ticks b_ns a_ticks a_ns
  shift
  sleep 1  # what the last input set going has settled
  for pid in "$@"; do
    cpu="$(cpu_of "$pid")" || fail "process $pid is gone"
    before+=("$cpu")
  done
  t0="$(date +%s%N)"
  sleep "$idle_seconds"
  for pid in "$@"; do
    cpu="$(cpu_of "$pid")" || fail "process $pid is gone"
    after+=("$cpu")
  done
  t1="$(date +%s%N)"
  for pid in "$@"; do
    read -r b_ticks b_ns <<<"${before[$i]}"
    read -r a_ticks a_ns <<<"${after[$i]}"
    eval "${name}_ticks_$pid=$((a_ticks - b_ticks)) ${name}_ns_$pid=$((a_ns - b_ns))"
    i=$((i + 1))
  done
  eval "${name}_wall=$((t1 - t0))"
}
# Notepad, the program of part 2, stays open through both idle spans: the
# wineserver would end without a client.
(cd "$bin" && exec "$wine" notepad) >/dev/null 2>&1 &
track $!
focus_window "Notepad"
say "veltoctl and notepad idle for $idle_seconds s"
idle with "$ctl_pid" "$server_pid"
stop ctl
say "notepad idle, no controller, for $idle_seconds s"
idle without "$server_pid"

# The same untranslated key once more with no controller, for comparison.
type_samples bare bare
bare_rows="$rows"
# And with the hooks in place but translation off: what their being there
# costs, whatever they decide.
run_bg ctl3 veltoctl.exe latency.vkb --layout 1 --disabled
wait_until 30 log_has "$ctl3_log" "Velto is running" || fail "veltoctl --disabled did not start: $(lines "$ctl3_log")"
type_samples off off
off_rows="$rows"
stop ctl3
# What the hooks add to a key they let pass: `e` with the controller, less `e` without it.
hook_cost="$(awk '$1 == "untranslated" { u = $2 } $1 == "bare" { b = $2 } END { printf "%+.0f", (u - b) / 1e3 }' \
  "$tmp/medians")"
off_cost="$(awk '$1 == "off" { o = $2 } $1 == "bare" { b = $2 } END { printf "%+.0f", (o - b) / 1e3 }' \
  "$tmp/medians")"

# --- 2. Macros in notepad --------------------------------------------------------------
macros_vkl="$root/bench/wine/macros.vkl"
compile_vkl "$macros_vkl" macros.vkb
# What the two macros type: the long one its text, the chords their letters in capitals.
macro_text "$macros_vkl" long | tr -d '\n' >"$tmp/long.txt"
macro_text "$macros_vkl" chords | sed 's/{LSHIFT+\(.\)}/\U\1/g' | tr -d '\n' >"$tmp/chords.txt"
[ "$(wc -c <"$tmp/long.txt")" = 255 ] || fail "the long macro of $macros_vkl is not 255 characters"
[ "$(grep -o '{' <<<"$(sed -n 's/^macro chords //p' "$macros_vkl")" | wc -l)" = 10 ] ||
  fail "the chord macro of $macros_vkl has not ten chords"
[ "$(wc -c <"$tmp/chords.txt")" = 10 ] || fail "the chord macro of $macros_vkl does not type ten letters"

run_bg ctl2 veltoctl.exe macros.vkb --layout 1
wait_until 30 log_has "$ctl2_log" "Velto is running" || fail "veltoctl did not start: $(lines "$ctl2_log")"
log_has "$ctl2_log" "layout 1 (Macro bench), translation on" || fail "veltoctl is not on layout 1: $(lines "$ctl2_log")"

# First into the target window, which takes a WM_CHAR in about 0.1 ms: the
# time the library needs to play them.
records="$tmp/macros-records.log"
run_bg macros velto-latency-target.exe window "$(winpath "$records")"
wait_until 30 log_has "$tmp/macros.log" "ready" || fail "the target window did not start: $(lines "$tmp/macros.log")"
focus_window "Velto latency target"
sleep 0.5
say "playing each macro $plays times into the target window"
py macros "$clock" "$plays" "$tmp/macros-sent.json" "q=$tmp/long.txt" "w=$tmp/chords.txt" || fail "pressing the macro keys failed"
has_focus || fail "the target window lost the focus while the macros played"
stop macros
target_macro_rows="$(py macros-report "$tmp/macros-sent.json" "$records" \
  "q=255 characters of text (key Q), into the target window" \
  "w=ten chords (key W), into the target window")" || fail "the macros did not arrive whole in the target window"

focus_window "Notepad"
sleep 0.5
notepad_text() { (cd "$bin" && "$wine" velto-window-text.exe Notepad) 2>/dev/null | tr -d '\r'; }
notepad_empty() { [ -z "$(notepad_text)" ]; }

# qpc_ns COUNT FREQUENCY: a QPC value in nanoseconds, without overflowing.
qpc_ns() { echo $(($1 / $2 * 1000000000 + $1 % $2 * 1000000000 / $2)); }

# play KEYSYM|post EXPECTED-FILE: clears notepad, starts the watcher, presses
# the key (or has the watcher post the text itself); appends "TOTAL-NS
# FIRST-NS POLLS" to $tmp/plays-KEYSYM.
play() {
  local key="$1" expected="$2" out="$tmp/watch.out" sent watcher status first last polls freq posted post=()
  has_focus || focus_window "Notepad"
  xdotool key ctrl+a BackSpace
  wait_until 10 notepad_empty || fail "notepad cannot be cleared: it holds '$(notepad_text | head -c 80)'"
  [ "$key" = post ] && post=(1 post)
  (cd "$bin" && exec "$wine" velto-latency-target.exe watch Notepad "$(winpath "$expected")" 10000 "${post[@]}") >"$out" 2>&1 &
  watcher=$!
  track "$watcher"
  wait_until 30 log_has "$out" "ready" || fail "the watcher did not start: $(lines "$out")"
  if [ "$key" != post ]; then
    has_focus || fail "notepad lost the focus"
    sent="$(py press "$clock" "$key")" || fail "pressing $key failed"
  fi
  wait "$watcher"
  read -r status first last polls freq posted < <(lines "$out" | grep -E '^(done|timeout)')
  [ "$status" = "done" ] || fail "the text of '$key' did not arrive whole in notepad: $(lines "$out" | tail -1)"
  [ "$key" = post ] && sent="$(qpc_ns "$posted" "$freq")"
  echo "$(($(qpc_ns "$last" "$freq") - sent)) $(($(qpc_ns "$first" "$freq") - sent)) $polls" >>"$tmp/plays-$key"
}
say "playing each macro $plays times in notepad"
for _ in $(seq "$plays"); do
  play q "$tmp/long.txt"
  play w "$tmp/chords.txt"
done
stop ctl2
say "posting the 255 characters to notepad $plays times, no controller"
for _ in $(seq "$plays"); do play post "$tmp/long.txt"; done

# --- Report ----------------------------------------------------------------------------
# macro_row LABEL KEYSYM: the median, least and most of the plays, and the
# median time to the first character.
median() { sort -n | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
macro_row() {
  local file="$tmp/plays-$2"
  awk -v label="$1" -v n="$(wc -l <"$file")" -v med="$(cut -d' ' -f1 "$file" | median)" \
      -v least="$(cut -d' ' -f1 "$file" | sort -n | head -1)" -v most="$(cut -d' ' -f1 "$file" | sort -n | tail -1)" \
      -v first="$(cut -d' ' -f2 "$file" | median)" 'BEGIN {
    printf "| %s | %d | %.1f ms | %.1f ms | %.1f ms | %.1f ms |\n", label, n, med / 1e6, least / 1e6, most / 1e6, first / 1e6 }'
}
# cpu_row LABEL NAME PID
cpu_row() {
  local ticks ns wall
  eval "ticks=\$${2}_ticks_$3 ns=\$${2}_ns_$3 wall=\$${2}_wall"
  awk -v label="$1" -v ticks="$ticks" -v hz="$hz" -v ns="$ns" -v wall="$wall" 'BEGIN {
    printf "| %s | %.2f s | %.2f %% | %.3f s |\n", label, ticks / hz, 100 * ticks / hz / (wall / 1e9), ns / 1e9 }'
}

cat <<EOF
## Velto under Wine: latency, macros, idle load

$("$wine" --version 2>/dev/null | tr -d '\r') on Xvfb, \`veltoctl.exe\` and \`velto64.dll\` of \`$build\`; $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end.
Clock: Wine's QueryPerformanceCounter ($((qpc_freq / 1000000)) MHz) counts $clock, which the X side reads (a counter value sent through a pipe arrived $((clock_min / 1000)) µs later at least, $((clock_median / 1000)) µs in the median, $clock_reads reads).

### From an X key event (XTEST) to the WM_CHAR in the target window

Description \`bench/wine/latency.vkl\`, layout 1 (\`e\`, \`'\` and right Alt + \`e\` as on the built-in US International; \`;\` types \`ø\`; 1 and 2 are the dead keys \`^\` and dot below; Q plays 255 characters); kinds interleaved in random order; each key held 15 ms (right Alt 70 ms), 25 ms or more from a release to the next press (Q held 8 ms and \`e\` pressed 2 ms after its release, the next sample 300 ms after Q), and a random 0–10 ms more before each sample.

| key | samples | median | 99th percentile | max |
|---|---:|---:|---:|---:|
$key_rows
$bare_rows
$off_rows

passed key over no hook: $hook_cost µs (median); the hooks alone, translation off: $off_cost µs

### Macros: from the trigger key's X event to the whole text in notepad's edit control

Description \`bench/wine/macros.vkl\`, layout 1. Notepad's edit control is polled about every millisecond (less often while its thread is busy) by another process. Wine's system timer ticks at about 10 ms (a 1 ms thread timer ticked $timer_ticks times in one second here); the player runs in the message hook that takes the macro's key, in the keyboard hook when a macro's marker comes back, and on the controller's 1 ms thread timer only for what no hook is there to go on with. For comparison: the same macros into the target window (to its last WM_CHAR), and the text posted to notepad without Velto.

| macro | plays | median | least | most | first character (median) |
|---|---:|---:|---:|---:|---:|
$(macro_row "255 characters of text (key Q), notepad" q)
$(macro_row "ten chords, Shift + a letter each (key W), notepad" w)
$target_macro_rows
$(macro_row "the 255 characters posted to notepad's edit control at once by another process, no controller" post)

### CPU while idle for $idle_seconds s, no input

| process | utime+stime | of one core | scheduler's run time |
|---|---:|---:|---:|
$(cpu_row "veltoctl.exe (its Wine process)" with "$ctl_pid")
$(cpu_row "wineserver, veltoctl running" with "$server_pid")
$(cpu_row "wineserver, veltoctl stopped" without "$server_pid")
EOF
say "done in $((SECONDS - started)) s"
