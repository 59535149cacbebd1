#!/usr/bin/env python3
"""The X side of bench/wine_latency.sh: key events sent through XTEST with
their send times, the clock probe, and the figures.

  latency.py clock WINE TARGET-EXE
      which Linux clock Wine's QueryPerformanceCounter follows; prints
      "CLOCK-NAME MIN-OFFSET-NS MEDIAN-OFFSET-NS READS QPC-FREQUENCY TICKS"
      (TICKS: a 1 ms thread timer's ticks in one second), exit 1 if none does
  latency.py keys CLOCK-NAME RIGHT-ALT-KEYCODE SAMPLES SENT-FILE KIND,... [MACRO-FILE]
      types SAMPLES samples of each kind (untranslated, translated, dead,
      ralt, chain, macro, bare, off) into the focused window, interleaved, and
      writes their kinds, send times and the characters they should type to
      SENT-FILE (JSON); the kind macro types the text of MACRO-FILE (UTF-8),
      which the key Q plays, then e
  latency.py keys-report SENT-FILE TARGET-LOG [MEDIANS-FILE]
      matches the WM_CHARs of the target's log to the samples and prints a
      Markdown table row for each kind, and appends "KIND MEDIAN-NS" lines to
      MEDIANS-FILE; exit 1 when a character is missing, out of order or not
      the expected one, or a key went the other way than expected
  latency.py macros CLOCK-NAME PLAYS SENT-FILE KEYSYM=EXPECTED-FILE...
      presses each key in turn, PLAYS times, 600 ms apart, and writes the
      send times and the texts expected to SENT-FILE
  latency.py macros-report SENT-FILE TARGET-LOG KEYSYM=LABEL...
      the time from each press to the last WM_CHAR of its text: a row per key
  latency.py press CLOCK-NAME KEYSYM
      presses and lets go of one key, prints the send time of the press (ns)

Times are in nanoseconds of the clock named (CLOCK_MONOTONIC_RAW here); the
target's QPC values are turned into the same unit by its frequency.
"""
import collections
import ctypes
import json
import random
import statistics
import subprocess
import sys
import time

CLOCKS = {
    "CLOCK_MONOTONIC_RAW": time.CLOCK_MONOTONIC_RAW,
    "CLOCK_MONOTONIC": time.CLOCK_MONOTONIC,
}

# Largest offset between a QPC value printed by the target and the Linux
# clock read when its line arrives here that still counts as the same clock:
# the pipe and a Wine write take tens of microseconds.
SAME_CLOCK_NS = 2_000_000


def fail(message):
    print(f"latency.py: {message}", file=sys.stderr)
    sys.exit(1)


class XKeys:
    """Key presses and releases through XTEST, as a keyboard would make them."""

    def __init__(self):
        try:
            self.x11 = ctypes.CDLL("libX11.so.6")
            self.xtst = ctypes.CDLL("libXtst.so.6")
        except OSError as e:
            fail(f"cannot load libX11/libXtst ({e}); scripts/deps.sh wine-bench")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XStringToKeysym.restype = ctypes.c_ulong
        self.x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x11.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.display = self.x11.XOpenDisplay(None)
        if not self.display:
            fail("cannot open the X display")

    def keycode(self, keysym):
        code = self.x11.XKeysymToKeycode(self.display, self.x11.XStringToKeysym(keysym.encode()))
        if code == 0:
            fail(f"no keycode for the keysym {keysym}")
        return code

    def send(self, keycode, down, clock):
        """Sends one event; returns the clock's time just before it was written."""
        t = time.clock_gettime_ns(clock)
        self.xtst.XTestFakeKeyEvent(self.display, keycode, 1 if down else 0, 0)
        self.x11.XFlush(self.display)
        return t

    def sync(self):
        self.x11.XSync(self.display, 0)


def sleep_until(clock, deadline_ns):
    while True:
        left = deadline_ns - time.clock_gettime_ns(clock)
        if left <= 0:
            return
        time.sleep(left / 1e9 if left > 2_000_000 else left / 2e9)


# --- clock -------------------------------------------------------------------------

def cmd_clock(wine, exe):
    reads = 150
    p = subprocess.Popen([wine, exe, "clock", str(reads)], stdout=subprocess.PIPE, text=True)
    first = p.stdout.readline().split()
    if len(first) != 2 or first[0] != "FREQ":
        fail(f"the clock probe printed {first!r}")
    freq = int(first[1])
    rows = []
    ticks = None
    for line in p.stdout:
        now = {name: time.clock_gettime_ns(c) for name, c in CLOCKS.items()}
        parts = line.split()
        if parts[0] == "TICKS":
            ticks = int(parts[1])
            continue
        rows.append((int(parts[0]) * 1_000_000_000 // freq, now))
    p.wait()
    if ticks is None:
        fail("the clock probe did not count its timer's ticks")
    if len(rows) < reads // 2:
        fail(f"the clock probe gave {len(rows)} reads")
    best = None
    for name in CLOCKS:
        offsets = sorted(now[name] - q for q, now in rows)
        if 0 <= offsets[0] <= SAME_CLOCK_NS and (best is None or offsets[0] < best[1]):
            best = (name, offsets[0], offsets[len(offsets) // 2])
    if best is None:
        detail = ", ".join(f"{n} - QPC at least {min(now[n] - q for q, now in rows) / 1e6:.3f} ms" for n in CLOCKS)
        fail(f"QueryPerformanceCounter follows none of the Linux clocks ({detail})")
    print(best[0], best[1], best[2], len(rows), freq, ticks)


# --- key samples -------------------------------------------------------------------

# One kind of sample: its key events as (delay in ms from the sample's start,
# keysym, down), the index of the press whose send time counts and the
# virtual key that press makes, the characters expected in the window (the
# last of them the measured key's; None: the macro's text, then e), whether
# that key-down reaches the window (True: the system types the key), or not
# (False: the library swallows it), or either (None: the row says how many
# did), the sample's length in ms, and the label of its row.
Kind = collections.namedtuple("Kind", "events measured vk text passed length label")


# On layout 1 of bench/wine/latency.vkl. 'e' is the system's own: the library
# finds that the system types the same character and lets the key pass. ';'
# types ø, which the system would not: swallowed, and ø posted. After the
# dead key ' the key e is translated: swallowed, and é posted by the library.
# Right Alt + e types é as a one-character macro, posted at once by the
# message hook. 1 and 2 are the dead keys circumflex and dot below, and a
# after both gives ậ. Q plays a macro of 255 characters, posted to the
# window in turns; e typed while it plays must come after its text: either
# its key-down waits in the window's input queue behind the characters
# posted before it is taken, or the library holds it back while the rest of
# the text is still on its way, and posts its character behind it.
KINDS = {
    "untranslated": Kind([(0, "e", True), (15, "e", False)], 0, 0x45, "e", True, 40,
                         "untranslated: `e` (passed, typed by the system)"),
    "translated": Kind([(0, "semicolon", True), (15, "semicolon", False)], 0, 0xBA, "ø", False, 40,
                       "translated: `;` → `ø` (swallowed, WM_CHAR posted by the library; the system would type"
                       " `;`)"),
    "dead": Kind([(0, "apostrophe", True), (15, "apostrophe", False), (40, "e", True), (55, "e", False)],
                 2, 0x45, "é", False, 80,
                 "translated: `e` after dead `'` → `é` (swallowed, WM_CHAR posted by the library)"),
    "ralt": Kind([(0, "RALT", True), (25, "e", True), (40, "e", False), (70, "RALT", False)], 1, 0x45, "é",
                 False, 100,
                 "translated: right Alt + `e` → `é` (one-character macro, posted at once by the message hook)"),
    "chain": Kind([(0, "1", True), (15, "1", False), (40, "2", True), (55, "2", False), (80, "a", True),
                   (95, "a", False)], 4, 0x41, "ậ", False, 120,
                  "translated: `a` after dead `^` and dead dot below → `ậ` (a chain of two dead keys)"),
    # Q held 8 ms, e pressed 2 ms after its release. The macro takes 40 to
    # 100 ms to play into the window (up to 280 ms watched under load); a
    # sample begun before it was through is left out of the figures.
    "macro": Kind([(0, "q", True), (8, "q", False), (10, "e", True), (25, "e", False)], 2, 0x45, None, None, 300,
                  "behind a macro: `e` typed while a 255-character macro (key Q) plays; its WM_CHAR comes after"
                  " the macro's text"),
}
# The same key as "untranslated", typed while no controller runs.
KINDS["bare"] = KINDS["untranslated"]._replace(label="for comparison: `e` with veltoctl stopped (no hooks)")
# And typed while the hooks are in place with translation off.
KINDS["off"] = KINDS["untranslated"]._replace(
    label="for comparison: `e` with the hooks in place, translation off (veltoctl --disabled)")


def utf16_units(text):
    data = text.encode("utf-16-le")
    return [int.from_bytes(data[i:i + 2], "little") for i in range(0, len(data), 2)]


def cmd_keys(clock_name, right_alt, samples, sent_file, kinds, macro_file=None):
    clock = CLOCKS[clock_name]
    x = XKeys()
    kinds = kinds.split(",")
    if any(kind not in KINDS for kind in kinds):
        fail(f"unknown kinds in {kinds}; known: {', '.join(KINDS)}")
    macro_text = None
    if "macro" in kinds:
        if macro_file is None:
            fail("the kind macro needs the file of the macro's text")
        with open(macro_file, encoding="utf-8") as f:
            macro_text = f.read()
    codes = {"RALT": int(right_alt)}
    for kind in kinds:
        for _, key, _ in KINDS[kind].events:
            if key not in codes:
                codes[key] = x.keycode(key)
    order = [kind for kind in kinds for _ in range(int(samples))]
    random.Random(20240611).shuffle(order)
    # A random pause of up to 10 ms before each sample: the samples then fall
    # at every phase of the 10 ms timer ticks, not at one.
    jitter = random.Random(7)
    sent = []
    start = time.clock_gettime_ns(clock) + 50_000_000
    for kind in order:
        start += int(jitter.uniform(0, 10_000_000))
        k = KINDS[kind]
        times = []
        for at, key, down in k.events:
            sleep_until(clock, start + at * 1_000_000)
            times.append(x.send(codes[key], down, clock))
        text = k.text if k.text is not None else macro_text + "e"
        sent.append({"kind": kind, "start": times[0], "sent": times[k.measured], "text": text})
        start += k.length * 1_000_000
    sleep_until(clock, start)
    x.sync()
    with open(sent_file, "w") as f:
        json.dump(sent, f)


def read_target_log(path):
    freq = None
    records = []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if not parts:
                continue
            if parts[0] == "FREQ":
                freq = int(parts[1])
            else:
                records.append((parts[0], int(parts[1]), int(parts[2], 16), int(parts[3])))
    if freq is None:
        fail(f"{path} has no FREQ line")
    return [(kind, code, lparam, qpc * 1_000_000_000 // freq) for kind, code, lparam, qpc in records]


def percentile(values, p):
    """The nearest-rank percentile."""
    ordered = sorted(values)
    rank = max(1, -(-len(ordered) * p // 100))
    return ordered[int(rank) - 1]


def check_sample(i, sample, got):
    """The characters of one sample against those expected, in order; for a
    macro sample also that its key was typed while the macro played."""
    kind = sample["kind"]
    expected = utf16_units(sample["text"])
    for n, (unit, char) in enumerate(zip(expected, got)):
        if char[1] != unit:
            fail(f"sample {i} ({kind}), character {n + 1} of {len(expected)}: expected U+{unit:04X},"
                 f" got U+{char[1]:04X}")
    if got[-1][3] < sample["sent"]:
        fail(f"sample {i} ({kind}): the WM_CHAR came {sample['sent'] - got[-1][3]} ns before the key was sent")
    if kind == "macro":
        if got[-2][3] < sample["sent"]:
            fail(f"sample {i} (macro): the macro's text was through before its e was typed")


def cmd_keys_report(sent_file, log_file, medians_file=None):
    with open(sent_file) as f:
        sent = json.load(f)
    records = read_target_log(log_file)
    chars = [r for r in records if r[0] == "C"]
    others = [r for r in records if r[0] in "SD"]
    if others:
        fail(f"the target received {len(others)} WM_SYSCHAR/WM_DEADCHAR, first {others[0]}")
    expected_count = sum(len(utf16_units(sample["text"])) for sample in sent)
    if len(chars) != expected_count:
        fail(f"{len(sent)} samples sent that type {expected_count} characters, {len(chars)} WM_CHAR received")
    key_downs = [r for r in records if r[0] in "Kk"]
    kinds = list(dict.fromkeys(sample["kind"] for sample in sent))
    latencies = {kind: [] for kind in kinds}
    passed_through = {kind: 0 for kind in kinds}
    left_out = {kind: 0 for kind in kinds}
    macro_end = 0  # the last WM_CHAR of the latest macro sample
    at = 0
    for i, sample in enumerate(sent):
        count = len(utf16_units(sample["text"]))
        got = chars[at:at + count]
        at += count
        check_sample(i, sample, got)
        # A sample begun before the macro before it was through (under load)
        # waits behind its text as well: it would time the macro, not its kind.
        behind_macro = macro_end >= sample["start"]
        if sample["kind"] == "macro":
            macro_end = got[-1][3]
        if behind_macro:
            left_out[sample["kind"]] += 1
            continue
        latencies[sample["kind"]].append(got[-1][3] - sample["sent"])
        # Whether the key's WM_KEYDOWN reached the window: then the system typed it.
        vk = KINDS[sample["kind"]].vk
        if any(k[1] == vk and sample["sent"] <= k[3] <= got[-1][3] for k in key_downs):
            passed_through[sample["kind"]] += 1
    for kind in kinds:
        if KINDS[kind].passed is False and passed_through[kind]:
            fail(f"{passed_through[kind]} '{kind}' samples reached the window as a key-down: not translated")
        if KINDS[kind].passed and passed_through[kind] != len(latencies[kind]):
            fail(f"only {passed_through[kind]} of the '{kind}' samples reached the window as a key-down")
    for kind in sorted(kinds, key=list(KINDS).index):
        values = latencies[kind]
        label = KINDS[kind].label
        if KINDS[kind].passed is None:
            held_back = len(values) - passed_through[kind]
            label += (f" ({passed_through[kind]} as a key-down behind the text, "
                      f"{held_back} held back by the library)")
        if left_out[kind]:
            label += f" ({left_out[kind]} more left out, typed while the macro before them still played)"
        print(f"| {label} | {len(values)} | {statistics.median(values) / 1e3:.0f} µs"
              f" | {percentile(values, 99) / 1e3:.0f} µs | {max(values) / 1e3:.0f} µs |")
    if medians_file is not None:
        with open(medians_file, "a") as f:
            for kind in kinds:
                f.write(f"{kind} {statistics.median(latencies[kind]):.0f}\n")


# --- macros into the target window -----------------------------------------------------

def cmd_macros(clock_name, plays, sent_file, *keys):
    """Presses each KEYSYM=EXPECTED-FILE in turn, PLAYS times, 600 ms apart."""
    clock = CLOCKS[clock_name]
    x = XKeys()
    macros = []
    for arg in keys:
        keysym, path = arg.split("=", 1)
        with open(path, encoding="utf-8") as f:
            macros.append((keysym, x.keycode(keysym), f.read()))
    jitter = random.Random(11)
    sent = []
    start = time.clock_gettime_ns(clock) + 50_000_000
    for _ in range(int(plays)):
        for keysym, code, text in macros:
            start += int(jitter.uniform(0, 10_000_000))
            sleep_until(clock, start)
            t = x.send(code, True, clock)
            sleep_until(clock, start + 20_000_000)
            x.send(code, False, clock)
            sent.append({"key": keysym, "sent": t, "text": text})
            start += 600_000_000
    sleep_until(clock, start)
    x.sync()
    with open(sent_file, "w") as f:
        json.dump(sent, f)


def cmd_macros_report(sent_file, log_file, *labels):
    """One row per key (KEYSYM=LABEL): the time to the macro's last WM_CHAR."""
    with open(sent_file) as f:
        sent = json.load(f)
    chars = [r for r in read_target_log(log_file) if r[0] == "C"]
    total = {}
    first = {}
    for i, play in enumerate(sent):
        end = sent[i + 1]["sent"] if i + 1 < len(sent) else float("inf")
        got = [c for c in chars if play["sent"] <= c[3] < end]
        text = "".join(chr(c[1]) for c in got)
        if text != play["text"]:
            fail(f"play {i} of key {play['key']}: the window received {text[:60]!r}..., not the macro's text")
        total.setdefault(play["key"], []).append(got[-1][3] - play["sent"])
        first.setdefault(play["key"], []).append(got[0][3] - play["sent"])
    for arg in labels:
        key, label = arg.split("=", 1)
        values = sorted(total[key])
        print(f"| {label} | {len(values)} | {statistics.median(values) / 1e6:.1f} ms | {values[0] / 1e6:.1f} ms"
              f" | {values[-1] / 1e6:.1f} ms | {statistics.median(first[key]) / 1e6:.1f} ms |")


def cmd_press(clock_name, keysym):
    clock = CLOCKS[clock_name]
    x = XKeys()
    code = x.keycode(keysym)
    t = x.send(code, True, clock)
    time.sleep(0.02)
    x.send(code, False, clock)
    x.sync()
    print(t)


def main(argv):
    commands = {  # the command, its least and its most number of arguments (None: no most)
        "clock": (cmd_clock, 2, 2),
        "keys": (cmd_keys, 5, 6),
        "keys-report": (cmd_keys_report, 2, 3),
        "macros": (cmd_macros, 3, None),
        "macros-report": (cmd_macros_report, 3, None),
        "press": (cmd_press, 2, 2),
    }
    least, most = commands[argv[1]][1:] if len(argv) >= 2 and argv[1] in commands else (0, -1)
    if not least <= len(argv) - 2 <= (most if most is not None else len(argv)):
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    function = commands[argv[1]][0]
    function(*argv[2:])


if __name__ == "__main__":
    main(sys.argv)
