#!/usr/bin/env python3
"""Side-by-side benchmark: the native program's pack and apply against
tar -czf, tar -I pigz -cf, tar -xzf and tar -xzf && sync on the same files,
plus peak memory and per-file cost.

Not a test: it prints figures and writes them to a results file. Run it from
the repository after scripts/build.sh:

    python3 bench/benchmark.py               # full corpus (~64 MB) and a 1 GiB file
    python3 bench/benchmark.py --tiny        # a few small files, to keep the script working

Both tools read the same source tree and write to the same disk, one after
the other in every round; each figure is the best of its rounds. Pending
writes are flushed before every timed run so that no run pays for the one
before it. The program writes every file through to the disk before it
reports the update done; `tar -xzf && sync` is the peer with that
durability, plain `tar -xzf` the one without. Pack runs on every core, as
pigz does, and is also timed with one worker and with two (QUORVANE_JOBS);
`--baseline` times another build's pack beside it, to compare versions.
"""
import argparse
import filecmp
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_PROGRAM = os.path.join(ROOT, "build", "native", "quorvane-update")

WORDS = ("quorvane forest water rock tile map level sword shield potion gold "
         "dragon castle village road bridge river stone tree light dark").split()


def text_like(rng, size):
    """Deterministic text that compresses about as well as game scripts do."""
    parts, length = [], 0
    while length < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 12))) + " %d\n" % rng.randint(0, 9999)
        parts.append(line)
        length += len(line)
    return "".join(parts).encode()[:size]


def make_corpus(directory, tiny):
    rng = random.Random(20261210)
    scale = 1 if not tiny else 64
    os.makedirs(directory)
    for name in ("video1.bin", "video2.bin"):
        with open(os.path.join(directory, name), "wb") as out:
            out.write(rng.randbytes(16 * 1024 * 1024 // scale))
    with open(os.path.join(directory, "script.txt"), "wb") as out:
        out.write(text_like(rng, 16 * 1024 * 1024 // scale))
    make_small_files(directory, rng, 2000 // scale, 40 // min(scale, 8))


def make_small_files(directory, rng, count, folders):
    for i in range(count):
        folder = os.path.join(directory, "folder%02d" % (i % folders))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "file%05d.txt" % i), "wb") as out:
            out.write(text_like(rng, 8 * 1024))


def build_launcher(work):
    """Compiles peak_rss.c, the launcher every measured command runs under."""
    launcher = os.path.join(work, "peak_rss")
    source = os.path.join(ROOT, "bench", "peak_rss.c")
    for static in (["-static"], []):
        if subprocess.run(["cc", "-O2", *static, "-o", launcher, source]).returncode == 0:
            return launcher
    sys.exit("cannot compile %s" % source)


class Launcher:
    """Runs commands under peak_rss and reads back their time and peak memory."""

    def __init__(self, work):
        self.path = build_launcher(work)
        self.result_file = os.path.join(work, "peak_rss.result")
        # What the launcher itself leaves in a child's peak: figures at this
        # level say nothing about the command.
        _, self.floor_kib = self.run(["true"], cwd=work)

    def run(self, command, cwd, stdin_text=None, env=None):
        """Runs a command; returns (seconds, peak resident KiB of the command)."""
        os.sync()  # no run pays for the writes of the one before
        process = subprocess.Popen([self.path, self.result_file, *command], cwd=cwd, stdin=subprocess.PIPE,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        process.communicate(stdin_text.encode() if stdin_text is not None else b"")
        with open(self.result_file) as result:
            code, seconds, peak_kib = result.read().split()
        if process.returncode != 0 or int(code) != 0:
            sys.exit("%s failed with exit code %s" % (command[0], code))
        return float(seconds), int(peak_kib)


class Workspace:
    """A source tree in <work>/src and the places each tool writes to."""

    def __init__(self, work, program, launcher):
        self.work = work
        self.program = program
        self.run = launcher.run
        self.source = os.path.join(work, "src")
        self.patch = os.path.join(work, "patch")
        self.archive = os.path.join(work, "corpus.tar.gz")
        # An empty Wine prefix: no registered install directory can send the
        # files elsewhere, so the current directory, which holds zanthe.exe,
        # is the one the patch finds.
        prefix = os.path.join(work, "empty-wine-prefix")
        os.makedirs(prefix, exist_ok=True)
        self.environment = dict(os.environ, WINEPREFIX=prefix)

    def pack_ours(self, workers=None, program=None):
        """Packs with `workers` workers (None: one per core), with `program`
        instead of the program under test when given."""
        # The patch starts as a copy of the program; the copy is not timed.
        shutil.copyfile(self.program, self.patch)
        os.chmod(self.patch, 0o755)
        environment = dict(self.environment)
        environment.pop("QUORVANE_JOBS", None)
        if workers is not None:
            environment["QUORVANE_JOBS"] = str(workers)
        return self.run([program or self.program, "-l", self.patch], cwd=self.work, env=environment)

    def pack_tar(self):
        return self.run(["tar", "-czf", self.archive, "-C", self.source, "."], cwd=self.work)

    def pack_pigz(self):
        return self.run(["tar", "-I", "pigz", "-cf", self.archive + ".pigz", "-C", self.source, "."], cwd=self.work)

    def fresh_folder(self, name):
        folder = os.path.join(self.work, name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        return folder

    def apply_ours(self):
        folder = self.fresh_folder("applied-ours")
        open(os.path.join(folder, "zanthe.exe"), "wb").close()
        result = self.run([self.patch], cwd=folder, stdin_text="y\n", env=self.environment)
        os.remove(os.path.join(folder, "zanthe.exe"))
        return result

    def apply_tar(self):
        folder = self.fresh_folder("applied-tar")
        return self.run(["tar", "-xzf", self.archive, "-C", folder], cwd=self.work)

    def apply_tar_sync(self):
        folder = self.fresh_folder("applied-tar-sync")
        return self.run(["sh", "-c", 'tar -xzf "$0" -C "$1" && sync', self.archive, folder], cwd=self.work)


def trees_equal(left, right):
    comparison = filecmp.dircmp(left, right)
    stack = [comparison]
    while stack:
        current = stack.pop()
        if current.left_only or current.right_only or current.funny_files:
            return False
        _, mismatch, errors = filecmp.cmpfiles(current.left, current.right, current.common_files, shallow=False)
        if mismatch or errors:
            return False
        stack.extend(current.subdirs.values())
    return True


def best_of(rounds, pairs):
    """Alternates the measured commands round by round; best time and peak memory of each."""
    best = {name: (float("inf"), 0) for name, _ in pairs}
    for _ in range(rounds):
        for name, action in pairs:
            seconds, peak = action()
            best[name] = (min(best[name][0], seconds), max(best[name][1], peak))
    return best


def record(times, result):
    times.append(result[0])
    return result


def tree_bytes(directory):
    return sum(os.path.getsize(os.path.join(folder, name))
               for folder, _, names in os.walk(directory) for name in names)


def spread(times):
    return {"best": min(times), "worst": max(times), "all": times}


def measure_corpus(work, program, launcher, rounds, tiny, baseline):
    space = Workspace(work, program, launcher)
    make_corpus(space.source, tiny)
    pack_runs = [("pack ours", space.pack_ours), ("pack ours 1", lambda: space.pack_ours(1)),
                 ("pack ours 2", lambda: space.pack_ours(2)), ("pack tar", space.pack_tar),
                 ("pack pigz", space.pack_pigz)]
    if baseline:
        pack_runs.append(("pack baseline", lambda: space.pack_ours(1, baseline)))
    # Every round's times are kept: on a shared machine the spread says how
    # far a figure can be trusted.
    times = {name: [] for name, _ in pack_runs}
    packs = best_of(rounds, [(name, lambda name=name, action=action: record(times[name], action()))
                             for name, action in pack_runs])
    applies = best_of(rounds, [("apply ours", space.apply_ours), ("apply tar", space.apply_tar),
                               ("apply tar sync", space.apply_tar_sync)])
    for tool in ("ours", "tar", "tar-sync"):
        if not trees_equal(space.source, os.path.join(work, "applied-" + tool)):
            sys.exit("the tree applied by %s differs from the source" % tool)
    figures = {
        "pack_spread_seconds": {name: spread(values) for name, values in times.items()},
        "pack_1_worker_seconds": packs["pack ours 1"][0], "pack_2_workers_seconds": packs["pack ours 2"][0],
        "tar_pigz_seconds": packs["pack pigz"][0],
        "pack_pigz_ratio": packs["pack ours"][0] / packs["pack pigz"][0],
        "pack_1_worker_peak_kib": packs["pack ours 1"][1], "pack_2_workers_peak_kib": packs["pack ours 2"][1],
    }
    if baseline:
        figures["baseline_pack_seconds"] = packs["pack baseline"][0]
        figures["pack_1_worker_baseline_ratio"] = packs["pack ours 1"][0] / packs["pack baseline"][0]
    return {
        **figures,
        "corpus_bytes": tree_bytes(space.source),
        "package_bytes": os.path.getsize(space.patch) - os.path.getsize(program),
        "tar_gz_bytes": os.path.getsize(space.archive),
        "pack_seconds": packs["pack ours"][0], "tar_czf_seconds": packs["pack tar"][0],
        "apply_seconds": applies["apply ours"][0], "tar_xzf_seconds": applies["apply tar"][0],
        "tar_xzf_sync_seconds": applies["apply tar sync"][0],
        "pack_ratio": packs["pack ours"][0] / packs["pack tar"][0],
        "apply_ratio": applies["apply ours"][0] / applies["apply tar"][0],
        "apply_sync_ratio": applies["apply ours"][0] / applies["apply tar sync"][0],
        "pack_peak_kib": packs["pack ours"][1], "apply_peak_kib": applies["apply ours"][1],
        "tar_czf_peak_kib": packs["pack tar"][1], "tar_xzf_peak_kib": applies["apply tar"][1],
    }


def measure_large_file(work, program, launcher, size):
    """Peak memory for one large file, which must not grow with the file,
    and its time per MiB, which must not either."""
    space = Workspace(work, program, launcher)
    os.makedirs(space.source)
    rng = random.Random(7)
    block = rng.randbytes(1024 * 1024)
    with open(os.path.join(space.source, "large.bin"), "wb") as out:
        for i in range(size // len(block)):
            out.write(block[i % 7:] + block[:i % 7])
    pack_seconds, pack_peak = space.pack_ours()
    apply_seconds, apply_peak = space.apply_ours()
    if not trees_equal(space.source, os.path.join(work, "applied-ours")):
        sys.exit("the applied large file differs from the source")
    mib = size / (1024 * 1024)
    return {"large_file_bytes": size, "large_pack_peak_kib": pack_peak, "large_apply_peak_kib": apply_peak,
            "large_pack_ms_per_mib": 1000 * pack_seconds / mib,
            "large_apply_ms_per_mib": 1000 * apply_seconds / mib}


def measure_per_file_cost(work, program, launcher, counts):
    """Time per file for growing numbers of small files, with tar's beside
    it: what the file system charges for a larger tree shows in both."""
    figures = {}
    for count in counts:
        space = Workspace(os.path.join(work, "files%d" % count), program, launcher)
        os.makedirs(space.source)
        make_small_files(space.source, random.Random(count), count, max(1, count // 50))
        best = best_of(3, [("pack", space.pack_ours), ("tar_czf", space.pack_tar),
                           ("apply", space.apply_ours), ("tar_xzf", space.apply_tar),
                           ("tar_xzf_sync", space.apply_tar_sync)])
        figures["per_file_ms_%d" % count] = {name: 1000 * seconds / count for name, (seconds, _) in best.items()}
        figures["peak_kib_%d" % count] = {"pack": best["pack"][1], "apply": best["apply"][1]}
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tiny", action="store_true", help="a small corpus, no large file")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--program", default=DEFAULT_PROGRAM, help="the native program (default: %(default)s)")
    parser.add_argument("--large-mib", type=int, default=None,
                        help="size of the single large file, 0 for none (default: 1024, none with --tiny)")
    parser.add_argument("--work", default=None, help="scratch folder (default: a new one in the system's temp)")
    parser.add_argument("--results", default=os.path.join(ROOT, "build", "benchmark-results.json"))
    parser.add_argument("--baseline", default=None,
                        help="another build of the program, whose pack is timed beside this one's")
    arguments = parser.parse_args()
    program = os.path.abspath(arguments.program)
    if not os.path.exists(program):
        sys.exit("build the native program first: scripts/build.sh")
    baseline = os.path.abspath(arguments.baseline) if arguments.baseline else None
    if shutil.which("pigz") is None:
        sys.exit("pigz is missing: scripts/install-deps.sh installs it")
    large_mib = arguments.large_mib if arguments.large_mib is not None else (0 if arguments.tiny else 1024)

    results = {"program": program, "rounds": arguments.rounds}
    with tempfile.TemporaryDirectory(prefix="quorvane-bench-", dir=arguments.work) as work:
        launcher = Launcher(work)
        results["launcher_floor_kib"] = launcher.floor_kib
        results.update(measure_corpus(os.path.join(work, "corpus"), program, launcher, arguments.rounds,
                                      arguments.tiny, baseline))
        if large_mib > 0:
            results.update(measure_large_file(os.path.join(work, "large"), program, launcher,
                                              large_mib * 1024 * 1024))
        counts = (10, 100) if arguments.tiny else (1000, 10000)
        results.update(measure_per_file_cost(os.path.join(work, "files"), program, launcher, counts))

    print("corpus %.1f MB: package %.1f MB, tar.gz %.1f MB" % (
        results["corpus_bytes"] / 1e6, results["package_bytes"] / 1e6, results["tar_gz_bytes"] / 1e6))
    print("pack   %.3f s vs tar -czf %.3f s: ratio %.2f (below 1 is faster)" % (
        results["pack_seconds"], results["tar_czf_seconds"], results["pack_ratio"]))
    print("pack   %.3f s vs tar -I pigz -cf %.3f s: ratio %.2f" % (
        results["pack_seconds"], results["tar_pigz_seconds"], results["pack_pigz_ratio"]))
    print("pack   with 1 worker %.3f s, with 2 workers %.3f s" % (
        results["pack_1_worker_seconds"], results["pack_2_workers_seconds"]))
    if baseline:
        print("pack   with 1 worker vs the baseline's %.3f s: ratio %.2f" % (
            results["baseline_pack_seconds"], results["pack_1_worker_baseline_ratio"]))
    for name, figures in results["pack_spread_seconds"].items():
        print("       %-13s best %.3f s, worst %.3f s over %d rounds" % (
            name, figures["best"], figures["worst"], len(figures["all"])))
    print("apply  %.3f s vs tar -xzf %.3f s: ratio %.2f (below 1 is faster)" % (
        results["apply_seconds"], results["tar_xzf_seconds"], results["apply_ratio"]))
    print("apply  %.3f s vs tar -xzf && sync %.3f s: ratio %.2f" % (
        results["apply_seconds"], results["tar_xzf_sync_seconds"], results["apply_sync_ratio"]))
    print("peak memory (launcher floor %d KiB)" % results["launcher_floor_kib"])
    print("peak memory (corpus): pack %d KiB, apply %d KiB; tar -czf %d KiB, tar -xzf %d KiB" % (
        results["pack_peak_kib"], results["apply_peak_kib"], results["tar_czf_peak_kib"],
        results["tar_xzf_peak_kib"]))
    if large_mib > 0:
        print("peak memory (%d MiB file): pack %d KiB, apply %d KiB; %.1f ms/MiB pack, %.1f ms/MiB apply" % (
            large_mib, results["large_pack_peak_kib"], results["large_apply_peak_kib"],
            results["large_pack_ms_per_mib"], results["large_apply_ms_per_mib"]))
    for count in counts:
        figures = results["per_file_ms_%d" % count]
        peaks = results["peak_kib_%d" % count]
        print("%5d small files, ms per file: pack %.3f (tar -czf %.3f), apply %.3f (tar -xzf %.3f, "
              "&& sync %.3f); peak pack %d KiB, apply %d KiB" % (
                  count, figures["pack"], figures["tar_czf"], figures["apply"], figures["tar_xzf"],
                  figures["tar_xzf_sync"], peaks["pack"], peaks["apply"]))
    os.makedirs(os.path.dirname(arguments.results), exist_ok=True)
    with open(arguments.results, "w") as out:
        json.dump(results, out, indent=2)
    print("results written to", arguments.results)


if __name__ == "__main__":
    main()
