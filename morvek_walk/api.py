"""The walk as a Python function: walk() reads PGN files and hands the rows over as Arrow data,
a stream of record batches through the Arrow PyCapsule interface, so that polars, pyarrow and
duckdb take them without a copy (and without pyarrow being needed to make them)."""

from __future__ import annotations

import os
from typing import Any, Iterable, Iterator, Optional, Union

from . import _native, options
from .failures import UsageError
from .inputs import Reading, pgn_files
from .runners import MAX_JOBS, dask_address, run_walk
from .walk import WalkOptions, column_names

Paths = Union[str, "os.PathLike[str]", Iterable[Union[str, "os.PathLike[str]"]]]


class Walk:
    """The rows of a walk, made as they are read: pass it to `polars.DataFrame`, `pyarrow.table`,
    `duckdb.sql` or anything else that reads an Arrow stream, or iterate over it for one Arrow
    record batch (`Batch`, with `__arrow_c_array__`) a chunk of games. It is read once.

    After it has been read: `games`, `positions`, the games left out by the conditions
    (`filtered`) and the problems of the games that could not be walked, each `(source, game,
    ply, text, message, reason)`."""

    def __init__(self, inputs: list[str], columns: Optional[tuple[str, ...]], tags: tuple[str, ...],
                 walk_options: WalkOptions, jobs: int, dask: Optional[str], dask_timeout: float,
                 chunk: Optional[int]) -> None:  # fmt: skip
        self._inputs = inputs
        self._layout = (columns, tags)
        self._options = walk_options
        self._jobs, self._dask, self._dask_timeout, self._chunk = jobs, dask, dask_timeout, chunk
        self._read = False
        self.columns = column_names(columns, tags)
        self.games = self.positions = self.filtered = 0
        self.problems: list[tuple[str, int, int, str, str, str]] = []

    def __iter__(self) -> Iterator[Any]:
        if self._read:
            raise ValueError("a walk is read once: call walk() again")
        self._read = True
        return self._batches()

    def _batches(self) -> Iterator[Any]:
        reading = Reading(self._inputs)
        results = run_walk(
            reading, self._options, self._jobs, self._dask, self._dask_timeout, self._chunk
        )
        try:
            for result in results:
                self.games += result.games
                self.positions += result.positions
                self.filtered += result.filtered
                self.problems += result.problems
                yield result.data
        finally:
            results.close()

    def __arrow_c_stream__(self, requested_schema: Any = None) -> Any:
        return _native.Stream(iter(self), *self._layout).__arrow_c_stream__(requested_schema)

    def __arrow_c_schema__(self) -> Any:
        return _native.Stream((), *self._layout).__arrow_c_schema__()

    def __repr__(self) -> str:
        return f"<morvek_walk.Walk of {len(self._inputs)} inputs: {', '.join(self.columns)}>"


def walk(
    paths: Paths,
    *,
    columns: Optional[Iterable[str]] = None,
    tags: Iterable[str] = (),
    where: Iterable[str] = (),
    jobs: Optional[int] = None,
    dask: Optional[str] = None,
    dask_timeout: float = 5.0,
    chunk: Optional[int] = None,
    encoding: Optional[str] = None,
) -> Walk:
    """The main line of every game in PGN files, a row a move, as Arrow data.

    paths: a file or folder, or several (folders are searched for .pgn files, compressed ones
    too); columns: the columns wanted (default all; one not asked for is not computed); tags:
    tags to add as columns; where: conditions on the tags, all to be met, decided before a
    game's moves are read ("WhiteElo>=2000", "TimeControl=180+0", "Event~Blitz"); jobs:
    threads walking (default every core); dask: a Dask scheduler's address or "local:N";
    chunk: about this many moves a chunk; encoding: the inputs' text encoding.

    The inputs and options are checked now (UsageError, a ValueError; InputError, an OSError);
    the games are read as the rows are."""
    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    names = [os.fspath(p) for p in paths]
    if not names:
        raise UsageError("walk() takes one path at least")
    asked = options.columns(columns)
    tag_names = options.tags(tags)
    conditions = options.conditions(where)
    workers = options.whole(jobs if jobs is not None else os.cpu_count() or 1, 1, MAX_JOBS,
                            f"jobs takes 1 to {MAX_JOBS}")  # fmt: skip
    timeout = options.seconds(dask_timeout, "dask_timeout")
    if dask is not None:
        dask_address(dask)
    moves = (
        None if chunk is None else options.whole(chunk, 1, None, "chunk takes a positive number")
    )
    inputs = pgn_files(names, lambda line: None)
    walk_options = WalkOptions(
        tag_names, options.encoding(encoding), asked, conditions, "table", None
    )
    return Walk(inputs, asked, tag_names, walk_options, workers, dask, timeout, moves)
