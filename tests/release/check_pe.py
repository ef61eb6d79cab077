#!/usr/bin/env python3
"""Checks that a built Windows program is fit to ship.

The program must be a GUI program for the expected machine (the release is a
32-bit PE32 file), carry no link time, no symbols and no debug sections, stay
within a size when one is given, import nothing but system DLLs, import
SetDefaultDllDirectories, and carry exactly two kinds of resource besides the
icon images: the icon group "APP" with its nine images, and the manifest
(id 1) that asks for "highestAvailable", depends on the Common Controls 6 and
declares per-monitor DPI awareness. Every fault found is reported.

Usage: check_pe.py --machine {i386,amd64} [--max-bytes N] PROGRAM.exe
"""

import argparse
import struct
import sys
import xml.etree.ElementTree as ElementTree

# machine option -> (COFF machine, optional header magic, manifest architecture)
MACHINES = {
    "i386": (0x14C, 0x10B, "x86"),
    "amd64": (0x8664, 0x20B, "amd64"),
}
SUBSYSTEM_WINDOWS_GUI = 2

# A statically linked program needs these and nothing that ships beside it
# (libstdc++, libgcc, libwinpthread, zlib1).
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "shlwapi.dll",
               "advapi32.dll", "msvcrt.dll"}
SYSTEM_DLL_PREFIX = "api-ms-win-"

# The common controls whose themed look the message boxes take.
COMMON_CONTROLS = {"type": "win32", "name": "Microsoft.Windows.Common-Controls",
                   "version": "6.0.0.0", "processorArchitecture": "*",
                   "publicKeyToken": "6595b64144ccf1df"}
# (namespace, element, text) of the DPI settings: the current one, and the
# one that Windows before 10 1703 reads instead.
DPI_SETTINGS = [
    ("http://schemas.microsoft.com/SMI/2016/WindowsSettings", "dpiAwareness",
     "PerMonitorV2, PerMonitor"),
    ("http://schemas.microsoft.com/SMI/2005/WindowsSettings", "dpiAware", "true/pm"),
]
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"

RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
RESOURCE_TYPE_NAMES = {1: "RT_CURSOR", 2: "RT_BITMAP", 3: "RT_ICON", 4: "RT_MENU",
                       5: "RT_DIALOG", 6: "RT_STRING", 9: "RT_ACCELERATOR",
                       10: "RT_RCDATA", 12: "RT_GROUP_CURSOR", 14: "RT_GROUP_ICON",
                       16: "RT_VERSION", 24: "RT_MANIFEST"}

# (width, height, bits per pixel) of the icon group's images; the 256x256
# one is stored as PNG.
ICON_IMAGES = sorted([(32, 32, 4), (16, 16, 4), (48, 48, 8), (32, 32, 8), (16, 16, 8),
                      (256, 256, 32), (48, 48, 32), (32, 32, 32), (16, 16, 32)])
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


class PeError(Exception):
    """The file is not a PE file this checker can read."""


class PeFile:
    """The parts of a PE image that the checks read: headers, imports, resources."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("no MZ header")
        (pe_offset,) = self._unpack("<I", 0x3C)
        if data[pe_offset:pe_offset + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        coff = pe_offset + 4
        (self.machine, sections, self.timestamp, symbols_at, self.symbol_count, optional_size,
         _) = self._unpack("<HHIIIHH", coff)
        # Long section names are "/" and an offset into the string table,
        # which follows the symbol table.
        strings = symbols_at + 18 * self.symbol_count
        optional = coff + 20
        (self.magic,) = self._unpack("<H", optional)
        if self.magic not in (0x10B, 0x20B):
            raise PeError("unknown optional header magic 0x%X" % self.magic)
        (self.subsystem,) = self._unpack("<H", optional + 68)
        # The data directories follow the fields whose size differs between
        # PE32 and PE32+.
        directories = optional + (96 if self.magic == 0x10B else 112)
        (count,) = self._unpack("<I", directories - 4)
        self.directories = [self._unpack("<II", directories + 8 * i) for i in range(count)]
        self.sections = []
        self.section_names = []
        for i in range(sections):
            name, size, rva, raw_size, raw = self._unpack(
                "<8sIIII", optional + optional_size + 40 * i)
            self.sections.append((rva, max(size, raw_size), raw, raw_size))
            self.section_names.append(self._section_name(name.rstrip(b"\0"), strings))

    def _section_name(self, name, strings):
        if name.startswith(b"/") and name[1:].isdigit() and self.symbol_count:
            start = strings + int(name[1:])
            end = self.data.find(b"\0", start)
            if start >= len(self.data) or end < 0:
                raise PeError("section name %r lies outside the string table" % name)
            name = self.data[start:end]
        return name.decode("ascii", "replace")

    def _unpack(self, layout, offset):
        end = offset + struct.calcsize(layout)
        if offset < 0 or end > len(self.data):
            raise PeError("a structure at 0x%X runs past the end of the file" % offset)
        return struct.unpack_from(layout, self.data, offset)

    def offset(self, rva):
        """File offset of a relative virtual address."""
        for start, size, raw, raw_size in self.sections:
            if start <= rva < start + size:
                if rva - start >= raw_size:
                    raise PeError("RVA 0x%X lies in uninitialised data" % rva)
                return raw + rva - start
        raise PeError("RVA 0x%X lies in no section" % rva)

    def read(self, layout, rva):
        return self._unpack(layout, self.offset(rva))

    def bytes_at(self, rva, size):
        start = self.offset(rva)
        if start + size > len(self.data):
            raise PeError("data at RVA 0x%X runs past the end of the file" % rva)
        return self.data[start:start + size]

    def c_string(self, rva):
        start = self.offset(rva)
        end = self.data.find(b"\0", start)
        if end < 0:
            raise PeError("unterminated string at RVA 0x%X" % rva)
        return self.data[start:end].decode("ascii", "replace")

    def imports(self):
        """{DLL name: [imported names, or "#ordinal"]} from the import table."""
        result = {}
        if len(self.directories) < 2 or self.directories[1][0] == 0:
            return result
        descriptor = self.directories[1][0]
        thunk_layout, ordinal_flag = (("<I", 1 << 31) if self.magic == 0x10B
                                      else ("<Q", 1 << 63))
        thunk_size = struct.calcsize(thunk_layout)
        while True:
            lookup, _, _, name, first_thunk = self.read("<IIIII", descriptor)
            if name == 0:
                return result
            names = result.setdefault(self.c_string(name), [])
            thunk = lookup or first_thunk
            while True:
                (entry,) = self.read(thunk_layout, thunk)
                if entry == 0:
                    break
                if entry & ordinal_flag:
                    names.append("#%d" % (entry & 0xFFFF))
                else:
                    names.append(self.c_string((entry & 0x7FFFFFFF) + 2))
                thunk += thunk_size
            descriptor += 20

    def resources(self):
        """[(type, name, language, data)] from the resource tree; a named
        entry's name is its string, an unnamed one's its number."""
        if len(self.directories) < 3 or self.directories[2][0] == 0:
            return []
        root = self.directories[2][0]

        def entries(directory):
            _, _, _, _, named, numbered = self.read("<IIHHHH", root + directory)
            for i in range(named + numbered):
                key, target = self.read("<II", root + directory + 16 + 8 * i)
                if key & 0x80000000:
                    (length,) = self.read("<H", root + (key & 0x7FFFFFFF))
                    raw = self.bytes_at(root + (key & 0x7FFFFFFF) + 2, 2 * length)
                    key = raw.decode("utf-16-le", "replace")
                yield key, target

        found = []
        # The tree has three levels, type, name and language; a branch is
        # marked by the high bit of its offset.
        for rtype, names in entries(0):
            if not names & 0x80000000:
                raise PeError("resource type %r is not a directory" % (rtype,))
            for name, languages in entries(names & 0x7FFFFFFF):
                if not languages & 0x80000000:
                    raise PeError("resource %r/%r is not a directory" % (rtype, name))
                for language, leaf in entries(languages & 0x7FFFFFFF):
                    if leaf & 0x80000000:
                        raise PeError("resource %r/%r nests too deep" % (rtype, name))
                    rva, size, _, _ = self.read("<IIII", root + leaf)
                    found.append((rtype, name, language, self.bytes_at(rva, size)))
        return found


def check_headers(pe, machine):
    """Machine, PE32 or PE32+, and the GUI subsystem."""
    coff_machine, magic, _ = MACHINES[machine]
    faults = []
    if pe.machine != coff_machine:
        faults.append("machine is 0x%X, expected 0x%X (%s)" % (pe.machine, coff_machine, machine))
    if pe.magic != magic:
        faults.append("optional header is %s, expected %s"
                      % ("PE32+" if pe.magic == 0x20B else "PE32",
                         "PE32+" if magic == 0x20B else "PE32"))
    if pe.subsystem != SUBSYSTEM_WINDOWS_GUI:
        faults.append("subsystem is %d, expected %d (Windows GUI)"
                      % (pe.subsystem, SUBSYSTEM_WINDOWS_GUI))
    return faults


def check_release_build(pe, size, max_bytes):
    """No link time (two builds must be the same file), no symbols, no debug
    sections, and at most `max_bytes` bytes when that is given."""
    faults = []
    if pe.timestamp != 0:
        faults.append("the header holds a link time (0x%08X)" % pe.timestamp)
    if pe.symbol_count:
        faults.append("carries a symbol table of %d symbols" % pe.symbol_count)
    debug = [name for name in pe.section_names if name.startswith(".debug")]
    if debug:
        faults.append("carries debug sections %s" % debug)
    if max_bytes is not None and size > max_bytes:
        faults.append("is %d bytes, more than the limit of %d" % (size, max_bytes))
    return faults


def check_imports(pe):
    """Only system DLLs, and SetDefaultDllDirectories from KERNEL32."""
    imports = {dll.lower(): names for dll, names in pe.imports().items()}
    faults = ["imports the non-system DLL %s" % dll for dll in sorted(imports)
              if dll not in SYSTEM_DLLS and not dll.startswith(SYSTEM_DLL_PREFIX)]
    if "SetDefaultDllDirectories" not in imports.get("kernel32.dll", []):
        faults.append("does not import SetDefaultDllDirectories from KERNEL32.dll")
    return faults


def _type_name(rtype):
    return RESOURCE_TYPE_NAMES.get(rtype, str(rtype))


def _icon_image_fault(ident, data, width, height, bits):
    """Why the RT_ICON image `data` is not a width x height image at `bits`, or None."""
    if width == 256:
        if data[:8] != PNG_SIGNATURE:
            return "icon image %d (256x256) is not PNG data" % ident
        if len(data) < 26 or data[12:16] != b"IHDR":
            return "icon image %d has no PNG header" % ident
        png_width, png_height, depth, colour_type = struct.unpack_from(">IIBB", data, 16)
        # Colour type 6 is RGBA; at 8 bits per sample that is 32 bits per pixel.
        if (png_width, png_height, depth, colour_type) != (256, 256, 8, 6):
            return ("icon image %d is a %dx%d PNG of depth %d, colour type %d, "
                    "expected 256x256 RGBA at 8 bits"
                    % (ident, png_width, png_height, depth, colour_type))
        return None
    if len(data) < 40:
        return "icon image %d is too short for a bitmap header" % ident
    size, dib_width, dib_height, _, dib_bits = struct.unpack_from("<IiiHH", data)
    # An icon bitmap's height counts its colour bits and its AND mask.
    if (size, dib_width, dib_height, dib_bits) != (40, width, 2 * height, bits):
        return ("icon image %d is a %dx%d bitmap at %d bits, expected %dx%d at %d"
                % (ident, dib_width, dib_height // 2, dib_bits, width, height, bits))
    return None


def check_icons(resources):
    """The group "APP" lists the nine images, each stored as an RT_ICON."""
    groups = [r for r in resources if r[0] == RT_GROUP_ICON]
    if len(groups) != 1 or not isinstance(groups[0][1], str) or groups[0][1].upper() != "APP":
        return ["icon groups are %s, expected exactly one named APP"
                % [name for _, name, _, _ in groups]]
    data = groups[0][3]
    reserved, kind, count = struct.unpack_from("<HHH", data)
    if (reserved, kind) != (0, 1) or len(data) != 6 + 14 * count:
        return ["icon group APP is not an icon directory of %d entries" % count]
    icons = {name: image for rtype, name, _, image in resources if rtype == RT_ICON}
    faults = []
    listed = []
    used = set()
    for i in range(count):
        width, height, _, _, _, bits, size, ident = struct.unpack_from(
            "<BBBBHHIH", data, 6 + 14 * i)
        # A width or height of 256 is written as 0.
        width, height = width or 256, height or 256
        listed.append((width, height, bits))
        if ident not in icons:
            faults.append("icon group APP names icon image %d, which is missing" % ident)
            continue
        used.add(ident)
        if len(icons[ident]) != size:
            faults.append("icon image %d holds %d bytes, the group says %d"
                          % (ident, len(icons[ident]), size))
        fault = _icon_image_fault(ident, icons[ident], width, height, bits)
        if fault:
            faults.append(fault)
    if sorted(listed) != ICON_IMAGES:
        faults.append("icon group APP lists %s, expected %s" % (sorted(listed), ICON_IMAGES))
    unused = sorted((name for name in icons if name not in used), key=str)
    if unused:
        faults.append("icon images %s belong to no group" % unused)
    return faults


def _local(tag):
    """An element's name without its namespace."""
    return tag.rsplit("}", 1)[-1]


def check_manifest(resources, machine):
    """One manifest, id 1, asking for highestAvailable without UI access."""
    manifests = [r for r in resources if r[0] == RT_MANIFEST]
    if [name for _, name, _, _ in manifests] != [1]:
        return ["manifests are %s, expected exactly one with id 1"
                % [name for _, name, _, _ in manifests]]
    try:
        assembly = ElementTree.fromstring(manifests[0][3])
    except ElementTree.ParseError as error:
        return ["the manifest is not well-formed XML: %s" % error]
    faults = []
    identity = [e for e in assembly if _local(e.tag) == "assemblyIdentity"]
    expected = {"type": "win32", "version": "1.0.0.0",
                "processorArchitecture": MACHINES[machine][2]}
    if len(identity) != 1:
        faults.append("the manifest has %d assemblyIdentity elements, expected 1" % len(identity))
    else:
        for attribute, value in expected.items():
            if identity[0].get(attribute) != value:
                faults.append("the manifest's assembly %s is %r, expected %r"
                              % (attribute, identity[0].get(attribute), value))
    levels = []
    for trust in assembly:
        if _local(trust.tag) != "trustInfo":
            continue
        for security in trust:
            for privileges in security:
                if (_local(security.tag), _local(privileges.tag)) == \
                        ("security", "requestedPrivileges"):
                    levels += [e for e in privileges
                               if _local(e.tag) == "requestedExecutionLevel"]
    if len(levels) != 1:
        faults.append("the manifest has %d requestedExecutionLevel elements in "
                      "trustInfo/security/requestedPrivileges, expected 1" % len(levels))
    elif (levels[0].get("level"), levels[0].get("uiAccess")) != ("highestAvailable", "false"):
        faults.append("the manifest requests level %r with uiAccess %r, expected "
                      "'highestAvailable' and 'false'"
                      % (levels[0].get("level"), levels[0].get("uiAccess")))
    return faults + _common_controls_faults(assembly) + _dpi_faults(assembly)


def _common_controls_faults(assembly):
    """The manifest depends on the Common Controls 6 for any processor."""
    dependencies = [identity
                    for dependency in assembly if _local(dependency.tag) == "dependency"
                    for dependent in dependency if _local(dependent.tag) == "dependentAssembly"
                    for identity in dependent if _local(identity.tag) == "assemblyIdentity"]
    named = [d for d in dependencies if d.get("name") == COMMON_CONTROLS["name"]]
    if len(named) != 1:
        return ["the manifest has %d dependencies on %s, expected 1"
                % (len(named), COMMON_CONTROLS["name"])]
    return ["the manifest's dependency on %s has %s %r, expected %r"
            % (COMMON_CONTROLS["name"], attribute, named[0].get(attribute), value)
            for attribute, value in COMMON_CONTROLS.items() if named[0].get(attribute) != value]


def _dpi_faults(assembly):
    """application/windowsSettings declares per-monitor DPI awareness, in
    the current element and the older one."""
    settings = [setting
                for application in assembly if application.tag == "{%s}application" % ASM_V3
                for windows in application if windows.tag == "{%s}windowsSettings" % ASM_V3
                for setting in windows]
    faults = []
    for namespace, element, text in DPI_SETTINGS:
        found = [s for s in settings if s.tag == "{%s}%s" % (namespace, element)]
        if len(found) != 1:
            faults.append("the manifest has %d %s elements in application/windowsSettings "
                          "of namespace %s, expected 1" % (len(found), element, namespace))
        elif (found[0].text or "").strip() != text:
            faults.append("the manifest's %s is %r, expected %r"
                          % (element, (found[0].text or "").strip(), text))
    return faults


def check_resources(pe, machine):
    """Icons and the manifest, and no other resource."""
    resources = pe.resources()
    faults = ["unexpected resource type %s" % _type_name(t)
              for t in sorted({r[0] for r in resources}, key=str)
              if t not in (RT_ICON, RT_GROUP_ICON, RT_MANIFEST)]
    seen = set()
    for rtype, name, _, _ in resources:
        if (rtype, name) in seen:
            faults.append("resource %s %r exists in more than one language"
                          % (_type_name(rtype), name))
        seen.add((rtype, name))
    return faults + check_icons(resources) + check_manifest(resources, machine)


def check(data, machine, max_bytes=None):
    """Every fault of the program image `data`, as messages; empty when it passes."""
    try:
        pe = PeFile(data)
        return (check_headers(pe, machine) + check_release_build(pe, len(data), max_bytes)
                + check_imports(pe) + check_resources(pe, machine))
    except (PeError, struct.error) as error:
        return ["not a readable PE file: %s" % error]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    parser.add_argument("--max-bytes", type=int, help="the largest size the program may have")
    parser.add_argument("program")
    args = parser.parse_args(argv)
    with open(args.program, "rb") as program:
        faults = check(program.read(), args.machine, args.max_bytes)
    for fault in faults:
        print("%s: %s" % (args.program, fault), file=sys.stderr)
    if faults:
        return 1
    print("%s: fit to ship (%s)" % (args.program, args.machine))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
