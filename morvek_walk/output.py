"""The output: a regular file written whole or not at all, or a stream written as it comes.

A regular file is written to a temporary file beside its real path (links resolved, so the
rename never crosses file systems) and takes its name only when the walk has finished; where the
file system allows, the temporary file has no name until then, so not even a killed walk leaves
it behind. Anything else (standard output, a device, a pipe, a process substitution) is a stream
and is never replaced."""

from __future__ import annotations

import errno
import os
import stat
import sys
from typing import BinaryIO, Optional

from .failures import OutputError, UsageError

# Suffixes that promise a compression or a table format: a CSV under such a name would be
# misread by every program that trusts the name.
NOT_WRITTEN = (
    ".gz", ".gzip", ".tgz", ".bz2", ".xz", ".lzma", ".zst", ".zstd", ".lz4", ".br", ".z", ".zip",
    ".7z", ".parquet", ".pq", ".arrow", ".feather", ".ipc", ".orc", ".avro", ".json", ".jsonl",
    ".ndjson", ".xls", ".xlsx", ".tsv", ".db", ".sqlite", ".duckdb",
)  # fmt: skip


def check_name(path: str) -> str:
    """For argparse: an output name whose suffix promises something else is a usage error."""
    lower = os.path.basename(path).lower()
    for suffix in NOT_WRITTEN:
        if lower.endswith(suffix):
            raise UsageError(
                f"the output {path} names a format the walker does not write ({suffix}): "
                "name a CSV file, or - for standard output"
            )
    return path


class Output:
    """Where the rows go. `inputs` are the walk's inputs, none of which it may be."""

    def __init__(self, path: str, inputs: list[str]) -> None:
        self.path = path
        self.stream = True
        self.temporary: Optional[str] = None  # a named temporary file, where one is needed
        self.descriptor: Optional[int] = None  # an unnamed one, linked in when done
        self.file: BinaryIO
        if path == "-" or _is_standard_output(path):
            if "-" in inputs and _same_as_standard_input(sys.stdout.fileno()):
                raise OutputError("the output is standard input too: choose another output")
            self.path = "-"
            self.file = sys.stdout.buffer
            return
        _refuse_inputs(path, inputs)
        try:
            found = os.stat(path)
        except FileNotFoundError:
            found = None
        except OSError as error:
            raise OutputError(f"cannot write {path}: {error.strerror or error}") from None
        if found is not None and stat.S_ISDIR(found.st_mode):
            raise OutputError(f"the output {path} is a folder: name a file")
        if found is not None and not stat.S_ISREG(found.st_mode):
            try:
                self.file = open(path, "wb")
            except OSError as error:
                raise OutputError(f"cannot write {path}: {error.strerror or error}") from None
            return
        self.stream = False
        self.target = os.path.realpath(path)
        # As the file it replaces, or as any new file of the user's.
        mode = found.st_mode & 0o7777 if found is not None else 0o666 & ~_umask()
        self.file = self._temporary(os.path.dirname(self.target), mode)

    def _temporary(self, folder: str, mode: int) -> BinaryIO:
        try:
            try:
                descriptor = os.open(folder, os.O_TMPFILE | os.O_WRONLY, 0o600)
                self.descriptor = descriptor
            except OSError as error:
                if error.errno not in _NO_TMPFILE:
                    raise
                self.temporary, descriptor = _new_file(
                    folder, os.path.basename(self.target), os.O_WRONLY
                )
            os.fchmod(descriptor, mode)
        except OSError as error:
            raise OutputError(f"cannot write {self.path}: {error.strerror or error}") from None
        return os.fdopen(descriptor, "wb")

    def write(self, data: bytes) -> None:
        try:
            self.file.write(data)
            if self.stream:
                self.file.flush()
        except BrokenPipeError:
            raise
        except OSError as error:
            raise OutputError(f"cannot write {self.where()}: {error.strerror or error}") from None

    def finish(self) -> None:
        try:
            self._finish()
        except BrokenPipeError:
            raise
        except OSError as error:
            raise OutputError(f"cannot write {self.where()}: {error.strerror or error}") from None

    def _finish(self) -> None:
        self.file.flush()
        if self.stream:
            return
        if self.descriptor is not None:
            # Linked in under a temporary name first: a link cannot replace a file.
            folder = os.path.dirname(self.target)
            while self.temporary is None:
                name = _hidden_name(folder, os.path.basename(self.target))
                try:
                    os.link(
                        f"/proc/self/fd/{self.descriptor}",
                        name,
                        src_dir_fd=_any_folder(),
                        follow_symlinks=True,
                    )
                except FileExistsError:  # a link never replaces a file: the name is ours
                    continue
                self.temporary = name
        self.file.close()
        assert self.temporary is not None
        os.replace(self.temporary, self.target)
        self.temporary = self.descriptor = None

    def discard(self) -> None:
        """After a failure: nothing of the walk is left under any name."""
        if self.stream:
            try:
                self.file.flush()
            except OSError:
                pass
            return
        try:
            self.file.close()
        except OSError:
            pass
        if self.temporary is not None:
            try:
                os.unlink(self.temporary)
            except OSError:
                pass
        self.temporary = self.descriptor = None

    def where(self) -> str:
        return "standard output" if self.path == "-" else self.path


# An O_TMPFILE that the kernel or the file system does not offer.
_NO_TMPFILE = {errno.EOPNOTSUPP, errno.EISDIR, errno.EINVAL}  # EISDIR: kernels before 3.11


def _any_folder() -> int:
    # os.link follows a link only through linkat, which it calls only when given a folder; the
    # /proc path is absolute, so which folder does not matter.
    global _folder_descriptor
    if _folder_descriptor is None:
        _folder_descriptor = os.open("/", os.O_RDONLY | os.O_DIRECTORY)
    return _folder_descriptor


_folder_descriptor: Optional[int] = None


def _hidden_name(folder: str, name: str) -> str:
    return os.path.join(folder, f".{name}.{os.urandom(6).hex()}.part")


def _new_file(folder: str, name: str, flags: int) -> tuple[str, int]:
    """A new hidden file beside `name`, only ours (O_EXCL), and its descriptor."""
    while True:
        path = _hidden_name(folder, name)
        try:
            return path, os.open(path, flags | os.O_CREAT | os.O_EXCL, 0o600)
        except FileExistsError:
            continue


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask


def _is_standard_output(path: str) -> bool:
    """`/dev/stdout`, or any name of the file standard output already writes to: written to as
    standard output is, appending where the shell appends."""
    try:
        return os.path.samestat(os.stat(path), os.fstat(sys.stdout.fileno()))
    except (OSError, ValueError):
        return False


def _same_as_standard_input(descriptor: int) -> bool:
    try:
        mine, theirs = os.fstat(descriptor), os.fstat(sys.stdin.fileno())
    except (OSError, ValueError):
        return False
    return stat.S_ISREG(mine.st_mode) and os.path.samestat(mine, theirs)


def _refuse_inputs(path: str, inputs: list[str]) -> None:
    target = os.path.realpath(path)
    for source in inputs:
        if source == "-":
            try:
                same = os.path.samestat(os.stat(path), os.fstat(sys.stdin.fileno()))
            except (OSError, ValueError):
                same = False
        else:
            same = os.path.realpath(source) == target or _same_file(source, path)
        if same:
            raise OutputError(f"the output {path} is one of the inputs: choose another output file")


def _same_file(a: str, b: str) -> bool:
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False
