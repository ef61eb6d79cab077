"""The situations in which the program shows each of its message boxes, made
in a work folder: the dialogue tests answer the boxes and check what the
program did, and scripts/box-pictures.sh takes their pictures.

Each function returns a Launch: what to start, with which words, where, and
the boxes that the run is to show. `program` is a harness.Program.
"""
import os
from dataclasses import dataclass
from pathlib import Path

from harness import (CONFIRMATION, NOT_INSTALLED, OUTPUT_OPEN_ERROR, OUTPUT_WRITE_ERROR,
                     UPDATE_COMPLETE, UPDATE_FAILED, package_trailer, windows_path)
from patch_tree import SAMPLE_TREE, write_source_tree

ENGINE = "zanthe.exe"
# A carrier this large leaves no room below the 2 GiB that package offsets
# reach, so pack mode cannot write the package. It is sparse on disk.
FULL_CARRIER_SIZE = 0x80000000 - 16


@dataclass(frozen=True)
class Launch:
    executable: Path
    args: list
    cwd: Path
    boxes: list


def make_game(work):
    """A game folder with the engine and a file the sample patch replaces."""
    game = Path(work, "game")
    game.mkdir()
    (game / ENGINE).write_bytes(b"MZ engine")
    (game / "readme.txt").write_bytes(b"Quorvane 1.0.2\r\n")
    return game


def real_patch(program, work):
    """A patch of the sample tree for a game that the registry names. The
    question comes first; answered Yes, the update completes."""
    game = make_game(work)
    program.set_install_dir(windows_path(game))
    publisher = Path(work, "publisher")
    write_source_tree(publisher, SAMPLE_TREE)
    patch = program.make_patch(work, publisher)
    return Launch(patch, [], game, [CONFIRMATION, UPDATE_COMPLETE])


def no_game(program, work):
    """A patch run where neither the registry nor the current folder holds
    the game."""
    program.set_install_dir(None)
    here = Path(work, "downloads")
    here.mkdir()
    return Launch(program.make_carrier(work, package_trailer(0)), [], here, [NOT_INSTALLED])


def damaged_patch(program, work):
    """A patch whose package claims more bytes than its file holds: the
    update fails once the question is answered Yes."""
    game = make_game(work)
    program.set_install_dir(windows_path(game))
    carrier = program.make_carrier(work, package_trailer(0xFFFFFFFF))
    return Launch(carrier, [], game, [CONFIRMATION, UPDATE_FAILED])


def pack_onto_folder(program, work):
    """Pack mode with a folder as its target, which cannot be opened."""
    target = Path(work, "target")
    target.mkdir()
    return Launch(program.path, ["-l", target], work, [OUTPUT_OPEN_ERROR])


def pack_onto_full_carrier(program, work):
    """Pack mode onto a carrier with no room left for a package."""
    write_source_tree(work, SAMPLE_TREE)
    target = Path(work, "target.exe")
    with open(target, "wb") as stream:
        os.truncate(stream.fileno(), FULL_CARRIER_SIZE)
    return Launch(program.path, ["-l", target], work, [OUTPUT_WRITE_ERROR])
