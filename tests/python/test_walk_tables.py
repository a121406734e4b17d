"""The walker's tables: every output format read back by pandas, polars and duckdb with the same
rows and one type a column; the Python API's Arrow stream in the same three; columns asked for
and games chosen by their tags."""

import gzip
import io
import sys

import pytest

from conftest import INSTALLED, ROOT
from test_walk_games import ANNOTATED, GOOD, SAMPLE, rows_of, walk

if not INSTALLED:
    sys.path.insert(0, str(ROOT))
morvek_walk = pytest.importorskip("morvek_walk")
pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")
pl = pytest.importorskip("polars")
pd = pytest.importorskip("pandas")
duckdb = pytest.importorskip("duckdb")

INTEGERS = ["game", "ply", "check", "see", "legal_moves", "eval", "mate"]


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    """The sample and the annotated game (clock, evaluation, mate and null moves), whose CSV
    has a value in every column."""
    folder = tmp_path_factory.mktemp("inputs")
    (folder / "annotated.pgn").write_text(ANNOTATED * 3, encoding="utf-8")
    (folder / "standard.pgn").write_bytes((SAMPLE / "standard.pgn").read_bytes())
    status, text, errors = walk("--jobs", "1", "--tags", "Event", folder)
    assert status == 0, errors
    return folder, text


def read(reader, path):
    """The file or folder as `reader` loads it by default: a polars frame."""
    parquet = path.suffix == ".parquet" or path.is_dir()
    if reader == "pandas":
        return pl.from_pandas(pd.read_parquet(path) if parquet else pd.read_csv(path))
    if reader == "polars":
        return pl.read_parquet(path) if parquet else pl.read_csv(path)
    found = f"'{path}/*.parquet'" if path.is_dir() else f"'{path}'"
    return duckdb.sql(f"select * from {found}").pl()


@pytest.mark.parametrize("reader", ["pandas", "polars", "duckdb"])
@pytest.mark.parametrize("name", ["moves.csv", "moves.csv.gz", "moves.csv.zst", "moves.parquet",
                                  "moves/"])  # fmt: skip
def test_every_format_reads_back_as_the_csv(tmp_path, inputs, reader, name):
    folder, text = inputs
    # A path object would drop the folder's slash.
    status, _, errors = walk("--jobs", "2", "--chunk", "50", "--tags", "Event", folder,
                             "-o", f"{tmp_path}/{name}")  # fmt: skip
    assert status == 0, errors
    table = read(reader, tmp_path / name.rstrip("/"))
    expected = rows_of(text, ["Event"])
    assert table.columns == [*morvek_walk.COLUMNS, "Event"]
    assert table.height == len(expected)
    # Integers as integers, the clock a number with its fraction, empty cells as nulls.
    for name in INTEGERS:
        assert table[name].dtype.is_integer() or (reader == "pandas" and table[name].null_count())
    assert table["clock"].dtype.is_float()
    as_text = [
        ["" if v is None else (repr(v) if isinstance(v, float) and name == "clock" else str(v))
         for name, v in zip(table.columns, row)]
        for row in table.rows()
    ]  # fmt: skip
    if reader == "pandas":  # its integers with nulls are floats
        as_text = [[c[:-2] if c.endswith(".0") and i in (7, 11, 12) else c for i, c in
                    enumerate(row)] for row in as_text]  # fmt: skip
    assert as_text == expected


def test_compressed_csv_is_one_stream_of_members(tmp_path, inputs):
    """Each chunk a gzip member of its own: one stream to every reader."""
    folder, text = inputs
    walk("--jobs", "2", "--chunk", "30", "--tags", "Event", folder, "-o", tmp_path / "m.csv.gz")
    data = (tmp_path / "m.csv.gz").read_bytes()
    assert data.count(b"\x1f\x8b\x08") > 3
    assert gzip.decompress(data).decode() == text


def test_parquet_has_a_row_group_a_chunk_and_is_small(tmp_path, inputs):
    folder, text = inputs
    walk("--jobs", "1", "--chunk", "2000", folder, "-o", tmp_path / "m.parquet")
    walk("--jobs", "1", "--chunk", "2000", folder, "-o", tmp_path / "m.csv")
    meta = pq.ParquetFile(tmp_path / "m.parquet").metadata
    assert meta.num_row_groups > 3
    assert meta.row_group(0).column(0).compression == "ZSTD"
    assert (tmp_path / "m.parquet").stat().st_size * 5 < (tmp_path / "m.csv").stat().st_size


# --- the Python API ------------------------------------------------------------------------------
@pytest.mark.parametrize("consumer", ["pyarrow", "polars", "duckdb", "batches"])
def test_api_stream_is_the_commands_rows(inputs, consumer):
    folder, text = inputs
    walked = morvek_walk.walk(folder, tags=["Event"], jobs=2, chunk=40)
    if consumer == "pyarrow":
        table = pl.from_arrow(pa.table(walked))
    elif consumer == "polars":
        table = pl.DataFrame(walked)
    elif consumer == "duckdb":
        table = duckdb.sql("select * from walked").pl()
    else:
        table = pl.from_arrow(pa.Table.from_batches([pa.record_batch(b) for b in walked]))
    expected = pl.read_csv(io.StringIO(text), schema_overrides={"clock": pl.Float64})
    assert table.cast(expected.schema).equals(expected)
    assert (walked.games, walked.positions, walked.problems) == (
        expected.select(["source", "game"]).unique().height,
        expected.height,
        [],
    )
    with pytest.raises(ValueError, match="a walk is read once"):
        pa.table(walked)


def test_api_refuses_at_the_call(tmp_path):
    with pytest.raises(morvek_walk.InputError, match="no such file or folder"):
        morvek_walk.walk(tmp_path / "none.pgn")
    with pytest.raises(morvek_walk.UsageError, match="--columns takes names of columns"):
        morvek_walk.walk(SAMPLE, columns=["fen", "elo"])
    with pytest.raises(ValueError, match="compare numbers"):
        morvek_walk.walk(SAMPLE, where=["WhiteElo>high"])
    empty = morvek_walk.walk(SAMPLE, columns=["fen"], where=["Event=none"])
    assert pa.table(empty).num_rows == 0 and empty.filtered == 300


def test_api_input_failure_surfaces_from_the_stream(tmp_path):
    (tmp_path / "a.pgn").write_text(GOOD)
    (tmp_path / "b.pgn.gz").write_bytes(gzip.compress(GOOD.encode())[:-12])
    with pytest.raises(Exception, match="cannot read .*b.pgn.gz"):
        pa.table(morvek_walk.walk(tmp_path))


# --- columns and conditions --------------------------------------------------------------------
@pytest.mark.parametrize("columns", [["fen", "uci"], ["see"], ["game", "legal_moves", "mate"]])
def test_columns_asked_for_are_those_of_the_full_walk(inputs, columns):
    folder, text = inputs
    status, part, errors = walk("--jobs", "1", "--columns", ",".join(columns), folder)
    assert status == 0, errors
    # A line of one empty cell is written "" (as the csv module writes it): read as empty text.
    full = pl.read_csv(io.StringIO(text), infer_schema=False).fill_null("")
    assert (
        pl.read_csv(io.StringIO(part), infer_schema=False)
        .fill_null("")
        .equals(full.select(columns))
    )


TAGGED = (
    "".join(
        f'[Event "{event}"]\n[WhiteElo "{elo}"]\n[TimeControl "{tc}"]\n\n1. e4 e5 1-0\n\n'
        for event, elo, tc in [
            ("Rated Blitz game", "2100", "180+0"),
            ("Rated Bullet game", "2600", "60+0"),
            ("Casual blitz", "?", "180+0"),
            ("Rated Classical", "1500.5", "1800+30"),
        ]
    )
    + '[Event "no elo"]\n\n1. d4 d5 0-1\n\n'
)


@pytest.mark.parametrize(
    "where, kept",
    [
        (["WhiteElo>=2000"], [1, 2]),
        (["WhiteElo<2000"], [4]),
        (["WhiteElo=2100.0"], [1]),
        (["WhiteElo!=2100"], [2, 3, 4, 5]),
        (["Event~blitz"], [1, 3]),
        (["TimeControl=180+0", "Event~Rated"], [1]),
        (["Round=?"], []),
        (["Event!=no elo", "WhiteElo>0"], [1, 2, 4]),
    ],
)
def test_conditions_on_tags_choose_the_games(tmp_path, where, kept):
    (tmp_path / "tagged.pgn").write_text(TAGGED)
    arguments = [a for w in where for a in ("--where", w)]
    status, text, errors = walk("--jobs", "1", *arguments, tmp_path / "tagged.pgn")
    assert status == 0, errors
    assert sorted({int(row[1]) for row in rows_of(text)}) == kept
    assert errors[-1].endswith(f"{5 - len(kept)} games filtered out") == (len(kept) < 5)
