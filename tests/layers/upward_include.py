#!/usr/bin/env python3
"""Shows that the engine's layers, and the back ends on top of them, only look down.

For every layer, compiles a probe file with exactly the flags the build
gives that layer's sources (compile_commands.json): a probe that includes a
header of each layer below it (and its own) must compile, and one that
includes a header of any other layer must fail because the header is not
found, as an upward include in a real source would. The two back ends, the
Windows one (src/win32, in a Windows build) and the simulated system
(tools/sim), stand on the whole engine and may not see each other.

Usage: upward_include.py NATIVE-BUILD-DIR WINDOWS-BUILD-DIR
"""
import json
import os
import shlex
import subprocess
import sys
import tempfile

# Each layer with one of its headers, and the layers it may include.
HEADERS = {
    "platform": "platform/platform.h",
    "shared": "shared/region.h",
    "intercept": "intercept/lookup.h",
    "delivery": "delivery/queues.h",
    "hooks": "hooks/procs.h",
    "control": "control/exports.h",
    "win32": "win32/win32.h",
    "sim": "sim/sim.h",
}
ENGINE = {"platform", "shared", "intercept", "delivery", "hooks", "control"}
BELOW = {
    "shared": {"platform"},
    "intercept": {"platform", "shared"},
    "delivery": {"platform", "shared"},
    "hooks": {"platform", "shared", "intercept", "delivery"},
    "control": {"platform", "shared", "intercept", "delivery", "hooks"},
    "win32": ENGINE,
    "sim": ENGINE,
}
# Where each layer's sources are, and the build target that compiles them.
SOURCES = {layer: (f"/src/{layer}/", f"velto_{layer}.dir") for layer in ENGINE}
SOURCES["win32"] = ("/src/win32/", "CMakeFiles/velto.dir/")
SOURCES["sim"] = ("/tools/sim/", "velto_sim.dir")


def layer_commands(build, layers):
    """One compile command (as an argument list) of a source of each layer."""
    with open(os.path.join(build, "compile_commands.json")) as f:
        entries = json.load(f)
    found = {}
    for entry in entries:
        path = entry["file"].replace("\\", "/")
        for layer in layers:
            folder, target = SOURCES[layer]
            if folder in path and target in entry.get("command", ""):
                found.setdefault(layer, (shlex.split(entry["command"]), entry["file"], entry["directory"]))
    return found


def compiles(command, source, directory, probe):
    args = []
    skip = False
    for arg in command:
        if skip:
            skip = False
            continue
        if arg in ("-o", "-MF", "-MT"):
            skip = True
            continue
        if arg in ("-c", "-MD") or arg == source:
            continue
        args.append(arg)
    result = subprocess.run(args + ["-fsyntax-only", probe], cwd=directory, capture_output=True, text=True)
    return result.returncode == 0, result.stderr


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    commands = layer_commands(sys.argv[1], set(BELOW) - {"win32"})
    commands.update(layer_commands(sys.argv[2], {"win32"}))
    missing = set(BELOW) - set(commands)
    if missing:
        sys.exit(f"upward_include: no compile command for the layers {sorted(missing)} (build both first)")
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        for layer, (command, source, directory) in sorted(commands.items()):
            allowed = sorted(BELOW[layer] | {layer})
            probe = os.path.join(tmp, f"{layer}_down.cpp")
            with open(probe, "w") as f:
                f.writelines(f'#include "{HEADERS[name]}"\n' for name in allowed)
            ok, errors = compiles(command, source, directory, probe)
            if not ok:
                print(f"FAIL: {layer} cannot include the layers below it:\n{errors}")
                failures += 1
            for other in sorted(set(HEADERS) - set(allowed)):
                probe = os.path.join(tmp, f"{layer}_{other}.cpp")
                with open(probe, "w") as f:
                    f.write(f'#include "{HEADERS[other]}"\n')
                ok, errors = compiles(command, source, directory, probe)
                if ok or HEADERS[other] not in errors or "No such file" not in errors:
                    print(f"FAIL: {layer} includes {HEADERS[other]}: " + ("it compiled" if ok else errors))
                    failures += 1
            print(f"{layer}: sees {', '.join(allowed)}; not {', '.join(sorted(set(HEADERS) - set(allowed))) or '-'}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
