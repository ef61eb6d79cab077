#!/usr/bin/env python3
"""Two clean builds of the same sources must give the same Windows programs,
byte for byte, so that a publisher can check that a shipped program is the
one the sources make.

The sources are copied twice, to folders of different names and depths, and
each copy configures and builds the program of every preset named, in its
own build folder. A difference is reported with its offset and the section
of the program it lies in.

Usage: reproducible_build.py --source DIR --work DIR --preset NAME [--preset NAME ...]
"""

import argparse
import shutil
import subprocess
import sys
from pathlib import Path

import check_pe

# Where the two copies go below the work folder: the paths differ in name
# and length, as two publishers' checkouts would.
COPIES = ("a/quorvane", "second-checkout/somewhere/deeper/QuorvaneUpdate-src")
NOT_COPIED = shutil.ignore_patterns("build", ".git", "__pycache__")
PROGRAM = "QuorvaneUpdate.exe"
BUILD_TIMEOUT = 1200  # seconds for one configure and build


def build(source, preset):
    """Configures `preset` in `source` and builds its program; returns the
    program's bytes."""
    for command in (["cmake", "--preset", preset, "-DBUILD_TESTING=OFF"],
                    ["cmake", "--build", "--preset", preset, "-j2", "--target", "quorvane_update"]):
        result = subprocess.run(command, cwd=source, stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=BUILD_TIMEOUT, check=False)
        if result.returncode != 0:
            raise RuntimeError("%s in %s ended with %d:\n%s%s"
                               % (" ".join(command), source, result.returncode,
                                  result.stdout.decode(errors="replace"),
                                  result.stderr.decode(errors="replace")))
    return (source / "build" / preset / PROGRAM).read_bytes()


def where(data, offset):
    """The section of the program `data` that holds file offset `offset`."""
    try:
        pe = check_pe.PeFile(data)
    except (check_pe.PeError, ValueError):
        return "an unreadable program"
    for name, (_, _, raw, raw_size) in zip(pe.section_names, pe.sections):
        if raw <= offset < raw + raw_size:
            return "section %s" % name
    first_section = min((raw for _, _, raw, raw_size in pe.sections if raw_size), default=len(data))
    return "the headers" if offset < first_section else "no section"


def difference(first, second):
    """Why the programs `first` and `second` differ, or None when they are the same."""
    if first == second:
        return None
    offset = next((i for i, (a, b) in enumerate(zip(first, second)) if a != b),
                  min(len(first), len(second)))
    return ("the builds differ (%d and %d bytes), first at offset 0x%X in %s"
            % (len(first), len(second), offset, where(first, offset)))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--source", type=Path, required=True)
    parser.add_argument("--work", type=Path, required=True)
    parser.add_argument("--preset", action="append", required=True)
    args = parser.parse_args(argv)

    shutil.rmtree(args.work, ignore_errors=True)
    copies = [args.work / copy for copy in COPIES]
    for copy in copies:
        shutil.copytree(args.source, copy, ignore=NOT_COPIED, symlinks=True)
    faults = []
    for preset in args.preset:
        first, second = (build(copy, preset) for copy in copies)
        fault = difference(first, second)
        if fault:
            faults.append("%s: %s" % (preset, fault))
        else:
            print("%s: two builds give the same %d bytes" % (preset, len(first)))
    for fault in faults:
        print(fault, file=sys.stderr)
    if not faults:
        shutil.rmtree(args.work)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
