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
import zlib

from benchmark import build_launcher

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


# ---- Measuring -------------------------------------------------------------

class Runner:
    """Runs commands under peak_rss: their time and peak resident memory."""

    def __init__(self, work):
        self.path = build_launcher(work)
        self.result_file = os.path.join(work, "peak_rss.result")

    def run(self, command, cwd=None, stdin_text=None, env=None, accept=(0,)):
        """(seconds, peak resident KiB); fails unless the exit code is in `accept`."""
        os.sync()  # no run pays for the writes of the one before
        process = subprocess.run([self.path, self.result_file, *map(str, command)], cwd=cwd, env=env,
                                 input=(stdin_text or "").encode(), stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE)
        with open(self.result_file) as result:
            code, seconds, peak_kib = result.read().split()
        if process.returncode != 0 or int(code) not in accept:
            sys.exit("%s failed with exit code %s:\n%s" % (command, code, process.stderr.decode(errors="replace")))
        return float(seconds), int(peak_kib)


def files_of(tree):
    """Every file below `tree` (links followed, as the program's walk does),
    by "/" path."""
    found = {}
    for folder, folders, names in os.walk(tree, followlinks=True):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.isfile(path):
                found[os.path.relpath(path, tree)] = path
    return found


def same_content(a, b):
    if os.path.getsize(a) != os.path.getsize(b):
        return False
    with open(a, "rb") as left, open(b, "rb") as right:
        while True:
            block = left.read(1 << 20)
            if block != right.read(1 << 20):
                return False
            if not block:
                return True


def same_release(game, release):
    """True when `game` holds exactly the files of `release`, each with its
    content, names compared as Windows compares them: a file renamed only in
    letter case keeps its old name on a file system that tells case apart."""
    game_files = {path.lower(): full for path, full in files_of(game).items()}
    release_files = {path.lower(): full for path, full in files_of(release).items()}
    return game_files.keys() == release_files.keys() and all(
        same_content(full, release_files[path]) for path, full in game_files.items())


def classify(old, new):
    """The release's changes: (new files, changed files, removed files), as
    sorted "/" paths; identical files are in none."""
    old_files, new_files = files_of(old), files_of(new)
    added = sorted(set(new_files) - set(old_files))
    removed = sorted(set(old_files) - set(new_files))
    changed = sorted(path for path in set(old_files) & set(new_files)
                     if not same_content(old_files[path], new_files[path]))
    return added, changed, removed


def copy_files(paths, source, destination):
    for path in paths:
        os.makedirs(os.path.dirname(os.path.join(destination, path)), exist_ok=True)
        shutil.copyfile(os.path.join(source, path), os.path.join(destination, path))


def deflated_size(path):
    """What a "file" record's stream takes for this file: zlib at level 6."""
    with open(path, "rb") as source:
        return len(zlib.compress(source.read(), 6))


# Each peer's command that writes the delta `patch` turning `old` into `new`.
PEERS = {
    "bsdiff": lambda old, new, patch: ["bsdiff", old, new, patch],
    # -D: compressed files are compared as they are, as the others compare
    # them, not unpacked first (which also would not give back the same bytes).
    "xdelta3": lambda old, new, patch: ["xdelta3", "-e", "-9", "-D", "-f", "-s", old, new, patch],
    "zstd --patch-from": lambda old, new, patch: ["zstd", "-q", "-f", "-19", "--patch-from=" + old, new, "-o",
                                                  patch],
}


def measure_peer(runner, name, old, new, changed, work):
    """One peer on every changed file: the total of the smaller of its delta
    and the deflated whole file, the time of all its runs, its peak."""
    total, seconds, peak, deltas = 0, 0.0, 0, 0
    patch = os.path.join(work, "peer.patch")
    for path in changed:
        run_seconds, run_peak = runner.run(PEERS[name](os.path.join(old, path), os.path.join(new, path), patch))
        seconds += run_seconds
        peak = max(peak, run_peak)
        delta, whole = os.path.getsize(patch), deflated_size(os.path.join(new, path))
        deltas += delta < whole
        total += min(delta, whole)
    return {"changed_bytes": total, "seconds": seconds, "peak_kib": peak, "as_deltas": deltas}


class Game:
    """One game's two releases and the patches made between them."""

    def __init__(self, name, old, new, program, runner, work):
        self.name, self.old, self.new = name, old, new
        self.program, self.runner = program, runner
        self.work = os.path.join(work, name)
        os.makedirs(self.work)
        # An empty Wine prefix: no registered install folder can send the
        # files elsewhere, so the current folder, holding zanthe.exe, is
        # the game the patch finds.
        prefix = os.path.join(self.work, "empty-wine-prefix")
        os.makedirs(prefix)
        self.environment = dict(os.environ, WINEPREFIX=prefix)

    def carrier(self, name):
        patch = os.path.join(self.work, name)
        shutil.copyfile(self.program, patch)
        os.chmod(patch, 0o755)
        return patch

    def package_bytes(self, patch):
        return os.path.getsize(patch) - os.path.getsize(self.program)

    def pack(self, name, files_from):
        """-l of the folder `files_from`, made "src" of a folder of its own."""
        folder = os.path.join(self.work, name + "-pack")
        os.makedirs(folder)
        os.symlink(files_from, os.path.join(folder, "src"))
        patch = self.carrier(name)
        # Exit code 3: files that cannot be read (dangling links) are left out.
        seconds, peak = self.runner.run([self.program, "-l", patch], cwd=folder, env=self.environment,
                                        accept=(0, 3))
        return patch, {"package_bytes": self.package_bytes(patch), "seconds": seconds, "peak_kib": peak}

    def diff(self, workers, old=None, new=None, name="diff"):
        patch = self.carrier("%s-%d" % (name, workers))
        seconds, peak = self.runner.run([self.program, "--diff", old or self.old, new or self.new, patch],
                                        accept=(0, 3), env=dict(self.environment, QUORVANE_JOBS=str(workers)))
        return patch, {"package_bytes": self.package_bytes(patch), "seconds": seconds, "peak_kib": peak}

    def apply(self, patch, name, base=None):
        """Applies `patch` to a fresh copy of the old release (or of `base`);
        the copy is not timed. Gives the folder, seconds and peak."""
        base = base or self.old
        game = os.path.join(self.work, "game-" + name)
        # Links become the files they lead to, as the walk reads them; dangling
        # ones, which the walk cannot read, are left out.
        copy_files(list(files_of(base)), base, game)
        open(os.path.join(game, "zanthe.exe"), "wb").close()
        # A failed update (exit code 1) shows as a folder that is not the new release.
        seconds, peak = self.runner.run([patch], cwd=game, stdin_text="y\n", env=self.environment, accept=(0, 1))
        os.remove(os.path.join(game, "zanthe.exe"))
        return game, {"seconds": seconds, "peak_kib": peak}


def measure_game(name, program, runner, work, peers):
    old, new = (release_tree(name, version) for version in GAMES[name])
    game = Game(name, old, new, program, runner, work)
    added, changed, removed = classify(old, new)
    figures = {"files_old": len(files_of(old)), "files_new": len(files_of(new)), "new": len(added),
               "changed": len(changed), "removed": len(removed),
               "changed_old_bytes": sum(os.path.getsize(os.path.join(old, p)) for p in changed),
               "changed_new_bytes": sum(os.path.getsize(os.path.join(new, p)) for p in changed),
               "new_files_deflated": sum(deflated_size(os.path.join(new, p)) for p in added)}

    _, figures["whole_tree"] = game.pack("whole", new)
    changed_whole = os.path.join(game.work, "changed-whole")
    copy_files(added + changed, new, changed_whole)
    whole_patch, figures["changed_whole"] = game.pack("changed", changed_whole)

    diff_patch, figures["diff_1"] = game.diff(1)
    _, figures["diff_2"] = game.diff(2)
    with open(diff_patch, "rb") as one, open(os.path.join(game.work, "diff-2"), "rb") as two:
        figures["diff_same_bytes_with_1_and_2_workers"] = one.read() == two.read()
    # The changed files alone, old and new, so that making the deltas is
    # timed on the files the peers work on.
    changed_old, changed_new = (os.path.join(game.work, "changed-" + side) for side in ("old", "new"))
    copy_files(changed, old, changed_old)
    copy_files(changed, new, changed_new)
    for workers in (1, 2):
        diff_changed, figures["diff_changed_%d" % workers] = game.diff(workers, changed_old, changed_new,
                                                                       "diff-changed")
    changed_only_whole, _ = game.pack("changed-only", changed_new)

    figures["peers"] = {peer: measure_peer(runner, peer, old, new, changed, game.work) for peer in peers}

    applied, figures["apply_diff"] = game.apply(diff_patch, "diff")
    figures["apply_diff_gives_new"] = same_release(applied, new)
    shutil.rmtree(applied)
    # The same changes as whole files; its removals are not in it.
    applied, figures["apply_changed_whole"] = game.apply(whole_patch, "changed-whole")
    shutil.rmtree(applied)
    # The changed files alone: their deltas against the same files whole,
    # with no new files or removals on either side.
    applied, figures["apply_diff_changed"] = game.apply(diff_changed, "diff-changed", changed_old)
    figures["apply_diff_changed_gives_new"] = same_release(applied, changed_new)
    shutil.rmtree(applied)
    applied, figures["apply_changed_only_whole"] = game.apply(changed_only_whole, "changed-only", changed_old)
    shutil.rmtree(applied)
    return figures


def report(name, f):
    mb = lambda count: "%.2f MB" % (count / 1e6)
    print("\n== %s: %d -> %d files: %d new, %d changed (%s -> %s), %d removed" % (
        name, f["files_old"], f["files_new"], f["new"], f["changed"], mb(f["changed_old_bytes"]),
        mb(f["changed_new_bytes"]), f["removed"]))
    print("%-40s %12s %9s %10s" % ("patch", "size", "time", "peak"))
    rows = [("-l, the whole new tree", f["whole_tree"]),
            ("-l, the new and changed files whole", f["changed_whole"]),
            ("--diff, 1 worker", f["diff_1"]), ("--diff, 2 workers", f["diff_2"]),
            ("--diff, changed files only, 1 worker", f["diff_changed_1"]),
            ("--diff, changed files only, 2 workers", f["diff_changed_2"])]
    for label, row in rows:
        print("%-40s %12s %8.2fs %7d KiB" % (label, mb(row["package_bytes"]), row["seconds"], row["peak_kib"]))
    for peer, row in f["peers"].items():
        total = row["changed_bytes"] + f["new_files_deflated"]
        print("%-40s %12s %8.2fs %7d KiB  (changed files %s, %d as deltas)" % (
            peer + ", per file + new files", mb(total), row["seconds"], row["peak_kib"],
            mb(row["changed_bytes"]), row["as_deltas"]))
    print("apply --diff's patch: %.2fs, %d KiB, gives the new release: %s" % (
        f["apply_diff"]["seconds"], f["apply_diff"]["peak_kib"], f["apply_diff_gives_new"]))
    print("apply the new and changed files whole: %.2fs, %d KiB" % (
        f["apply_changed_whole"]["seconds"], f["apply_changed_whole"]["peak_kib"]))
    if f["peers"]:
        best_peer, best = min(((p, r["changed_bytes"] + f["new_files_deflated"]) for p, r in f["peers"].items()),
                              key=lambda pair: pair[1])
        print("targets: size %.3fx the best peer (%s; at most 1.1)" % (
            f["diff_1"]["package_bytes"] / best, best_peer), end="")
        if "bsdiff" in f["peers"]:
            print(", making the changed files' deltas %.2fx bsdiff's time (at most 1)" % (
                f["diff_changed_2"]["seconds"] / f["peers"]["bsdiff"]["seconds"]), end="")
        print()
    print("apply --diff's patch of the changed files alone: %.2fs, %d KiB, gives them: %s; the same files whole: "
          "%.2fs, %d KiB" % (f["apply_diff_changed"]["seconds"], f["apply_diff_changed"]["peak_kib"],
                             f["apply_diff_changed_gives_new"], f["apply_changed_only_whole"]["seconds"],
                             f["apply_changed_only_whole"]["peak_kib"]))
    print("        applying %d KiB (within 4 MiB plus the paths), %.2fx applying the files whole (at most 1; "
          "the changed files alone %.2fx)" % (
              f["apply_diff"]["peak_kib"], f["apply_diff"]["seconds"] / f["apply_changed_whole"]["seconds"],
              f["apply_diff_changed"]["seconds"] / f["apply_changed_only_whole"]["seconds"]))
    print("        --diff with 2 workers %.2fx as fast as with 1 (changed files only %.2fx); same bytes: %s" % (
        f["diff_1"]["seconds"] / f["diff_2"]["seconds"],
        f["diff_changed_1"]["seconds"] / f["diff_changed_2"]["seconds"], f["diff_same_bytes_with_1_and_2_workers"]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--game", choices=sorted(GAMES), action="append",
                        help="measure only this game (may be given twice)")
    parser.add_argument("--fetch-only", action="store_true", help="fetch and unpack, measure nothing")
    parser.add_argument("--peer", choices=sorted(PEERS), action="append",
                        help="measure only this peer (may be given more than once; default: all)")
    parser.add_argument("--program", default=DEFAULT_PROGRAM, help="the native program (default: %(default)s)")
    parser.add_argument("--work", default=None, help="scratch folder (default: a new one in the system's temp)")
    parser.add_argument("--results", default=os.path.join(ROOT, "build", "delta-benchmark-results.json"))
    args = parser.parse_args()
    games = args.game or sorted(GAMES)
    if args.fetch_only:
        for game in games:
            print(*(release_tree(game, version) for version in GAMES[game]))
        return
    program = os.path.abspath(args.program)
    if not os.path.exists(program):
        sys.exit("build the native program first: scripts/build.sh")
    peers = args.peer or list(PEERS)
    for peer in peers:
        if shutil.which(PEERS[peer]("o", "n", "p")[0]) is None:
            sys.exit("%s is missing: apt-get install bsdiff xdelta3 zstd" % peer)
    results = {}
    with tempfile.TemporaryDirectory(prefix="quorvane-delta-bench-", dir=args.work) as work:
        runner = Runner(work)
        for game in games:
            results[game] = measure_game(game, program, runner, work, peers)
            report(game, results[game])
    os.makedirs(os.path.dirname(args.results), exist_ok=True)
    with open(args.results, "w") as out:
        json.dump(results, out, indent=2)
    print("results written to", args.results)


if __name__ == "__main__":
    main()
