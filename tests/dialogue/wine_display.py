"""The Windows program under Wine on a real, if virtual, X display: Xvfb
shows its message boxes, xdotool finds each by its caption and answers it
with a key press, and ImageMagick's import takes its picture. What the boxes
said, and what each returned, is read from Wine's relay trace as the
end-to-end tests read it (see tests/e2e/wine_backend.py).

The prefix is the display's own: a prefix made without a display shows no
boxes at first, so it is made, and its server and every run started, with
DISPLAY set. Wine's own fonts and a Japanese one are copied into the
prefix, and Wine draws the boxes' title bars, since no window manager runs.

Typical use:

    with WineDisplay(program, prefix) as display:
        run = display.start(patch, [], cwd=game)
        window = display.wait_for_box(CAPTION, run)
        display.press(window, "n")
        result = run.finish()       # a Result with the boxes and their answers
"""
import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

from run_result import Result
from wine_backend import WineBackend, parse_relay_trace, run_tool, wine_environment

# Wine's own fonts (Debian package fonts-wine), which it does not find by
# itself here: Tahoma for the boxes' text and Marlett for the title bar's
# buttons; and a Japanese font (fonts-ipafont-gothic) that Tahoma falls back
# to for the characters it lacks. They are copied into the prefix's Fonts.
WINE_FONTS = [Path("/usr/share/wine/fonts", name) for name in ("tahoma.ttf", "marlett.ttf")]
JAPANESE_FONT = Path("/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf")
FONT_LINK_KEY = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink"
FONT_LINK = f"{JAPANESE_FONT.name},IPAGothic"
X11_DRIVER_KEY = r"HKCU\Software\Wine\X11 Driver"
SCREEN = "1024x768x24"

BOX_TIMEOUT = 90  # seconds for a box to appear; the first run in a new prefix takes longest
EXIT_TIMEOUT = 60  # seconds for the program to end once its last box is answered
POLL_INTERVAL = 0.2  # seconds
XDOTOOL_TIMEOUT = 30  # seconds

# What MessageBoxW returned, as the relay trace writes it.
MESSAGE_BOX_RETURN = re.compile(r"^[0-9a-f]+:Ret  (?i:user32)\.MessageBoxW\(.*\) retval=([0-9a-f]+)")
IDOK, IDYES, IDNO = 1, 6, 7


def _xdotool(display, *args):
    """xdotool's output lines; an empty list when it found nothing."""
    result = subprocess.run(["xdotool", *args], env={"DISPLAY": display, "PATH": "/usr/bin:/bin"},
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=XDOTOOL_TIMEOUT,
                            check=False)
    return result.stdout.decode(errors="replace").split()


class ProgramRun:
    """One run of the program that has been started and has not yet been
    waited for. Its output goes to files: a pipe that nobody reads while a
    box waits fills up and stops Wine."""

    def __init__(self, command, environment, cwd):
        self._stdout = tempfile.TemporaryFile()
        self._stderr = tempfile.TemporaryFile()
        self._process = subprocess.Popen(command, cwd=cwd, env=environment, stdin=subprocess.DEVNULL,
                                         stdout=self._stdout, stderr=self._stderr)

    def running(self):
        return self._process.poll() is None

    def finish(self, timeout=EXIT_TIMEOUT):
        """The Result of the run, once the program has ended; its `answers`
        are what each box returned, in order. Kills a program that does not
        end within `timeout` seconds and fails."""
        try:
            exit_code = self._process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise
        stdout, stderr = (self._read(stream) for stream in (self._stdout, self._stderr))
        boxes, trace, cut = parse_relay_trace(stderr)
        result = Result(exit_code, boxes, trace, stdout, stderr, trace_cut=cut)
        result.answers = [int(match.group(1), 16) for line in stderr.splitlines()
                          if (match := MESSAGE_BOX_RETURN.match(line))]
        return result

    def kill(self):
        if self.running():
            self._process.kill()
            self._process.wait()

    @staticmethod
    def _read(stream):
        stream.seek(0)
        text = stream.read().decode(errors="replace")
        stream.close()
        return text


class WineDisplay:
    """An Xvfb display and a Wine prefix whose programs show on it."""

    def __init__(self, program, prefix, emulator="wine"):
        self._xvfb = None
        self.backend = None
        self.display = self._start_xvfb()
        try:
            self.backend = WineBackend(program, emulator, prefix, display=self.display)
            self._prepare_prefix()
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def close(self):
        """Ends the prefix's Wine processes, then the display they show on."""
        if self.backend is not None:
            run_tool(["wineserver", "-k"], self.backend.prefix, accept=lambda output: True,
                     extra=self.backend.extra_environment)
            self.backend = None
        if self._xvfb is not None:
            self._xvfb.terminate()
            self._xvfb.wait(XDOTOOL_TIMEOUT)
            self._xvfb = None

    def _start_xvfb(self):
        """Starts Xvfb on a display number that it picks itself, so that
        displays of other runs on the machine are left alone."""
        read_end, write_end = os.pipe()
        try:
            self._xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN, "-nolisten", "tcp"],
                pass_fds=[write_end], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
            os.close(write_end)
            write_end = None
            with os.fdopen(read_end) as announced:
                read_end = None
                number = announced.readline().strip()
        finally:
            for end in (read_end, write_end):
                if end is not None:
                    os.close(end)
        if not number.isdigit():
            self.close()
            raise RuntimeError("Xvfb did not start; is the Debian package xvfb installed?")
        return ":" + number

    def _prepare_prefix(self):
        """Copies the fonts in, links the Japanese one behind Tahoma, and has
        Wine draw the title bars. Quick when the prefix has them."""
        fonts = self.backend.prefix / "drive_c" / "windows" / "Fonts"
        fonts.mkdir(parents=True, exist_ok=True)
        for font in WINE_FONTS + [JAPANESE_FONT]:
            if not font.exists():
                raise RuntimeError(f"{font} is missing; scripts/install-deps.sh installs it")
            if not (fonts / font.name).exists():
                shutil.copyfile(font, fonts / font.name)
        extra = self.backend.extra_environment
        emulator = self.backend.emulator
        run_tool([emulator, "reg", "add", FONT_LINK_KEY, "/v", "Tahoma", "/t", "REG_MULTI_SZ",
                  "/d", FONT_LINK, "/f"], self.backend.prefix, extra=extra)
        # Wine draws a window's frame and title itself when no window
        # manager is to decorate it.
        run_tool([emulator, "reg", "add", X11_DRIVER_KEY, "/v", "Decorated", "/t", "REG_SZ",
                  "/d", "N", "/f"], self.backend.prefix, extra=extra)

    def start(self, executable, args, cwd):
        """Starts `executable` with the command-line words `args` in `cwd`,
        on the display, with the relay trace on."""
        environment = wine_environment(self.backend.prefix, self.backend.extra_environment)
        environment["WINEDEBUG"] = "-all,+relay"
        return ProgramRun([self.backend.emulator, str(executable), *map(str, args)], environment, cwd)

    def windows_named(self, caption):
        """The ids of the visible windows whose title is exactly `caption`."""
        return _xdotool(self.display, "search", "--onlyvisible", "--name", f"^{re.escape(caption)}$")

    def wait_for_box(self, caption, run, timeout=BOX_TIMEOUT):
        """The id of the box titled `caption` that `run` shows; fails when the
        program ends or `timeout` seconds pass first."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            windows = self.windows_named(caption)
            if windows:
                return windows[0]
            if not run.running():
                raise AssertionError(f"the program ended without showing a box titled {caption!r}")
            time.sleep(POLL_INTERVAL)
        run.kill()
        raise AssertionError(f"no box titled {caption!r} appeared within {timeout} s")

    def press(self, window, key):
        """Gives `window` the keyboard focus (no window manager does) and
        presses `key` (an X key name, e.g. "Return" or "n"); returns once the
        window is gone."""
        _xdotool(self.display, "windowfocus", "--sync", window)
        # A key sent to the window would be a synthetic event, which
        # programs may ignore; this one comes through the keyboard.
        _xdotool(self.display, "key", key)
        deadline = time.monotonic() + XDOTOOL_TIMEOUT
        while window in _xdotool(self.display, "search", "--onlyvisible", "--name", "."):
            if time.monotonic() > deadline:
                raise AssertionError(f"the box {window} is still shown after the key {key}")
            time.sleep(POLL_INTERVAL)

    def capture(self, window, picture):
        """Writes a PNG picture of `window` to `picture`, without the time it
        was taken, so that the same box gives the same file."""
        command = ["import", "-window", window, "-strip", "-define", "png:exclude-chunks=date,time",
                   str(picture)]
        subprocess.run(command, env={"DISPLAY": self.display, "PATH": "/usr/bin:/bin"},
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=XDOTOOL_TIMEOUT, check=True)
