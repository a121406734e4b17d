"""The inputs: finding PGN files in what the command line names, and reading them, compressed or
not, as one stream of bytes each."""

from __future__ import annotations

import _lzma
import importlib
import io
import os
import sys
import zlib
from typing import Any, BinaryIO, Callable, Iterable, Iterator, NamedTuple, Optional

from . import _native
from .failures import InputError


def _zstd() -> tuple[Optional[Callable[[BinaryIO], BinaryIO]], tuple[type[BaseException], ...]]:
    try:
        from compression import zstd  # type: ignore[import-not-found]  # CPython 3.14 on

        return (lambda raw: zstd.ZstdFile(raw)), (zstd.ZstdError,)  # type: ignore[return-value]
    except ImportError:
        pass
    try:
        import zstandard  # type: ignore[import-not-found]
    except ImportError:
        return None, ()

    def open_zstd(raw: BinaryIO) -> BinaryIO:
        return _Frames(raw, zstandard.ZstdDecompressor)  # type: ignore[return-value]

    return open_zstd, (zstandard.ZstdError,)


class _Frames(io.RawIOBase):
    """zstd frames one after another, read from a raw file. The package's own stream reader
    takes a frame cut short for the end of the input, without a word."""

    def __init__(self, raw: BinaryIO, decompressor: Any) -> None:
        self.raw = raw
        self.decompressor = decompressor
        self.frame: Any = None  # the frame being decompressed, None between frames
        self.pending = b""

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: Any) -> int:
        while not self.pending:
            data = self.raw.read(1 << 18)
            if not data:
                if self.frame is not None:
                    # As the standard library's readers say it of every format.
                    raise EOFError(
                        "Compressed file ended before the end-of-stream marker was reached"
                    )
                return 0
            while data:
                if self.frame is None:
                    self.frame = self.decompressor().decompressobj()
                self.pending += self.frame.decompress(data)
                data = b""
                if self.frame.eof:
                    data, self.frame = self.frame.unused_data, None
        size = min(len(buffer), len(self.pending))
        buffer[:size] = self.pending[:size]
        self.pending = self.pending[size:]
        return size


_zstd_open, _zstd_errors = _zstd()


def zstd_readable() -> bool:
    return _zstd_open is not None


def _module(name: str) -> Any:
    # Imported when an input needs it: a walk of plain PGN pays for none of them.
    return importlib.import_module(name)


class Compression(NamedTuple):
    # How the decompressed stream is made from the raw file, None where this interpreter lacks
    # it; the exceptions that mean the data is damaged.
    open: Optional[Callable[[BinaryIO], BinaryIO]]
    errors: tuple[type[BaseException], ...]


# Every compression the walker reads, by the suffix after ".pgn". A folder holding one game file
# under several of these walks the first in this order: the cheapest to read.
COMPRESSIONS: dict[str, Compression] = {
    "": Compression(lambda raw: raw, ()),
    ".zst": Compression(_zstd_open, _zstd_errors),
    ".gz": Compression(lambda raw: _module("gzip").GzipFile(fileobj=raw), (zlib.error,)),
    ".bz2": Compression(lambda raw: _module("bz2").BZ2File(raw), ()),
    ".xz": Compression(lambda raw: _module("lzma").LZMAFile(raw), (_lzma.LZMAError,)),
}
SUFFIXES = tuple(".pgn" + compression for compression in COMPRESSIONS)

# Every damaged stream raises one of these or its compression's own errors: a bad header is an
# OSError, a stream cut short an EOFError.
DAMAGED: tuple[type[BaseException], ...] = (OSError, EOFError, ValueError)


def compression_of(path: str) -> str:
    lower = path.lower()
    return next((c for c in COMPRESSIONS if c and lower.endswith(c)), "")


def pgn_files(paths: Iterable[str], note: Callable[[str], None]) -> list[str]:
    """The inputs, folders searched in name order; fails before anything is read. A folder's
    file kept under several compressions is walked once, and `note` says which copy."""
    found: list[str] = []
    for path in paths:
        if path == "-":
            found.append(path)
        elif os.path.isdir(path):
            inside = sorted(
                os.path.join(folder, name)
                for folder, _, names in os.walk(path)
                for name in names
                if name.lower().endswith(SUFFIXES) and os.path.isfile(os.path.join(folder, name))
            )
            if not inside:
                raise InputError(
                    f"no PGN files in {path} (looked for {', '.join('*' + s for s in SUFFIXES)})"
                )
            found += _one_copy_each(inside, note)
        elif os.path.exists(path):
            found.append(path)
        else:
            raise InputError(f"no such file or folder: {path}")
    if any(compression_of(p) == ".zst" for p in found) and _zstd_open is None:
        raise InputError(
            "reading .zst needs the zstandard package: pip install 'morvek_board[walk]'"
        )
    return found


def _one_copy_each(files: list[str], note: Callable[[str], None]) -> list[str]:
    """`x.pgn` and `x.pgn.zst` side by side are one collection twice (the README's own `zstd -k`
    leaves both): walked twice, every game would be written twice."""
    copies: dict[str, list[str]] = {}
    for path in files:
        copies.setdefault(path[: len(path) - len(compression_of(path))].lower(), []).append(path)
    order = list(COMPRESSIONS)
    kept = []
    for path in files:
        group = copies[path[: len(path) - len(compression_of(path))].lower()]
        best = min(group, key=lambda p: order.index(compression_of(p)))
        if path == best:
            kept.append(path)
        else:
            note(f"{path} left out: a copy of {best}, which is walked")
    return kept


class Input:
    """One input as a stream of decompressed bytes, and how far into its file the reading is."""

    def __init__(self, path: str) -> None:
        self.path = path
        self.compression = COMPRESSIONS[compression_of(path)] if path != "-" else COMPRESSIONS[""]
        self.raw: BinaryIO = sys.stdin.buffer if path == "-" else open(path, "rb")
        assert self.compression.open is not None  # pgn_files refused what cannot be read
        self.stream = self.compression.open(self.raw)

    def read(self, size: int) -> bytes:
        try:
            return self.stream.read(size)
        except DAMAGED + self.compression.errors as error:
            raise InputError(f"cannot read {self.path}: {error}") from None

    def position(self) -> int:
        """Bytes of the file read so far, compressed ones for a compressed file."""
        try:
            return self.raw.tell()
        except OSError:  # a pipe
            return 0

    def close(self) -> None:
        if self.raw is not sys.stdin.buffer:
            self.stream.close()
            self.raw.close()


def size_of(paths: list[str]) -> Optional[int]:
    """The inputs' bytes as stored, None when one is a stream of unknown length."""
    total = 0
    for path in paths:
        if path == "-" or not os.path.isfile(path):
            return None
        total += os.path.getsize(path)
    return total


class Chunk(NamedTuple):
    # Whole games as the input holds them, decompressed; or None, and they are to be read from
    # `span`: (the input's real path, begin, end) in a file stored as it is read.
    data: Optional[bytes]
    source: str  # the input's name as given
    first_game: int  # the number of the first of them in their input, from 1
    place: int  # the chunk's place in the walk, from 0
    span: Optional[tuple[str, int, int]] = None
    # Where its games begin (the splitter's native 32-bit numbers), so that a walk leaves a
    # game its tags turn down unread.
    starts: Optional[bytes] = None


def read_span(span: tuple[str, int, int]) -> bytes:
    """A chunk's bytes, read where they stand (by a worker, perhaps on another machine that
    sees the same file)."""
    path, begin, end = span
    try:
        with open(path, "rb") as file:
            file.seek(begin)
            data = file.read(end - begin)
    except OSError as error:
        raise InputError(f"cannot read {path}: {error.strerror or error}") from None
    if len(data) != end - begin:
        raise InputError(f"cannot read {path}: it changed while it was walked")
    return data


class Reading:
    """The inputs read one after the other, and how far the reading has come in stored bytes
    (compressed ones for a compressed file), for the progress bar."""

    def __init__(self, paths: list[str]) -> None:
        self.paths = paths
        self.finished = 0  # bytes of the inputs read to their end
        self.current: Optional[Input] = None

    def position(self) -> int:
        return self.finished + (self.current.position() if self.current is not None else 0)

    def blocks(self, path: str, size: int = 1 << 20) -> Iterator[bytes]:
        """The decompressed bytes of one input, `size` at a time."""
        try:
            self.current = Input(path)
        except OSError as error:
            raise InputError(f"cannot read {path}: {error.strerror or error}") from None
        try:
            while data := self.current.read(size):
                yield data
            self.finished += self.current.position()
        finally:
            self.current.close()
            self.current = None

    def chunks(self, moves: int, by_place: bool = False) -> Iterator[Chunk]:
        """The games of every input in chunks of whole games, about `moves` moves each: the
        native splitter finds where games begin, and that is all this process does of them.
        `by_place`: a stored uncompressed file's chunks go as their place in it, for workers
        that read the file themselves."""
        index = 0
        for path in self.paths:
            spans = by_place and path != "-" and not compression_of(path)
            real = os.path.realpath(path) if spans else path
            splitter = _native.Splitter(moves, ranges=spans, starts=True)
            for found in self._split(path, splitter):
                if spans:
                    games, first, begin, end, starts = found
                    span = (real, begin, end) if games is None else None
                    yield Chunk(games, path, first, index, span, starts)
                else:
                    games, first, starts = found
                    yield Chunk(games, path, first, index, None, starts)
                index += 1

    def _split(self, path: str, splitter: Any) -> Iterator[Any]:
        for data in self.blocks(path):
            yield from splitter.feed(data)
        yield from splitter.finish()
