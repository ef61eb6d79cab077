#!/usr/bin/env python3
"""A patch signed after packing: the signature covers the package, and the
signed patch applies its files under Wine just as the unsigned one does.

The native program packs a source tree with set times onto the 64-bit
Windows program; the result is signed with osslsigncode and a self-signed
code-signing certificate made here. The test checks that the signature
verifies and that one changed byte of the package breaks it, and that the
native program's verifier accepts the signed patch but refuses one packed
after signing, whose package the signature does not cover; then runs the
bare program, the unsigned patch and the signed patch under Wine, reading
their message boxes from Wine's relay trace, and compares the files that
each patch wrote with the source tree.

Usage: signed_patch_test.py --program QuorvaneUpdate.exe --wine-prefix DIR
The environment variable QUORVANE_NATIVE_PROGRAM names the native program;
CMake sets it.
"""
import argparse
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

# The end-to-end harness runs the program under Wine and builds the patches.
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "e2e"))
from harness import CONFIRMATION, UPDATE_COMPLETE, Program  # noqa: E402
from patch_tree import SAMPLE_TREE, differences, native_program, package_path, read_package  # noqa: E402
from patch_tree import pack, write_source_tree  # noqa: E402
from wine_backend import WineBackend  # noqa: E402

ENGINE = "zanthe.exe"
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


def verifies(signed, certificate):
    return run(["osslsigncode", "verify", "-CAfile", certificate, "-in", signed]).returncode == 0


def check_publisher_tool(tool, option, patch, exit_code, reason):
    """Runs the native program's `option` on `patch`; it must end with
    `exit_code` and name `reason` in what it printed. Returns its output."""
    result = run([tool, option, patch])
    printed = (result.stdout + result.stderr).decode(errors="replace")
    if result.returncode != exit_code or reason not in printed:
        fail(f"quorvane-update {option} {patch.name} ended with {result.returncode}, expected {exit_code} "
             f"naming {reason!r}:\n{printed}")
    return result.stdout


def shown(boxes):
    return " then ".join(box.text for box in boxes) or "no message box"


def apply_in_new_game(program, patch, game):
    """Runs `patch` from a new game folder `game`, found as the current
    directory, and returns the boxes it showed."""
    game.mkdir()
    (game / ENGINE).write_bytes(b"")
    result = program.run([], cwd=game, executable=patch)
    if result.exit_code != 0:
        fail(f"{patch.name} ended with {result.exit_code} under Wine")
    return result.boxes


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", type=Path, required=True)
    parser.add_argument("--wine-prefix", type=Path, required=True)
    args = parser.parse_args()
    require_tools("openssl", "osslsigncode", "wine", "wineboot", "wineserver")
    try:
        native_program()
    except RuntimeError as missing:
        fail(str(missing))
    program = Program(WineBackend(args.program, "wine", args.wine_prefix), under_wine=True)
    program.set_install_dir(None)  # the game is the current directory
    program_bytes = args.program.read_bytes()

    with tempfile.TemporaryDirectory() as temporary:
        work = Path(temporary)
        certificate, key = make_certificate(work)
        write_source_tree(work / "publisher", SAMPLE_TREE)
        patch = program.make_patch(work, work / "publisher")
        signed, tampered = work / "signed.exe", work / "tampered.exe"
        patch_bytes = patch.read_bytes()
        packed = sorted(record.path for record in read_package(patch_bytes))
        if packed != sorted(package_path(file) for file in SAMPLE_TREE):
            fail(f"the package holds {packed}, not the source tree")

        run_checked(["osslsigncode", "sign", "-certs", certificate, "-key", key, "-h", "sha256",
                     "-n", "Quorvane patch", "-in", patch, "-out", signed])
        signed_bytes = signed.read_bytes()
        # Signing rewrites only header fields and appends its table after the
        # package, so the package keeps its place, now inside the signed range.
        package_start, package = len(program_bytes), patch_bytes[len(program_bytes):]
        if signed_bytes[package_start:package_start + len(package)] != package:
            fail("the package moved or changed when the patch was signed")
        if len(signed_bytes) <= len(patch_bytes):
            fail("signing appended no certificate table")
        if not verifies(signed, certificate):
            fail("osslsigncode verify rejects the signed patch")

        changed = bytearray(signed_bytes)
        changed[package_start + len(package) // 2] ^= 0x01
        tampered.write_bytes(changed)
        if verifies(tampered, certificate):
            fail("osslsigncode verify accepts a patch whose package was changed after signing")

        tool = native_program()
        check_publisher_tool(tool, "--verify", patch, 0, "not signed")
        check_publisher_tool(tool, "--verify", signed, 0, "the signature covers the package")
        listed = [check_publisher_tool(tool, "--list", carrier, 0, f"{len(SAMPLE_TREE)} files")
                  for carrier in (patch, signed)]
        if listed[0] != listed[1]:
            fail(f"the signed patch lists\n{listed[1].decode()}\nthe unsigned one\n{listed[0].decode()}")
        signed_first = work / "signed-first.exe"
        run_checked(["osslsigncode", "sign", "-certs", certificate, "-key", key, "-h", "sha256",
                     "-in", args.program, "-out", signed_first])
        pack(work / "publisher", signed_first)
        check_publisher_tool(tool, "--verify", signed_first, 1, "appended after the patch was signed")

        bare = apply_in_new_game(program, args.program, work / "bare")
        if bare != [CONFIRMATION]:
            fail(f"the bare program, which carries no package, showed {shown(bare)}; "
                 f"expected only {CONFIRMATION.text}")
        for name, carrier in (("unsigned", patch), ("signed", signed)):
            game = work / f"game-{name}"
            boxes = apply_in_new_game(program, carrier, game)
            expected = [CONFIRMATION, UPDATE_COMPLETE]
            if boxes != expected:
                fail(f"the {name} patch showed {shown(boxes)}; expected {shown(expected)}")
            wrong = differences(game, SAMPLE_TREE)
            if wrong:
                fail(f"the {name} patch wrote its files wrongly:\n" + "\n".join(wrong))
    print("signed patch verifies, detects a changed package, and applies its files under Wine")


if __name__ == "__main__":
    main()
