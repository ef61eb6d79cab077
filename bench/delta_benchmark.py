#!/usr/bin/env python3
"""Update patches between two consecutive releases of a real game's data:
the native program's --diff against a patch of the whole new tree (-l), a
patch of the changed and new files whole, and per-file binary deltas made
by bsdiff, xdelta3 and zstd --patch-from on the same changed files.

Not a test, and CI does not run it: it downloads some 300 MB from Debian's
archive the first time. Run it from the repository after scripts/build.sh,
as root (apt-get fetches the packages):

    apt-get install bsdiff xdelta3 zstd      # the peers
    python3 bench/delta_benchmark.py         # both games
    python3 bench/delta_benchmark.py --game openttd-opengfx

The older release comes from bullseye, the newer from bookworm. Both are
fetched with apt's own options pointing at a source list and a state folder
of the benchmark's own (under build/delta-bench/apt), so the machine's
sources never gain bullseye. The packages are unpacked with dpkg-deb -x
into build/delta-bench/trees, and later runs reuse them.
"""
import argparse
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_PROGRAM = os.path.join(ROOT, "build", "native", "quorvane-update")
CACHE = os.path.join(ROOT, "build", "delta-bench")
MIRROR = "http://deb.debian.org/debian"
KEYRING = "/usr/share/keyrings/debian-archive-keyring.gpg"

# (package, older version, newer version): two consecutive releases each.
GAMES = {
    "freedroidrpg-data": ("0.16.1", "1.0"),
    "openttd-opengfx": ("0.6.0", "7.1"),
}


# ---- Fetching ----------------------------------------------------------------

def apt_options():
    """apt's options for a source list, state and cache of the benchmark's
    own: nothing of the machine's apt set-up is read or changed."""
    apt = os.path.join(CACHE, "apt")
    return ["-o", "Dir::Etc::SourceList=" + os.path.join(apt, "sources.list"),
            "-o", "Dir::Etc::SourceParts=/dev/null",
            "-o", "Dir::State=" + os.path.join(apt, "state"),
            "-o", "Dir::Cache=" + os.path.join(apt, "cache"),
            # The download lands in the benchmark's cache, which apt's own
            # unprivileged user may not be able to enter.
            "-o", "APT::Sandbox::User=root"]


def prepare_apt():
    apt = os.path.join(CACHE, "apt")
    for folder in ("state/lists/partial", "cache/archives/partial"):
        os.makedirs(os.path.join(apt, folder), exist_ok=True)
    with open(os.path.join(apt, "sources.list"), "w") as sources:
        for suite in ("bullseye", "bookworm"):
            sources.write("deb [signed-by=%s] %s %s main\n" % (KEYRING, MIRROR, suite))
    subprocess.run(["apt-get", *apt_options(), "-qq", "update"], check=True)


def full_version(package, upstream):
    """The archive's version of `package` whose upstream part is `upstream`."""
    lines = subprocess.run(["apt-cache", *apt_options(), "madison", package], check=True,
                           capture_output=True, text=True).stdout.splitlines()
    for line in lines:
        version = line.split("|")[1].strip()
        if version.split(":")[-1].rsplit("-", 1)[0] == upstream:
            return version
    sys.exit("%s %s is not in the archive: %s" % (package, upstream, lines))


def release_tree(package, upstream):
    """The unpacked data of one release, fetched and unpacked once."""
    tree = os.path.join(CACHE, "trees", "%s-%s" % (package, upstream))
    if os.path.isdir(tree):
        return tree
    if not os.path.isdir(os.path.join(CACHE, "apt", "state", "lists")) or \
            not glob.glob(os.path.join(CACHE, "apt", "state", "lists", "*Packages*")):
        prepare_apt()
    debs = os.path.join(CACHE, "debs")
    os.makedirs(debs, exist_ok=True)
    version = full_version(package, upstream)
    subprocess.run(["apt-get", *apt_options(), "-qq", "download", "%s=%s" % (package, version)],
                   cwd=debs, check=True)
    deb = glob.glob(os.path.join(debs, "%s_*%s*.deb" % (package, version.split(":")[-1])))[0]
    unpacking = tree + ".partial"
    shutil.rmtree(unpacking, ignore_errors=True)
    os.makedirs(unpacking)
    subprocess.run(["dpkg-deb", "-x", deb, unpacking], check=True)
    os.rename(unpacking, tree)
    return tree


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--game", choices=sorted(GAMES), action="append",
                        help="measure only this game (may be given twice)")
    parser.add_argument("--fetch-only", action="store_true", help="fetch and unpack, measure nothing")
    args = parser.parse_args()
    for game in args.game or sorted(GAMES):
        older, newer = (release_tree(game, version) for version in GAMES[game])
        if args.fetch_only:
            print(older, newer)


if __name__ == "__main__":
    main()
