"""A power cut at every step of an update, natively. One run of the patch is
recorded call by call (syscall_journal) and replayed onto a copy of the game
folder as it was before (crash_states). After every call, each state that a
cut at that moment can leave must hold every game file whole, old or new (an
added one absent or whole), and all of them new once the completion message
may have been shown; and a new run of the patch on that state must complete
and leave the new files, with their times.

What survives a cut (the model):
- A flush makes durable what it covers: syncfs or sync every file and name
  of the file system, fsync or fdatasync one file's data.
- Names and folders (creation, move, link, removal, new folder) and times
  reach the disk in the order they were made, as a journaling file system
  commits them: a cut keeps the changes up to some moment, so a cut after
  call k that kept the names only up to call j leaves the state of a cut
  after call j. Every call is a cut point.
- File data written since the file's last flush may be lost: the file is
  found as the flush left it (empty if it was created since), with the
  first half of the writes since then, or with all of them. Names that
  reached the disk do not wait for the data, as with delayed allocation.
- The completion message is final once it is written, while names may
  still be lost back to the last flush before it: every cut from that flush
  on must leave the new files.
A program that flushes a file's data before the move that gives it its
final name, never changes a final name's file in place and flushes the
moves before it reports completion passes; one that moves a file whose data
may still be in memory leaves that name empty or short at some cut, and one
that reports completion before its moves are durable can lose them.

Leftovers: a cut leaves *.quorvane-partial and *.quorvane-backup files,
some empty or short, and any other file of the program's own (its name
carries the program's). The new run uses names of its own: it may remove
what the cut left, but never writes to it, and leaves nothing of its own
beyond what a whole run leaves.
"""
import os
import random
import re
import shutil
import sys
import tempfile
import unittest
import zlib
from pathlib import Path

from crash_states import KEPT, SURVIVALS, Tree
from harness import CONFIRMATION, UPDATE_COMPLETE, ProgramTestCase
from patch_tree import SourceFile, differences, mixed_content, write_source_tree
from syscall_journal import record

ENGINE = "zanthe.exe"
SIDE_FILE = re.compile(r"\.quorvane-(partial|backup)(-\d+)?$")
PROGRAM_FILE = re.compile(r"quorvane[^/]*$", re.IGNORECASE)  # the program's own names
REPORTED = 8  # failures shown in full; the rest are counted


def new_file(path, content, seconds):
    return SourceFile(path, content, seconds * 1_000_000_000 + 1_234_500, seconds * 1_000_000_000 + 6_789_100)


# A few replaced files, one written in many writes, and a new file in two
# new folders.
REPLACED = (
    new_file("config.ini", b"[video]\r\nwidth=1920\r\n", 1_500_000_000),
    new_file("data/maps/stage1.map", mixed_content(5000, 1), 1_500_000_100),
    new_file("data/text/story.txt", "物語の続き\r\n".encode("utf-8") * 300, 1_500_000_200),
    new_file("data/movie.bin", random.Random(3).randbytes(256 << 10), 1_500_000_300),
)
ADDED = (new_file("dlc/stage9/extra.dat", mixed_content(3000, 2), 1_500_000_400),)
GAME_FILES = {file.path for file in REPLACED + ADDED} | {ENGINE}


def old_content(path):
    return f"old {path}\n".encode() * (1 + zlib.crc32(path.encode()) % 50)


class PowerLossTest(ProgramTestCase):
    def setUp(self):
        super().setUp()
        if self.program.under_wine:
            self.skipTest("traced natively only")
        write_source_tree(self.work / "publisher", REPLACED + ADDED)
        self.patch = self.program.make_patch(self.work, self.work / "publisher")
        self.before = self.work / "game-as-installed"
        for file in REPLACED:
            (self.before / file.path).parent.mkdir(parents=True, exist_ok=True)
            (self.before / file.path).write_bytes(old_content(file.path))
        (self.before / ENGINE).write_bytes(b"MZ engine")
        self.new_folders = {parent for file in REPLACED + ADDED
                            for parent in self.parents(file.path)} | self.folders_of(self.before)

    @staticmethod
    def parents(path):
        parts = path.split("/")[:-1]
        return {"/".join(parts[:i + 1]) for i in range(len(parts))}

    @staticmethod
    def folders_of(folder):
        return {p.relative_to(folder).as_posix() for p in folder.rglob("*") if p.is_dir()}

    def recorded_run(self):
        """The journal of one whole run of the patch on a copy of the game.
        Sets `left_by_whole_run`: the names beside the game files that a
        whole run leaves, each one of the program's own."""
        game = self.work / "game-traced"
        shutil.copytree(self.before, game)
        # No registry value: the patch updates the folder it runs in.
        environment = dict(os.environ, WINEPREFIX=tempfile.mkdtemp(dir=self.work))
        exit_code, stderr, journal = record([self.patch], game, stdin=b"y\n", env=environment)
        self.assertEqual(exit_code, 0, f"the traced run failed:\n{stderr}")
        self.assertEqual(differences(game, REPLACED + ADDED), [], "the traced run did not update")
        self.left_by_whole_run = {path for path in self.files_of(game) if path not in GAME_FILES}
        for path in self.left_by_whole_run:
            self.assertRegex(path, PROGRAM_FILE, "a whole run left a file that is not the program's")
        # The replay must give what the disk holds after the run: otherwise
        # the journal missed or misread a call, and every cut below is wrong.
        tree = Tree(self.before)
        for operation in journal:
            tree.apply(operation)
        self.assertSameFiles(tree.state(KEPT), game)
        return journal

    @staticmethod
    def files_of(folder):
        return {p.relative_to(folder).as_posix() for p in folder.rglob("*") if p.is_file()}

    def assertSameFiles(self, state, folder):
        on_disk = {path: (folder / path).read_bytes() for path in self.files_of(folder)}
        self.assertEqual(sorted(on_disk), sorted(state.files), "the replay's names differ from the disk's")
        for path, data in on_disk.items():
            self.assertEqual(state.content(path), data, f"the replay's {path} differs from the disk's")
        self.assertEqual(self.folders_of(folder), set(state.folders), "the replay's folders differ")

    def whole_problems(self, state, completed):
        """How `state` breaks the promise of a cut: every game file whole,
        old or new (an added one absent or new), and new once the state is
        one that a cut after the completion message can leave (`completed`);
        beside them only the program's own files. A list of messages."""
        problems = []
        for file in REPLACED + ADDED:
            found = state.content(file.path)
            before = old_content(file.path) if file in REPLACED else None
            if found == file.content or (found == before and not completed):
                continue
            what = ("missing" if found is None else "old" if found == before
                    else f"{len(found)} bytes, neither old nor new")
            when = ", after the completion message" if completed else ""
            problems.append(f"{file.path} is {what}{when}")
        if state.content(ENGINE) != b"MZ engine":
            problems.append(f"{ENGINE} changed")
        problems += [f"{path} is a leftover without the program's name"
                     for path in state.files if path not in GAME_FILES and not PROGRAM_FILE.search(path)]
        return problems

    def first_settled_cut(self, journal):
        """The first cut from which the files must all be new: the one right
        after the last flush of everything before the completion message.
        Names reach the disk in order, so a cut after the message can leave
        the names of any moment from that flush on."""
        shown = [i for i, operation in enumerate(journal)
                 if operation.kind == "output" and UPDATE_COMPLETE.text.encode() in operation.data]
        self.assertTrue(shown, "the traced run showed no completion message")
        flushes = [i + 1 for i, operation in enumerate(journal[:shown[0]]) if operation.kind == "flush_all"]
        return flushes[-1] if flushes else 0

    def rerun_problems(self, state, folder):
        """Runs the patch again on `state` written out at `folder`; how the
        outcome differs from the new tree plus what the cut and a whole run
        leave beside it."""
        state.materialize(folder)
        result = self.program.run([], cwd=folder, executable=self.patch)
        if result.boxes != [CONFIRMATION, UPDATE_COMPLETE] or result.exit_code != 0:
            shutil.rmtree(folder)
            return [f"the new run did not complete: {result}"]
        problems = differences(folder, REPLACED + ADDED)
        if (folder / ENGINE).read_bytes() != b"MZ engine":
            problems.append(f"the new run changed {ENGINE}")
        for path in sorted(self.files_of(folder) - GAME_FILES):
            if path in state.files:
                if SIDE_FILE.search(path) and (folder / path).read_bytes() != state.content(path):
                    problems.append(f"the new run wrote to the leftover {path}")
            elif path not in self.left_by_whole_run:
                problems.append(f"the new run left {path}")
        if self.folders_of(folder) != self.new_folders:
            problems.append(f"folders after the new run: {sorted(self.folders_of(folder))}")
        shutil.rmtree(folder)
        return problems

    @staticmethod
    def what_counts_for_a_new_run(path, content):
        """The part of a file's data that a new run's outcome may depend on:
        all of a game file's, and of a leftover only whether it is empty,
        whole (the old or new data of its game file) or short. States that
        differ only in how far a leftover was written, as while a large file
        is staged, are run again once."""
        if not SIDE_FILE.search(path):
            return content
        game_file = SIDE_FILE.sub("", path)
        whole = [file.content for file in REPLACED + ADDED if file.path == game_file]
        whole.append(old_content(game_file))
        return b"empty" if not content else b"whole" + content if content in whole else b"short"

    def test_a_power_cut_at_any_call_leaves_every_file_whole_and_a_rerun_completes(self):
        journal = self.recorded_run()
        settled = self.first_settled_cut(journal)
        tree = Tree(self.before)
        failures, rerun = [], {}
        for cut in range(len(journal) + 1):
            if cut:
                tree.apply(journal[cut - 1])
            moment = (f"cut after call {cut} of {len(journal)} ({journal[cut - 1].text})" if cut
                      else "cut before any call")
            for survival in SURVIVALS:
                state = tree.state(survival)
                problems = self.whole_problems(state, completed=cut >= settled)
                digest = state.digest(self.what_counts_for_a_new_run)
                if digest not in rerun:
                    rerun[digest] = self.rerun_problems(state, self.work / "game-after-cut")
                problems += rerun[digest]
                failures += [f"{moment}, {survival}: {problem}" for problem in problems]
        if failures:
            shown = "\n".join(failures[:REPORTED])
            more = len(failures) - REPORTED
            self.fail(f"{shown}" + (f"\n... and {more} more" if more > 0 else ""))


# Small programs that replace the file "game.dat" by a move, and whether a
# cut can leave it neither old nor new: the layer must see each kind of
# flush, and without one lose the data.
REPLACEMENTS = (
    ("no flush", "", True),
    ("fsync", "os.fsync(stream.fileno())", False),
    ("fdatasync", "os.fdatasync(stream.fileno())", False),
    ("syncfs", "ctypes.CDLL(None, use_errno=True).syncfs(stream.fileno())", False),
    ("sync", "os.sync()", False),
)
REPLACEMENT = """import ctypes, os
with open("game.dat.new", "wb") as stream:
    stream.write(b"new" * 5000)
    stream.flush()
    {flush}
os.rename("game.dat.new", "game.dat")
"""


class PowerCutLayerTest(unittest.TestCase):
    """The cuts above judge the program only as well as the layer keeps
    what was not flushed volatile and sees the flushes made."""

    def test_a_move_is_whole_at_every_cut_exactly_when_its_data_was_flushed(self):
        for name, flush, breaks in REPLACEMENTS:
            with self.subTest(flush=name), tempfile.TemporaryDirectory(prefix="quorvane-cut-") as work:
                game = Path(work, "game")
                game.mkdir()
                (game / "game.dat").write_bytes(b"old")
                tree = Tree(game)
                program = [sys.executable, "-B", "-c", REPLACEMENT.format(flush=flush)]
                exit_code, stderr, journal = record(program, game)
                self.assertEqual(exit_code, 0, stderr)
                found = set()
                for operation in journal:
                    tree.apply(operation)
                    found |= {tree.state(survival).content("game.dat") for survival in SURVIVALS}
                self.assertIn(b"new" * 5000, found)
                self.assertEqual(bool(found - {b"old", b"new" * 5000}), breaks,
                                 f"sizes of game.dat over the cuts: {sorted(map(len, found))}")


if __name__ == "__main__":
    unittest.main()
