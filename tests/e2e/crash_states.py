"""What a power cut can leave of a folder, given the journal of what a run
did to it (syscall_journal): the journal is replayed, operation by
operation, onto an in-memory copy of the folder as it was before the run,
and after each operation the states that a cut at that moment can leave are
taken under the model stated in test_power_loss.

Tree(folder)
    The folder as it stands on the disk, every file durable.
tree.apply(operation)
    Replays one journal operation.
tree.state(survival) -> State
    What the disk holds if the power is cut now: every name and folder
    made so far, and each file's data as `survival` says (see SURVIVALS).
state.materialize(folder)
    Writes the state out as a real folder, hard links as hard links.
"""
import hashlib
import os
import stat
from dataclasses import dataclass, field
from pathlib import Path

# How much of the data written since a file's last flush survives the cut.
KEPT = "every write survives"
LOST = "every write since the file's last flush is lost"
HALF = "the first half of the writes since the file's last flush survive"
SURVIVALS = (KEPT, LOST, HALF)


class ReplayError(Exception):
    """The journal does not fit the folder it is replayed onto."""


@dataclass
class Inode:
    """One file's data: what a program reading it sees (`data`), what is
    on the disk for sure (`durable`), the writes and truncations since
    then (`pending`) and its times, known when set or read from the disk."""
    data: bytearray
    durable: bytes
    pending: list = field(default_factory=list)
    times: tuple = (None, None)

    def apply(self, operation):
        if operation.kind == "write":
            offset = len(self.data) if operation.offset < 0 else operation.offset
            if offset > len(self.data):
                self.data.extend(bytes(offset - len(self.data)))
            self.data[offset:offset + len(operation.data)] = operation.data
        elif operation.kind == "resize":
            del self.data[operation.size:]
            self.data.extend(bytes(operation.size - len(self.data)))
        elif operation.kind == "open":  # opened with truncation
            del self.data[:]
        self.pending.append(operation)

    def flush(self):
        self.durable = bytes(self.data)
        self.pending = []

    def content(self, survival):
        if survival == KEPT:
            return bytes(self.data)
        survivor = Inode(bytearray(self.durable), self.durable)
        if survival == HALF:
            for operation in self.pending[:len(self.pending) // 2]:
                survivor.apply(operation)
        return bytes(survivor.data)


@dataclass(frozen=True)
class State:
    """A folder's content: its folders, each file's inode number and each
    inode's data and times (None where the run left them unknown)."""
    folders: frozenset
    files: dict  # path -> inode number
    contents: dict  # inode number -> bytes
    times: dict  # inode number -> (access ns, write ns)

    def content(self, path):
        """The data of the file at `path`, or None when there is none."""
        number = self.files.get(path)
        return None if number is None else self.contents[number]

    def digest(self, what_counts=lambda path, content: content):
        """A fingerprint of the folders, names, links and data, without the
        times; of each file's data only `what_counts(path, data)`."""
        numbering = {}
        hasher = hashlib.sha256()
        for path in sorted(self.folders):
            hasher.update(b"d" + path.encode() + b"\0")
        for path in sorted(self.files):
            number = numbering.setdefault(self.files[path], len(numbering))
            hasher.update(b"f" + path.encode() + b"\0" + str(number).encode() + b"\0")
            hasher.update(hashlib.sha256(what_counts(path, self.contents[self.files[path]])).digest())
        return hasher.hexdigest()

    def materialize(self, folder):
        folder = Path(folder)
        folder.mkdir()
        for path in sorted(self.folders, key=lambda p: p.count("/")):
            (folder / path).mkdir()
        first_name = {}
        for path, number in sorted(self.files.items()):
            if number in first_name:
                os.link(folder / first_name[number], folder / path)
                continue
            first_name[number] = path
            (folder / path).write_bytes(self.contents[number])
            access, write = self.times[number]
            if access is not None and write is not None:
                os.utime(folder / path, ns=(access, write))


class Tree:
    """A folder's names, folders and files as a replay has made them."""

    def __init__(self, folder):
        self.folders = set()
        self.names = {}  # path -> inode number
        self.inodes = {}
        self.handles = {}  # journal handle -> inode number, None for a folder
        seen = {}
        for path in sorted(Path(folder).rglob("*")):
            relative = path.relative_to(folder).as_posix()
            status = path.lstat()
            if stat.S_ISDIR(status.st_mode):
                self.folders.add(relative)
            elif stat.S_ISREG(status.st_mode):
                key = (status.st_dev, status.st_ino)
                if key not in seen:
                    data = path.read_bytes()
                    seen[key] = self.new_inode(data, (status.st_atime_ns, status.st_mtime_ns))
                self.names[relative] = seen[key]
            else:
                raise ReplayError(f"{relative} is neither a file nor a folder")

    def new_inode(self, data, times=(None, None)):
        number = len(self.inodes)
        self.inodes[number] = Inode(bytearray(data), bytes(data), times=times)
        return number

    def parent_exists(self, path):
        parent = path.rpartition("/")[0]
        if parent and parent not in self.folders:
            raise ReplayError(f"the folder of {path} does not exist")

    def name(self, path):
        if path not in self.names:
            raise ReplayError(f"{path} does not exist")
        return self.names[path]

    def apply(self, operation):
        kind, path, target = operation.kind, operation.path, operation.target
        if kind == "open":
            if path in self.folders or path == "":
                self.handles[operation.handle] = None
                return
            if path not in self.names:
                if not operation.create:
                    raise ReplayError(f"{path} is opened but does not exist")
                self.parent_exists(path)
                self.names[path] = self.new_inode(b"")
            self.handles[operation.handle] = self.names[path]
            if operation.truncate:
                self.inodes[self.names[path]].apply(operation)
        elif kind in ("write", "resize"):
            self.inodes[self.handles[operation.handle]].apply(operation)
        elif kind == "mkdir":
            self.parent_exists(path)
            self.folders.add(path)
        elif kind == "rmdir":
            if any(name.startswith(path + "/") for name in list(self.names) + list(self.folders)):
                raise ReplayError(f"{path} is removed but not empty")
            self.folders.remove(path)
        elif kind == "unlink":
            self.name(path)
            del self.names[path]
        elif kind == "rename":
            self.rename(path, target)
        elif kind == "exchange":
            self.names[path], self.names[target] = self.name(path), self.name(target)
        elif kind == "link":
            self.parent_exists(target)
            self.names[target] = self.name(path)
        elif kind == "times":
            old = self.inodes[self.name(path)].times
            self.inodes[self.names[path]].times = tuple(new if new is not None else was
                                                        for new, was in zip(operation.times, old))
        elif kind == "flush_all":
            for inode in self.inodes.values():
                inode.flush()
        elif kind == "flush":
            if self.handles[operation.handle] is not None:
                self.inodes[self.handles[operation.handle]].flush()
        elif kind != "output":
            raise ReplayError(f"an operation of an unknown kind: {kind}")

    def rename(self, source, target):
        self.parent_exists(target)
        if source in self.folders:
            # A folder moves with everything under it.
            prefix = source + "/"
            self.folders = {target + p[len(source):] if p == source or p.startswith(prefix) else p
                            for p in self.folders}
            self.names = {target + p[len(source):] if p.startswith(prefix) else p: n
                          for p, n in self.names.items()}
            return
        self.names[target] = self.name(source)
        del self.names[source]

    def state(self, survival):
        numbers = set(self.names.values())
        return State(frozenset(self.folders), dict(self.names),
                     {n: self.inodes[n].content(survival) for n in numbers},
                     {n: self.inodes[n].times for n in numbers})
