"""What one run of the program showed: its message boxes, its debugger trace
and its exit code, in the same form for the native and the Windows program."""
from dataclasses import dataclass

MB_YESNO = 0x04
MB_ICONERROR = 0x10
MB_ICONQUESTION = 0x20
MB_ICONINFORMATION = 0x40
ICON_MASK = 0xF0

ERROR_CAPTION = "ERROR"
CAPTION = "『Quorvane』更新プログラム"


@dataclass(frozen=True)
class Box:
    """One message box: its text, its caption and its MessageBoxW style."""
    text: str
    caption: str
    style: int

    def is_error(self):
        """True for a box that reports an error or a failure: the native
        program writes it to standard error and then exits with 1."""
        return self.caption == ERROR_CAPTION or self.style & ICON_MASK == MB_ICONERROR


class TraceCut(Exception):
    """Wine cut a trace line in its relay trace, so the trace is incomplete."""


class Result:
    """The outcome of one run.

    exit_code: the process exit code.
    boxes: the message boxes in the order shown, as `Box`es.
    trace: the debugger output split into lines, without their line ends.
      Reading it raises `TraceCut` when Wine cut a line (it writes at most
      about 290 characters of a string, escapes counted), so that a test never
      compares a shortened line.
    stdout, stderr: the raw output, decoded as UTF-8.
    """

    def __init__(self, exit_code, boxes, trace, stdout, stderr, trace_cut=False):
        self.exit_code = exit_code
        self.boxes = boxes
        self._trace = trace
        self._trace_cut = trace_cut
        self.stdout = stdout
        self.stderr = stderr

    @property
    def trace(self):
        if self._trace_cut:
            raise TraceCut("Wine cut a line of the debugger output; keep traced paths shorter")
        return self._trace

    def __repr__(self):
        return f"Result(exit_code={self.exit_code}, boxes={self.boxes!r}, trace={self._trace!r})"
