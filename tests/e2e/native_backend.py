"""Runs the native program and reads its message boxes from the terminal
lines of the POSIX platform layer; gives it a private registry in a Wine
prefix of its own."""
import os
import re
import selectors
import shlex
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

from run_result import (CAPTION, ERROR_CAPTION, MB_ICONERROR, MB_ICONINFORMATION,
                        MB_ICONQUESTION, MB_YESNO, Box, Result)

QUESTION_END = " [Y/n] "
# A line on standard error is a box when it starts with one of the program's
# captions; everything else there is debugger output.
BOX_LINE = re.compile(f"^({re.escape(ERROR_CAPTION)}|{re.escape(CAPTION)}): (.*)$")
# The sanitizers and valgrind end the program with this code when they report
# (CMakePresets.json, scripts/memcheck.sh), so that a report is never taken
# for the program's own exit code 0 or 1.
CHECKER_EXIT_CODE = 86


def checker_command():
    """QUORVANE_CHECKER: a command that the program runs under, such as
    valgrind with its options; none when it is empty or unset."""
    return shlex.split(os.environ.get("QUORVANE_CHECKER", ""))


def infer_style(caption, stream, asked):
    """The style that the POSIX layer's routing implies: the question is
    Yes/No, an "ERROR" box on standard error has only an OK button, other
    boxes there the error icon, boxes on standard output the information
    icon. For the program's own boxes this is exactly the style it passes,
    so a box sent to the wrong stream shows up as a wrong style."""
    if asked:
        return MB_YESNO | MB_ICONQUESTION
    if stream == "stderr":
        return 0 if caption == ERROR_CAPTION else MB_ICONERROR
    return MB_ICONINFORMATION


def box_from_line(line, stream, asked=False):
    caption, _, text = line.partition(": ")
    return Box(text, caption, infer_style(caption, stream, asked))


def stdout_boxes(text):
    """(boxes before the question, the question or None, boxes after it)."""
    before, question, after = [], None, []
    # The question ends in QUESTION_END without a line end, so the next box
    # follows on the same line.
    pieces = re.split(f"(\n|{re.escape(QUESTION_END)})", text)
    for line, end in zip(pieces[::2], pieces[1::2] + [""]):
        if end == QUESTION_END and question is None:
            question = box_from_line(line, "stdout", asked=True)
        elif line:
            (before if question is None else after).append(box_from_line(line, "stdout"))
    return before, question, after


def split_stderr(text):
    """(boxes, debugger output lines) of a stretch of standard error."""
    boxes, trace = [], []
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    for line in lines:
        if BOX_LINE.match(line):
            boxes.append(box_from_line(line, "stderr"))
        else:
            trace.append(line)
    return boxes, trace


def read_available(fd):
    """Everything the pipe holds right now, without waiting."""
    data = bytearray()
    while True:
        try:
            chunk = os.read(fd, 65536)
        except BlockingIOError:
            return bytes(data)
        if not chunk:
            return bytes(data)
        data.extend(chunk)


def answer_question(stdin, answer):
    """Types `answer` and a line end, or ends the input when it is None."""
    try:
        if answer is not None:
            stdin.write(answer.encode() + b"\n")
        stdin.close()
    except BrokenPipeError:
        pass  # the program ended without reading; its exit code tells why


def communicate(command, executable, cwd, env, answer, timeout):
    """Runs the program, answers its question once it is asked and returns
    (exit code, stdout, stderr, length of stderr when the question came or
    None). The program waits for the answer, so everything it wrote to
    standard error by then belongs before the question."""
    process = subprocess.Popen(command, executable=executable, cwd=cwd, env=env,
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = bytearray(), bytearray()
    outputs = {process.stdout.fileno(): out, process.stderr.fileno(): err}
    question_at = None
    deadline = time.monotonic() + timeout
    with selectors.DefaultSelector() as selector:
        for fd in outputs:
            os.set_blocking(fd, False)
            selector.register(fd, selectors.EVENT_READ)
        while selector.get_map():
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                process.kill()
                process.wait()
                raise TimeoutError(f"{command} ran longer than {timeout} s")
            for key, _ in selector.select(remaining):
                chunk = os.read(key.fd, 65536)
                if chunk:
                    outputs[key.fd].extend(chunk)
                else:
                    selector.unregister(key.fd)
            if question_at is None and out.endswith(QUESTION_END.encode()):
                err.extend(read_available(process.stderr.fileno()))
                question_at = len(err)
                answer_question(process.stdin, answer)
    if not process.stdin.closed:
        process.stdin.close()
    exit_code = process.wait(max(deadline - time.monotonic(), 1))
    process.stdout.close()
    process.stderr.close()
    return exit_code, bytes(out), bytes(err), question_at


def wine_escape(value):
    """`value` as Wine writes a string in user.reg: backslash and quote
    escaped, every UTF-16 unit outside printable ASCII as \\x and 4 digits."""
    data = value.encode("utf-16-le")
    out = []
    for unit in (int.from_bytes(data[i:i + 2], "little") for i in range(0, len(data), 2)):
        if chr(unit) in '\\"':
            out.append("\\" + chr(unit))
        elif 0x20 <= unit < 0x7F:
            out.append(chr(unit))
        else:
            out.append(f"\\x{unit:04x}")
    return "".join(out)


class NativeBackend:
    """The native program with a Wine prefix of its own, made of a user.reg
    and the drive links c: and z:, so that a registry value resolves as it
    would for the Windows program in a prefix."""

    def __init__(self, program):
        self.program = Path(program)
        self._prefix = Path(tempfile.mkdtemp(prefix="quorvane-e2e-prefix-"))
        self.drive_c = self._prefix / "drive_c"
        self.drive_c.mkdir()
        (self._prefix / "dosdevices").mkdir()
        (self._prefix / "dosdevices" / "c:").symlink_to("../drive_c")
        (self._prefix / "dosdevices" / "z:").symlink_to("/")
        self.set_install_dir(None)

    def close(self):
        shutil.rmtree(self._prefix, ignore_errors=True)

    def set_install_dir(self, value):
        lines = ["WINE REGISTRY Version 2", ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000", ""]
        if value is not None:
            lines += ["[Software\\\\norvik\\\\Quorvane] 1700000000",
                      f'"InstallDir"="{wine_escape(value)}"', ""]
        (self._prefix / "user.reg").write_text("\n".join(lines) + "\n", encoding="utf-8")

    @staticmethod
    def path_as_seen(path):
        # The POSIX layer gives Unix paths in Windows form, without a drive.
        return str(Path(path).absolute()).replace("/", "\\")

    @staticmethod
    def path_as_traced(path):
        # The trace names Unix paths as Unix does.
        return str(Path(path).absolute())

    def run(self, executable, args, cwd, answer, env, program_word, timeout):
        environment = {**os.environ, **env, "WINEPREFIX": str(self._prefix)}
        if "LD_PRELOAD" in env:
            # A library preloaded into a program built with AddressSanitizer
            # comes before the sanitizer's runtime, which it then refuses.
            asan_options = [environment.get("ASAN_OPTIONS", ""), "verify_asan_link_order=0"]
            environment["ASAN_OPTIONS"] = ":".join(option for option in asan_options if option)
        # A checker cannot give the program a word 0 other than its path, so
        # a run with its own word 0 goes without one.
        checker = [] if program_word else checker_command()
        command = [*checker, program_word or str(executable), *map(str, args)]
        exit_code, out, err, question_at = communicate(command, None if checker else executable,
                                                       cwd, environment, answer, timeout)
        stdout, stderr = out.decode(errors="replace"), err.decode(errors="replace")
        if exit_code == CHECKER_EXIT_CODE:
            raise AssertionError(f"a memory checker reported an error in {command}:\n{stderr}")
        before_out, question, after_out = stdout_boxes(stdout)
        split = len(err) if question_at is None else question_at
        before_err, trace = split_stderr(err[:split].decode(errors="replace"))
        after_err, trace_after = split_stderr(err[split:].decode(errors="replace"))
        # Across the two streams the order is known only at the question;
        # on each side of it standard output's boxes are listed first.
        boxes = before_out + before_err + ([question] if question else []) + after_out + after_err
        return Result(exit_code, boxes, trace + trace_after, stdout, stderr)
