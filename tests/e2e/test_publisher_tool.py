"""The native program's options for publishers: which command lines they
take, where their output goes and with which exit code; the listing of a
real patch; and the verifier on good, damaged and hostile patches. Runs the
native program that the environment names (see harness); the Windows
program has no such options. Signed patches are verified in
tests/signing, where osslsigncode signs the Windows program."""
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest
from datetime import datetime, timezone
from pathlib import Path

from harness import EMPTY_PACKAGE, ProgramTestCase, package_trailer
from patch_tree import SAMPLE_TREE, SourceFile, mixed_content, package_path, read_package, write_source_tree

ENGINE = "zanthe.exe"
LARGE = "data/levels/stage1.dat"  # over 1024 bytes, so its stream spans chunks


def listing(directory):
    return sorted(str(path.relative_to(directory)) for path in Path(directory).rglob("*"))


def iso_utc(nanoseconds):
    """A time in nanoseconds since 1970 as the listing writes it: UTC, with
    the seven digits of its 100 ns steps."""
    ticks = nanoseconds // 100
    seconds, fraction = divmod(ticks, 10_000_000)
    return datetime.fromtimestamp(seconds, tz=timezone.utc).strftime("%Y-%m-%dT%H:%M:%S") + f".{fraction:07d}Z"


class OptionsTest(ProgramTestCase):
    def setUp(self):
        super().setUp()
        if self.program.under_wine:
            self.skipTest("only the native program has the publisher's options")

    def test_each_option_exits_with_its_code_and_writes_where_it_should(self):
        usage = re.compile(r"\AUsage: quorvane-update (.|\n)*--help")
        version = f"quorvane-update {os.environ['QUORVANE_VERSION']}\n"
        usage_error = re.compile(r"^quorvane-update: .*--help.*\n$")
        missing = re.compile(r"^quorvane-update: missing\.exe: cannot be opened: .*\n$")
        cases = [
            # (words, exit code, standard output, standard error): a string
            # must match exactly, a pattern must be found
            (["--help"], 0, usage, ""),
            (["-h"], 0, usage, ""),
            (["--version"], 0, version, ""),
            (["--frobnicate"], 2, "", usage_error),
            (["--"], 2, "", usage_error),
            (["--l", "target.exe"], 2, "", usage_error),
            (["--HELP"], 2, "", usage_error),
            (["--help", "extra"], 2, "", usage_error),
            (["-h", "extra"], 2, "", usage_error),
            (["--version", "extra"], 2, "", usage_error),
            (["--list"], 2, "", usage_error),
            (["--verify", "a.exe", "b.exe"], 2, "", usage_error),
            (["--list", "missing.exe"], 1, "", missing),
            (["--verify", "missing.exe"], 1, "", missing),
        ]
        for words, exit_code, stdout, stderr in cases:
            with self.subTest(words=words):
                # A folder that holds the engine: apply mode would find the
                # game here and ask, pack mode would create its target.
                cwd = Path(tempfile.mkdtemp(dir=self.work))
                (cwd / ENGINE).write_bytes(b"")
                result = self.program.run(words, cwd=cwd)
                self.assertEqual(result.exit_code, exit_code, result.stderr)
                self.assertNotIn("[Y/n]", result.stdout, "apply mode ran")
                for shown, expected in ((result.stdout, stdout), (result.stderr, stderr)):
                    if isinstance(expected, str):
                        self.assertEqual(shown, expected)
                    else:
                        self.assertRegex(shown, expected)
                self.assertEqual(listing(cwd), [ENGINE])

    def test_pack_switch_and_other_words_keep_their_modes(self):
        # With no game anywhere apply mode shows only the not-installed box.
        cwd = Path(tempfile.mkdtemp(dir=self.work))
        self.program.set_install_dir(None)
        result = self.program.run(["-l", "target.exe"], cwd=cwd)
        self.assertEqual((result.exit_code, result.boxes), (0, []))
        self.assertEqual((cwd / "target.exe").read_bytes(), EMPTY_PACKAGE)
        for words in (["-x", "target.exe"], ["-l"], ["-help"], ["help"]):
            with self.subTest(words=words):
                result = self.program.run(words, cwd=cwd)
                self.assertEqual([box.text for box in result.boxes], ["『Quorvane』がインストールされていません。"])


class PatchTestCase(ProgramTestCase):
    """A patch of SAMPLE_TREE packed onto a copy of the native program, and
    its records as the tests' own reader finds them."""

    def setUp(self):
        super().setUp()
        if self.program.under_wine:
            self.skipTest("only the native program has the publisher's options")
        write_source_tree(self.work / "publisher", SAMPLE_TREE)
        self.patch = self.program.make_patch(self.work, self.work / "publisher")
        self.carrier = self.patch.read_bytes()
        self.records = read_package(self.carrier)
        self.program_bytes = self.carrier[:self.records[0].start]

    def record_bytes(self, index):
        record = self.records[index]
        return self.carrier[record.start:record.stream_end]

    def index_of(self, relative):
        return [record.path for record in self.records].index(package_path(
            next(file for file in SAMPLE_TREE if file.path == relative)))

    def with_records(self, records, payload_length=None):
        """The program followed by the record bytes `records` and a trailer."""
        payload = b"".join(records)
        return self.program_bytes + payload + package_trailer(
            len(payload) if payload_length is None else payload_length)

    def with_path(self, index, path):
        """The patch with the path of record `index` replaced by `path`."""
        return self.with_paths({index: path})

    def with_paths(self, paths):
        """The patch with the path of each record `index` in `paths`
        replaced by `paths[index]` (lone surrogates allowed)."""
        records = [self.record_bytes(i) for i in range(len(self.records))]
        for index, path in paths.items():
            record = self.records[index]
            units = path.encode("utf-16-le", "surrogatepass")
            records[index] = b"file" + struct.pack("<H", len(units) // 2) + units + \
                self.carrier[record.stream_start - 24:record.stream_end]
        return self.with_records(records)

    def run_on(self, option, carrier):
        patch = self.work / "changed.exe"
        patch.write_bytes(carrier)
        return self.program.run([option, patch], cwd=self.work)


class ListTest(PatchTestCase):
    def test_every_record_with_its_sizes_and_last_write_time(self):
        by_path = {package_path(file): file for file in SAMPLE_TREE}
        expected = [f"{record.path}\t{len(by_path[record.path].content)}\t"
                    f"{record.stream_end - record.stream_start}\t{iso_utc(by_path[record.path].write_ns)}\tfile"
                    for record in self.records]
        total = sum(len(file.content) for file in SAMPLE_TREE)
        compressed = sum(record.stream_end - record.stream_start for record in self.records)
        expected.append(f"{len(SAMPLE_TREE)} files\t{total}\t{compressed}")
        result = self.program.run(["--list", self.patch], cwd=self.work)
        self.assertEqual((result.exit_code, result.stderr), (0, ""))
        self.assertEqual(result.stdout.split("\n"), expected + [""])

    def test_empty_package_lists_only_its_totals(self):
        result = self.run_on("--list", self.program_bytes + EMPTY_PACKAGE)
        self.assertEqual((result.exit_code, result.stdout, result.stderr), (0, "0 files\t0\t0\n", ""))

    def test_damaged_package_lists_what_could_be_read_and_names_the_fault(self):
        damaged = self.index_of(LARGE)
        self.assertGreater(damaged, 0, "the damaged record must have records before it")
        carrier = bytearray(self.carrier)
        record = self.records[damaged]
        carrier[(record.stream_start + record.stream_end) // 2] ^= 0x20
        result = self.run_on("--list", bytes(carrier))
        self.assertEqual(result.exit_code, 1)
        listed = [line.split("\t")[0] for line in result.stdout.splitlines()]
        self.assertEqual(listed, [record.path for record in self.records[:damaged]])
        self.assertRegex(result.stderr, rf"^quorvane-update: .*changed\.exe: the record at offset {record.start} "
                                        rf"\({re.escape(record.path)}\): its stream is damaged.*\n$")


class VerifyTest(PatchTestCase):
    def test_good_patches_verify(self):
        cases = [
            ("the packed patch", self.carrier, len(SAMPLE_TREE), sum(len(f.content) for f in SAMPLE_TREE)),
            ("an empty package", self.program_bytes + EMPTY_PACKAGE, 0, 0),
        ]
        for name, carrier, files, size in cases:
            with self.subTest(name):
                result = self.run_on("--verify", carrier)
                self.assertEqual((result.exit_code, result.stderr), (0, ""))
                self.assertEqual(result.stdout, f"{self.work / 'changed.exe'}: {files} files, {size} bytes: "
                                                "would apply cleanly; not signed\n")

    def test_faults_fail_with_the_reason(self):
        large = self.index_of(LARGE)
        records = [self.record_bytes(i) for i in range(len(self.records))]

        def changed_byte():
            carrier = bytearray(self.carrier)
            record = self.records[large]
            carrier[(record.stream_start + record.stream_end) // 2] ^= 0x20
            return bytes(carrier)

        def cut_stream():
            # The large file's stream loses its last 100 bytes and comes
            # last; the trailer follows it with the right length.
            return self.with_records(records[:large] + records[large + 1:] + [records[large][:-100]])

        def upper_case_tag():
            carrier = bytearray(self.carrier)
            carrier[self.records[1].start:self.records[1].start + 4] = b"FILE"
            return bytes(carrier)

        at = {index: rf"the record at offset {self.records[index].start} \({re.escape(self.records[index].path)}\)"
              for index in range(len(self.records))}
        cases = [
            ("one byte changed inside a stream", changed_byte(), at[large] + ": its stream is damaged"),
            ("a stream cut short", cut_stream(),
             rf"the record at offset {len(self.carrier) - 8 - len(records[large])}"
             rf" \({re.escape(self.records[large].path)}\): its stream is cut short"),
            ("a path that climbs out of the game's folder", self.with_path(1, ".\\..\\evil.txt"),
             r"the record at offset \d+ \(\.\\\.\.\\evil\.txt\): its path would leave the game's folder"),
            ("a rooted path", self.with_path(0, "\\Windows\\evil.dll"), r"\(\\Windows\\evil\.dll\): its path would leave"),
            ("a device name", self.with_path(1, ".\\data\\NUL.txt"), r"names a device that Windows reserves"),
            ("a path too long for any folder", self.with_path(0, ".\\" + "a" * 300), r"its path is too long"),
            ("an unknown tag", upper_case_tag(),
             rf"no record tag at offset {self.records[1].start}: none of \"file\", \"dlta\", \"remv\" and \"feof\""),
            ("a trailer tag inside the package",
             self.with_records([records[0], package_trailer(len(records[0]))] + records[1:]),
             rf"a trailer tag at offset {self.records[1].start} ends the records before the package's trailer"),
            ("bytes after the package", self.carrier + b"\0\0\0\0", r"no package"),
            ("no package", self.program_bytes, r"no package"),
            ("a payload length reaching before the file",
             self.program_bytes + package_trailer(len(self.program_bytes) + 1), r"reaches before the start"),
        ]
        for name, carrier, reason in cases:
            with self.subTest(name):
                result = self.run_on("--verify", carrier)
                self.assertEqual((result.exit_code, result.stdout), (1, ""), result.stderr)
                self.assertRegex(result.stderr, rf"^quorvane-update: .*changed\.exe: .*{reason}")
                self.assertEqual(result.stderr.count("\n"), 1, result.stderr)

    def test_patches_that_no_game_folder_can_take_fail(self):
        """Patches that apply mode would always refuse, whatever the game's
        folder holds, fail to verify for the reason it would refuse them."""
        refused = r"holds a name that Windows does not allow"
        cases = [
            ("a file and a folder of one name", {0: ".\\zz", 1: ".\\zz\\y"},
             r"\(\.\\zz\\y\): its path needs a file and a folder of one name with the record at offset \d+ "
             r"\(\.\\zz\)"),
            ("the folder first, in other letter case", {0: ".\\zz\\y", 2: ".\\ZZ"},
             r"\(\.\\ZZ\): its path needs a file and a folder of one name"),
            ("a question mark", {1: ".\\what?.txt"}, refused),
            ("a star in a folder's name", {1: ".\\*\\x.txt"}, refused),
            ("a control character", {1: ".\\a\x01b.txt"}, refused),
            ("a lone surrogate", {1: ".\\\ud800.txt"}, refused),
            ("a name too long for its side files", {1: ".\\" + "a" * 236}, r"its path is too long"),
            ("port 0", {1: ".\\data\\COM0.txt"}, r"names a device that Windows reserves"),
            ("printer port 0", {1: ".\\lpt0"}, r"names a device that Windows reserves"),
        ]
        for name, paths, reason in cases:
            with self.subTest(name):
                result = self.run_on("--verify", self.with_paths(paths))
                self.assertEqual((result.exit_code, result.stdout), (1, ""), result.stderr)
                self.assertRegex(result.stderr, rf"^quorvane-update: .*changed\.exe: .*{reason}")
        # The longest name whose side files still fit.
        result = self.run_on("--verify", self.with_path(1, ".\\" + "a" * 235))
        self.assertEqual((result.exit_code, result.stderr), (0, ""))

    def test_a_patch_of_two_gib_or_more_fails(self):
        patch = self.work / "changed.exe"
        with open(patch, "wb") as stream:
            stream.write(self.program_bytes)
            stream.seek(2 ** 31 - len(EMPTY_PACKAGE))
            stream.write(EMPTY_PACKAGE)
        result = self.program.run(["--verify", patch], cwd=self.work)
        self.assertEqual((result.exit_code, result.stdout), (1, ""), result.stderr)
        self.assertRegex(result.stderr, r"changed\.exe: the file is 2 GiB or larger: Windows cannot read a package")


# SAMPLE_TREE and enough more files, of every size class, that several
# workers have work at once and a shuffled listing is never the sorted one.
BIGGER_TREE = SAMPLE_TREE + tuple(
    SourceFile(f"{folder}/{name}", mixed_content(size, seed), 1_500_000_000_000_000_000 + seed * 100,
               1_400_000_000_000_000_000 + seed * 100)
    for seed, (folder, name, size) in enumerate(
        [("Maps", f"m{i}.dat", 700 * i) for i in range(25)] +
        [("maps2", "Big.bin", 3_000_000), ("_extra", "ä.txt", 10), ("Zeta", "a.txt", 1), ("alpha", "B.txt", 2)]))


class PackTest(ProgramTestCase):
    """Pack mode of the native program: the same patch on any number of
    workers and through any listing order, the files it left out named with
    exit code 3, and a failed pack that leaves a target of any size as it
    was."""

    def setUp(self):
        super().setUp()
        if self.program.under_wine:
            self.skipTest("the Windows program packs on one thread and reports only to the debugger")

    def pack(self, publisher, name="patch", env=None):
        patch = self.program.make_carrier(self.work, name=name)
        return self.program.run(["-l", patch], cwd=publisher, env=env), patch

    def reset_times(self, src):
        """Gives every file its times again: packing reads the files, which
        may change their last-access times."""
        for file in BIGGER_TREE:
            os.utime(src / file.path, ns=(file.access_ns, file.write_ns))

    def test_any_number_of_workers_writes_the_same_patch(self):
        src = write_source_tree(self.work / "publisher", BIGGER_TREE)
        patches = {}
        for jobs in ("1", "2", "8", ""):
            with self.subTest(jobs=jobs):
                self.reset_times(src)
                result, patch = self.pack(self.work / "publisher", f"patch{jobs}", {"QUORVANE_JOBS": jobs})
                self.assertEqual((result.exit_code, result.boxes), (0, []), result.stderr)
                patches[jobs] = patch.read_bytes()
        self.assertEqual(len(read_package(patches["1"])), len(BIGGER_TREE))
        for jobs in ("2", "8", ""):
            self.assertTrue(patches[jobs] == patches["1"], f"QUORVANE_JOBS={jobs!r} wrote another patch")

    def test_worker_count_that_is_no_whole_number_is_a_usage_error(self):
        write_source_tree(self.work / "publisher", SAMPLE_TREE)
        for jobs in ("0", "-2", "two", "2x", "1025", " 2"):
            with self.subTest(jobs=jobs):
                result, patch = self.pack(self.work / "publisher", env={"QUORVANE_JOBS": jobs})
                self.assertEqual(result.exit_code, 2)
                self.assertRegex(result.stderr, r"^quorvane-update: QUORVANE_JOBS .*--help.*\n$")
                self.assertEqual(patch.read_bytes(), self.program.path.read_bytes())

    def test_files_left_out_are_named_with_the_reason_and_exit_code_3(self):
        src = write_source_tree(self.work / "publisher", SAMPLE_TREE)
        (src / "data" / "broken.dat").symlink_to(self.work / "missing")
        (src / "bad:name.txt").write_bytes(b"x")
        for jobs in ("1", "2"):
            with self.subTest(jobs=jobs):
                result, patch = self.pack(self.work / "publisher", f"patch{jobs}", {"QUORVANE_JOBS": jobs})
                self.assertEqual((result.exit_code, result.boxes), (3, []), result.stderr)
                left_out = [line for line in result.stderr.splitlines() if line.startswith("left out")]
                self.assertEqual(sorted(left_out), [
                    f"left out, cannot be read: {src / 'data' / 'broken.dat'}",
                    f"left out, name not allowed in a package: {src / 'bad:name.txt'}",
                ])
                self.assertEqual(sorted(record.path for record in read_package(patch.read_bytes())),
                                 sorted(package_path(file) for file in SAMPLE_TREE))

    def test_shuffled_listings_pack_to_the_same_bytes(self):
        if os.geteuid() != 0 or shutil.which("disorderfs") is None or not Path("/dev/fuse").exists():
            self.skipTest("needs root, /dev/fuse and disorderfs")
        src = write_source_tree(self.work / "tree", BIGGER_TREE)
        listings, patches = [], []
        for view in ("one", "two"):
            # Each view is its own mount, whose every listing is shuffled.
            publisher = self.work / view
            (publisher / "src").mkdir(parents=True)
            subprocess.run(["disorderfs", "-q", "--shuffle-dirents=yes", src, publisher / "src"], check=True)
            self.addCleanup(subprocess.run, ["fusermount3", "-u", publisher / "src"], check=False)
            listings.append([os.listdir(publisher / "src" / "Maps") for _ in range(3)])
            self.reset_times(src)
            result, patch = self.pack(publisher, f"patch-{view}")
            self.assertEqual((result.exit_code, result.boxes), (0, []), result.stderr)
            patches.append(patch.read_bytes())
        self.assertGreater(len({tuple(order) for view in listings for order in view}), 1,
                           "the listings were not shuffled")
        self.assertTrue(patches[0] == patches[1], "two shuffled listings gave two patches")
        self.reset_times(src)
        result, patch = self.pack(self.work / "tree", "patch-direct")
        self.assertEqual([record.path for record in read_package(patches[0])],
                         [record.path for record in read_package(patch.read_bytes())])

    def test_failed_pack_leaves_a_target_of_any_size_as_it_was(self):
        write_source_tree(self.work / "publisher", SAMPLE_TREE)
        gib = 1 << 30
        for size in (4 * gib, 4 * gib + 12345, 2 * gib - 40, 2 * gib):
            with self.subTest(size=size):
                # Sparse: only the marker at the end takes room on the disk.
                target = self.work / "target.exe"
                marker = b"end of the old target"
                with open(target, "wb") as stream:
                    stream.truncate(size - len(marker))
                    stream.seek(0, os.SEEK_END)
                    stream.write(marker)
                result = self.program.run(["-l", target], cwd=self.work / "publisher")
                self.assertEqual(result.exit_code, 1, result.stderr)
                self.assertEqual([box.text for box in result.boxes], ["出力ファイルに書き込めません。"])
                self.assertIn("the patch would reach 2 GiB, more than a patch can hold", result.stderr)
                self.assertEqual(target.stat().st_size, size)
                with open(target, "rb") as stream:
                    stream.seek(-len(marker), os.SEEK_END)
                    self.assertEqual(stream.read(), marker)
                target.unlink()


if __name__ == "__main__":
    unittest.main()
