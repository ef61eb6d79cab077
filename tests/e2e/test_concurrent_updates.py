"""Two runs of patches in one game folder at once, as when a player starts
the patch again because nothing seemed to happen: whatever the two runs
show, the folder they leave must be one that some order of whole updates
explains, and a run that reports completion must have every one of its
files in place. Runs start 0 to 400 ms apart; an update that fails in its
commit is made natively only, through a library that the native program
loads."""
import itertools
import os
import threading
import time
import unittest
import zlib
from pathlib import Path

from harness import CONFIRMATION, UPDATE_COMPLETE, UPDATE_FAILED, ProgramTestCase, windows_path
from patch_tree import mixed_content, pack

ENGINE = "zanthe.exe"
OLD = [f"data/f{i:03d}.dat" for i in range(600)]
START_OFFSETS = (0.0, 0.1, 0.2, 0.4)  # seconds between the two starts
# The n-th move of the failing patch's commit fails: most of its files have
# been replaced by then, so its undo has much to do.
FAILING_MOVE = 450


def content(patch, path):
    return mixed_content(700, zlib.crc32(f"{patch} {path}".encode()))


# Each patch's files by path: "good" replaces 400 files and adds 100;
# "failing" names the same paths with other content and fails in its commit;
# "other" replaces 200 of good's files, 200 others, and adds 50 of its own,
# so that each order of good and other leaves a different folder.
PATCHES = {
    "good": OLD[:400] + [f"new/g{i:03d}.dat" for i in range(100)],
    "failing": OLD[:400] + [f"new/g{i:03d}.dat" for i in range(100)],
    "other": OLD[200:] + [f"new/h{i:03d}.dat" for i in range(50)],
}


def files_under(folder):
    return {path.relative_to(folder).as_posix(): path.read_bytes()
            for path in Path(folder).rglob("*") if path.is_file()}


class ConcurrentUpdatesTest(ProgramTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.fail_library = os.environ.get("QUORVANE_FAIL_RENAME_LIBRARY")
        if not cls.fail_library and not cls.program.under_wine:
            raise RuntimeError("QUORVANE_FAIL_RENAME_LIBRARY must name the library that fails a rename")

    def setUp(self):
        super().setUp()
        self.patches = {}
        for name, paths in PATCHES.items():
            src = self.work / f"publisher-{name}" / "src"
            for path in paths:
                (src / path).parent.mkdir(parents=True, exist_ok=True)
                (src / path).write_bytes(content(name, path))
            self.patches[name] = self.program.make_carrier(self.work, name=name)
            pack(src.parent, self.patches[name])
        self.downloads = self.work / "downloads"
        self.downloads.mkdir()

    def make_game(self, name):
        game = self.work / name
        for path in OLD:
            (game / path).parent.mkdir(parents=True, exist_ok=True)
            (game / path).write_bytes(f"old {path}\n".encode() * 30)
        (game / ENGINE).write_bytes(b"MZ engine")
        return game

    def run_patch(self, name, results):
        env = {}
        if name == "failing":
            env = {"LD_PRELOAD": self.fail_library, "QUORVANE_FAIL_RENAME": str(FAILING_MOVE)}
        results[name] = self.program.run([], cwd=self.downloads, executable=self.patches[name], env=env)

    def run_together(self, first, second, offset):
        """Starts `first`, then `second` `offset` seconds later; returns the
        result of each by name."""
        results = {}
        runs = [threading.Thread(target=self.run_patch, args=(first, results))]
        runs[0].start()
        time.sleep(offset)
        runs.append(threading.Thread(target=self.run_patch, args=(second, results)))
        runs[1].start()
        for run in runs:
            run.join()
        return results

    @staticmethod
    def applied(before, names):
        """The folder `before` after the whole updates `names`, in order."""
        after = dict(before)
        for name in names:
            after.update({path: content(name, path) for path in PATCHES[name]})
        return after

    def test_the_folder_is_always_that_of_whole_updates_in_some_order(self):
        pairs = [("good", "other")]
        if not self.program.under_wine:
            pairs += [("good", "failing"), ("failing", "good")]
        for (first, second), offset in itertools.product(pairs, START_OFFSETS):
            with self.subTest(first=first, second=second, offset=offset):
                game = self.make_game(f"game-{first}-{second}-{offset}")
                self.program.set_install_dir(windows_path(game))
                before = files_under(game)
                results = self.run_together(first, second, offset)
                completed = []
                for name, result in results.items():
                    self.assertIn(result.boxes, ([CONFIRMATION, UPDATE_COMPLETE], [CONFIRMATION, UPDATE_FAILED]),
                                  result)
                    if result.boxes[-1] == UPDATE_COMPLETE:
                        completed.append(name)
                self.assertNotIn("failing", completed)
                after = files_under(game)
                explained = [order for order in itertools.permutations(completed)
                             if self.applied(before, order) == after]
                self.assertTrue(explained, f"{completed} completed, but no order of them leaves the folder: "
                                           f"{self.describe(before, after, completed)}")

    @staticmethod
    def describe(before, after, completed):
        """What differs between `after` and each folder that a whole update
        of one completed patch would have left."""
        lines = []
        for name in completed or [None]:
            expected = ConcurrentUpdatesTest.applied(before, [name] if name else [])
            wrong = sorted(path for path in set(expected) | set(after) if expected.get(path) != after.get(path))
            lines.append(f"against {name or 'no update'}: {len(wrong)} paths differ, e.g. {wrong[:5]}")
        return "; ".join(lines)


if __name__ == "__main__":
    unittest.main()
