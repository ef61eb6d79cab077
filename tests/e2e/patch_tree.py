"""Real patches for the tests: a source tree whose files have set times,
packed by the native program as a publisher packs, the records of the
package read back, and a check of the files that landed in a game folder.

The native program packs for the Windows program's tests too: on Linux a
publisher appends the package to a copy of the Windows program with it.
CMake names it in QUORVANE_NATIVE_PROGRAM.
"""
import os
import random
import struct
import subprocess
import zlib
from dataclasses import dataclass
from pathlib import Path

PACK_TIMEOUT = 120  # seconds


@dataclass(frozen=True)
class SourceFile:
    """One file of a source tree: its path below "src" ("/" between
    folders), its content and the times it is given, in nanoseconds since
    1970. The times are whole 100 ns steps, the unit of a FILETIME, so that
    they survive the package unchanged."""
    path: str
    content: bytes
    access_ns: int
    write_ns: int


def mixed_content(size, seed):
    """Bytes that compress well in places and not at all in others."""
    noise = random.Random(seed).randbytes(size)
    text = b"Quorvane stage data, repeated so that deflate finds matches. " * (size // 60 + 1)
    return bytes(text[i] if (i // 300) % 2 == 0 else noise[i] for i in range(size))


def _time(seconds, ticks):
    """A time `seconds` after 1970 plus `ticks` of 100 ns, in nanoseconds."""
    return seconds * 1_000_000_000 + ticks * 100


# Nested folders, a Japanese folder and name, an empty file and files on
# both sides of the 1024-byte chunk; every time differs from every other.
SAMPLE_TREE = (
    SourceFile("readme.txt", "Quorvane 1.0.3 の更新内容\r\n".encode("utf-8"),
               _time(1_500_000_000, 1234567), _time(1_400_000_000, 7654321)),
    SourceFile("data/levels/stage1.dat", mixed_content(5000, 1),
               _time(1_500_000_100, 1), _time(1_400_000_100, 9999999)),
    SourceFile("data/empty.bin", b"", _time(1_500_000_200, 5), _time(1_400_000_200, 3)),
    SourceFile("セーブ/設定.ini", "[表示]\r\n幅=1280\r\n".encode("utf-8") * 80,
               _time(1_500_000_300, 4242424), _time(1_400_000_300, 1010101)),
)


def native_program():
    """The native program, which packs every patch the tests apply. Fails
    when it is not there, so that a missing native build cannot pass as a
    skipped test."""
    program = os.environ.get("QUORVANE_NATIVE_PROGRAM")
    if not program:
        raise RuntimeError("QUORVANE_NATIVE_PROGRAM must name the native program, which packs the patches")
    if not Path(program).is_file():
        raise RuntimeError(f"the native program {program} is missing; build it first: "
                           "cmake --build --preset native")
    return Path(program)


def write_source_tree(publisher, files):
    """Writes `files` under publisher/src and gives each its times; returns
    the folder "src"."""
    src = Path(publisher, "src")
    for file in files:
        path = src / file.path
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(file.content)
    # Only after every file is written: adding a file changes its folder's
    # times, never another file's.
    for file in files:
        os.utime(src / file.path, ns=(file.access_ns, file.write_ns))
    return src


def pack(publisher, target):
    """Packs the folder "src" of `publisher` onto `target` with the native
    program, as pack mode's user does, and fails unless it succeeded."""
    result = subprocess.run([native_program(), "-l", Path(target).absolute()], cwd=publisher,
                            capture_output=True, timeout=PACK_TIMEOUT)
    if result.returncode != 0:
        raise RuntimeError(f"packing {publisher}/src ended with {result.returncode}:\n"
                           f"{result.stderr.decode(errors='replace')}")


@dataclass(frozen=True)
class PackedRecord:
    """Where one record's parts stand in its carrier."""
    path: str          # the PackagePath, e.g. ".\\data\\x.dat"
    start: int         # offset of the record's tag in the carrier
    stream_start: int  # offset of the zlib stream in the carrier
    stream_end: int    # offset of the byte after the stream: the next tag


def read_package(carrier):
    """The records of the package at the end of the bytes `carrier`, in
    package order. Only for unsigned carriers: the trailer must end them."""
    tag, payload_length = struct.unpack_from("<4sI", carrier, len(carrier) - 8)
    if tag != b"feof":
        raise ValueError("the carrier does not end in a package trailer")
    at, end = len(carrier) - 8 - payload_length, len(carrier) - 8
    records = []
    while at < end:
        tag, units = struct.unpack_from("<4sH", carrier, at)
        if tag != b"file":
            raise ValueError(f"no record tag at offset {at}")
        path = carrier[at + 6:at + 6 + 2 * units].decode("utf-16-le")
        stream_start = at + 6 + 2 * units + 24
        inflater = zlib.decompressobj()
        inflater.decompress(carrier[stream_start:end])
        if not inflater.eof:
            raise ValueError(f"the stream of {path} does not end")
        record_start, at = at, end - len(inflater.unused_data)
        records.append(PackedRecord(path, record_start, stream_start, at))
    return records


def file_record(path, content, tag=b"file"):
    """The bytes of one record for `content` at the PackagePath `path`, with
    fixed times."""
    units = path.encode("utf-16-le")
    times = struct.pack("<3Q", 130740581495118894, 130740581495118894, 130740807436702848)
    return tag + struct.pack("<H", len(units) // 2) + units + times + zlib.compress(content)


def with_records(carrier, records):
    """`carrier` with its package's records followed by the bytes
    `records`, under a trailer that counts them all."""
    packed = read_package(carrier)
    start = packed[0].start if packed else len(carrier) - 8
    payload = bytes(carrier[start:len(carrier) - 8]) + records
    return bytes(carrier[:start]) + payload + b"feof" + struct.pack("<I", len(payload))


def package_path(file):
    """The PackagePath that a file of the source tree gets."""
    return ".\\" + file.path.replace("/", "\\")


def differences(game, files):
    """How the files in `game` differ from `files`: a list of messages, empty
    when every file landed with its content, its last-write time and its
    last-access time. The times are read before the content, since reading
    may move the last-access time. Creation times are not compared: Linux
    keeps a birth time that no call can set, so neither the native program
    nor Wine can give it back."""
    found = []
    for file in files:
        path = Path(game, file.path)
        if not path.is_file():
            found.append(f"{file.path} is missing")
            continue
        status = path.stat()
        if status.st_mtime_ns != file.write_ns:
            found.append(f"{file.path}: last write {status.st_mtime_ns}, expected {file.write_ns}")
        if status.st_atime_ns != file.access_ns:
            found.append(f"{file.path}: last access {status.st_atime_ns}, expected {file.access_ns}")
        if path.read_bytes() != file.content:
            found.append(f"{file.path}: content differs")
    return found
