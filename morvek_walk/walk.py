"""Walking games: what a worker does with a chunk of them. Everything it needs comes in its
arguments (the raw bytes of whole games) and everything it finds goes out in its result, so the
same function runs in this process, a thread, a process pool or on a Dask cluster's workers.
The walk itself is native (morvek_walk._native): one board a game, kept from move to move."""

from __future__ import annotations

from typing import Any, NamedTuple, Optional

from . import _native
from .formats import compress, write_part
from .inputs import read_span

# Every column, with what --help says of it; --tags adds one column a tag after these.
COLUMNS = [
    ("source", "the file the game comes from (- for standard input)"),
    ("game", "the game's number in its file, from 1"),
    ("ply", "the move's number in its game, from 1"),
    ("fen", "the position before the move"),
    ("uci", "the move as UCI text (empty for a null move)"),
    (
        "san",
        "the move as standard algebraic notation, as the module writes it (empty for a null move)",
    ),
    ("check", "1 when the move gives check, else 0"),
    ("see", "the move's static exchange value in centipawns (empty for a null move)"),
    ("legal_moves", "the number of legal moves before the move"),
    ("result", "the game's result: 1-0, 0-1, 1/2-1/2 or *"),
    ("clock", "seconds on the mover's clock after the move, from [%clk] in its comment"),
    ("eval", "the engine evaluation after the move in centipawns from White's side, from [%eval]"),
    ("mate", "moves to mate from White's side, from [%eval #N]"),
]
COLUMN_NAMES = [name for name, _ in COLUMNS]
assert tuple(COLUMN_NAMES) == _native.COLUMNS


def column_names(columns: Optional[tuple[str, ...]], tags: tuple[str, ...]) -> list[str]:
    """The output's columns: those asked for (already in the table's order), then the tags."""
    return list(columns or COLUMN_NAMES) + list(tags)


class WalkOptions(NamedTuple):
    """What every chunk of a walk is walked with, after the chunk's own arguments."""

    tags: tuple[str, ...] = ()
    encoding: Optional[str] = None
    columns: Optional[tuple[str, ...]] = None  # None: every column
    where: tuple[str, ...] = ()  # conditions on the tags, all to be met
    form: str = "csv"  # what the rows become: csv, gzip, zstd, table (a Batch), part
    folder: Optional[str] = None  # where a part goes


class ChunkResult(NamedTuple):
    # The rows: CSV bytes (compressed for gzip and zstd), a Batch, or None when a worker has
    # written them itself.
    data: Any
    # (source, game, ply, text, message, reason) of each game left out, in order
    problems: list[tuple[str, int, int, str, str, str]]
    games: int
    positions: int
    filtered: int  # games the conditions left out


def walk_chunk(
    data: Optional[bytes],
    source: str,
    first_game: int,
    index: int,
    span: Optional[tuple[str, int, int]],
    starts: Optional[bytes],
    options: WalkOptions,
) -> ChunkResult:
    """The rows of the whole games in `data` (or read from `span` when it is None), numbered
    from `first_game`, in the options' form; `index` is the chunk's place in the walk, `starts`
    where its games begin."""
    if data is None:
        assert span is not None
        data = read_span(span)
    if options.encoding is not None:
        # The walk reads UTF-8; an encoding that keeps ASCII as it is splits the same way, but
        # its games begin elsewhere once made UTF-8.
        data = data.decode(options.encoding, "replace").encode("utf-8")
        starts = None
    arguments = (data, source, first_game, options.tags, options.columns, options.where, starts)
    if options.form in ("table", "part"):
        batch = _native.walk_table(*arguments)
        if options.form == "part":
            assert options.folder is not None
            write_part(batch, options.folder, index)
            batch_counts = (batch.problems, batch.games, batch.positions, batch.filtered)
            return ChunkResult(None, *batch_counts)
        return ChunkResult(batch, batch.problems, batch.games, batch.positions, batch.filtered)
    rows, problems, games, positions, filtered = _native.walk(*arguments)
    return ChunkResult(compress(options.form, rows), problems, games, positions, filtered)
