#!/usr/bin/env python3
"""The release check must reject a program with any one of the faults it guards.

Each case copies the built program, plants one fault by patching bytes found
without the checker's help, and expects the checker to name that fault. The
unpatched program must pass, so a case fails only through its own fault.

Usage: check_pe_faults_test.py --machine {i386,amd64} --program PROGRAM.exe
"""

import argparse
import re
import struct
import sys
import unittest

import check_pe

ARGS = None


def replace_all(data, old, new):
    """`data` with every `old` replaced by the same-length `new`; `old` must occur."""
    assert len(old) == len(new), (old, new)
    if old not in data:
        raise AssertionError("the program holds no %r to patch" % old)
    return data.replace(old, new)


def set_subsystem(value):
    def patch(data):
        (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
        out = bytearray(data)
        # Subsystem sits 68 bytes into the optional header, after the 4-byte
        # signature and the 20-byte file header.
        struct.pack_into("<H", out, pe_offset + 24 + 68, value)
        return bytes(out)
    return patch


def file_header(data):
    """File offset of the COFF file header, after the PE signature."""
    return struct.unpack_from("<I", data, 0x3C)[0] + 4


def set_link_time(data):
    out = bytearray(data)
    struct.pack_into("<I", out, file_header(data) + 4, 0x5F5E1000)
    return bytes(out)


def add_symbols(data):
    out = bytearray(data)
    struct.pack_into("<II", out, file_header(data) + 8, len(data), 5)
    return bytes(out) + bytes(5 * 18 + 4)


def first_section_as_long_debug_name(data):
    # An unstripped program names its debug sections "/offset" into the
    # string table after the symbol table: here one symbol, then the table.
    header = file_header(data)
    optional_size = struct.unpack_from("<H", data, header + 16)[0]
    out = bytearray(data)
    struct.pack_into("<II", out, header + 8, len(data), 1)
    struct.pack_into("<8s", out, header + 20 + optional_size, b"/4")
    return bytes(out) + bytes(18) + struct.pack("<I", 16) + b".debug_info\0"


def resource_root(data):
    """File offset of the resource tree, at the start of the .rsrc section."""
    (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
    sections, optional_size = struct.unpack_from("<H12xH", data, pe_offset + 6)
    table = pe_offset + 24 + optional_size
    for i in range(sections):
        name, raw = struct.unpack_from("<8s12xI", data, table + 40 * i)
        if name.rstrip(b"\0") == b".rsrc":
            return raw
    raise AssertionError("the program has no .rsrc section")


def type_entry(data, rtype):
    """(root, offset of the root entry for resource type `rtype`)."""
    root = resource_root(data)
    named, numbered = struct.unpack_from("<HH", data, root + 12)
    for i in range(named + numbered):
        entry = root + 16 + 8 * i
        if struct.unpack_from("<I", data, entry)[0] == rtype:
            return root, entry
    raise AssertionError("the program has no resource of type %d" % rtype)


def retype(old, new):
    def patch(data):
        _, entry = type_entry(data, old)
        out = bytearray(data)
        struct.pack_into("<I", out, entry, new)
        return bytes(out)
    return patch


def renumber_manifest(new_id):
    def patch(data):
        root, entry = type_entry(data, check_pe.RT_MANIFEST)
        names = root + (struct.unpack_from("<I", data, entry + 4)[0] & 0x7FFFFFFF)
        out = bytearray(data)
        struct.pack_into("<I", out, names + 16, new_id)
        return bytes(out)
    return patch


def set_first_icon_bits(bits):
    def patch(data):
        # The group directory: reserved 0, type 1, nine entries, the first
        # being the 32x32 image with 16 colours, one plane, 4 bits.
        group = b"\0\0\1\0\x09\0\x20\x20\x10\0\1\0\4\0"
        at = data.find(group)
        if at < 0 or data.count(group) != 1:
            raise AssertionError("the program holds no single icon group to patch")
        out = bytearray(data)
        struct.pack_into("<H", out, at + 12, bits)
        return bytes(out)
    return patch


def any_architecture(data):
    match = re.search(rb'processorArchitecture="([a-z0-9]+)"', data)
    if not match:
        raise AssertionError("the program's manifest names no architecture")
    padding = b" " * (len(match.group(1)) - 1)
    return replace_all(data, match.group(0), b'processorArchitecture="*"' + padding)


# (case, patch, text that one of the checker's faults must contain)
CASES = [
    ("console subsystem", set_subsystem(3), "subsystem is 3"),
    ("a DLL shipped beside the program",
     lambda d: replace_all(d, b"SHLWAPI.dll\0", b"zlib1.dll\0\0\0"),
     "non-system DLL zlib1.dll"),
    ("no SetDefaultDllDirectories",
     lambda d: replace_all(d, b"SetDefaultDllDirectories\0", b"SetDefaultDllDirectorieZ\0"),
     "does not import SetDefaultDllDirectories"),
    ("group not named APP",
     lambda d: replace_all(d, "\3APP".encode("utf-16-le"), "\3APQ".encode("utf-16-le")),
     "expected exactly one named APP"),
    ("group entry with the wrong bit count", set_first_icon_bits(8),
     "is a 32x32 bitmap at 4 bits, expected 32x32 at 8"),
    ("256x256 image not PNG",
     lambda d: replace_all(d, check_pe.PNG_SIGNATURE, b"\x89PNX\r\n\x1a\n"),
     "is not PNG data"),
    ("manifest id 2", renumber_manifest(2), "manifests are [2]"),
    ("a version resource instead of the manifest",
     retype(check_pe.RT_MANIFEST, 16), "unexpected resource type RT_VERSION"),
    ("execution level asInvoker",
     lambda d: replace_all(d, b'level="highestAvailable"', b'level="asInvoker"       '),
     "requests level 'asInvoker'"),
    ("UI access",
     lambda d: replace_all(d, b'uiAccess="false"', b'uiAccess="true" '),
     "uiAccess 'true'"),
    ("execution level outside requestedPrivileges",
     lambda d: replace_all(d, b"requestedPrivileges>", b"requestedPrivilegez>"),
     "0 requestedExecutionLevel elements"),
    ("any processor architecture", any_architecture, "processorArchitecture is '*'"),
    ("manifest not well-formed",
     lambda d: replace_all(d, b"</assembly>", b"</assemblX>"), "not well-formed"),
    ("truncated file", lambda d: d[:0x200], "not a readable PE file"),
    ("link time in the header", set_link_time, "holds a link time"),
    ("symbol table", add_symbols, "symbol table of 5 symbols"),
    ("debug section named through the string table", first_section_as_long_debug_name,
     "debug sections ['.debug_info']"),
    ("no Common Controls dependency",
     lambda d: replace_all(d, b'name="Microsoft.Windows.Common-Controls"',
                           b'name="Microsoft.Windows.Common-Kontrols"'),
     "0 dependencies on Microsoft.Windows.Common-Controls"),
    ("old Common Controls",
     lambda d: replace_all(d, b'version="6.0.0.0"', b'version="5.8.0.0"'), "version '5.8.0.0'"),
    ("Common Controls of one processor",
     lambda d: replace_all(d, b'processorArchitecture="*" publicKeyToken',
                           b'processorArchitecture="x" publicKeyToken'),
     "processorArchitecture 'x', expected '*'"),
    ("Common Controls with another key",
     lambda d: replace_all(d, b"6595b64144ccf1df", b"0000000000000000"),
     "publicKeyToken '0000000000000000'"),
    ("DPI awareness of the system only",
     lambda d: replace_all(d, b">PerMonitorV2, PerMonitor<", b">system                  <"),
     "dpiAwareness is 'system'"),
    ("DPI awareness in the wrong namespace",
     lambda d: replace_all(d, b"SMI/2016/", b"SMI/2015/"), "0 dpiAwareness elements"),
    ("no older DPI setting",
     lambda d: replace_all(replace_all(d, b"<dpiAware xmlns", b"<dpiAwarf xmlns"),
                           b"</dpiAware>", b"</dpiAwarf>"),
     "0 dpiAware elements"),
    ("older DPI setting without per-monitor",
     lambda d: replace_all(d, b">true/pm<", b">true   <"), "dpiAware is 'true'"),
]


class CheckPeFaultsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(ARGS.program, "rb") as program:
            cls.program = program.read()

    def test_built_program_passes(self):
        self.assertEqual(check_pe.check(self.program, ARGS.machine), [])

    def test_size_limit(self):
        size = len(self.program)
        self.assertEqual(check_pe.check(self.program, ARGS.machine, max_bytes=size), [])
        self.assertIn("is %d bytes, more than the limit of %d" % (size, size - 1),
                      check_pe.check(self.program, ARGS.machine, max_bytes=size - 1))

    def test_other_machine_is_reported(self):
        other = {"i386": "amd64", "amd64": "i386"}[ARGS.machine]
        faults = check_pe.check(self.program, other)
        for expected in ("machine is", "optional header is", "processorArchitecture"):
            self.assertTrue(any(expected in fault for fault in faults),
                            "expected a fault containing %r, got %r" % (expected, faults))

    def test_each_fault_is_reported(self):
        for case, patch, expected in CASES:
            with self.subTest(case):
                faults = check_pe.check(patch(self.program), ARGS.machine)
                self.assertTrue(any(expected in fault for fault in faults),
                                "expected a fault containing %r, got %r" % (expected, faults))


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--machine", choices=sorted(check_pe.MACHINES), required=True)
    parser.add_argument("--program", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
