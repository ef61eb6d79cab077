"""A patch file of 2 GiB or more: Windows' stream functions measure its
positions in 32 bits, so no package can be read from it. Apply mode must
say that the update failed and change nothing, rather than end without a
word, on Windows and natively alike. The file is sparse: the hole costs no
disk."""
import unittest

from harness import CONFIRMATION, UPDATE_FAILED, ProgramTestCase, package_trailer, windows_path
from patch_tree import file_record

ENGINE = "zanthe.exe"
TWO_GIB = 2 ** 31


class OversizedPatchTest(ProgramTestCase):
    def test_a_patch_past_two_gib_fails_and_changes_nothing(self):
        game = self.work / "game"
        game.mkdir()
        (game / ENGINE).write_bytes(b"MZ engine")
        (game / "readme.txt").write_bytes(b"old")
        self.program.set_install_dir(windows_path(game))
        record = file_record(".\\readme.txt", b"new")
        patch = self.program.make_carrier(self.work)
        with open(patch, "r+b") as stream:
            # The package ends the file, its length field counting only its
            # record, so that a reader that could seek there would apply it.
            stream.seek(TWO_GIB)
            stream.write(record + package_trailer(len(record)))

        result = self.program.run([], cwd=self.work, executable=patch)
        self.assertShown(result, [CONFIRMATION, UPDATE_FAILED])
        self.assertEqual(sorted(path.name for path in game.iterdir()), ["readme.txt", ENGINE])
        self.assertEqual((game / "readme.txt").read_bytes(), b"old")


if __name__ == "__main__":
    unittest.main()
