"""Brief holds on the update's files, as virus scanners and indexers take on
Windows, under Wine: a hold with any sharing mode on a staged file or on a
destination before its move delays the update but does not fail it; a hold
that outlasts the retries fails it, and the undo, held for a moment on a
file already moved, still leaves the game exactly as it was."""
import os
import unittest
from pathlib import Path

from harness import CONFIRMATION, UPDATE_COMPLETE, UPDATE_FAILED, ProgramTestCase, windows_path
from patch_tree import SAMPLE_TREE, differences, read_package, write_source_tree

ENGINE = "zanthe.exe"
SHARES = ("none", "read", "read-delete")
HOLD_MS = 400  # a scan of a small file
UNDO_HOLD_MS = 1500  # a scan of a file that the undo moves back
OUTLASTING_MS = 6000  # longer than every retry of a move together


def snapshot(folder):
    return {path.relative_to(folder).as_posix(): (path.read_bytes(), path.stat().st_mtime_ns)
            if path.is_file() else None for path in Path(folder).rglob("*")}


def destination(game, record):
    return game / record.path.removeprefix(".\\").replace("\\", "/")


def side_file(path, suffix):
    return path.with_name(path.name + suffix)


class ScannerHoldsTest(ProgramTestCase):
    def setUp(self):
        super().setUp()
        if not self.program.under_wine:
            self.skipTest("sharing modes are Windows'; a POSIX program meets no such hold")
        publisher = self.work / "publisher"
        write_source_tree(publisher, SAMPLE_TREE)
        self.patch = self.program.make_patch(self.work, publisher)
        self.records = read_package(self.patch.read_bytes())
        self.downloads = self.work / "downloads"
        self.downloads.mkdir()

    def make_game(self, name):
        """A game in which every file of the patch exists with old content."""
        game = self.work / name
        for record in self.records:
            destination(game, record).parent.mkdir(parents=True, exist_ok=True)
            destination(game, record).write_bytes(b"old " + record.path.encode())
            # Whole 100 ns steps, which the undo's times keep exactly.
            os.utime(destination(game, record), ns=(1_300_000_000_000_000_000, 1_200_000_000_000_000_000))
        (game / ENGINE).write_bytes(b"MZ engine")
        self.program.set_install_dir(windows_path(game))
        return game

    def apply(self):
        return self.program.run([], cwd=self.downloads, executable=self.patch)

    def test_a_brief_hold_delays_the_update_but_does_not_fail_it(self):
        first, replaced = self.records[0], self.records[1]
        # (what is held, the file held, the file whose appearance starts the hold)
        moments = [
            ("a staged file", lambda game: side_file(destination(game, first), ".quorvane-partial"),
             lambda game: side_file(destination(game, first), ".quorvane-partial")),
            ("a destination before its move", lambda game: destination(game, replaced),
             lambda game: side_file(destination(game, first), ".quorvane-partial")),
        ]
        for moment, held_path, trigger in moments:
            for share in SHARES:
                with self.subTest(moment, share=share):
                    game = self.make_game(f"game-{moment}-{share}")
                    with self.program.held_briefly(held_path(game), share, trigger(game), 0, HOLD_MS) as held:
                        result = self.apply()
                    self.assertTrue(held(), "the hold was never taken")
                    self.assertShown(result, [CONFIRMATION, UPDATE_COMPLETE])
                    self.assertEqual(differences(game, SAMPLE_TREE), [])
                    self.assertEqual(sorted(path for path in snapshot(game) if (game / path).is_file()),
                                     sorted([ENGINE] + [file.path for file in SAMPLE_TREE]))

    def test_a_hold_that_outlasts_the_retries_fails_the_update_with_the_game_as_it_was(self):
        # The last file is held from the moment it is staged until well after
        # its move has given up; an earlier file, already moved, is held
        # just when the undo moves its old content back.
        game = self.make_game("game")
        before = snapshot(game)
        last, earlier = self.records[-1], self.records[0]
        outlasting = self.program.held_briefly(destination(game, last), "none",
                                               side_file(destination(game, last), ".quorvane-partial"),
                                               0, OUTLASTING_MS)
        during_undo = self.program.held_briefly(destination(game, earlier), "read",
                                                side_file(destination(game, earlier), ".quorvane-backup"),
                                                2500, UNDO_HOLD_MS)
        with outlasting as outlasting_held, during_undo as undo_held:
            result = self.apply()
        self.assertTrue(outlasting_held() and undo_held(), "a hold was never taken")
        self.assertShown(result, [CONFIRMATION, UPDATE_FAILED])
        self.assertEqual(snapshot(game), before)


if __name__ == "__main__":
    unittest.main()
