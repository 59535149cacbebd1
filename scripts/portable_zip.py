#!/usr/bin/env python3
"""Writes the portable zip of the 64-bit Windows programs.

Usage: portable_zip.py SOURCE-DIR WIN64-BUILD WIN32-BUILD VERSION OUT.zip

Everything goes under one top folder, Velto-VERSION/: the 64-bit programs and
library, the 32-bit companion with its library (from the 32-bit build), the
layout compiler, the shipped layouts (sources and compiled), the en_US
Compose file (locale/), README.md, docs/ and PORTABLE.txt. Names are stored as UTF-8.
"""
import os
import sys
import zipfile

# (build, file): the programs, as the 64-bit installer installs them.
PROGRAMS = [
    ("win64", "velto.exe"),
    ("win64", "veltoctl.exe"),
    ("win64", "velto64.dll"),
    ("win64", "veltoc.exe"),
    ("win32", "velto-companion.exe"),
    ("win32", "velto.dll"),
]


def entries(source, builds):
    """(path on disk, name in the zip below the top folder), in a fixed order."""
    for build, name in PROGRAMS:
        yield os.path.join(builds[build], name), name
    for folder, ext in ((os.path.join(source, "layouts"), ".vkl"),
                        (os.path.join(builds["win64"], "layouts"), ".vkb")):
        names = sorted(n for n in os.listdir(folder) if n.endswith(ext))
        if not names:
            raise FileNotFoundError(f"no {ext} files in {folder}")
        for name in names:
            yield os.path.join(folder, name), "layouts/" + name
    # The Compose file that `compose include "%L"` reads on Windows.
    for name in ("compose.dir", "en_US.UTF-8/Compose"):
        yield os.path.join(builds["win64"], "locale", name), "locale/" + name
    yield os.path.join(source, "README.md"), "README.md"
    docs = os.path.join(source, "docs")
    for name in sorted(os.listdir(docs)):
        yield os.path.join(docs, name), "docs/" + name
    yield os.path.join(source, "installer", "PORTABLE.txt"), "PORTABLE.txt"


def text_of(path, version):
    """PORTABLE.txt names the installer of the same version; Windows line ends."""
    text = open(path, encoding="utf-8").read().replace("VERSION", version)
    return text.replace("\n", "\r\n").encode("utf-8")


def main(argv):
    if len(argv) != 6:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    source, win64, win32, version, out = argv[1:]
    top = f"Velto-{version}/"
    files = list(entries(source, {"win64": win64, "win32": win32}))
    missing = [path for path, _ in files if not os.path.isfile(path)]
    if missing:
        print("portable_zip.py: missing: " + ", ".join(missing), file=sys.stderr)
        return 1
    tmp = out + ".part"
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for path, name in files:
            if name == "PORTABLE.txt":
                z.writestr(top + name, text_of(path, version))
            else:
                z.write(path, top + name)  # zipfile flags non-ASCII names as UTF-8
    os.replace(tmp, out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
