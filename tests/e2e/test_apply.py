"""Apply mode with real patches: a source tree packed by the native program
and applied by the program under test, natively or under Wine, into the
game folder that the registry names. What lands, where it lands, and that
a failed update leaves the game exactly as it was."""
import os
import stat
import unittest
from pathlib import Path

from harness import CONFIRMATION, UPDATE_COMPLETE, UPDATE_FAILED, ProgramTestCase, windows_path
from patch_tree import (SAMPLE_TREE, differences, file_record, mixed_content, package_path, read_package,
                        with_records, write_source_tree)

ENGINE = "zanthe.exe"
# Files of the game before the update: one the patch replaces, one it leaves.
OLD_README = b"Quorvane 1.0.2\r\n"
UNTOUCHED = ("save/slot1.sav", b"a player's save game")
REPLACED = "readme.txt"
LARGE = "data/levels/stage1.dat"  # over 1024 bytes


def snapshot(folder):
    """Every file and folder below `folder`, by "/" path: a file's content
    and last-write time, or None for a folder."""
    return {path.relative_to(folder).as_posix(): (path.read_bytes(), path.stat().st_mtime_ns)
            if path.is_file() else None for path in Path(folder).rglob("*")}


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

    def test_a_failed_update_leaves_the_game_exactly_as_it_was(self):
        # The patch's records replace files of the game and create folders;
        # a bad record after them fails the update, which must undo them.
        (self.game / LARGE).parent.mkdir(parents=True)
        (self.game / LARGE).write_bytes(b"stage 1, version 1.0.2")
        os.utime(self.game / LARGE, ns=(1_300_000_000_000_000_000, 1_200_000_000_000_000_000))
        carrier = self.patch.read_bytes()
        last = file_record(".\\data\\last.dat", mixed_content(6000, 9))
        cases = [
            ("damaged stream", last[:-200] + bytes([last[-200] ^ 0x20]) + last[-199:]),
            ("stream cut short", last[:len(last) // 2]),
            ("path outside the game folder", file_record("..\\escaped.txt", b"out")),
            ("unknown tag", file_record(".\\data\\x.dat", b"x", tag=b"fil\x01")),
        ]
        for name, bad_record in cases:
            with self.subTest(name):
                before = snapshot(self.work)
                self.patch.write_bytes(with_records(carrier, bad_record))
                self.assertShown(self.apply(), [CONFIRMATION, UPDATE_FAILED])
                after = snapshot(self.work)
                del before[self.patch.name], after[self.patch.name]
                self.assertEqual(after, before)

    def test_destination_that_cannot_be_replaced_fails_before_any_file_is_replaced(self):
        last_file = next(f.path for f in SAMPLE_TREE if package_path(f) == read_package(
            self.patch.read_bytes())[-1].path)

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
                # The last record's file: a game still running holds it.
                last = (game / last_file).parent
                last.mkdir(parents=True, exist_ok=True)
                (game / last_file).write_bytes(b"in use")
                before = snapshot(game)
                result = block(game / last_file)
                self.assertShown(result, [CONFIRMATION, UPDATE_FAILED])
                self.assertEqual(snapshot(game), before)


if __name__ == "__main__":
    unittest.main()
