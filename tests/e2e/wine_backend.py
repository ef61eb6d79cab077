"""Runs the Windows program under Wine, headless, in a private prefix, and
reads its message boxes and debugger output from Wine's relay trace. The
dialogue tests (tests/dialogue) run it on a display through the same backend.

Run as a script, it prepares the prefix that its argument names: the
end-to-end tests' CTest fixture does that once, before the tests run.
Usage: wine_backend.py PREFIX
"""
import contextlib
import os
import re
import selectors
import subprocess
import sys
import tempfile
from pathlib import Path

from run_result import Box, Result

# The relay trace shows only the calls that make up what the program shows.
RELAY_INCLUDE = "user32.MessageBoxW;kernel32.OutputDebugStringW;kernel32.OutputDebugStringA"
INSTALL_KEY = r"HKCU\Software\norvik\Quorvane"
SERVER_LINGER = 60  # seconds
TOOL_TIMEOUT = 300  # seconds; the first start of a new prefix takes about 10
HOLD_TIMEOUT = 60  # seconds for the file holder to open its file

# A string argument as the relay trace writes it; Wine ends a cut one in "...".
STRING = r'(L?"(?:[^"\\]|\\.)*")(\.\.\.)?'
MESSAGE_BOX_CALL = re.compile(
    rf"^[0-9a-f]+:Call (?i:user32)\.MessageBoxW\([0-9a-f]+,[0-9a-f]+ {STRING},[0-9a-f]+ {STRING},([0-9a-f]+)\)")
DEBUG_STRING_CALL = re.compile(rf"^[0-9a-f]+:Call (?i:kernel32)\.OutputDebugString[AW]\([0-9a-f]+ {STRING}\)")
# Wine writes \n, \r, \t, \" and \\ for those characters; every other unit
# outside printable ASCII as \ and four hex digits in a wide string and as
# \x and two in a narrow one.
WIDE_ESCAPE = re.compile(r"\\([0-9a-fA-F]{4}|.)")
NARROW_ESCAPE = re.compile(r"\\(x[0-9a-fA-F]{2}|.)")
NAMED_ESCAPES = {"n": "\n", "r": "\r", "t": "\t"}


def wine_environment(prefix, extra=None):
    """The environment of every Wine command: the private prefix, quiet, no
    Mono or Gecko installer, no display unless `extra` names one (DISPLAY),
    and UTF-8 command-line words."""
    environment = {**os.environ, **(extra or {}), "WINEPREFIX": str(prefix), "WINEDEBUG": "-all",
                   "WINEDLLOVERRIDES": "mscoree,mshtml=", "LC_ALL": "C.UTF-8"}
    # Without a display Wine's message boxes show nothing and return at once.
    if "DISPLAY" not in (extra or {}):
        environment.pop("DISPLAY", None)
    environment.pop("WAYLAND_DISPLAY", None)
    return environment


def run_wine(command, env, timeout, cwd=None):
    """(exit code, stdout, stderr) of a Wine command. The output goes through
    files, not pipes: the wineserver and the services that a command starts
    inherit its output and linger for seconds after it has ended."""
    with tempfile.TemporaryFile() as stdout, tempfile.TemporaryFile() as stderr:
        exit_code = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=stdout,
                                   stderr=stderr, timeout=timeout).returncode
        stdout.seek(0)
        stderr.seek(0)
        return exit_code, stdout.read().decode(errors="replace"), stderr.read().decode(errors="replace")


def run_tool(command, prefix, accept=lambda output: False, extra=None):
    """Runs a Wine tool, with the environment variables `extra`; fails unless
    it succeeds or `accept` takes its output."""
    exit_code, stdout, stderr = run_wine(command, wine_environment(prefix, extra), TOOL_TIMEOUT)
    if exit_code != 0 and not accept(stdout + stderr):
        raise RuntimeError(f"{command} ended with {exit_code}:\n{stdout}{stderr}")


def is_prepared(prefix):
    user_reg = prefix / "user.reg"
    return ((prefix / "system.reg").exists() and user_reg.exists()
            and f'"RelayInclude"="{RELAY_INCLUDE}"' in user_reg.read_text(errors="replace"))


def prepare(prefix, emulator="wine", extra=None):
    """Creates the prefix unless it exists and limits its relay trace to
    RELAY_INCLUDE, running Wine with the environment variables `extra` (a
    prefix that is to show windows is made with DISPLAY set). Quick when the
    prefix is ready."""
    prefix = Path(prefix)
    if is_prepared(prefix):
        return
    prefix.mkdir(parents=True, exist_ok=True)
    if not (prefix / "system.reg").exists():
        run_tool(["wineboot", "-i"], prefix, extra=extra)
    run_tool([emulator, "reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude",
              "/t", "REG_SZ", "/d", RELAY_INCLUDE, "/f"], prefix, extra=extra)
    # The server writes user.reg when it ends; wait for it, so that the next
    # process finds the prefix prepared.
    run_tool(["wineserver", "-w"], prefix, extra=extra)


def decode(literal):
    """The text of a string as the relay trace writes it."""
    if literal.startswith("L"):
        def unit(match):
            escape = match.group(1)
            return chr(int(escape, 16)) if len(escape) == 4 else NAMED_ESCAPES.get(escape, escape)
        units = WIDE_ESCAPE.sub(unit, literal[2:-1])
        # Each character is one UTF-16 unit; pairs of surrogates join here.
        return units.encode("utf-16-le", "surrogatepass").decode("utf-16-le", "replace")

    def byte(match):
        escape = match.group(1)
        return chr(int(escape[1:], 16)) if len(escape) == 3 else NAMED_ESCAPES.get(escape, escape)
    return NARROW_ESCAPE.sub(byte, literal[1:-1]).encode("latin-1").decode("utf-8", "replace")


def parse_relay_trace(stderr):
    """(boxes, debugger output lines, whether a string was cut) from Wine's
    standard error, in the order of the calls."""
    boxes, debug_text, cut = [], [], False
    for line in stderr.splitlines():
        if match := MESSAGE_BOX_CALL.match(line):
            text, text_cut, caption, caption_cut, style = match.groups()
            if text_cut or caption_cut:
                raise ValueError(f"Wine cut a message box's text: {line}")
            boxes.append(Box(decode(text), decode(caption), int(style, 16)))
        elif match := DEBUG_STRING_CALL.match(line):
            debug_text.append(decode(match.group(1)))
            cut = cut or match.group(2) is not None
    trace = "".join(debug_text).split("\n")
    if trace[-1] == "":
        trace.pop()
    return boxes, trace, cut


class WineBackend:
    """The Windows program under `emulator` in the prefix `prefix`, which the
    tests using it share one at a time (CTest's RESOURCE_LOCK). Headless
    unless `display` names an X display, on which every Wine command of the
    backend then runs."""

    def __init__(self, program, emulator, prefix, display=None):
        self.program = Path(program)
        self.emulator = emulator
        self.prefix = Path(prefix)
        self.drive_c = self.prefix / "drive_c"
        self.extra_environment = {"DISPLAY": display} if display else {}
        prepare(self.prefix, emulator, self.extra_environment)
        # Left alone, the prefix's server ends three seconds after its last
        # process and the next command starts a new one; a command that meets
        # the old one on its way down fails. One server for all the commands
        # of a test run, ending SERVER_LINGER seconds after the last.
        subprocess.run(["wineserver", f"-p{SERVER_LINGER}"],
                       env=wine_environment(self.prefix, self.extra_environment),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=TOOL_TIMEOUT, check=False)
        self._install_dir = object()  # not known until it is first set

    def close(self):
        pass  # the prefix is kept for the next test

    def set_install_dir(self, value):
        if value == self._install_dir:
            return  # each Wine command costs a second or more
        if value is None:
            run_tool([self.emulator, "reg", "delete", INSTALL_KEY, "/f"], self.prefix,
                     accept=lambda output: "Unable to find" in output, extra=self.extra_environment)
        else:
            run_tool([self.emulator, "reg", "add", INSTALL_KEY, "/v", "InstallDir", "/t", "REG_SZ",
                      "/d", value, "/f"], self.prefix, extra=self.extra_environment)
        self._install_dir = value

    @staticmethod
    def path_as_seen(path):
        # Wine maps the Unix root to drive Z:.
        return "Z:" + str(Path(path).absolute()).replace("/", "\\")

    # The Windows program's trace names paths as it sees them.
    path_as_traced = path_as_seen

    @contextlib.contextmanager
    def held_open(self, path):
        """Runs the file holder named by QUORVANE_HOLD_FILE (hold_file.c) on
        `path` while the block runs: a second Windows process, since Wine
        enforces sharing modes only between its own processes."""
        holder = os.environ.get("QUORVANE_HOLD_FILE")
        if not holder:
            raise RuntimeError("QUORVANE_HOLD_FILE must name the file holder")
        with tempfile.TemporaryFile() as errors:
            process = subprocess.Popen([self.emulator, holder, self.path_as_seen(path)],
                                       env=wine_environment(self.prefix), stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, stderr=errors)
            try:
                # The holder says "held" once the file is open. Wine's server
                # may inherit the pipe and keep it open, so wait with a
                # deadline rather than for the end of the output.
                with selectors.DefaultSelector() as selector:
                    selector.register(process.stdout, selectors.EVENT_READ)
                    line = process.stdout.readline() if selector.select(HOLD_TIMEOUT) else b""
                if line.strip() != b"held":
                    process.kill()
                    errors.seek(0)
                    raise RuntimeError(f"the file holder did not hold {path}: {line!r} "
                                       f"{errors.read().decode(errors='replace')}")
                yield
            finally:
                process.stdin.close()  # ends the holder, which closes the file
                process.wait(HOLD_TIMEOUT)
                process.stdout.close()

    @contextlib.contextmanager
    def held_briefly(self, path, share, after, delay_ms, hold_ms):
        """Runs the file holder on `path` as a scanner's brief hold, beside
        the block: once the file `after` exists (None: at once) and
        `delay_ms` more have passed, it opens `path` with the sharing mode
        `share` ("none", "read" or "read-delete") as soon as it can and
        keeps it open `hold_ms`. Yields a function that tells, after the
        block, whether the holder held the file."""
        holder = os.environ.get("QUORVANE_HOLD_FILE")
        if not holder:
            raise RuntimeError("QUORVANE_HOLD_FILE must name the file holder")
        command = [self.emulator, holder, share, self.path_as_seen(after) if after else "-",
                   str(delay_ms), str(hold_ms), self.path_as_seen(path)]
        process = subprocess.Popen(command, env=wine_environment(self.prefix), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        said = []
        try:
            # The block starts once the holder watches for its file.
            with selectors.DefaultSelector() as selector:
                selector.register(process.stdout, selectors.EVENT_READ)
                first = process.stdout.readline() if selector.select(HOLD_TIMEOUT) else b""
            if first.strip() != b"waiting":
                process.kill()
                raise RuntimeError(f"the file holder did not start: {first!r}")
            yield lambda: said == [b"held", b"released"]
        finally:
            said.extend(process.communicate(timeout=HOLD_TIMEOUT)[0].split())

    def run(self, executable, args, cwd, answer, env, program_word, timeout):
        # Headless, MessageBoxW shows nothing and returns -1, which the
        # program takes as Yes: `answer` has nothing to answer here.
        if program_word is not None:
            raise ValueError("under Wine the first word of the command line is Wine's to choose")
        environment = wine_environment(self.prefix, env)
        environment["WINEDEBUG"] = "-all,+relay"
        exit_code, stdout, stderr = run_wine([self.emulator, str(executable), *map(str, args)],
                                             environment, timeout, cwd)
        boxes, trace, cut = parse_relay_trace(stderr)
        return Result(exit_code, boxes, trace, stdout, stderr, trace_cut=cut)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    prepare(Path(sys.argv[1]), os.environ.get("QUORVANE_EMULATOR") or "wine")
