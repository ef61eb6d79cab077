"""A journal of what one run of a program did to the files of one folder,
taken from strace: every creation, write, truncation, move, link, removal,
new folder, change of times and flush, in the order the kernel saw them.

strace rather than an LD_PRELOAD shim: a shim sees only the calls that go
through the dynamic linker, while glibc's stdio writes and closes through
internal entry points that bypass it, and a call may be made with the
syscall instruction directly. strace stops the program at every system call
and prints it with all its data (-xx: every byte as \\xNN, so paths and data
need no unquoting rules beyond that; -y: the path behind every descriptor,
including the current folder behind AT_FDCWD; -s: data in full).

record(command, folder, ...) -> (exit code, standard error, list of Operation)
    Runs `command` in `folder` under strace and returns what it did to the
    files under `folder`, paths relative to it ("/" between folders), and
    what it wrote to its standard output and error, in order with them.
    Raises JournalError for a call that changes files in a way the journal
    does not model, so that such a change is never quietly left out.
"""
import os
import re
import shutil
import subprocess
import tempfile
from dataclasses import dataclass
from pathlib import Path

STRACE = "strace"
DATA_LIMIT = 1 << 24  # -s: longer than any single write of the program

# Calls that change files in ways the journal does not model.
UNMODELLED = {"symlink", "symlinkat", "mknod", "mknodat", "chmod", "fchmod", "fchmodat", "chown",
              "fchown", "lchown", "fchownat", "truncate", "fallocate", "copy_file_range", "sendfile",
              "splice", "setxattr", "lsetxattr", "fsetxattr", "removexattr", "lremovexattr",
              "fremovexattr", "writev", "pwritev", "pwritev2", "chdir", "fchdir", "open_by_handle_at",
              "io_uring_enter", "io_submit", "futimesat", "utime", "utimes"}

STANDARD_OUTPUTS = {1: "standard output", 2: "standard error"}
O_CREAT = 0o100
O_TRUNC = 0o1000
O_APPEND = 0o2000


class JournalError(Exception):
    """The run did something that the journal cannot record faithfully."""


@dataclass(frozen=True)
class Operation:
    """One change to the folder, one flush or one message to the user.

    kind: "open" (binds `handle` to the file at `path`; `create` makes it
          when it is missing, `truncate` empties it), "write" (`data` at
          `offset` of `handle`, at its end for -1), "resize" (`handle` cut or grown to `size`),
          "mkdir", "rmdir", "unlink" (`path`), "rename", "exchange", "link"
          (`path` to `target`), "times" (`path` gets `times`, a pair of
          nanoseconds or None for a time left as it was), "flush_all" (every
          file and name of the folder's file system is durable), "flush"
          (the file behind `handle` is durable), "output" (`data` written to
          standard output or standard error: what the user is told, and when).
    text: the call as a reader would name it in a failure message.
    """
    kind: str
    text: str
    path: str = ""
    target: str = ""
    handle: int = -1
    offset: int = 0
    size: int = 0
    data: bytes = b""
    create: bool = False
    truncate: bool = False
    times: tuple = (None, None)


def _decode(text):
    """Bytes of a string as strace -xx prints it, quoted or in <...>."""
    return bytes(int(h, 16) for h in re.findall(r"\\x([0-9a-f]{2})", text))


def _split_arguments(text):
    """The top-level arguments of a call, split at commas outside quotes,
    brackets, braces, angle brackets and comments."""
    parts, depth, start, i = [], 0, 0, 0
    while i < len(text):
        c = text[i]
        if c == '"':
            i = text.index('"', i + 1)
        elif text.startswith("/*", i):
            i = text.index("*/", i) + 1
        elif c in "[{<":
            depth += 1
        elif c in "]}>":
            depth -= 1
        elif c == "," and depth == 0:
            parts.append(text[start:i].strip())
            start = i + 1
        i += 1
    parts.append(text[start:].strip())
    return parts


def _quoted(argument):
    if not argument.startswith('"'):
        raise JournalError(f"expected a string, found {argument!r}")
    if argument.endswith("..."):
        raise JournalError("strace cut a string short; raise its -s")
    return _decode(argument)


def _decorated_path(argument):
    """The path strace shows behind a descriptor, as in 3</a/b> or AT_FDCWD</a>."""
    match = re.search(r"<(.*)>$", argument)
    if not match:
        raise JournalError(f"no path behind the descriptor {argument!r}")
    return _decode(match.group(1))


def _number(argument):
    return int(argument.split("<", 1)[0], 0)


def _flags(argument):
    """The numeric value of the O_* flags that the journal needs, as strace
    spells them, alone or in openat2's {flags=...}."""
    names = {"O_CREAT": O_CREAT, "O_TRUNC": O_TRUNC, "O_APPEND": O_APPEND}
    return sum(names.get(name, 0) for name in set(re.findall(r"\bO_[A-Z]+", argument)))


def _timespec_ns(text):
    """Nanoseconds of {tv_sec=S, tv_nsec=N}; None for UTIME_OMIT; a
    JournalError for UTIME_NOW, whose value the trace does not show."""
    if "UTIME_OMIT" in text:
        return None
    if "UTIME_NOW" in text:
        raise JournalError("a time set to the current time cannot be replayed")
    seconds = int(re.search(r"tv_sec=(-?\d+)", text).group(1))
    nanoseconds = int(re.search(r"tv_nsec=(\d+)", text).group(1))
    return seconds * 1_000_000_000 + nanoseconds


class _Reader:
    """Turns the calls of a trace, in order, into Operations on `folder`."""

    def __init__(self, folder, cwd):
        self.folder = os.fsencode(Path(folder).resolve())
        self.cwd = os.fsencode(Path(cwd).resolve())
        self.device = os.stat(self.folder).st_dev
        self.handles = {}  # descriptor -> [handle, position, appends] of a file in the folder
        self.next_handle = 0
        self.operations = []

    def relative(self, path, base):
        """`path` (bytes) as seen from `base`, relative to the folder; None
        when it lies outside it."""
        full = os.path.normpath(os.path.join(base, path))
        if full == self.folder:
            return ""
        if not full.startswith(self.folder + b"/"):
            return None
        return os.fsdecode(full[len(self.folder) + 1:])

    def at_path(self, directory, path_argument):
        base = self.cwd if directory is None else _decorated_path(directory)
        return self.relative(_quoted(path_argument), base)

    def add(self, kind, text, **fields):
        self.operations.append(Operation(kind, text, **fields))

    def names(self, kind, text, source, target):
        """A call on two names: both in the folder, or the call ignored
        when neither is; one foot outside is not modelled."""
        if source is None and target is None:
            return
        if source is None or target is None:
            raise JournalError(f"{text}: a name moves across the folder's edge")
        self.add(kind, f"{kind} {source} -> {target}", path=source, target=target)

    def call(self, name, arguments, result):
        failed = result.startswith("-")
        if name in UNMODELLED and not failed:
            raise JournalError(f"the journal does not model {name}({', '.join(arguments)})")
        handler = getattr(self, "call_" + name, None)
        if handler is not None and not failed:
            handler(arguments, result)

    def call_openat(self, arguments, result):
        relative = self.at_path(arguments[0], arguments[1])
        descriptor = int(result)
        if relative is None:
            return
        flags = _flags(arguments[2])
        handle = self.next_handle
        self.next_handle += 1
        create, truncate = bool(flags & O_CREAT), bool(flags & O_TRUNC)
        self.handles[descriptor] = [handle, 0, bool(flags & O_APPEND)]
        verb = "create" if create else "open"
        self.add("open", f"{verb} {relative or '.'}", path=relative, handle=handle, create=create,
                 truncate=truncate)

    def call_open(self, arguments, result):
        self.call_openat([None] + arguments, result)

    def call_openat2(self, arguments, result):
        self.call_openat(arguments[:3], result)

    def call_creat(self, arguments, result):
        self.call_openat([None, arguments[0], "O_WRONLY|O_CREAT|O_TRUNC"], result)

    def call_close(self, arguments, result):
        self.handles.pop(_number(arguments[0]), None)

    def duplicated(self, old, new):
        if old in self.handles:
            # A shared position would need a shared record; the program
            # never duplicates a file it writes.
            raise JournalError(f"descriptor {old} of a file in the folder is duplicated")
        # The new descriptor replaced whatever it named before.
        self.handles.pop(new, None)

    def call_dup(self, arguments, result):
        self.duplicated(_number(arguments[0]), int(result))

    def call_dup2(self, arguments, result):
        self.duplicated(_number(arguments[0]), int(result))

    call_dup3 = call_dup2

    def call_fcntl(self, arguments, result):
        if arguments[1].startswith("F_DUPFD"):
            self.duplicated(_number(arguments[0]), int(result))

    def call_lseek(self, arguments, result):
        descriptor = _number(arguments[0])
        if descriptor in self.handles:
            self.handles[descriptor][1] = int(result)

    def call_write(self, arguments, result):
        descriptor = _number(arguments[0])
        if descriptor not in self.handles and descriptor not in STANDARD_OUTPUTS:
            return
        written = int(result)
        data = _quoted(arguments[1])[:written]
        if len(data) != written:
            raise JournalError("a write's data is shorter than what it wrote")
        if descriptor not in self.handles:
            self.add("output", f"write to {STANDARD_OUTPUTS[descriptor]}", data=data)
            return
        record = self.handles[descriptor]
        # An appending descriptor writes at the end, wherever it stands.
        offset = None if record[2] else record[1]
        self.add("write", f"write {len(data)} bytes to {self.path_of(record[0])}", handle=record[0],
                 offset=-1 if offset is None else offset, data=data)
        if offset is not None:
            record[1] += written

    def call_pwrite64(self, arguments, result):
        descriptor = _number(arguments[0])
        if descriptor not in self.handles:
            return
        handle = self.handles[descriptor][0]
        data = _quoted(arguments[1])[:int(result)]
        self.add("write", f"write {len(data)} bytes to {self.path_of(handle)}", handle=handle,
                 offset=int(arguments[3]), data=data)

    def call_ftruncate(self, arguments, result):
        descriptor = _number(arguments[0])
        if descriptor in self.handles:
            handle = self.handles[descriptor][0]
            self.add("resize", f"truncate {self.path_of(handle)}", handle=handle, size=int(arguments[1]))

    def path_of(self, handle):
        for operation in reversed(self.operations):
            if operation.kind == "open" and operation.handle == handle:
                return operation.path
        raise JournalError(f"no file is open as handle {handle}")

    def call_mkdir(self, arguments, result):
        self.call_mkdirat([None] + arguments, result)

    def call_mkdirat(self, arguments, result):
        relative = self.at_path(arguments[0], arguments[1])
        if relative is not None:
            self.add("mkdir", f"mkdir {relative}", path=relative)

    def call_rmdir(self, arguments, result):
        relative = self.at_path(None, arguments[0])
        if relative is not None:
            self.add("rmdir", f"rmdir {relative}", path=relative)

    def call_unlink(self, arguments, result):
        self.call_unlinkat([None, arguments[0], "0"], result)

    def call_unlinkat(self, arguments, result):
        relative = self.at_path(arguments[0], arguments[1])
        if relative is not None:
            kind = "rmdir" if "AT_REMOVEDIR" in arguments[2] else "unlink"
            self.add(kind, f"{kind} {relative}", path=relative)

    def call_rename(self, arguments, result):
        self.names("rename", "rename", self.at_path(None, arguments[0]), self.at_path(None, arguments[1]))

    def call_renameat(self, arguments, result):
        self.names("rename", "renameat", self.at_path(arguments[0], arguments[1]),
                   self.at_path(arguments[2], arguments[3]))

    def call_renameat2(self, arguments, result):
        kind = "exchange" if "RENAME_EXCHANGE" in arguments[4] else "rename"
        self.names(kind, "renameat2", self.at_path(arguments[0], arguments[1]),
                   self.at_path(arguments[2], arguments[3]))

    def call_link(self, arguments, result):
        self.names("link", "link", self.at_path(None, arguments[0]), self.at_path(None, arguments[1]))

    def call_linkat(self, arguments, result):
        self.names("link", "linkat", self.at_path(arguments[0], arguments[1]),
                   self.at_path(arguments[2], arguments[3]))

    def call_utimensat(self, arguments, result):
        # Without a path (futimens) the times are the descriptor's file's.
        if arguments[1] == "NULL":
            relative = self.relative(_decorated_path(arguments[0]), b"/")
        else:
            relative = self.at_path(arguments[0], arguments[1])
        if relative is None:
            return
        if arguments[2] == "NULL":
            raise JournalError(f"the times of {relative} are set to the current time, "
                               "which the trace does not show")
        access, write = _split_arguments(arguments[2][1:-1])
        self.add("times", f"set the times of {relative or '.'}", path=relative,
                 times=(_timespec_ns(access), _timespec_ns(write)))

    def flushed_file(self, descriptor, text):
        if descriptor in self.handles:
            handle = self.handles[descriptor][0]
            self.add("flush", f"{text} {self.path_of(handle)}", handle=handle)

    def call_fsync(self, arguments, result):
        self.flushed_file(_number(arguments[0]), "fsync")

    def call_fdatasync(self, arguments, result):
        self.flushed_file(_number(arguments[0]), "fdatasync")

    def call_sync(self, arguments, result):
        self.add("flush_all", "sync")

    def call_syncfs(self, arguments, result):
        # The folder is taken to lie on one file system: a descriptor of a
        # file in it flushes all of it; one outside, only if it is the same.
        path = _decorated_path(arguments[0])
        inside = self.relative(path, b"/") is not None
        try:
            same_device = inside or os.stat(path).st_dev == self.device
        except FileNotFoundError:
            raise JournalError(f"cannot tell the file system of the flushed {path!r}") from None
        if same_device:
            self.add("flush_all", "syncfs")


LINE = re.compile(r"^(\d+)\s+(.*)$")
CALL = re.compile(r"^(\w+)\((.*)\)\s+=\s+(-?\d+|0x[0-9a-f]+|\?)(?:<[^>]*>)?(?:\s.*)?$")


def parse(trace_text, folder, cwd):
    """The Operations on `folder` in the text of `strace -f -y -xx` run
    with the current folder `cwd`."""
    reader = _Reader(folder, cwd)
    unfinished = {}
    for line in trace_text.splitlines():
        match = LINE.match(line)
        if not match:
            raise JournalError(f"a trace line without a process id: {line[:200]}")
        pid, rest = match.groups()
        if rest.startswith(("+++", "---")):
            continue
        if rest.endswith("<unfinished ...>"):
            unfinished[pid] = rest[:-len("<unfinished ...>")]
            continue
        resumed = re.match(r"^<\.\.\. \w+ resumed>(.*)$", rest)
        if resumed:
            rest = unfinished.pop(pid) + resumed.group(1)
        call = CALL.match(rest)
        if not call:
            if rest.startswith("exit_group(") or rest.startswith("exit("):
                continue
            raise JournalError(f"a trace line that is no call: {rest[:200]}")
        name, arguments, result = call.groups()
        reader.call(name, _split_arguments(arguments), result)
    return reader.operations


def record(command, folder, stdin=b"", env=None, timeout=120):
    """Runs `command` with the current folder `folder` under strace, feeding
    it `stdin`; returns (exit code, standard error, the Operations on
    `folder`)."""
    if shutil.which(STRACE) is None:
        raise JournalError("strace is missing; scripts/install-deps.sh installs it")
    environment = dict(os.environ if env is None else env)
    # LeakSanitizer checks by tracing the program's threads itself, which a
    # program that strace already traces cannot allow; the untraced runs
    # of the same program still check for leaks.
    asan_options = [environment.get("ASAN_OPTIONS", ""), "detect_leaks=0"]
    environment["ASAN_OPTIONS"] = ":".join(option for option in asan_options if option)
    with tempfile.TemporaryDirectory(prefix="quorvane-journal-") as scratch:
        trace = Path(scratch, "trace")
        strace = [STRACE, "-f", "-y", "-xx", "-s", str(DATA_LIMIT), "-o", str(trace), "--"]
        process = subprocess.run(strace + [str(part) for part in command], cwd=folder, input=stdin,
                                 env=environment, capture_output=True, timeout=timeout)
        text = trace.read_text(encoding="ascii", errors="replace")
    return process.returncode, process.stderr.decode(errors="replace"), parse(text, folder, folder)
