"""Apply mode with real patches: a source tree packed by the native program
and applied by the program under test, natively or under Wine, into the
game folder that the registry names. What lands, where it lands, and what
a failed update leaves behind."""
import os
import stat
import unittest
from pathlib import Path

from harness import CONFIRMATION, UPDATE_COMPLETE, UPDATE_FAILED, ProgramTestCase, windows_path
from patch_tree import SAMPLE_TREE, differences, package_path, read_package, write_source_tree

ENGINE = "zanthe.exe"
# Files of the game before the update: one the patch replaces, one it leaves.
OLD_README = b"Quorvane 1.0.2\r\n"
UNTOUCHED = ("save/slot1.sav", b"a player's save game")
REPLACED = "readme.txt"
LARGE = "data/levels/stage1.dat"  # over 1024 bytes


def files_under(folder):
    """Every file below `folder` with its content, by "/" path."""
    return {path.relative_to(folder).as_posix(): path.read_bytes()
            for path in Path(folder).rglob("*") if path.is_file()}


class ApplyPatchTest(ProgramTestCase):
    def setUp(self):
        super().setUp()
        publisher = self.work / "publisher"
        write_source_tree(publisher, SAMPLE_TREE)
        self.patch = self.program.make_patch(self.work, publisher)
        self.game = self.make_game(self.work / "game")
        self.program.set_install_dir(windows_path(self.game))
        # The patch runs from a folder of its own unless a test says otherwise.
        self.elsewhere = self.work / "downloads"
        self.elsewhere.mkdir()

    @staticmethod
    def make_game(game):
        (game / Path(UNTOUCHED[0]).parent).mkdir(parents=True)
        (game / UNTOUCHED[0]).write_bytes(UNTOUCHED[1])
        (game / ENGINE).write_bytes(b"MZ engine")
        (game / REPLACED).write_bytes(OLD_README)
        return game

    def apply(self, cwd=None, patch=None):
        return self.program.run([], cwd=cwd or self.elsewhere, executable=patch or self.patch)

    def assertNoPartialFiles(self, folder):
        self.assertEqual([path for path in Path(folder).rglob("*") if ".quorvane-partial" in path.name], [])

    def test_every_file_lands_with_its_content_and_times(self):
        result = self.apply()
        self.assertShown(result, [CONFIRMATION, UPDATE_COMPLETE])
        self.assertEqual(differences(self.game, SAMPLE_TREE), [])
        self.assertEqual(sorted(files_under(self.game)),
                         sorted([ENGINE, UNTOUCHED[0]] + [file.path for file in SAMPLE_TREE]))
        self.assertEqual((self.game / UNTOUCHED[0]).read_bytes(), UNTOUCHED[1])
        self.assertEqual(files_under(self.elsewhere), {})

    def test_registry_folder_wins_over_a_current_directory_with_the_engine(self):
        here = self.make_game(self.work / "other-game")
        before = files_under(here)
        self.assertShown(self.apply(cwd=here), [CONFIRMATION, UPDATE_COMPLETE])
        self.assertEqual(differences(self.game, SAMPLE_TREE), [])
        self.assertEqual(files_under(here), before)

    def test_answering_no_changes_nothing(self):
        if self.program.under_wine:
            self.skipTest("headless Wine answers every question at once")
        before = files_under(self.game)
        result = self.program.run([], cwd=self.elsewhere, executable=self.patch, answer="n")
        self.assertShown(result, [CONFIRMATION])
        self.assertEqual(files_under(self.game), before)

    def test_damaged_stream_fails_and_keeps_the_destination(self):
        # The large file's destination holds an old version; one byte in the
        # middle of its stream is changed.
        old_large = b"stage 1, version 1.0.2"
        (self.game / LARGE).parent.mkdir(parents=True)
        (self.game / LARGE).write_bytes(old_large)
        before = files_under(self.game)
        carrier = bytearray(self.patch.read_bytes())
        records = read_package(carrier)
        order = [record.path for record in records]
        damaged = order.index(package_path(next(f for f in SAMPLE_TREE if f.path == LARGE)))
        record = records[damaged]
        carrier[(record.stream_start + record.stream_end) // 2] ^= 0x20
        self.patch.write_bytes(carrier)

        self.assertShown(self.apply(), [CONFIRMATION, UPDATE_FAILED])
        self.assertEqual((self.game / LARGE).read_bytes(), old_large)
        self.assertNoPartialFiles(self.game)
        # The records before the damaged one are applied; the update stops
        # at the damaged one.
        by_path = {package_path(file): file for file in SAMPLE_TREE}
        self.assertEqual(differences(self.game, [by_path[path] for path in order[:damaged]]), [])
        after = files_under(self.game)
        for path in order[damaged:]:
            relative = by_path[path].path
            with self.subTest(not_applied=relative):
                self.assertEqual(after.get(relative), before.get(relative))

    def test_destination_that_cannot_be_replaced_keeps_its_content(self):
        def read_only(path):
            os.chmod(path, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
            self.addCleanup(os.chmod, path, stat.S_IRUSR | stat.S_IWUSR)
            return self.apply()

        def held_open(path):
            with self.program.held_open(path):
                return self.apply()

        cases = [("read-only", read_only, True),
                 ("held open without sharing by another process", held_open, self.program.under_wine)]
        for name, block, applies in cases:
            with self.subTest(name):
                if not applies:
                    self.skipTest("only Windows keeps a file in use from being replaced")
                game = self.make_game(self.work / name)
                self.program.set_install_dir(windows_path(game))
                result = block(game / REPLACED)
                self.assertShown(result, [CONFIRMATION, UPDATE_FAILED])
                self.assertEqual((game / REPLACED).read_bytes(), OLD_README)
                self.assertNoPartialFiles(game)


if __name__ == "__main__":
    unittest.main()
