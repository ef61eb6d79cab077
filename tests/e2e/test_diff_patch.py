"""Update patches made by --diff: the native program compares two releases'
folders and appends the package to a copy of the program under test; that
program, natively or under Wine, applies it to a game folder holding the
old release. The patch must turn the old release into the new one exactly,
and fail with nothing changed on a folder that does not hold the old
release."""
import os
import re
import shutil
import struct
import subprocess
import tempfile
import zlib
from pathlib import Path

from harness import CONFIRMATION, UPDATE_COMPLETE, UPDATE_FAILED, ProgramTestCase, windows_path
from patch_tree import SourceFile, mixed_content, native_program, package_path, write_source_tree

DIFF_TIMEOUT = 120  # seconds for one --diff run
ENGINE = "zanthe.exe"


def _time(seconds):
    return seconds * 1_000_000_000 + 1234500


def _edited(content, seed):
    """`content` as a new release changes it: some bytes changed in place,
    a run inserted and one dropped, so that a delta is far smaller."""
    edited = bytearray(content)
    for at in range(seed * 37 % 500, len(edited), 4099):
        edited[at] ^= 0x5A
    middle = len(edited) // 2
    return bytes(edited[:middle]) + b"inserted by the new release " * 8 + bytes(edited[middle + 700:])


STAGE1 = mixed_content(60_000, 1)
OLD_RELEASE = (
    SourceFile(ENGINE, b"MZ engine", _time(1_400_000_000), _time(1_400_000_000)),
    SourceFile("readme.txt", b"Quorvane 1.0.2\r\n" * 40, _time(1_400_000_001), _time(1_400_000_001)),
    SourceFile("data/levels/stage1.dat", STAGE1, _time(1_400_000_002), _time(1_400_000_002)),
    SourceFile("data/levels/stage2.dat", mixed_content(9_000, 2), _time(1_400_000_003), _time(1_400_000_003)),
    SourceFile("data/old/obsolete.bin", mixed_content(3_000, 3), _time(1_400_000_004), _time(1_400_000_004)),
    SourceFile("data/old/deeper/gone.txt", b"dropped", _time(1_400_000_005), _time(1_400_000_005)),
    SourceFile("music/theme.ogg", mixed_content(4_000, 4)[::-1], _time(1_400_000_006), _time(1_400_000_006)),
    SourceFile("セーブ/設定.ini", "[表示]\r\n幅=1280\r\n".encode("utf-8") * 20, _time(1_400_000_007),
               _time(1_400_000_007)),
)
NEW_RELEASE = (
    OLD_RELEASE[0],
    SourceFile("readme.txt", b"Quorvane 1.0.3\r\n" * 40, _time(1_500_000_001), _time(1_500_000_001)),
    SourceFile("data/levels/stage1.dat", _edited(STAGE1, 1), _time(1_500_000_002), _time(1_500_000_002)),
    OLD_RELEASE[3],
    SourceFile("data/levels/stage3.dat", mixed_content(7_000, 5), _time(1_500_000_008), _time(1_500_000_008)),
    # Unrelated content: a delta is no smaller, so the file travels whole.
    SourceFile("music/theme.ogg", bytes(range(256)) * 3 + b"new theme", _time(1_500_000_006), _time(1_500_000_006)),
    OLD_RELEASE[7],
    SourceFile("maps/new/island.map", b"new map" * 100, _time(1_500_000_009), _time(1_500_000_009)),
)


def tree_state(folder):
    """Every file and folder below `folder`, by "/" path: a file's content
    and last-write time, a folder as None, a link as its target."""
    state = {}
    for path in Path(folder).rglob("*"):
        key = path.relative_to(folder).as_posix()
        if path.is_symlink():
            state[key] = ("link", os.readlink(path))
        elif path.is_file():
            state[key] = (path.read_bytes(), path.stat().st_mtime_ns)
        else:
            state[key] = None
    return state


def release_state(files):
    """tree_state of a folder holding exactly `files`."""
    state = {}
    for file in files:
        parts = file.path.split("/")
        for depth in range(1, len(parts)):
            state["/".join(parts[:depth])] = None
        state[file.path] = (file.content, file.write_ns)
    return state


def read_records(carrier):
    """(tag, package path, size in bytes) of each record of the package at
    the end of `carrier`: a "file" record ends with a zlib stream after its
    times, a "dlta" record with three streams whose lengths it gives after
    the old and new files' sizes and CRC-32s, a "remv" record with the old
    file's size and CRC-32."""
    end = len(carrier) - 8
    tag, payload_length = struct.unpack_from("<4sI", carrier, end)
    if tag != b"feof":
        raise ValueError("no package trailer")
    at, records = end - payload_length, []
    while at < end:
        tag, units = struct.unpack_from("<4sH", carrier, at)
        path = carrier[at + 6:at + 6 + 2 * units].decode("utf-16-le")
        fields = at + 6 + 2 * units
        if tag == b"file":
            inflater = zlib.decompressobj()
            inflater.decompress(carrier[fields + 24:end])
            if not inflater.eof:
                raise ValueError(f"the stream of {path} does not end")
            after = end - len(inflater.unused_data)
        elif tag == b"dlta":
            streams = fields + 24 + 2 * 12
            after = streams + 12 + sum(struct.unpack_from("<3I", carrier, streams))
        elif tag == b"remv":
            after = fields + 12
        else:
            raise ValueError(f"no record tag at offset {at}")
        records.append((tag, path, after - at))
        at = after
    return records


def settle_access_times(folder):
    """Reads every file below `folder` once. Records carry last-access
    times, which the first read of a file moves; after this, runs that read
    the files again see the same times."""
    for path in Path(folder).rglob("*"):
        if path.is_file():
            path.read_bytes()


def make_release(folder, files):
    """Writes `files` into `folder` with their times, as write_source_tree
    writes "src", and returns the folder."""
    src = write_source_tree(folder, files)
    released = Path(folder, "release")
    src.rename(released)
    return released


def diff(old, new, target, env=None):
    """Runs the native program's --diff; gives the finished process."""
    return subprocess.run([native_program(), "--diff", old, new, target], capture_output=True,
                          timeout=DIFF_TIMEOUT, env={**os.environ, **(env or {})})


class DiffPatchTest(ProgramTestCase):
    def setUp(self):
        super().setUp()
        self.old = make_release(self.work / "old", OLD_RELEASE)
        self.new = make_release(self.work / "new", NEW_RELEASE)
        self.game = self.work / "game"
        shutil.copytree(self.old, self.game, symlinks=True)
        self.program.set_install_dir(windows_path(self.game))
        self.elsewhere = self.work / "downloads"
        self.elsewhere.mkdir()

    def make_diff_patch(self):
        patch = self.program.make_carrier(self.work)
        result = diff(self.old, self.new, patch)
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        return patch

    def apply(self, patch):
        return self.program.run([], cwd=self.elsewhere, executable=patch)

    def test_patch_turns_the_old_release_into_the_new_one(self):
        patch = self.make_diff_patch()
        self.assertShown(self.apply(patch), [CONFIRMATION, UPDATE_COMPLETE])
        # Every file of the new release with its content and last-write time,
        # nothing of the old release's that the new one lacks, folders too.
        self.assertEqual(tree_state(self.game), release_state(NEW_RELEASE))

    def test_update_fails_with_nothing_changed_on_a_folder_that_is_not_the_old_release(self):
        def changed_base(game):
            (game / "data/levels/stage1.dat").write_bytes(_edited(STAGE1, 2))

        def same_size_other_bytes(game):
            content = bytearray(STAGE1)
            content[30_000] ^= 1
            (game / "data/levels/stage1.dat").write_bytes(bytes(content))

        def missing_base(game):
            (game / "data/levels/stage1.dat").unlink()

        def base_behind_a_link(game):
            # The same bytes, but reached through a link to outside the game.
            outside = self.work / "outside.dat"
            outside.write_bytes(STAGE1)
            (game / "data/levels/stage1.dat").unlink()
            (game / "data/levels/stage1.dat").symlink_to(outside)

        def removed_folder_behind_a_link(game):
            # The files to remove, the same bytes, in a folder outside the
            # game that a link stands for.
            outside = Path(tempfile.mkdtemp(dir=self.work)) / "old"
            shutil.move(game / "data/old", outside)
            (game / "data/old").symlink_to(outside)

        def removed_file_changed(game):
            (game / "data/old/obsolete.bin").write_bytes(b"a player's own file")

        cases = [
            ("a changed base file", changed_base),
            ("a base file of the same size with one bit changed", same_size_other_bytes),
            ("a missing base file", missing_base),
            ("a file to remove that differs from the old release's", removed_file_changed),
        ]
        # Wine shows a Unix link as the file or folder it leads to, so only
        # the native program meets these as links.
        if not self.program.under_wine:
            cases += [
                ("a base file that is a link", base_behind_a_link),
                ("files to remove behind a link to a folder outside the game", removed_folder_behind_a_link),
            ]
        patch = self.make_diff_patch()
        for name, spoil in cases:
            with self.subTest(name):
                game = Path(tempfile.mkdtemp(dir=self.work)) / "game"
                shutil.copytree(self.old, game, symlinks=True)
                spoil(game)
                # Everything below the test's folder: the game, and what
                # links in it lead to.
                before = tree_state(game.parent.parent)
                self.program.set_install_dir(windows_path(game))
                self.assertShown(self.apply(patch), [CONFIRMATION, UPDATE_FAILED])
                self.assertEqual(tree_state(game.parent.parent), before)


class DiffToolTest(ProgramTestCase):
    """What --diff writes, its command line and its failures: the native
    program's alone."""

    def setUp(self):
        super().setUp()
        if self.program.under_wine:
            self.skipTest("only the native program has the publisher's options")
        self.old = make_release(self.work / "old", OLD_RELEASE)
        self.new = make_release(self.work / "new", NEW_RELEASE)
        self.target = self.program.make_carrier(self.work)
        self.before = self.target.read_bytes()

    def make_diff_patch(self):
        result = diff(self.old, self.new, self.target)
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        return self.target

    def test_patch_holds_only_what_changed_in_the_plans_order(self):
        patch = self.make_diff_patch()
        records = read_records(patch.read_bytes())
        stage1 = package_path(NEW_RELEASE[2])
        # New files whole, then changed ones, then removals, each in the
        # walk's order, which is NTFS's: names by their upper-case letters.
        # The identical engine, stage2 and settings are not in the patch.
        self.assertEqual([path for _, path, _ in records], [
            ".\\data\\levels\\stage3.dat", ".\\maps\\new\\island.map",
            stage1, ".\\music\\theme.ogg", ".\\readme.txt",
            ".\\data\\old\\deeper\\gone.txt", ".\\data\\old\\obsolete.bin"])
        kinds = {path: tag for tag, path, _ in records}
        self.assertEqual([kinds[path] for path in (".\\data\\levels\\stage3.dat", ".\\maps\\new\\island.map")],
                         [b"file", b"file"])
        # The edited stage as a delta far smaller than the file; the theme,
        # whose new content has nothing of the old, whole.
        self.assertEqual(kinds[stage1], b"dlta")
        self.assertLess(dict((path, size) for _, path, size in records)[stage1], len(STAGE1) // 10)
        self.assertEqual(kinds[".\\music\\theme.ogg"], b"file")
        self.assertEqual(kinds[".\\data\\old\\obsolete.bin"], b"remv")

    def test_patch_checks_clean_against_the_old_release_only(self):
        patch = self.make_diff_patch()
        for game, exit_code in ((self.old, 0), (self.new, 1)):
            with self.subTest(game=game.parent.name):
                result = self.program.run(["--check", patch, game], cwd=self.work)
                self.assertEqual(result.exit_code, exit_code, result.stdout + result.stderr)

    def test_patch_bytes_do_not_depend_on_the_number_of_workers(self):
        settle_access_times(self.new)
        patches = []
        for workers in ("1", "2", "8"):
            patch = self.program.make_carrier(self.work, name="patch-" + workers)
            result = diff(self.old, self.new, patch, env={"QUORVANE_JOBS": workers})
            self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
            patches.append(patch.read_bytes())
        self.assertEqual(patches[1], patches[0])
        self.assertEqual(patches[2], patches[0])

    def test_same_patch_however_the_folders_are_written(self):
        settle_access_times(self.new)
        patches = []
        for old, new in ((self.old, self.new), (f"{self.old}/", f"{self.new}/"),
                         ("old/release", "new/release"), ("./old/release/", "./new/release/")):
            with self.subTest(old=str(old), new=str(new)):
                patch = self.program.make_carrier(self.work, name="patch-%d" % len(patches))
                result = subprocess.run([native_program(), "--diff", old, new, patch], capture_output=True,
                                        timeout=DIFF_TIMEOUT, cwd=self.work)
                self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
                patches.append(patch.read_bytes())
                self.assertEqual(patches[-1], patches[0])

    def test_wrong_folders_and_names_fail_with_the_target_unchanged(self):
        file_for_folder = make_release(self.work / "kind", [
            *OLD_RELEASE[:4], SourceFile("data/old", b"now a file", _time(1), _time(1))])
        cases = [
            # (OLD, NEW, exit code, pattern of standard error)
            (self.work / "missing", self.new, 1, r"missing: not a folder"),
            (self.old, self.work / "missing", 1, r"missing: not a folder"),
            (self.old, self.target, 1, r"not a folder"),
            (self.old, file_for_folder, 1, r'"\.\\data\\old" in OLD and "\.\\data\\old" in NEW are a file in one '
                                           r"and a folder in the other"),
        ]
        for old, new, exit_code, error in cases:
            with self.subTest(old=old.name, new=new.name):
                result = diff(old, new, self.target)
                stderr = result.stderr.decode(errors="replace")
                self.assertEqual(result.returncode, exit_code, stderr)
                self.assertRegex(stderr, r"^quorvane-update: .*" + error)
                self.assertEqual(self.target.read_bytes(), self.before)

    def test_usage_errors(self):
        for words in (["--diff"], ["--diff", "a", "b"], ["--diff", "a", "b", "c", "d"]):
            with self.subTest(words=words):
                result = self.program.run(words, cwd=self.work)
                self.assertEqual(result.exit_code, 2, result.stderr)
                self.assertRegex(result.stderr, r"^quorvane-update: --diff takes OLD NEW PATCH \(see .*--help\)\n$")

    def test_files_that_cannot_be_carried_are_left_out_and_named(self):
        def dangling_link(new):
            (new / "data/levels/unreadable.dat").symlink_to(self.work / "nowhere")

        def device_name(new):
            (new / "data/levels/nul.txt").write_bytes(b"Windows would open the device")

        cases = [
            ("a new file that cannot be read", dangling_link,
             r"left out, cannot be read: .*/spoiled/release/data/levels/unreadable\.dat\n"),
            ("a name that Windows reserves", device_name,
             r"left out, .*/spoiled/release/data/levels/nul\.txt: name not allowed in a package\n"),
        ]
        for name, spoil, named in cases:
            with self.subTest(name):
                new = self.work / "spoiled"
                shutil.rmtree(new, ignore_errors=True)
                shutil.copytree(self.new, new / "release", symlinks=True)
                spoil(new / "release")
                target = self.program.make_carrier(self.work, name="spoiled-patch")
                result = diff(self.old, new / "release", target)
                stderr = result.stderr.decode(errors="replace")
                self.assertEqual(result.returncode, 3, stderr)
                self.assertRegex(stderr, named)
                # The rest is a whole package, the same as without the file.
                self.assertEqual(target.read_bytes()[:len(self.before)], self.before)
                verify = self.program.run(["--verify", target], cwd=self.work)
                self.assertEqual(verify.exit_code, 0, verify.stderr)
                carried = [path for _, path, _ in read_records(target.read_bytes())]
                self.assertFalse([path for path in carried if "unreadable" in path or "nul.txt" in path], carried)

    def test_failed_write_cuts_the_target_back(self):
        disk = self.work / "disk"
        disk.mkdir()
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", disk], capture_output=True).returncode:
            self.skipTest("cannot mount a small tmpfs here")
        self.addCleanup(subprocess.run, ["umount", disk], capture_output=True)
        target = disk / "patch.exe"
        # The disk keeps one page free, less than the package needs.
        before = os.urandom(1024 * 1024 - 4096)
        target.write_bytes(before)
        result = diff(self.old, self.new, target)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertRegex(result.stderr.decode(errors="replace"), r"could not be written whole")
        self.assertEqual(target.read_bytes(), before)
