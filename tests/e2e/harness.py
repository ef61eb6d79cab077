"""The end-to-end harness: runs the built program as a user runs it, the
native one directly or the Windows one under Wine, and gives back what it
showed in one form for both.

The environment names the program under test:
  QUORVANE_PROGRAM    the built program
  QUORVANE_EMULATOR   "wine" for the Windows program, empty for the native one
  QUORVANE_WINEPREFIX the private Wine prefix (Windows program only; default
                      a fixed directory in the system's temporary folder)
  QUORVANE_CHECKER    a command the native program runs under, e.g. valgrind
                      (see native_backend); a report from it fails the test

Typical use, in a ProgramTestCase:

    self.program.set_install_dir(windows_path(game))
    patch = self.program.make_carrier(self.work, EMPTY_PACKAGE)
    result = self.program.run([], cwd=game, executable=patch)
    self.assertShown(result, [CONFIRMATION, UPDATE_COMPLETE])

A real patch is packed by the native program (see patch_tree):

    write_source_tree(publisher, SAMPLE_TREE)
    patch = self.program.make_patch(self.work, publisher)

Native boxes come from the POSIX layer's lines, which carry no style; their
style is inferred from the stream each went to (see native_backend), which
for the program's own boxes is exactly the style it passes. Under Wine the
boxes and their styles come from the relay trace of MessageBoxW; headless,
each box returns -1 at once, which the program takes as going on.
"""
import contextlib
import os
import shutil
import struct
import tempfile
import unittest
from pathlib import Path

import patch_tree
from native_backend import NativeBackend
from run_result import (CAPTION, ERROR_CAPTION, MB_ICONERROR, MB_ICONINFORMATION,
                        MB_ICONQUESTION, MB_YESNO, Box, Result, TraceCut)
from wine_backend import WineBackend

__all__ = ["Box", "Result", "TraceCut", "Program", "windows_path", "package_trailer", "EMPTY_PACKAGE",
           "OUTPUT_OPEN_ERROR", "OUTPUT_WRITE_ERROR", "NOT_INSTALLED", "CONFIRMATION",
           "UPDATE_FAILED", "UPDATE_COMPLETE", "ProgramTestCase"]

# Every message box the program shows.
OUTPUT_OPEN_ERROR = Box("出力ファイルが開けません。", ERROR_CAPTION, 0)
OUTPUT_WRITE_ERROR = Box("出力ファイルに書き込めません。", ERROR_CAPTION, 0)
NOT_INSTALLED = Box("『Quorvane』がインストールされていません。", CAPTION, MB_ICONERROR)
CONFIRMATION = Box("『Quorvane』を更新しますか？", CAPTION, MB_YESNO | MB_ICONQUESTION)
UPDATE_FAILED = Box("『Quorvane』の更新が失敗しました。", CAPTION, MB_ICONERROR)
UPDATE_COMPLETE = Box("『Quorvane』の更新が完了しました。", CAPTION, MB_ICONINFORMATION)

RUN_TIMEOUT = 120  # seconds for one run of the program


def package_trailer(payload_length):
    """The 8 bytes that end a package: "feof" and the payload length."""
    return b"feof" + struct.pack("<I", payload_length)


EMPTY_PACKAGE = package_trailer(0)


def windows_path(path):
    """A Unix path as a Windows one on drive Z:, which maps the Unix root in
    a Wine prefix. Both programs resolve it alike, e.g. as a registry value."""
    return "Z:" + str(Path(path).absolute()).replace("/", "\\")


class Program:
    """The program under test and a private registry for it.

    run(args, cwd, answer="y", env=None, executable=None, program_word=None) -> Result
        Runs the program, or the patch `executable` made by make_carrier,
        with the command-line words `args` in `cwd`. `answer` is typed at
        the question (native only; None ends the input); `env` adds
        environment variables; `program_word` replaces the first word of the
        command line (native only).
    set_install_dir(value)
        Sets the registry value InstallDir to the string `value`, or removes
        it for None. It starts out removed for a native program and unknown
        under Wine: set it before every apply-mode run.
    drive_c
        The Unix folder that "C:\\" names in the registry's prefix.
    path_as_seen(path)
        A Unix path as the program gets it from the system, e.g. its current
        directory: "\\tmp\\x" natively, "Z:\\tmp\\x" under Wine.
    path_as_traced(path)
        A Unix path as pack mode's trace names it: "/tmp/x" natively,
        "Z:\\tmp\\x" under Wine.
    make_carrier(directory, package=b"", name="patch") -> Path
        A copy of the program in `directory` with `package` appended.
    make_patch(directory, publisher, name="patch") -> Path
        A copy of the program in `directory` onto which the native program
        has packed the folder "src" of `publisher`.
    held_open(path)
        A context in which another Windows process holds `path` open
        without sharing (Wine only).
    held_briefly(path, share, after, delay_ms, hold_ms)
        A context beside which another Windows process holds `path` for a
        moment, as a scanner does (Wine only; see WineBackend); it yields a
        function that tells, after the block, whether the hold was taken.
    expected_exit_code(boxes)
        The exit code that belongs to a run that showed `boxes`.
    """

    def __init__(self, backend, under_wine):
        self._backend = backend
        self.under_wine = under_wine
        self.path = backend.program
        self.drive_c = backend.drive_c

    @classmethod
    def from_environment(cls):
        program = os.environ.get("QUORVANE_PROGRAM")
        if not program:
            raise RuntimeError("QUORVANE_PROGRAM must name the program under test")
        emulator = os.environ.get("QUORVANE_EMULATOR", "")
        if not emulator:
            return cls(NativeBackend(program), under_wine=False)
        prefix = os.environ.get("QUORVANE_WINEPREFIX") or Path(tempfile.gettempdir(), "quorvane-e2e-wineprefix")
        return cls(WineBackend(program, emulator, prefix), under_wine=True)

    def close(self):
        self._backend.close()

    def run(self, args, cwd, answer="y", env=None, executable=None, program_word=None):
        return self._backend.run(Path(executable or self.path), args, cwd, answer, env or {},
                                 program_word, RUN_TIMEOUT)

    def set_install_dir(self, value):
        self._backend.set_install_dir(value)

    def path_as_seen(self, path):
        return self._backend.path_as_seen(path)

    def path_as_traced(self, path):
        return self._backend.path_as_traced(path)

    def make_carrier(self, directory, package=b"", name="patch"):
        carrier = Path(directory, name + self.path.suffix)
        shutil.copyfile(self.path, carrier)
        shutil.copymode(self.path, carrier)
        with open(carrier, "ab") as stream:
            stream.write(package)
        return carrier

    def make_patch(self, directory, publisher, name="patch"):
        patch = self.make_carrier(directory, name=name)
        patch_tree.pack(publisher, patch)
        return patch

    @contextlib.contextmanager
    def held_open(self, path):
        if not self.under_wine:
            raise ValueError("only Windows keeps a file that another process holds from being replaced")
        with self._backend.held_open(path):
            yield

    @contextlib.contextmanager
    def held_briefly(self, path, share, after=None, delay_ms=0, hold_ms=400):
        if not self.under_wine:
            raise ValueError("only Windows keeps a file that another process holds from being replaced")
        with self._backend.held_briefly(path, share, after, delay_ms, hold_ms) as held:
            yield held

    def expected_exit_code(self, boxes):
        # The Windows program always ends with 0; the native one with 1
        # once it has shown an error or a failure.
        if self.under_wine:
            return 0
        return 1 if any(box.is_error() for box in boxes) else 0


class ProgramTestCase(unittest.TestCase):
    """A test case with the program under test (`self.program`, shared by
    the class) and a fresh temporary folder (`self.work`) for each test."""

    @classmethod
    def setUpClass(cls):
        cls.program = Program.from_environment()
        cls.addClassCleanup(cls.program.close)

    def setUp(self):
        temporary = tempfile.TemporaryDirectory(prefix="quorvane-e2e-")
        self.addCleanup(temporary.cleanup)
        self.work = Path(temporary.name)

    def assertShown(self, result, boxes):
        """The run showed exactly `boxes`, in order, and ended with their exit code."""
        self.assertEqual(result.boxes, boxes, result)
        self.assertEqual(result.exit_code, self.program.expected_exit_code(boxes), result)
