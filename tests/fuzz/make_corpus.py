#!/usr/bin/env python3
"""Writes the seed corpus of the apply-mode fuzz target: carriers made by the
real packer (build/native/quorvane-update -l onto a small stand-in program),
the malformed records of the applier's unit tests cut from them, and delta
and removal records written field by field against the fuzz target's game
files, well-formed and hostile.

    tests/fuzz/make_corpus.py [--packer PROGRAM] [--out DIRECTORY]

The packer stores each source file's birth time, which differs from run to
run; the script sets it to the last write time, so that the corpus comes out
the same every time. Standard library only.
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from patch_tree import read_package  # noqa: E402  (the end-to-end tests' package reader)
FILE_TAG = b"file"
END_TAG = b"feof"
DELTA_TAG = b"dlta"
REMOVAL_TAG = b"remv"
TIMES_SIZE = 24
WRITE_TIME_NS = 1_429_584_343_670_284_800  # 2015-04-21 02:45:43.6702848 UTC

# A stand-in for the program image: the reader only looks at the end.
STUB = b"MZ" + bytes(62)


def mixed_content(size, seed):
    """Bytes that compress well in places and not at all in others."""
    text = b"Quorvane data block, repeated so that deflate finds matches. " * (size // 60 + 1)
    random = noise(size, seed)
    return bytes(text[i] if (i // 200) % 2 == 0 else random[i] for i in range(size))


def noise(size, seed):
    """Bytes that do not compress (a linear congruential sequence)."""
    out = bytearray()
    state = seed
    for _ in range(size):
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        out.append(state >> 24)
    return bytes(out)


def pack(packer, files, carrier):
    """Packs `files` ({path with "/": content}) onto the bytes `carrier`
    with the real packer and returns the carrier's new bytes."""
    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        src = work / "src"
        src.mkdir()
        for path, content in files.items():
            target = src / path
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(content)
            os.utime(target, ns=(WRITE_TIME_NS, WRITE_TIME_NS))
        target = work / "target.exe"
        target.write_bytes(carrier)
        subprocess.run([str(packer), "-l", str(target)], cwd=work, check=True,
                       stderr=subprocess.DEVNULL, timeout=60)
        return normalise_birth_times(target.read_bytes(), len(carrier))


def split_records(package):
    """The records of `package` (records and trailer) as a list of dicts
    with the record's bytes, its path and where its stream starts."""
    return [{"bytes": package[r.start:r.stream_end], "path": r.path, "head": r.stream_start - r.start}
            for r in read_package(package)]


def normalise_birth_times(carrier, package_start):
    records = split_records(carrier[package_start:])
    out = bytearray(carrier[:package_start])
    for record in records:
        raw = bytearray(record["bytes"])
        times = record["head"] - TIMES_SIZE
        raw[times:times + 8] = raw[times + 16:times + 24]
        out += raw
    return bytes(out) + carrier[-8:]


def records_of(carrier, package_start):
    """{path: record bytes} of the package that starts at `package_start`."""
    return {r["path"]: r for r in split_records(carrier[package_start:])}


def with_trailer(records, length=None):
    payload = b"".join(records)
    return payload + END_TAG + struct.pack("<I", len(payload) if length is None else length)


def with_path(record, path):
    """`record` with its path replaced by `path`."""
    units = path.encode("utf-16-le")
    head = record["head"]
    times = record["bytes"][head - TIMES_SIZE:]
    return FILE_TAG + struct.pack("<H", len(units) // 2) + units + times


def signed(carrier):
    """`carrier`, whose stand-in image is a PE32 header, with a certificate
    table appended after 8-byte alignment padding, as a signing tool does."""
    padding = bytes(-len(carrier) % 8)
    table_offset = len(carrier) + len(padding)
    table = struct.pack("<IHH", 16, 0x0200, 0x0002) + bytes(8)
    image = bytearray(carrier)
    optional_header = 0x40 + 4 + 20
    struct.pack_into("<II", image, optional_header + 96 + 4 * 8, table_offset, len(table))
    return bytes(image) + padding + table


def pe_stub():
    """A minimal PE32 header: MZ, e_lfanew, PE signature, COFF header with
    an optional header of 224 bytes that counts 16 data directories."""
    image = bytearray(0x40 + 4 + 20 + 224)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x40)
    image[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<H", image, 0x44 + 16, 224)
    struct.pack_into("<H", image, 0x58, 0x10B)
    struct.pack_into("<I", image, 0x58 + 92, 16)
    return bytes(image)


def seeds(packer):
    """{file name: carrier bytes}."""
    out = {"no-package": STUB}
    out["empty-package"] = pack(packer, {}, STUB)
    out["one-file"] = pack(packer, {"a.txt": b"hello"}, STUB)
    out["replaces-game-files"] = pack(
        packer, {"data/data7.dat": mixed_content(300, 7), "data/settings.ini": b"[display]\nwidth=1280\n",
                 "empty.bin": b""}, STUB)
    # A stream longer than the 1024-byte chunk, ending near the trailer.
    out["stream-over-one-chunk"] = pack(packer, {"victim.txt": noise(1100, 3)}, STUB)
    out["two-packages"] = pack(packer, {"a.txt": b"second"}, pack(packer, {"a.txt": b"first"}, STUB))
    image = pe_stub()
    out["signed"] = signed(pack(packer, {"a.txt": b"signed"}, image))

    base = pack(packer, {"a.txt": b"a", "victim.txt": mixed_content(250, 8)}, STUB)
    records = records_of(base, len(STUB))
    good = records[".\\a.txt"]["bytes"]
    victim = records[".\\victim.txt"]
    raw = victim["bytes"]
    head = victim["head"]

    def flipped(offset_from_end):
        changed = bytearray(raw)
        changed[len(raw) - offset_from_end] ^= 0x55
        return bytes(changed)

    malformed = {
        "tag-in-upper-case": b"FILE" + raw[4:],
        "unknown-tag": b"fil\x01" + raw[4:],
        "unit-count-0": FILE_TAG + b"\0\0" + raw[head - TIMES_SIZE:],
        "ends-after-tag": raw[:4],
        "ends-inside-path": raw[:6 + 2 * 5],
        "ends-inside-times": raw[:head - 12],
        "damaged-stream": flipped((len(raw) - head) // 2),
        "stream-cut-short": raw[:len(raw) - 100],
        "wrong-adler32": flipped(1),
    }
    for name, record in malformed.items():
        out["malformed-" + name] = STUB + with_trailer([good, record])
    out["malformed-length-before-carrier"] = STUB + with_trailer([good, raw], 0x7FFFFFF0)

    small = records[".\\a.txt"]
    for name, path in {"parent": "..\\outside.txt", "parent-inside": "data\\..\\..\\outside.txt",
                       "rooted": "\\outside.txt", "drive": "C:outside.txt",
                       "onto-directory": ".\\data", "same-file-twice": ".\\victim.txt"}.items():
        records_ = [with_path(small, path)]
        if name == "same-file-twice":
            records_ = [raw, with_path(small, path)]
        out["path-" + name] = STUB + with_trailer([good] + records_)
    return out


# The game files that the fuzz target installs before each input.
GAME_FILES = {
    "a.txt": b"a.txt as installed",
    "victim.txt": b"victim.txt as installed",
    "data\\data7.dat": b"data7.dat as installed",
    "data\\settings.ini": b"[display]\nwidth=640\n",
}


def path_field(path):
    units = path.encode("utf-16-le")
    return struct.pack("<H", len(units) // 2) + units


def check(content):
    return struct.pack("<QI", len(content), zlib.crc32(content))


def triples(*steps):
    """A delta's three streams before compression, (control, differences,
    insertions): each step is (copy, insert, seek, differences, inserted
    bytes); lengths are written as given, wrapped to 64 bits."""
    control, differences_, insertions = b"", b"", b""
    for copy, insert, seek, diff, inserted in steps:
        control += struct.pack("<QQq", copy & 0xFFFFFFFFFFFFFFFF, insert & 0xFFFFFFFFFFFFFFFF, seek)
        differences_ += diff
        insertions += inserted
    return control, differences_, insertions


def differences(new, old):
    return bytes((n - o) & 0xFF for n, o in zip(new, old))


def leb128(value):
    out = bytearray()
    while value >= 0x80:
        out.append(value & 0x7F | 0x80)
        value >>= 7
    out.append(value)
    return bytes(out)


def as_runs(diff):
    """Differences as the difference stream holds them: each run of zeros
    counted, then the bytes up to the next zero."""
    out, at = b"", 0
    while at < len(diff):
        zeros = 0
        while at + zeros < len(diff) and diff[at + zeros] == 0:
            zeros += 1
        end = at + zeros
        while end < len(diff) and diff[end] != 0:
            end += 1
        out += leb128(zeros) + leb128(end - at - zeros) + diff[at + zeros:end]
        at = end
    return out


def delta_record(path, old_check, new_check, streams, runs=None):
    """`streams` as triples() gives them; the differences are written as
    runs, or `runs` as they stand."""
    filetime = WRITE_TIME_NS // 100 + 116_444_736_000_000_000  # 100 ns steps since 1601
    control, diff, insertions = streams
    compressed = [zlib.compress(stream, 9) for stream in (control, as_runs(diff) if runs is None else runs, insertions)]
    return (DELTA_TAG + path_field(path) + struct.pack("<QQQ", filetime, filetime, filetime)
            + old_check + new_check + b"".join(struct.pack("<I", len(c)) for c in compressed)
            + b"".join(compressed))


def removal_record(path, old_check):
    return REMOVAL_TAG + path_field(path) + old_check


def delta_seeds():
    """{file name: carrier bytes} of delta and removal records."""
    old = GAME_FILES["victim.txt"]
    new = b"victim.txt as updated, and longer"
    # "victim.txt as " copied unchanged, the rest inserted.
    grown = triples((14, len(new) - 14, 0, bytes(14), new[14:]))
    # "installed" from old offset 14, then "victim" from offset 0 with one
    # byte changed: a seek forward, a copy, a seek back, a copy with a
    # difference.
    moved_new = b"installed Victim"
    moved = triples((0, 0, 14, b"", b""), (9, 1, -23, bytes(9), b" "),
                    (6, 0, 0, differences(moved_new[10:], old[:6]), b""))
    victim = ".\\victim.txt"
    out = {
        "delta-grows-a-file": [delta_record(victim, check(old), check(new), grown)],
        "delta-seeks-and-changes": [delta_record(victim, check(old), check(moved_new), moved)],
        "delta-to-empty": [delta_record(victim, check(old), check(b""), (b"", b"", b""))],
        "delta-wrong-base-crc": [delta_record(victim, check(old[:-1] + b"X"), check(new), grown)],
        "delta-wrong-base-size": [delta_record(victim, check(old + b"!"), check(new), grown)],
        "delta-wrong-result-crc": [delta_record(victim, check(old), check(new[:-1] + b"X"), grown)],
        "delta-missing-base": [delta_record(".\\missing.txt", check(old), check(new), grown)],
        "delta-copy-length-negative": [delta_record(victim, check(old), check(new),
                                                    triples((-1, 0, 0, b"", b"")))],
        "delta-copy-past-old-end": [delta_record(victim, check(old), check(new + bytes(20)),
                                                 triples((len(old) + 1, 0, 0, bytes(len(old) + 1), b"")))],
        "delta-insert-past-new-size": [delta_record(victim, check(old), check(new),
                                                    triples((14, len(new), 0, bytes(14), new + b"!" * 14)))],
        "delta-seek-before-start": [delta_record(victim, check(old), check(new),
                                                 triples((0, 0, -1, b"", b""), (14, len(new) - 14, 0, bytes(14), new[14:])))],
        "delta-seek-past-end": [delta_record(victim, check(old), check(new),
                                             triples((0, 0, len(old) + 1, b"", b"")))],
        "delta-seek-most-negative": [delta_record(victim, check(old), check(new),
                                                  triples((0, 0, -(1 << 63), b"", b"")))],
        "delta-triple-cut-short": [delta_record(victim, check(old), check(new), (grown[0][:20],) + grown[1:])],
        "delta-differences-cut-short": [delta_record(victim, check(old), check(new),
                                                     (grown[0], grown[1][:-1], grown[2]))],
        "delta-insertions-left-over": [delta_record(victim, check(old), check(new),
                                                    (grown[0], grown[1], grown[2] + b"!"))],
        "delta-zeros-counted-past-copies": [delta_record(victim, check(old), check(new), grown,
                                                         runs=leb128(15) + leb128(0))],
        "delta-run-count-too-long": [delta_record(victim, check(old), check(new), grown, runs=b"\x80" * 10 + b"\0")],
        "delta-trailing-triple": [delta_record(victim, check(old), check(new),
                                               (grown[0] + triples((0, 0, 0, b"", b""))[0],) + grown[1:])],
        "delta-sizes-too-large": [delta_record(victim, struct.pack("<QI", 1 << 40, 0), struct.pack("<QI", 1 << 40, 0),
                                               grown)],
        "delta-record-cut-short": [delta_record(victim, check(old), check(new), grown)[:40]],
        "removal-of-a-game-file": [removal_record(".\\a.txt", check(GAME_FILES["a.txt"]))],
        "removal-of-a-missing-file": [removal_record(".\\gone.txt", check(b"gone"))],
        "removal-of-a-changed-file": [removal_record(".\\a.txt", check(b"a.txt as shipped"))],
        "removal-leaving-the-folder": [removal_record(".\\..\\outside.txt", check(b""))],
        "removal-empties-a-folder": [removal_record(".\\data\\data7.dat", check(GAME_FILES["data\\data7.dat"])),
                                     removal_record(".\\data\\settings.ini",
                                                    check(GAME_FILES["data\\settings.ini"]))],
        "removal-then-file-of-same-name": [removal_record(".\\a.txt", check(GAME_FILES["a.txt"])),
                                           FILE_TAG + path_field(".\\a.txt") + bytes(24) + zlib.compress(b"back", 6)],
    }
    return {name: STUB + with_trailer(records) for name, records in out.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--packer", type=Path, default=REPO / "build/native/quorvane-update")
    parser.add_argument("--out", type=Path, default=Path(__file__).resolve().parent / "corpus")
    args = parser.parse_args()
    args.out.mkdir(parents=True, exist_ok=True)
    for name, carrier in sorted({**seeds(args.packer), **delta_seeds()}.items()):
        (args.out / name).write_bytes(carrier)
        print(f"{len(carrier):6} {name}")


if __name__ == "__main__":
    main()
