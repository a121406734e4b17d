"""The output: a regular file written whole or not at all, a stream written as it comes, or a
folder of Parquet parts that takes its name only when every part is in.

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
from typing import Any, BinaryIO, Optional

from .failures import OutputError
from .formats import CSV, DATASET, Format, check_writable, format_of, header, parquet_options


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


class Folder:
    """A Parquet dataset: its parts go into a hidden folder beside the one named, which takes
    the name when the walk has finished; nothing of it is left after a failure. The folder
    named must not exist: a dataset never mixes with parts of another walk."""

    stream = False

    def __init__(self, path: str, inputs: list[str]) -> None:
        self.path = path
        self.target = os.path.realpath(path.rstrip("/" + os.sep) or path)
        if os.path.lexists(self.target):
            raise OutputError(f"the output {path} exists already: name a new folder")
        parent = os.path.dirname(self.target)
        while True:
            self.temporary = _hidden_name(parent, os.path.basename(self.target))
            try:
                os.mkdir(self.temporary)
                break
            except FileExistsError:
                continue
            except OSError as error:
                raise OutputError(f"cannot write {path}: {error.strerror or error}") from None

    def finish(self, empty_part: Any) -> None:
        if not os.listdir(self.temporary):
            empty_part(self.temporary)  # a dataset of no rows still says what its columns are
        try:
            os.rename(self.temporary, self.target)
        except OSError as error:
            raise OutputError(f"cannot write {self.path}: {error.strerror or error}") from None

    def discard(self) -> None:
        import shutil

        shutil.rmtree(self.temporary, ignore_errors=True)

    def where(self) -> str:
        return self.path


class Rows:
    """Where each chunk's rows go, in the format the output's name asks for. `names` are the
    columns' names; `schema` an object with the Arrow schema of the rows."""

    def __init__(self, path: str, names: list[str], schema: Any) -> None:
        self.path = path
        self.names = names
        self.format: Format = format_of(path) if path != "-" else CSV
        check_writable(self.format)
        self.schema = schema
        self.output: Any = None
        self.parquet: Any = None

    def open(self, inputs: list[str]) -> None:
        """The output made, refused where it is one of `inputs`; its header written."""
        self.output = (
            Folder(self.path, inputs) if self.format is DATASET else Output(self.path, inputs)
        )
        if self.format.form == "table":
            import pyarrow as pa
            import pyarrow.parquet as pq

            self.parquet = pq.ParquetWriter(
                self.output.file, pa.schema(self.schema), **parquet_options(self.names)
            )
        elif self.format is not DATASET:
            self.output.write(header(self.format.form, self.names))

    @property
    def folder(self) -> Optional[str]:
        """Where the workers write the parts of a dataset."""
        return self.output.temporary if self.format is DATASET else None

    @property
    def stream(self) -> bool:
        return self.output is not None and bool(self.output.stream)

    def take(self, data: Any) -> None:
        if self.parquet is not None:
            if data.num_rows:
                import pyarrow as pa

                self.parquet.write_batch(pa.record_batch(data))
        elif data is not None:
            self.output.write(data)

    def finish(self) -> None:
        if self.parquet is not None:
            self.parquet.close()
        if self.format is DATASET:
            self.output.finish(self._empty_part)
        else:
            self.output.finish()

    def _empty_part(self, folder: str) -> None:
        import pyarrow as pa
        import pyarrow.parquet as pq

        pq.write_table(
            pa.schema(self.schema).empty_table(),
            os.path.join(folder, "part-00000000.parquet"),
            **parquet_options(self.names),
        )

    def discard(self) -> None:
        if self.output is not None:
            self.output.discard()

    def where(self) -> str:
        return str(self.output.where()) if self.output is not None else self.path
