"""The front end of the real program: the mode a command line selects, pack
mode's empty package and its output-open error, where apply mode finds the
game, the question, and what apply mode shows for carriers without records.
Runs the program that the environment names (see harness)."""
import shutil
import tempfile
import unittest
from pathlib import Path

import patch_tree
from harness import (CONFIRMATION, EMPTY_PACKAGE, NOT_INSTALLED, OUTPUT_OPEN_ERROR, UPDATE_COMPLETE,
                     UPDATE_FAILED, ProgramTestCase, package_trailer, windows_path)

ENGINE = "zanthe.exe"
CARRIER_BYTES = b"MZ stands in for a carrier"


def path_of_length(length):
    """A relative path of exactly `length` characters, in folders of at most
    200 characters, so that every component fits a Unix file system."""
    parts, remaining = [], length
    while remaining > 200:
        # Leave room for the separator and a last name of two characters or more.
        take = min(200, remaining - 3)
        parts.append("d" * take)
        remaining -= take + 1
    parts.append("f" * remaining)
    return "/".join(parts)


def listing(directory):
    return sorted(str(path.relative_to(directory)) for path in Path(directory).rglob("*"))


class PackModeTest(ProgramTestCase):
    def pack(self, switch, target, cwd):
        return self.program.run([switch, target], cwd=cwd)

    def test_pack_switch_in_either_case_appends_an_empty_package(self):
        # No folder "src" in the current directory: a package without records.
        for switch in ("-l", "-L"):
            for relative in (True, False):
                with self.subTest(switch=switch, relative=relative):
                    publisher = Path(tempfile.mkdtemp(dir=self.work))
                    target = publisher / "target.bin"
                    target.write_bytes(CARRIER_BYTES)
                    result = self.pack(switch, target.name if relative else target, publisher)
                    self.assertShown(result, [])
                    self.assertEqual(target.read_bytes(), CARRIER_BYTES + EMPTY_PACKAGE)

    def test_missing_target_is_created_holding_the_package(self):
        result = self.pack("-l", "new.bin", self.work)
        self.assertShown(result, [])
        self.assertEqual((self.work / "new.bin").read_bytes(), EMPTY_PACKAGE)

    def test_packing_twice_leaves_two_packages(self):
        target = self.work / "target.bin"
        target.write_bytes(CARRIER_BYTES)
        for _ in range(2):
            self.assertShown(self.pack("-l", target, self.work), [])
        self.assertEqual(target.read_bytes(), CARRIER_BYTES + EMPTY_PACKAGE + EMPTY_PACKAGE)

    def test_folder_as_target_shows_output_open_error(self):
        folder = self.work / "folder"
        folder.mkdir()
        self.assertShown(self.pack("-l", folder, self.work), [OUTPUT_OPEN_ERROR])
        self.assertTrue(folder.is_dir())
        self.assertEqual(listing(folder), [])

    def test_target_path_must_fit_260_units_with_its_terminator(self):
        for length, fits in ((259, True), (260, False), (300, False)):
            with self.subTest(length=length):
                publisher = Path(tempfile.mkdtemp(dir=self.work))
                target = path_of_length(length)
                (publisher / target).parent.mkdir(parents=True, exist_ok=True)
                result = self.pack("-l", target, publisher)
                if fits:
                    self.assertShown(result, [])
                    self.assertEqual((publisher / target).read_bytes(), EMPTY_PACKAGE)
                else:
                    self.assertShown(result, [OUTPUT_OPEN_ERROR])
                    self.assertFalse((publisher / target).exists())

    def test_trace_names_every_folder_and_file_as_the_system_does(self):
        # Natively "/" separates the components, under Wine "\\".
        src = patch_tree.write_source_tree(self.work, patch_tree.SAMPLE_TREE)
        result = self.pack("-l", self.work / "target.bin", self.work)
        self.assertShown(result, [])
        expected = [f"<{self.program.path_as_traced(path)}>" if path.is_dir() else self.program.path_as_traced(path)
                    for path in src.rglob("*")]
        self.assertEqual(sorted(result.trace), sorted(expected))

    def test_current_directory_too_long_to_join_with_src(self):
        # The source root, the current directory and "\src", must fit 259
        # units. Wine itself runs no program in a current directory much
        # longer than that, so the longer case stays at the limit.
        for seen_length, fits in ((255, True), (256, False)):
            with self.subTest(current_directory_length=seen_length):
                base = Path(tempfile.mkdtemp(dir=self.work))
                cwd = base / path_of_length(seen_length - len(self.program.path_as_seen(base)) - 1)
                cwd.mkdir(parents=True)
                self.assertEqual(len(self.program.path_as_seen(cwd)), seen_length)
                target = base / "target.bin"
                target.write_bytes(CARRIER_BYTES)
                result = self.pack("-l", target, cwd)
                if fits:
                    self.assertShown(result, [])
                    self.assertEqual(target.read_bytes(), CARRIER_BYTES + EMPTY_PACKAGE)
                else:
                    self.assertShown(result, [OUTPUT_OPEN_ERROR])
                    self.assertEqual(target.read_bytes(), CARRIER_BYTES)


class ApplyModeDispatchTest(ProgramTestCase):
    def test_every_other_command_line_selects_apply_mode(self):
        # Apply mode with no game anywhere shows only the not-installed box;
        # pack mode would show nothing and create its target.
        self.program.set_install_dir(None)
        # Natively a word 1 that begins with "--" is a publisher's option, or
        # a usage error (test_publisher_tool).
        publisher_options = [] if self.program.under_wine else [["--l", "t"], ["--help"]]
        for args in ([], ["-l"], ["-l", "t", "u"], ["-x", "t"], ["/l", "t"], ["--l", "t"], ["--help"],
                     ["-lt"], ["t", "-l"]):
            if args in publisher_options:
                continue
            with self.subTest(args=args):
                cwd = Path(tempfile.mkdtemp(dir=self.work))
                self.assertShown(self.program.run(args, cwd=cwd), [NOT_INSTALLED])
                self.assertEqual(listing(cwd), [])


class InstallLocationTest(ProgramTestCase):
    """Where apply mode finds the game: the registry value InstallDir when
    its folder holds the engine, else the current directory."""

    def make_game(self, parent, name="game", engine=True):
        game = Path(parent, name)
        game.mkdir(parents=True)
        if engine:
            (game / ENGINE).write_bytes(b"")
        return game

    def game_on_drive_c(self, engine=True):
        """A game folder under the prefix's drive C:, named as C:\\...; the
        prefix may be shared, so the folder goes when the test ends."""
        parent = Path(tempfile.mkdtemp(prefix="Games-", dir=self.program.drive_c))
        self.addCleanup(shutil.rmtree, parent)
        game = self.make_game(parent, engine=engine)
        return "C:\\" + str(game.relative_to(self.program.drive_c)).replace("/", "\\")

    def test_registry_folder_then_current_directory(self):
        found, not_found = [CONFIRMATION, UPDATE_COMPLETE], [NOT_INSTALLED]
        cases = [
            # (name, registry value from the work folder, engine in the current directory, boxes)
            ("registry folder holds the engine",
             lambda work: windows_path(self.make_game(work)), False, found),
            ("registry value ends in a backslash",
             lambda work: windows_path(self.make_game(work)) + "\\", False, found),
            ("registry value on drive C: of the prefix",
             lambda work: self.game_on_drive_c(), False, found),
            ("registry folder named in Japanese",
             lambda work: windows_path(self.make_game(work, "クォーヴェイン")), False, found),
            ("registry folder without the engine, current directory with it",
             lambda work: windows_path(self.make_game(work, engine=False)), True, found),
            ("registry folder missing, current directory with the engine",
             lambda work: windows_path(work / "missing"), True, found),
            ("no registry value, current directory with the engine", lambda work: None, True, found),
            ("neither holds the engine",
             lambda work: windows_path(self.make_game(work, engine=False)), False, not_found),
            ("no registry value, no engine in the current directory", lambda work: None, False, not_found),
        ]
        for name, registry_value, engine_here, boxes in cases:
            with self.subTest(name):
                work = Path(tempfile.mkdtemp(dir=self.work))
                carrier = self.program.make_carrier(work, EMPTY_PACKAGE)
                self.program.set_install_dir(registry_value(work))
                here = self.make_game(work, "here", engine=engine_here)
                self.assertShown(self.program.run([], cwd=here, executable=carrier), boxes)


class ApplyModeTest(ProgramTestCase):
    """The question, and what apply mode shows for carriers without records."""

    def setUp(self):
        super().setUp()
        self.game = self.work / "game"
        self.game.mkdir()
        (self.game / ENGINE).write_bytes(b"")
        self.program.set_install_dir(None)

    def apply(self, package, **options):
        """Runs a patch carrying `package` in the game folder."""
        carrier = self.program.make_carrier(tempfile.mkdtemp(dir=self.work), package)
        result = self.program.run([], cwd=self.game, executable=carrier, **options)
        self.assertEqual(listing(self.game), [ENGINE], "a package without records wrote files")
        return result

    def test_answer_to_the_question(self):
        if self.program.under_wine:
            self.skipTest("headless Wine answers every question at once")
        for answer, goes_on in (("n", False), ("N", False), ("no", False), ("y", True), ("", True),
                                (None, True), ("x", True), (" n", True)):
            with self.subTest(answer=answer):
                result = self.apply(EMPTY_PACKAGE, answer=answer)
                self.assertShown(result, [CONFIRMATION, UPDATE_COMPLETE] if goes_on else [CONFIRMATION])

    def test_carriers_without_records(self):
        program_size = self.program.path.stat().st_size
        cases = [
            ("bare program: nothing to apply", b"", [CONFIRMATION]),
            ("trailer tag in other letter case", b"FEOF" + bytes(4), [CONFIRMATION]),
            ("empty package", EMPTY_PACKAGE, [CONFIRMATION, UPDATE_COMPLETE]),
            ("second empty package after a first", EMPTY_PACKAGE * 2, [CONFIRMATION, UPDATE_COMPLETE]),
            ("payload reaching one byte before the carrier", package_trailer(program_size + 1),
             [CONFIRMATION, UPDATE_FAILED]),
            ("payload length at its largest", package_trailer(0xFFFFFFFF), [CONFIRMATION, UPDATE_FAILED]),
        ]
        for name, package, boxes in cases:
            with self.subTest(name):
                self.assertShown(self.apply(package), boxes)

    def test_program_started_by_a_bare_name_reads_its_own_file(self):
        # A program found through the search path has a first word that names
        # no file in the current directory.
        if self.program.under_wine:
            self.skipTest("under Wine the first word of the command line is Wine's")
        self.assertShown(self.apply(EMPTY_PACKAGE, program_word="patch"), [CONFIRMATION, UPDATE_COMPLETE])


if __name__ == "__main__":
    unittest.main()
