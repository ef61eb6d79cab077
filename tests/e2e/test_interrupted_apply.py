"""An update killed at any moment, natively: while it stages the files and
while it moves them into place. Every game file must be whole afterwards,
with its old content or its new one, what the killed run left must carry
the program's own names, and a second run of the same patch must complete."""
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
import zlib
from pathlib import Path

from harness import ProgramTestCase
from patch_tree import mixed_content, pack

ENGINE = "zanthe.exe"
# Enough files that moving them all into place takes a good part of the run.
REPLACED = [f"data/{folder}/file{i:04d}.dat" for folder in ("maps", "sound", "text") for i in range(200)]
ADDED = [f"new/{folder}/added{i:03d}.dat" for folder in ("a", "b") for i in range(100)]
LARGE = "data/movie.bin"
SIDE_FILE = re.compile(r"\.quorvane-(partial|backup|lock)(-\d+)?$")
EXTRA_TRIALS = 10  # at most, to find the moment the moves begin


def old_content(path):
    return f"old {path}\n".encode() * 20


def new_content(path):
    return mixed_content(1000, zlib.crc32(path.encode()))


class InterruptedApplyTest(ProgramTestCase):
    def setUp(self):
        super().setUp()
        if self.program.under_wine:
            self.skipTest("killed natively only: Wine's server outlives a killed Windows process")
        publisher = self.work / "publisher"
        for path in REPLACED + ADDED:
            (publisher / "src" / path).parent.mkdir(parents=True, exist_ok=True)
            (publisher / "src" / path).write_bytes(new_content(path))
        (publisher / "src" / LARGE).write_bytes(os.urandom(2 << 20))
        self.patch = self.work / "patch"
        shutil.copyfile(self.program.path, self.patch)
        shutil.copymode(self.program.path, self.patch)
        pack(publisher, self.patch)
        self.new = {path: (publisher / "src" / path).read_bytes() for path in REPLACED + ADDED + [LARGE]}
        self.template = self.work / "game-as-installed"
        for path in REPLACED + [LARGE]:
            (self.template / path).parent.mkdir(parents=True, exist_ok=True)
            (self.template / path).write_bytes(old_content(path))
        (self.template / ENGINE).write_bytes(b"MZ engine")
        # No registry value: the patch updates the folder it runs in.
        self.environment = dict(os.environ, WINEPREFIX=tempfile.mkdtemp(dir=self.work))

    def fresh_game(self, name):
        game = self.work / name
        shutil.copytree(self.template, game)
        return game

    def start(self, game):
        process = subprocess.Popen([str(self.patch)], cwd=game, env=self.environment, stdin=subprocess.PIPE,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        process.stdin.write(b"y\n")
        process.stdin.close()
        return process

    def run_killed(self, delay):
        """Kills a run after `delay` seconds, checks that every file is
        whole, and returns the game folder and the phase the kill met:
        "stage", "commit" or None when the run had ended."""
        game = self.fresh_game(f"game-{delay:.6f}")
        process = self.start(game)
        time.sleep(delay)
        ended = process.poll() is not None
        process.send_signal(signal.SIGKILL)
        process.wait()
        self.assertWhole(game)
        if ended:
            return game, None
        moved = any((game / path).is_file() and (game / path).read_bytes() == self.new[path] for path in self.new)
        return game, "commit" if moved else "stage"

    def assertWhole(self, game):
        for path, new in self.new.items():
            with self.subTest(path=path):
                target = game / path
                if path in ADDED:
                    self.assertTrue(not target.exists() or target.read_bytes() == new)
                else:
                    self.assertIn(target.read_bytes(), (old_content(path), new))
        known = set(self.new) | {ENGINE}
        for path in game.rglob("*"):
            relative = path.relative_to(game).as_posix()
            if path.is_file() and relative not in known:
                self.assertRegex(relative, SIDE_FILE, "a leftover without the program's name")

    def assertCompletes(self, game):
        """Runs the patch to its end in `game`; returns how long it took."""
        began = time.monotonic()
        process = self.start(game)
        self.assertEqual(process.wait(timeout=120), 0)
        duration = time.monotonic() - began
        for path, new in self.new.items():
            self.assertEqual((game / path).read_bytes(), new, path)
        return duration

    def kill(self, delay, phases):
        game, phase = self.run_killed(delay)
        if phase is not None and phase not in phases:
            # What the first kill in each phase left must not block a new run.
            self.assertCompletes(game)
        phases.setdefault(phase, []).append(delay)
        shutil.rmtree(game)

    def test_killed_in_either_phase_leaves_every_file_whole(self):
        duration = self.assertCompletes(self.fresh_game("game-whole-run"))
        phases = {}
        for fraction in (0.1, 0.3, 0.5, 0.7, 0.9):
            self.kill(duration * fraction, phases)
        # On a busy machine the flush before the moves can take most of the
        # run: should no kill have met the staging, kill earlier.
        for _ in range(EXTRA_TRIALS):
            if "stage" in phases:
                break
            self.kill(min(min(delays) for delays in phases.values()) / 2, phases)
        # Should no kill have met the moves, look for them between the last
        # kill that met the staging and the first that met an ended run.
        for _ in range(EXTRA_TRIALS):
            if "commit" in phases:
                break
            low = max(phases.get("stage", [0.0]))
            ended = [delay for delay in phases.get(None, []) if delay > low]
            # Runs vary in length: one may outlast the run that was timed.
            self.kill((low + min(ended)) / 2 if ended else low + duration / 4, phases)
        self.assertIn("stage", phases)
        self.assertIn("commit", phases, f"no kill met the moves; kills by phase: {phases}")


if __name__ == "__main__":
    unittest.main()
