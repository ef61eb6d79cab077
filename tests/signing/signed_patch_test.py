#!/usr/bin/env python3
"""A patch signed after packing: the signature covers the package, and the
signed patch still finds its package when it runs under Wine.

Packs onto the 64-bit Windows program, signs the result with osslsigncode and
a self-signed code-signing certificate made here, checks that the signature
verifies and that one changed byte of the package breaks it, then runs the
bare program and the signed patch under Wine and reads their message boxes
from Wine's relay trace of user32.MessageBoxW.

Usage: signed_patch_test.py --program QuorvaneUpdate.exe --wine-prefix DIR
The environment variable QUORVANE_NATIVE_PROGRAM, when set, names the native
program, which then packs the patch; otherwise the test appends the package.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

CONFIRMATION = "『Quorvane』を更新しますか？"
COMPLETION = "『Quorvane』の更新が完了しました。"
EMPTY_PACKAGE = b"feof\0\0\0\0"  # no records, then the trailer with length 0
TIMEOUT = 300  # seconds for any one tool


def fail(message):
    sys.exit(f"FAIL: {message}")


def require_tools(*names):
    missing = [name for name in names if shutil.which(name) is None]
    if missing:
        fail(f"missing tools: {', '.join(missing)} (Debian packages openssl, osslsigncode, wine)")


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, timeout=TIMEOUT, **kwargs)


def run_checked(command, **kwargs):
    result = run(command, **kwargs)
    if result.returncode != 0:
        fail(f"{' '.join(map(str, command))} ended with {result.returncode}:\n"
             f"{result.stdout.decode(errors='replace')}{result.stderr.decode(errors='replace')}")
    return result


def make_certificate(directory):
    """A self-signed certificate for code signing and its key."""
    certificate, key = directory / "publisher.pem", directory / "publisher.key"
    run_checked(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                 "-subj", "/CN=Quorvane Test Publisher", "-addext", "extendedKeyUsage=codeSigning",
                 "-keyout", key, "-out", certificate])
    return certificate, key


def pack(program, patch, work):
    """Copies the program to `patch` and appends an empty package to it."""
    shutil.copyfile(program, patch)
    native = os.environ.get("QUORVANE_NATIVE_PROGRAM")
    if native:
        # No folder "src" in the working folder: the packer writes a package
        # without records.
        run_checked([native, "-l", patch], cwd=work)
    else:
        with open(patch, "ab") as stream:
            stream.write(EMPTY_PACKAGE)


def verifies(signed, certificate):
    return run(["osslsigncode", "verify", "-CAfile", certificate, "-in", signed]).returncode == 0


def wine_environment(prefix):
    environment = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all",
                       WINEDLLOVERRIDES="mscoree,mshtml=")
    environment.pop("DISPLAY", None)  # headless: message boxes fail and return at once
    environment.pop("WAYLAND_DISPLAY", None)
    return environment


def prepare_wine_prefix(prefix):
    """A private prefix whose relay trace shows only user32.MessageBoxW."""
    environment = wine_environment(prefix)
    if not (prefix / "system.reg").exists():
        prefix.mkdir(parents=True, exist_ok=True)
        run(["wineboot", "-i"], env=environment)
    run_checked(["wine", "reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude",
                 "/t", "REG_SZ", "/d", "user32.MessageBoxW", "/f"], env=environment)
    run(["wineserver", "-w"], env=environment)


def wine_string(text):
    """`text` as Wine 8 writes a wide string in a trace: printable ASCII as
    it is, every other UTF-16 unit as a backslash and four hex digits."""
    units = text.encode("utf-16-le")
    out = []
    for i in range(0, len(units), 2):
        unit = units[i] | units[i + 1] << 8
        out.append(chr(unit) if 0x20 <= unit < 0x7F and chr(unit) not in '"\\' else f"\\{unit:04x}")
    return 'L"' + "".join(out) + '"'


MESSAGE_BOX_CALL = re.compile(r'Call user32\.MessageBoxW\([0-9a-f]+,[0-9a-f]+ (L"(?:[^"\\]|\\.)*")')


def message_boxes(program, prefix, run_folder):
    """Runs `program` in apply mode from `run_folder` and returns the texts of
    its message boxes, in order, as the relay trace writes them."""
    environment = dict(wine_environment(prefix), WINEDEBUG="+relay")
    result = run(["wine", program], cwd=run_folder, env=environment)
    if result.returncode != 0:
        fail(f"{program.name} ended with {result.returncode} under Wine")
    return MESSAGE_BOX_CALL.findall(result.stderr.decode("ascii", errors="replace"))


def shown(boxes):
    return " then ".join(boxes) or "no message box"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", type=Path, required=True)
    parser.add_argument("--wine-prefix", type=Path, required=True)
    args = parser.parse_args()
    require_tools("openssl", "osslsigncode", "wine", "wineboot", "wineserver")
    program_bytes = args.program.read_bytes()

    with tempfile.TemporaryDirectory() as temporary:
        work = Path(temporary)
        certificate, key = make_certificate(work)
        patch, signed, tampered = work / "patch.exe", work / "signed.exe", work / "tampered.exe"
        pack(args.program, patch, work)
        package = patch.read_bytes()[len(program_bytes):]
        if package != EMPTY_PACKAGE:
            fail(f"packing appended {package!r}, not an empty package")

        run_checked(["osslsigncode", "sign", "-certs", certificate, "-key", key, "-h", "sha256",
                     "-n", "Quorvane patch", "-in", patch, "-out", signed])
        signed_bytes = signed.read_bytes()
        # Signing rewrites only header fields and appends its table after the
        # package, so the package keeps its place, now inside the signed range.
        package_start = len(program_bytes)
        if signed_bytes[package_start:package_start + len(package)] != package:
            fail("the package moved or changed when the patch was signed")
        if len(signed_bytes) <= len(patch.read_bytes()):
            fail("signing appended no certificate table")
        if not verifies(signed, certificate):
            fail("osslsigncode verify rejects the signed patch")

        changed = bytearray(signed_bytes)
        changed[package_start + len(package) // 2] ^= 0x01
        tampered.write_bytes(changed)
        if verifies(tampered, certificate):
            fail("osslsigncode verify accepts a patch whose package was changed after signing")

        prepare_wine_prefix(args.wine_prefix)
        run_folder = work / "game"
        run_folder.mkdir()
        (run_folder / "zanthe.exe").write_bytes(b"")  # marks the current folder as the game's
        confirmation, completion = wine_string(CONFIRMATION), wine_string(COMPLETION)

        bare = message_boxes(args.program, args.wine_prefix, run_folder)
        if bare != [confirmation]:
            fail(f"the bare program, which carries no package, showed {shown(bare)}; "
                 f"expected only {confirmation}")
        applied = message_boxes(signed, args.wine_prefix, run_folder)
        if applied != [confirmation, completion]:
            fail(f"the signed patch showed {shown(applied)}; expected {confirmation} then {completion}")
    print("signed patch verifies, detects a changed package, and applies under Wine")


if __name__ == "__main__":
    main()
