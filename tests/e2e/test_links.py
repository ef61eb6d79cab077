"""Links inside the game folder, natively: a folder of the game that is a
symbolic link leading out of it fails the update with nothing changed,
inside or outside; a destination that is itself a link is replaced as a
file, and the file it leads to is never touched, also when the update
fails and is undone. The game folder itself may be reached through a link."""
import os
import unittest
from pathlib import Path

from harness import CONFIRMATION, UPDATE_COMPLETE, UPDATE_FAILED, ProgramTestCase, windows_path
from patch_tree import SAMPLE_TREE, differences, read_package, write_source_tree

ENGINE = "zanthe.exe"


def state(folder):
    """Every name below `folder`, without following links: a file's content
    and times, a link's target, or None for a folder."""
    result = {}
    for root, folders, files in os.walk(folder):
        for name in folders + files:
            path = Path(root, name)
            relative = path.relative_to(folder).as_posix()
            if path.is_symlink():
                result[relative] = ("link", os.readlink(path))
            elif path.is_dir():
                result[relative] = None
            else:
                info = path.stat()
                result[relative] = (path.read_bytes(), info.st_mtime_ns, info.st_ctime_ns)
    return result


class LinksTest(ProgramTestCase):
    def setUp(self):
        super().setUp()
        if self.program.under_wine:
            self.skipTest("symbolic links made natively; Wine shows a Unix link as the file it leads to, "
                          "and Wine 8.0 cannot make a junction (mklink /J fails to open the new folder)")
        publisher = self.work / "publisher"
        write_source_tree(publisher, SAMPLE_TREE)
        self.patch = self.program.make_patch(self.work, publisher)
        self.downloads = self.work / "downloads"
        self.downloads.mkdir()

    def make_game(self, name):
        game = self.work / name / "game"
        game.mkdir(parents=True)
        (game / ENGINE).write_bytes(b"MZ engine")
        self.program.set_install_dir(windows_path(game))
        return game

    def make_outside(self, name):
        """A folder beside the game that a link leads to, holding files of
        the names the patch writes."""
        outside = self.work / name / "outside"
        (outside / "levels").mkdir(parents=True)
        (outside / "levels" / "stage1.dat").write_bytes(b"not the game's")
        (outside / "empty.bin").write_bytes(b"not empty")
        (outside / "readme.txt").write_bytes(b"a file of someone else")
        return outside

    def apply(self, env=None):
        return self.program.run([], cwd=self.downloads, executable=self.patch, env=env)

    def test_a_folder_that_is_a_link_fails_the_update_with_nothing_changed(self):
        cases = [
            # (name, the link's path in the game, where it leads below outside)
            ("a first-level folder", "data", ""),
            ("a deeper folder", "data/levels", "levels"),
        ]
        for name, link, target in cases:
            with self.subTest(name):
                game = self.make_game(name)
                outside = self.make_outside(name)
                (game / link).parent.mkdir(parents=True, exist_ok=True)
                (game / link).symlink_to(outside / target, target_is_directory=True)
                before_game, before_outside = state(game), state(outside)
                self.assertShown(self.apply(), [CONFIRMATION, UPDATE_FAILED])
                self.assertEqual(state(outside), before_outside)
                self.assertEqual(state(game), before_game)

    def test_a_destination_that_is_a_link_is_replaced_and_its_target_never_touched(self):
        # The last move of the commit fails, after the link was replaced: its
        # undo moves the link back.
        records = [record.path for record in read_package(self.patch.read_bytes())]
        self.assertLess(records.index(".\\readme.txt"), len(records) - 1)
        failing_commit = {"LD_PRELOAD": os.environ["QUORVANE_FAIL_RENAME_LIBRARY"],
                          "QUORVANE_FAIL_RENAME": str(len(records))}
        cases = [("the update completes", None, UPDATE_COMPLETE),
                 ("the update fails in its commit and is undone", failing_commit, UPDATE_FAILED)]
        for name, env, outcome in cases:
            with self.subTest(name):
                game = self.make_game(name)
                outside = self.make_outside(name)
                (game / "readme.txt").symlink_to(outside / "readme.txt")
                # The game folder itself may be reached through a link.
                through_link = game.parent / "game-link"
                through_link.symlink_to(game, target_is_directory=True)
                self.program.set_install_dir(windows_path(through_link))
                before_game, before_outside = state(game), state(outside)
                self.assertShown(self.apply(env), [CONFIRMATION, outcome])
                self.assertEqual(state(outside), before_outside)
                if outcome == UPDATE_COMPLETE:
                    self.assertFalse((game / "readme.txt").is_symlink())
                    self.assertEqual(differences(game, SAMPLE_TREE), [])
                else:
                    self.assertEqual(state(game), before_game)


if __name__ == "__main__":
    unittest.main()
