#!/usr/bin/env python3
"""Side-by-side benchmark: the native program's pack and apply against
tar -czf and tar -xzf on the same files, plus peak memory and per-file cost.

Not a test: it prints figures and writes them to a results file. Run it from
the repository after scripts/build.sh:

    python3 bench/benchmark.py               # full corpus (~64 MB) and a 1 GiB file
    python3 bench/benchmark.py --tiny        # a few small files, to keep the script working
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
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM = os.path.join(ROOT, "build", "native", "quorvane-update")

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


def run(command, cwd, stdin_text=None):
    """Runs a command; returns (seconds, peak resident KiB of the child)."""
    start = time.perf_counter()
    process = subprocess.Popen(command, cwd=cwd, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    if stdin_text is not None:
        process.stdin.write(stdin_text.encode())
    process.stdin.close()
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit("%s failed with exit code %d" % (command[0], process.returncode))
    return seconds, usage.ru_maxrss


class Workspace:
    """A source tree in <work>/src and the places each tool writes to."""

    def __init__(self, work):
        self.work = work
        self.source = os.path.join(work, "src")
        self.patch = os.path.join(work, "patch")
        self.archive = os.path.join(work, "corpus.tar.gz")

    def pack_ours(self):
        shutil.copyfile(PROGRAM, self.patch)
        os.chmod(self.patch, 0o755)
        return run([PROGRAM, "-l", self.patch], cwd=self.work)

    def pack_tar(self):
        return run(["tar", "-czf", self.archive, "-C", self.source, "."], cwd=self.work)

    def fresh_folder(self, name):
        folder = os.path.join(self.work, name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        return folder

    def apply_ours(self):
        folder = self.fresh_folder("applied-ours")
        open(os.path.join(folder, "zanthe.exe"), "wb").close()
        result = run([self.patch], cwd=folder, stdin_text="y\n")
        os.remove(os.path.join(folder, "zanthe.exe"))
        return result

    def apply_tar(self):
        folder = self.fresh_folder("applied-tar")
        return run(["tar", "-xzf", self.archive, "-C", folder], cwd=self.work)


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


def measure_corpus(work, rounds, tiny):
    space = Workspace(work)
    make_corpus(space.source, tiny)
    packs = best_of(rounds, [("pack ours", space.pack_ours), ("pack tar", space.pack_tar)])
    applies = best_of(rounds, [("apply ours", space.apply_ours), ("apply tar", space.apply_tar)])
    if not trees_equal(space.source, os.path.join(work, "applied-ours")):
        sys.exit("the applied tree differs from the source")
    return {
        "pack_seconds": packs["pack ours"][0], "tar_czf_seconds": packs["pack tar"][0],
        "apply_seconds": applies["apply ours"][0], "tar_xzf_seconds": applies["apply tar"][0],
        "pack_ratio": packs["pack ours"][0] / packs["pack tar"][0],
        "apply_ratio": applies["apply ours"][0] / applies["apply tar"][0],
        "pack_peak_kib": packs["pack ours"][1], "apply_peak_kib": applies["apply ours"][1],
    }


def measure_large_file(work, size):
    """Peak memory for one large file: it must not grow with the file."""
    space = Workspace(work)
    os.makedirs(space.source)
    rng = random.Random(7)
    block = rng.randbytes(1024 * 1024)
    with open(os.path.join(space.source, "large.bin"), "wb") as out:
        for i in range(size // len(block)):
            out.write(block[i % 7:] + block[:i % 7])
    _, pack_peak = space.pack_ours()
    _, apply_peak = space.apply_ours()
    return {"large_file_bytes": size, "large_pack_peak_kib": pack_peak, "large_apply_peak_kib": apply_peak}


def measure_per_file_cost(work, counts):
    """Pack and apply time per file for growing numbers of small files."""
    figures = {}
    for count in counts:
        space = Workspace(os.path.join(work, "files%d" % count))
        os.makedirs(space.source)
        make_small_files(space.source, random.Random(count), count, max(1, count // 50))
        pack = best_of(3, [("pack", space.pack_ours)])["pack"][0]
        apply = best_of(3, [("apply", space.apply_ours)])["apply"][0]
        figures["per_file_ms_%d" % count] = {"pack": 1000 * pack / count, "apply": 1000 * apply / count}
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tiny", action="store_true", help="a small corpus, no large file")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--results", default=os.path.join(ROOT, "build", "benchmark-results.json"))
    arguments = parser.parse_args()
    if not os.path.exists(PROGRAM):
        sys.exit("build the native program first: scripts/build.sh")

    results = {}
    with tempfile.TemporaryDirectory(prefix="quorvane-bench-") as work:
        results.update(measure_corpus(os.path.join(work, "corpus"), arguments.rounds, arguments.tiny))
        large = 1024 * 1024 * (4 if arguments.tiny else 1024)
        results.update(measure_large_file(os.path.join(work, "large"), large))
        counts = (10, 100) if arguments.tiny else (1000, 10000)
        results.update(measure_per_file_cost(os.path.join(work, "files"), counts))

    print("pack   %.3f s vs tar -czf %.3f s: ratio %.2f" % (
        results["pack_seconds"], results["tar_czf_seconds"], results["pack_ratio"]))
    print("apply  %.3f s vs tar -xzf %.3f s: ratio %.2f" % (
        results["apply_seconds"], results["tar_xzf_seconds"], results["apply_ratio"]))
    print("peak memory: pack %d KiB, apply %d KiB (corpus); pack %d KiB, apply %d KiB (%d MiB file)" % (
        results["pack_peak_kib"], results["apply_peak_kib"], results["large_pack_peak_kib"],
        results["large_apply_peak_kib"], results["large_file_bytes"] // (1024 * 1024)))
    for key in sorted(k for k in results if k.startswith("per_file_ms_")):
        print("%s: pack %.3f ms, apply %.3f ms per file" % (key, results[key]["pack"], results[key]["apply"]))
    os.makedirs(os.path.dirname(arguments.results), exist_ok=True)
    with open(arguments.results, "w") as out:
        json.dump(results, out, indent=2)
    print("results written to", arguments.results)


if __name__ == "__main__":
    main()
