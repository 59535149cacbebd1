#!/usr/bin/env python3
"""Writes the binary seeds of the fuzz targets into tests/fuzz/corpus.

The shipped layouts and the .klc files of tests/data are seeds as they are:
scripts/fuzz.sh adds them to the working corpus, so no copy is kept here.
This writes the seeds made from them (the layout language's examples, a
UTF-16 .klc) and those of its own: error cases, and the key and macro event
streams in the targets' input formats (see keys_fuzz.cpp and macro_fuzz.cpp). One keys seed carries a whole compiled
description, which needs a veltoc.
Usage: tests/fuzz/make_seeds.py [VELTOC]   (default build/native/veltoc)
"""
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CORPUS = os.path.join(ROOT, "tests", "fuzz", "corpus")


def write(target, name, data):
    os.makedirs(os.path.join(CORPUS, target), exist_ok=True)
    with open(os.path.join(CORPUS, target, name), "wb") as f:
        f.write(data)


# keys_fuzz: two-byte events.
NAMED = ["lctrl", "rctrl", "lalt", "ralt", "lwin", "rwin", "lshift", "rshift",
         "caps", "numlock", "scroll", "apps", "pad7", "pad1", "a", "space"]


def down(scan): return bytes([scan >> 8, scan & 0xFF])
def up(scan): return bytes([0x20 | scan >> 8, scan & 0xFF])
def tap(scan): return bytes([0x40 | scan >> 8, scan & 0xFF])
def hold(name): return bytes([0x60, NAMED.index(name)])
def let_go(name): return bytes([0x60, NAMED.index(name) | 16])
def ticks(n): return bytes([0x80, n - 1])
def focus(console): return bytes([0xA0, 1 if console else 0])
def queued(seed, ticks): return bytes([0xB0 | ticks, seed])  # the keys that follow, in a random order
def export(which, layout=0): return bytes([0xC0 | layout, which])  # 0 off, 1 on, 2 toggle, 3 select, 4 setup
SETTLE = bytes([0xE0, 0])


def with_key(name, scan): return hold(name) + tap(scan) + let_go(name)


TOGGLE = hold("lshift") + hold("rshift") + let_go("rshift") + let_go("lshift")
TYPING = b"".join(tap(s) for s in (0x12, 0x26, 0x2F, 0x14, 0x18, 0x39))  # e l v t o space
DEAD = tap(0x28) + tap(0x12) + with_key("lshift", 0x28) + tap(0x16) + tap(0x29) + tap(0x39)
RALT = with_key("ralt", 0x06) + with_key("ralt", 0x22) + SETTLE  # right Alt + 5, the macro on g
HOTKEYS = with_key("lctrl", 0x58) + TYPING + with_key("lctrl", 0x58)  # off and on again
LOCKS = tap(58) + TYPING + tap(58) + tap(325) + tap(0x47) + tap(325) + tap(0x4F) + tap(70) + tap(70)


def keys_seeds(veltoc):
    write("keys_fuzz", "us-typing", bytes([0, 0]) + TYPING + with_key("lshift", 0x1E) + ticks(30))
    write("keys_fuzz", "intl-dead-keys", bytes([1, 0]) + TOGGLE + DEAD + RALT + ticks(30))
    write("keys_fuzz", "intl-hotkeys-locks", bytes([1, 0]) + TOGGLE + HOTKEYS + LOCKS + SETTLE)
    write("keys_fuzz", "intl-console-exports",
          bytes([1, 0]) + export(3, 1) + TYPING + focus(True) + TYPING + RALT + focus(False) + export(2) +
          TYPING + export(0) + TYPING + export(1) + export(4) + DEAD + SETTLE)
    write("keys_fuzz", "intl-macro-held", bytes([1, 0]) + TOGGLE + hold("ralt") + tap(0x22) + ticks(1) +
          let_go("ralt") + ticks(5) + hold("lshift") + hold("ralt") + tap(0x22) + tap(0x12) + SETTLE +
          let_go("ralt") + let_go("lshift") + SETTLE)
    write("keys_fuzz", "intl-queued", bytes([1, 0]) + queued(1, 2) + TOGGLE + TYPING + DEAD +
          with_key("ralt", 0x06) + ticks(1) + queued(2, 15) + with_key("ralt", 0x22) + TYPING + SETTLE)
    write("keys_fuzz", "ru-typing", bytes([2, 0]) + TOGGLE + TYPING + with_key("rshift", 0x1E) + SETTLE)
    # intl with two bytes changed: the caps-switches-layout option, Apps claimed by layout 1.
    write("keys_fuzz", "intl-changed", bytes([1, 2]) + bytes([0, 0, 0, 0x09]) +
          (14957).to_bytes(3, "little") + bytes([0x02]) + TOGGLE + tap(349) + hold("caps") +
          TYPING + let_go("caps") + TYPING + SETTLE)
    with tempfile.TemporaryDirectory() as tmp:
        vkb = os.path.join(tmp, "intl.vkb")
        subprocess.run([veltoc, "compile", os.path.join(ROOT, "layouts", "intl.vkl"), "-o", vkb], check=True)
        with open(vkb, "rb") as f:
            description = f.read()
    write("keys_fuzz", "whole-description-intl", bytes([3]) + description + TOGGLE + DEAD + RALT + SETTLE)


def macro_seeds():
    def seed(name, mode, mods, text):
        write("macro_fuzz", name, bytes([mode, mods & 0xFF, mods >> 8]) + text)
    seed("plain", 0, 0, b"Best regards,{ENTER}Velto")
    seed("ralt-held", 0, 1 << 3, b"Best regards,{ENTER}Velto")
    seed("chords-shift-ctrl", 0, (1 << 6) | (1 << 0), b"{LCTRL+c}{HOME}x{SHIFT+END}{DEL}{a+b+c}")
    seed("every-modifier", 0, 0x04FF, b"{LWIN}{RCTRL+RALT+F5}{CAPS_LOCK}z{NUM_LOCK}{NUM_5}")
    seed("long", 0, 1 << 7, b"w" * 200 + b"{LEFT}" * 9)
    seed("unclosed-chord", 0, 1 << 2, b"ab{LSHIFT+")
    seed("char-then-left", 1, 1 << 3, b"\xe9")
    seed("one-char", 2, (1 << 3) | (1 << 10), b"{")
    seed("unicode-emoji-and-chord", 0x80, 1 << 6, b"\x80ok{LCTRL+\x81}\xff")
    seed("unicode-char-then-left", 0x81, 0, b"\x90")


UNICODE_TABLES = """\
# Unicode sets: a table placed by hand, a table entry used by number, an
# ANSI layout beside them, and layout 3 sharing the set of layout 1.
unicode
layout 0 "Ansi" {
  codepage 1251 ansi
  bytes 8 01
  key A  ф Ф
}
layout 1 "Ж" {
  unicode @100 count 9
  table 0x41 A
  table 0x80 Ж ж я Я 😀 U+D800
  key A  ж Ж   ralt: 😀 macro:@101
  key B  я     caps: A
}
layout 3 "Three" {
  unicode
}
deadkey acute ´  e é
macro hi "Hi 👋{ENTER}"
"""


def text_seeds():
    with open(os.path.join(ROOT, "docs", "layout-language.md"), encoding="utf-8") as f:
        blocks = re.findall(r"```\n(.*?)```", f.read(), re.S)
    for i, block in enumerate(blocks):
        write("vkl_fuzz", "docs-%d.vkl" % (i + 1), block.encode("utf-8"))
    errors = {
        "error-unknown-key.vkl": 'layout 1 "X" {\n  key NOKEY a A\n}\n',
        "error-unclosed.vkl": 'layout 1 "Open" {\n  key A a A\n',
        "error-macro.vkl": 'macro m "{NOSUCHKEY}{A+B+C+D+E+F+G+H+I+J+K+L+M+N+O+P+Q}"\n'
                           'layout 1 "M" {\n  key M macro:m dead:none\n}\n',
        "error-codepage.vkl": 'layout 1 "Cyr" {\n  codepage 1251\n  key A é\n}\nhotkey toggle LCtrl+LCtrl\n',
    }
    for name, text in errors.items():
        write("vkl_fuzz", name, text.encode("utf-8"))
    # Unicode sets as another tool might place them: what the decompiler pins.
    write("vkl_fuzz", "unicode-tables.vkl", UNICODE_TABLES.encode("utf-8"))
    klc = os.path.join(ROOT, "tests", "data", "klc")
    with open(os.path.join(klc, "de.klc"), encoding="utf-8") as f:
        utf16 = "\ufeff" + f.read().replace("\n", "\r\n")
    write("klc_fuzz", "de-utf16.klc", utf16.encode("utf-16-le"))


if __name__ == "__main__":
    for target in ("keys_fuzz", "macro_fuzz", "vkl_fuzz", "klc_fuzz"):
        os.makedirs(os.path.join(CORPUS, target), exist_ok=True)
    keys_seeds(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "native", "veltoc"))
    macro_seeds()
    text_seeds()
