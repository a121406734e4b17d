"""What the rows become, by the output's name: CSV, plain or compressed a chunk at a time (gzip
members and zstd frames, which their readers take one after another as one stream), a Parquet
file with a row group a chunk, or a Parquet dataset, a folder whose parts the workers write
themselves. Each chunk's rows are made into their final form where the chunk is walked; this
process only puts them in place."""

from __future__ import annotations

import os
from typing import Any, Callable, NamedTuple, Optional

from ._native import COLUMNS as COLUMN_NAMES
from .failures import UsageError


class Format(NamedTuple):
    name: str  # as the messages say it
    form: str  # what a worker makes of a chunk's rows: see encode()
    needs: Optional[str]  # the module it needs, with the extra that brings it


CSV = Format("CSV", "csv", None)
FORMATS = {
    ".csv.gz": Format("gzip-compressed CSV", "gzip", None),
    ".csv.zst": Format("zstd-compressed CSV", "zstd", "zstd"),
    ".parquet": Format("Parquet", "table", "pyarrow"),
}
DATASET = Format("a Parquet dataset", "part", "pyarrow")

# Suffixes that promise another compression or table format: rows under such a name would be
# misread by every program that trusts it.
NOT_WRITTEN = (
    ".gz", ".gzip", ".tgz", ".bz2", ".xz", ".lzma", ".zst", ".zstd", ".lz4", ".br", ".z", ".zip",
    ".7z", ".pq", ".arrow", ".feather", ".ipc", ".orc", ".avro", ".json", ".jsonl", ".ndjson",
    ".xls", ".xlsx", ".tsv", ".db", ".sqlite", ".duckdb",
)  # fmt: skip


def is_folder(path: str) -> bool:
    return path.endswith(("/", os.sep))


def format_of(path: str) -> Format:
    """The format an output's name asks for: a usage error for a suffix the walker does not
    write. A name ending in / is a Parquet dataset; any other name, and -, plain CSV."""
    if is_folder(path):
        return DATASET
    lower = os.path.basename(path).lower()
    for suffix, found in FORMATS.items():
        if lower.endswith(suffix):
            return found
    for suffix in NOT_WRITTEN:
        if lower.endswith(suffix):
            raise UsageError(
                f"the output {path} names a format the walker does not write ({suffix}): name "
                f"a .csv, {', '.join(FORMATS)} file or a folder ending in /, or - for CSV on "
                "standard output"
            )
    return CSV


def check_writable(found: Format) -> None:
    """A format whose module is missing is a usage error before anything is read."""
    if found.needs == "pyarrow" and not _importable("pyarrow.parquet"):
        raise UsageError(f"writing {found.name} needs pyarrow: pip install 'morvek_board[parquet]'")
    if found.needs == "zstd" and _zstd_compress() is None:
        raise UsageError(
            f"writing {found.name} needs the zstandard package: pip install 'morvek_board[walk]'"
        )


def _importable(name: str) -> bool:
    import importlib.util

    try:
        return importlib.util.find_spec(name) is not None
    except ImportError:
        return False


def _zstd_compress() -> Optional[Callable[[bytes], bytes]]:
    try:
        from compression import zstd  # type: ignore[import-not-found]  # CPython 3.14 on

        return lambda data: zstd.compress(data, level=3)  # type: ignore[no-any-return]
    except ImportError:
        pass
    try:
        import zstandard  # type: ignore[import-not-found]
    except ImportError:
        return None
    return zstandard.ZstdCompressor(level=3).compress  # type: ignore[no-any-return]


def header(form: str, names: list[str]) -> bytes:
    """The CSV header, as its own member or frame where the CSV is compressed."""
    line = (",".join(_csv_field(name) for name in names) + "\n").encode()
    return compress(form, line)


def _csv_field(text: str) -> str:
    if any(c in text for c in ',"\r\n'):
        return '"' + text.replace('"', '""') + '"'
    return text


def compress(form: str, data: bytes) -> bytes:
    if form == "gzip":
        import gzip

        # A member a chunk; level 6, gzip's own default, for files people keep.
        return gzip.compress(data, compresslevel=6, mtime=0)
    if form == "zstd":
        compress_zstd = _zstd_compress()
        assert compress_zstd is not None  # checked before the walk
        return compress_zstd(data)
    return data


# --- the Parquet side ---------------------------------------------------------------------------
# Texts that repeat within a chunk: a dictionary makes them small. A FEN rarely repeats, and a
# dictionary tried on it costs the writer a third of its time for nothing.
REPEATING = ("source", "uci", "san", "result")


def parquet_options(names: list[str]) -> dict[str, Any]:
    """Every Parquet file the walker writes: zstd-compressed at the level that costs least (the
    next ones make it 2 % smaller for half as much time again), dictionaries for the texts that
    repeat and the tags."""
    dictionary = [n for n in names if n in REPEATING or n not in COLUMN_NAMES]
    return {"compression": "zstd", "compression_level": 1, "use_dictionary": dictionary}


def write_part(batch: Any, folder: str, index: int) -> None:
    """A chunk's rows as one file of a Parquet dataset; none for a chunk without rows."""
    if batch.num_rows == 0:
        return
    import pyarrow as pa
    import pyarrow.parquet as pq

    table = pa.Table.from_batches([pa.record_batch(batch)])
    pq.write_table(
        table, os.path.join(folder, part_name(index)), **parquet_options(table.column_names)
    )


def part_name(index: int) -> str:
    # Zero-padded, so that the parts' names sort as the chunks came in the input.
    return f"part-{index:08d}.parquet"
