"""The 32-bit release run for real (under Wine in the guest, whose kernel runs
32-bit programs): the package it packs from a tree is byte for byte the one
its 64-bit twin packs, record for record the one the native program packs
(all but the creation time), and it applies its own package.

The environment names the programs, as for tests/e2e (whose harness this
module uses, so tests/e2e must be on the module path):
  QUORVANE_PROGRAM        the 32-bit release
  QUORVANE_TWIN_PROGRAM   the 64-bit Windows program
  QUORVANE_EMULATOR       wine
  QUORVANE_WINEPREFIX     the Wine prefix, shared by both
  QUORVANE_NATIVE_PROGRAM the native program
"""
import os
import shutil
import struct
import unittest
from pathlib import Path

from harness import CONFIRMATION, UPDATE_COMPLETE, Program, ProgramTestCase, windows_path
from patch_tree import SourceFile, differences, mixed_content, package_path, pack, read_package, write_source_tree
from wine_backend import WineBackend

# An empty file, one of exactly one 1024-byte chunk, a Japanese name and
# nested folders; every time differs from every other.
TREE = (
    SourceFile("readme.txt", "Quorvane 1.0.4\r\n".encode("utf-8"), 1_500_000_000_123_456_700, 1_400_000_000_765_432_100),
    SourceFile("data/empty.bin", b"", 1_500_000_100_000_000_500, 1_400_000_100_000_000_300),
    SourceFile("data/levels/chunk.dat", mixed_content(1024, 7), 1_500_000_200_999_999_900, 1_400_000_200_000_000_100),
    SourceFile("セーブ/設定.ini", "[表示]\r\n幅=1280\r\n".encode("utf-8"), 1_500_000_300_424_242_400, 1_400_000_300_101_010_100),
)
ENGINE = "zanthe.exe"
TIMES = struct.Struct("<3Q")  # creation, last access, last write: the 24 bytes before a record's stream


def records_by_path(carrier):
    """{PackagePath: (last access, last write, zlib stream)} of the package at
    the end of the bytes `carrier`; fails on a path packed twice."""
    found = {}
    for record in read_package(carrier):
        _, access, write = TIMES.unpack_from(carrier, record.stream_start - TIMES.size)
        if record.path in found:
            raise ValueError(f"{record.path} is packed twice")
        found[record.path] = (access, write, carrier[record.stream_start:record.stream_end])
    return found


class ReleaseProgramTest(ProgramTestCase):
    def setUp(self):
        super().setUp()
        self.publisher = self.work / "publisher"

    def packed_by(self, program):
        """The bytes of a copy of the release onto which `program` (a Program)
        packed the tree; fails unless the run was silent and ended with 0."""
        carrier = self.work / f"packed-by-{program.path.stem}-{os.urandom(4).hex()}.exe"
        shutil.copyfile(self.program.path, carrier)
        # Written again for each packer: reading a file may move its
        # last-access time, which the next packer would pack.
        write_source_tree(self.publisher, TREE)
        result = program.run(["-l", windows_path(carrier)], cwd=self.publisher)
        self.assertShown(result, [])
        return carrier.read_bytes()

    def test_packs_the_bytes_that_its_64_bit_twin_packs(self):
        twin = Program(WineBackend(os.environ["QUORVANE_TWIN_PROGRAM"], self.program._backend.emulator,
                                   self.program._backend.prefix), under_wine=True)
        release, by_twin = self.packed_by(self.program), self.packed_by(twin)
        self.assertEqual(sorted(records_by_path(release)), sorted(package_path(file) for file in TREE))
        if release != by_twin:
            offset = next((at for at, (a, b) in enumerate(zip(release, by_twin)) if a != b),
                          min(len(release), len(by_twin)))
            self.fail(f"the packages differ from byte {offset} of {len(release)} and {len(by_twin)}")

    def test_packs_the_records_that_the_native_program_packs(self):
        # Creation times are left out: Wine gives the earlier of a file's
        # change and write times, the native program the file's birth time.
        release = records_by_path(self.packed_by(self.program))
        native_carrier = self.work / "packed-natively.exe"
        shutil.copyfile(self.program.path, native_carrier)
        write_source_tree(self.publisher, TREE)
        pack(self.publisher, native_carrier)
        native = records_by_path(native_carrier.read_bytes())
        self.assertEqual(sorted(release), sorted(package_path(file) for file in TREE))
        for path in sorted(native):
            with self.subTest(path=path):
                self.assertEqual(release.get(path), native[path])
        self.assertEqual(sorted(release), sorted(native))

    def test_applies_its_own_package(self):
        patch = self.work / "patch.exe"
        patch.write_bytes(self.packed_by(self.program))
        game = self.work / "game"
        game.mkdir()
        (game / ENGINE).write_bytes(b"MZ engine")
        (game / "readme.txt").write_bytes(b"Quorvane 1.0.3\r\n")
        self.program.set_install_dir(windows_path(game))
        downloads = self.work / "downloads"
        downloads.mkdir()
        # Headless, the question returns at once and the program goes on.
        result = self.program.run([], cwd=downloads, executable=patch)
        self.assertShown(result, [CONFIRMATION, UPDATE_COMPLETE])
        self.assertEqual(differences(game, TREE), [])
        self.assertEqual(sorted(path.relative_to(game).as_posix() for path in game.rglob("*") if path.is_file()),
                         sorted([ENGINE] + [file.path for file in TREE]))


if __name__ == "__main__":
    unittest.main()
