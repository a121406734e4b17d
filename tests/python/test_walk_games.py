"""The walker (morvek-walk) as its users run it: over the sample collection with one process, two
and Dask clusters; every row held against python-chess reading the same PGN; bad input reported
and left out with everything else written; failures that leave the user's files as they were.

The walker runs as a command in a child interpreter of this one: `python -m morvek_walk` beside
the build directory, or the installed `morvek-walk` of the wheel.
"""

import bz2
import csv
import gzip
import importlib.util
import io
import lzma
import os
import pathlib
import re
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import time

import chess
import chess.pgn
import pytest

import morvek_board as mb
from conftest import BUILD, INSTALLED, ROOT

SAMPLE = ROOT / "examples" / "games"
if not (ROOT / "morvek_walk").is_dir() or not SAMPLE.is_dir():
    pytest.skip("the walker and its sample are not beside these tests", allow_module_level=True)

COLUMNS = [
    "source",
    "game",
    "ply",
    "fen",
    "uci",
    "san",
    "check",
    "see",
    "legal_moves",
    "result",
    "clock",
    "eval",
    "mate",
]
INSTALLED_COMMAND = pathlib.Path(sys.executable).parent / "morvek-walk"


def environment():
    env = dict(os.environ)
    if not INSTALLED:
        env["PYTHONPATH"] = os.pathsep.join(
            filter(None, [str(BUILD), str(ROOT), env.get("PYTHONPATH")])
        )
    return env


def command():
    return [str(INSTALLED_COMMAND)] if INSTALLED else [sys.executable, "-m", "morvek_walk"]


def walk(*args, cwd=ROOT, timeout=300, stdin=None):
    """Runs the walker; (exit status, CSV text, standard error lines). `stdin`: bytes, or a
    file to be standard input itself."""
    done = subprocess.run(
        [*command(), *map(str, args)],
        cwd=cwd,
        env=environment(),
        **({"input": stdin} if isinstance(stdin, bytes) else {"stdin": stdin}),
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        timeout=timeout,
    )
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8").splitlines()


def rows_of(text, tags=()):
    reader = csv.reader(io.StringIO(text))
    assert next(reader) == COLUMNS + list(tags)
    return list(reader)


@pytest.fixture(scope="module")
def one_process():
    """The sample walked by one process, in small chunks so that the parallel runs split it."""
    status, text, errors = walk("--jobs", "1", "--chunk", "400", "examples/games")
    assert status == 0, errors
    return text, errors


def dask_ready():
    return importlib.util.find_spec("distributed") is not None


needs_dask = pytest.mark.skipif(not dask_ready(), reason="dask[distributed] is not installed here")
needs_pyarrow = pytest.mark.skipif(
    importlib.util.find_spec("pyarrow") is None, reason="pyarrow is not installed here"
)
needs_zstd = pytest.mark.skipif(
    sys.version_info < (3, 14) and importlib.util.find_spec("zstandard") is None,
    reason="no zstd reader here",
)


# --- the same output whichever runs it -------------------------------------------------------
@pytest.mark.parametrize(
    "how",
    [
        ["--jobs", "2"],
        pytest.param(["--dask", "local:2"], marks=needs_dask),
    ],
    ids=["two-processes", "dask-two-workers"],
)
def test_parallel_runs_write_the_same_bytes(one_process, how):
    text, errors = one_process
    status, parallel, parallel_errors = walk(*how, "--chunk", "400", "examples/games")
    assert status == 0, parallel_errors
    assert parallel == text
    # No bar off a terminal: the counts are all that standard error says.
    assert parallel_errors == errors and len(errors) == 1


def test_counts_say_what_was_written(one_process):
    text, errors = one_process
    rows = rows_of(text)
    games = {(row[0], row[1]) for row in rows}
    assert (
        errors[-1]
        == f"morvek-walk: {len(games)} games written, {len(rows)} positions, 0 games skipped"
    )
    assert {row[0] for row in rows} == {
        "examples/games/chess960.pgn",
        "examples/games/standard.pgn",
    }


# --- every row against python-chess --------------------------------------------------------
def castling_rooks(field):
    """The rook squares that a castling field names, each letter read as the module reads it:
    K and Q the h- and a-file rooks, file letters that file."""
    squares = set()
    for letter in field.replace("-", ""):
        file = {"k": "h", "q": "a"}.get(letter.lower(), letter.lower())
        squares.add(chess.parse_square(file + ("1" if letter.isupper() else "8")))
    return squares


def same_position(fen, board):
    """Placement, side, castling rooks, en passant square and clocks of both agree."""
    placement, side, castling, passant, halfmove, fullmove = fen.split(" ")
    theirs = board.fen(en_passant="fen").split(" ")
    return [placement, side, passant, halfmove, fullmove] == theirs[:2] + theirs[
        3:
    ] and castling_rooks(castling) == set(chess.SquareSet(board.castling_rights))


def check_against_python_chess(rows, path, source):
    """Every row of every game in `path` against python-chess; the games' count."""
    by_game = {}
    for row in rows:
        by_game.setdefault((row[0], int(row[1])), []).append(row)
    walked = 0
    with open(path, encoding="utf-8") as file:
        number = 0
        while (game := chess.pgn.read_game(file)) is not None:
            number += 1
            assert not game.errors, (source, number, game.errors)
            rows = by_game.pop((source, number))
            board = game.board()
            nodes = list(game.mainline())
            assert [int(row[2]) for row in rows] == list(range(1, len(nodes) + 1))
            for row, node in zip(rows, nodes):
                where = (source, number, row[2])
                move = node.move
                assert same_position(row[3], board), where
                assert int(row[8]) == board.legal_moves.count(), where
                assert row[9] == game.headers["Result"], where
                score = node.eval()
                assert row[10:13] == [
                    "" if node.clock() is None else repr(node.clock()),
                    ""
                    if score is None or score.white().score() is None
                    else str(score.white().score()),
                    ""
                    if score is None or score.white().mate() is None
                    else str(score.white().mate()),
                ], where
                if move:
                    assert row[5] == board.san(move), where
                else:
                    assert row[4:6] == ["", ""] and row[7] == "", where
                board.push(move)
                assert same_position(
                    mb.null_move_fen(row[3]) if not move else mb.apply_uci(row[3], row[4]), board
                ), where
                assert row[6] == str(int(board.is_check())), where
            walked += 1
    assert [key for key in by_game if key[0] == source] == []
    return walked


def test_every_row_agrees_with_python_chess(one_process):
    rows = rows_of(one_process[0])
    walked = sum(
        check_against_python_chess(rows, path, f"examples/games/{path.name}")
        for path in sorted(SAMPLE.glob("*.pgn"))
    )
    assert walked >= 300


# Clocks and engine evaluations as online databases write them, null moves as PGN editors do,
# and an en passant capture marked as such.
ANNOTATED = """[Event "annotated"]
[Result "1-0"]

1. e4 { [%eval 0.17] [%clk 0:03:00] } 1... d5 { [%eval 0.29] [%clk 0:02:59.5] }
2. e5 { [%eval -1.45,22] [%clk 1:00:00] } 2... f5 { [%eval #-3] } 3. exf6 e.p. { [%eval #4] }
3... Nxf6 { a comment } 4. -- { [%clk 0:00:01] } 4... Z0 5. Nf3 1-0

"""


def test_clocks_evaluations_and_null_moves_agree_with_python_chess(tmp_path):
    (tmp_path / "annotated.pgn").write_text(ANNOTATED, encoding="utf-8")
    status, text, errors = walk("--jobs", "1", tmp_path / "annotated.pgn")
    assert status == 0, errors
    rows = rows_of(text)
    assert len(rows) == 9
    assert (
        check_against_python_chess(
            rows, tmp_path / "annotated.pgn", str(tmp_path / "annotated.pgn")
        )
        == 1
    )


# --- PGN as people write it ------------------------------------------------------------------
def first_game():
    text = (SAMPLE / "standard.pgn").read_text(encoding="utf-8")
    return text[: text.index("\n[", text.index("\n\n")) + 1]


def decorate(game):
    """The same game with everything PGN allows around its moves: comments holding brackets and
    parentheses, nested variations, NAGs, annotation signs, escape and rest-of-line comments,
    black's move numbers, numbers glued to moves, CRLF line ends and a byte-order mark."""
    head, moves = game.split("\n\n", 1)
    words = moves.split()
    out = []
    for i, word in enumerate(words):
        if not word:
            continue
        if word[0].isdigit() and word.endswith(".") and i + 1 < len(words) and i % 9 == 0:
            out.append(f"{word}{words[i + 1]}")
            words[i + 1] = ""
            continue
        out.append(word)
        if i % 5 == 1:
            out.append("{ a note [with] (brackets) ; and 1-0 }")
        if i % 7 == 2:
            out.append("$14 ( 1... Nc6 { inner } ( 1. e4 e5 $2 ) Nf3?! ) 12...")
        if i % 11 == 3:
            out.append("; to the end of the line 0-1\n")
        if i % 13 == 4:
            out.append("\n% escaped line *\n")
        if i % 17 == 5:
            out.append("!? +/- N")
    return "\ufeff" + (head + "\n\n" + " ".join(out) + "\n").replace("\n", "\r\n")


def test_pgn_decorations_change_no_row(tmp_path):
    game = first_game()
    (tmp_path / "plain.pgn").write_text(game, encoding="utf-8")
    (tmp_path / "decorated.pgn").write_bytes(decorate(game).encode("utf-8"))
    status, text, errors = walk("--jobs", "1", tmp_path)
    assert status == 0, errors
    rows = rows_of(text)
    plain = [row[1:] for row in rows if row[0].endswith("plain.pgn")]
    assert len(plain) > 20
    assert [row[1:] for row in rows if row[0].endswith("decorated.pgn")] == plain


# --- compressed and streamed input -------------------------------------------------------------
def zstd_compress(data):
    try:
        from compression import zstd

        return zstd.compress(data)
    except ImportError:
        zstandard = pytest.importorskip("zstandard")
        return zstandard.ZstdCompressor().compress(data)


@pytest.mark.parametrize(
    "suffix, compress",
    [
        (".gz", gzip.compress),
        (".bz2", bz2.compress),
        (".xz", lzma.compress),
        (".zst", zstd_compress),
        ("-", None),
    ],
    ids=["gz", "bz2", "xz", "zst", "stdin"],
)
def test_compressed_and_standard_input_give_the_same_rows(one_process, tmp_path, suffix, compress):
    """In folders too: every name but a compressed file's suffix is the plain file's."""
    plain = (SAMPLE / "standard.pgn").read_bytes()
    if compress is None:
        status, text, errors = walk("--jobs", "2", "-", stdin=plain)
        source = "-"
    else:
        (tmp_path / f"standard.pgn{suffix}").write_bytes(compress(plain))
        status, text, errors = walk("--jobs", "2", tmp_path)
        source = str(tmp_path / f"standard.pgn{suffix}")
    assert status == 0, errors
    expected = [
        row[1:] for row in rows_of(one_process[0]) if row[0] == "examples/games/standard.pgn"
    ]
    rows = rows_of(text)
    assert {row[0] for row in rows} == {source}
    assert [row[1:] for row in rows] == expected


def peak_kib(*args):
    """The walker's peak resident memory in KiB, measured in a process of its own."""
    probe = (
        "import resource, subprocess, sys; subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, "
        "stderr=subprocess.DEVNULL, check=True); "
        "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)"
    )
    done = subprocess.run(
        [sys.executable, "-c", probe, *command(), *map(str, args)],
        env=environment(),
        cwd=ROOT,
        capture_output=True,
        text=True,
        timeout=300,
        check=True,
    )
    return int(done.stdout)


def test_memory_does_not_grow_with_the_input(tmp_path):
    """Games with long comments make a large file of few moves; read whole, the larger input
    would cost its own size twice over (its bytes and its text)."""
    game = (
        '[Event "long"]\n\n1. e4 { ' + "a long comment " * 700 + "} e5 2. Nf3 Nc6 1-0\n\n"
    ).encode()
    (tmp_path / "small.pgn").write_bytes(game * 200)  # 2 MB
    (tmp_path / "large.pgn").write_bytes(game * 2000)  # 21 MB
    small = peak_kib(
        "--jobs", "1", "--chunk", "100", tmp_path / "small.pgn", "-o", tmp_path / "small.csv"
    )
    large = peak_kib(
        "--jobs", "1", "--chunk", "100", tmp_path / "large.pgn", "-o", tmp_path / "large.csv"
    )
    assert large - small < 6 * 1024, (small, large)


# --- bad input: reported, left out, nothing else lost ---------------------------------------
GOOD = '[Event "good"]\n\n1. e4 e5 2. Nf3 Nc6 1-0\n\n'
CHESS960 = "nbbrknrq/pppppppp/8/8/8/8/PPPPPPPP/NBBRKNRQ w KQkq - 0 1"

# (case, the middle game's bytes, ply, text, message, the reason its skip is counted under)
BAD_GAMES = [
    (
        "unreadable-move",
        b"1. e4 e5 2. Nf9 Nc6 1-0\n\n",
        3,
        "Nf9",
        "no legal move matches SAN 'Nf9'",
        "move not legal",
    ),
    (
        "illegal-move",
        b"1. e4 e5 2. Ke3 Nc6 1-0\n\n",
        3,
        "Ke3",
        "no legal move matches SAN 'Ke3'",
        "move not legal",
    ),
    (
        "not-utf-8-move",
        b"1. e4 e5 2. Nf3 N\xffc6 1-0\n\n",
        4,
        "N\\xffc6",
        "byte 0xff is not UTF-8",
        "not UTF-8",
    ),
    (
        "bad-fen-tag",
        b'[FEN "8/8/8/8/8/8/8/8 w - - 0 1"]\n\n1. e4 1-0\n\n',
        0,
        "8/8/8/8/8/8/8/8 w - - 0 1",
        "bad FEN: InvalidBoard",
        "FEN tag refused",
    ),
    (
        "variant",
        b'[Variant "Crazyhouse"]\n\n1. e4 e5 1-0\n\n',
        0,
        '[Variant "Crazyhouse"]',
        "not chess: only standard chess and Chess960 are walked",
        "not chess",
    ),
    (
        "null-move-in-check",
        b"1. e4 f6 2. Qh5+ -- 1-0\n\n",
        4,
        "--",
        "null move illegal (in check)",
        "null move in check",
    ),
]


@pytest.mark.parametrize(
    "case, middle, ply, text, message, reason", BAD_GAMES, ids=[c[0] for c in BAD_GAMES]
)
def test_bad_game_is_reported_and_left_out(tmp_path, case, middle, ply, text, message, reason):
    """The text as given, escaped once; with --quiet only the counts, the skips summed."""
    (tmp_path / "games.pgn").write_bytes(
        GOOD.encode() + b'[Event "bad"]\n' + middle + GOOD.encode()
    )
    (tmp_path / "good.pgn").write_text(GOOD + GOOD, encoding="utf-8")
    status, text_out, errors = walk("--jobs", "2", "--chunk", "1", tmp_path)
    assert status == 1
    rows = rows_of(text_out)
    # Both files' games 1 and the good file's 2 are written, and identically so; the bad file's
    # third game keeps its number.
    written = [(pathlib.Path(row[0]).name, row[1]) for row in rows]
    assert sorted(set(written)) == [
        ("games.pgn", "1"),
        ("games.pgn", "3"),
        ("good.pgn", "1"),
        ("good.pgn", "2"),
    ]
    assert len({tuple(row[2:]) for row in rows}) == len(rows) // 4
    counts = f"morvek-walk: 4 games written, 16 positions, 1 games skipped (1 {reason})"
    assert errors == [f"{tmp_path / 'games.pgn'}: game 2, ply {ply}: '{text}': {message}", counts]
    assert walk("--quiet", "--jobs", "1", tmp_path)[::2] == (1, [counts])


def test_bytes_that_are_not_utf_8_cost_no_game_outside_the_moves(tmp_path):
    """In tags and comments they are kept as escapes; --encoding reads them as meant."""
    game = b'[White "caf\xe9"]\n[Variant "Chess960"]\n\n1. e4 { tr\xe8s bien } e5 1-0\n\n'
    (tmp_path / "latin.pgn").write_bytes(game)
    status, text, errors = walk("--jobs", "1", "--tags", "White,Black", tmp_path / "latin.pgn")
    assert status == 0, errors
    assert [row[13:] for row in rows_of(text, ["White", "Black"])] == [["caf\\xe9", ""]] * 2
    status, text, errors = walk(
        "--jobs", "1", "--tags", "White", "--encoding", "latin-1", tmp_path / "latin.pgn"
    )
    assert status == 0, errors
    assert [row[13] for row in rows_of(text, ["White"])] == ["café"] * 2


def test_game_cut_off_at_the_end_of_the_file(tmp_path):
    (tmp_path / "cut.pgn").write_text(
        GOOD + "1. d4 d5 2. c4 { a comment left open", encoding="utf-8"
    )
    status, text, errors = walk("--jobs", "1", tmp_path / "cut.pgn")
    assert status == 1
    assert len(rows_of(text)) == 4
    assert errors[0].endswith(
        ": game 2, ply 3: 'c4': truncated: no result before the end of the file"
    )


# --- failures: one line, a documented status, the user's files as they were ------------------
FAILURES = [
    # (case, arguments with {input} and {dir}, status, the line's start)
    (
        "output-is-input",
        ["{input}", "-o", "{input}"],
        2,
        "morvek-walk: the output {input} is one of the inputs",
    ),
    (
        "output-in-input-folder",
        ["{dir}", "-o", "{input}"],
        2,
        "morvek-walk: the output {input} is one of the inputs",
    ),
    (
        "output-folder-missing",
        ["{input}", "-o", "{dir}/no/such/out.csv"],
        2,
        "morvek-walk: cannot write",
    ),
    (
        "output-is-a-folder",
        ["{input}", "-o", "{dir}"],
        2,
        "morvek-walk: the output {dir} is a folder",
    ),
    (
        "no-such-input",
        ["{dir}/nothing.pgn", "-o", "{dir}/out.csv"],
        2,
        "morvek-walk: no such file or folder",
    ),
    (
        "empty-folder",
        ["{dir}/empty", "-o", "{dir}/out.csv"],
        2,
        "morvek-walk: no PGN files in {dir}/empty",
    ),
    (
        "corrupt-gzip",
        ["{dir}/broken.pgn.gz", "-o", "{dir}/out.csv"],
        2,
        "morvek-walk: cannot read {dir}/broken.pgn.gz",
    ),
    ("jobs-zero", ["--jobs", "0", "{input}"], 2, "morvek-walk: error: --jobs takes 1 to"),
    ("jobs-too-many", ["--jobs", "5000", "{input}"], 2, "morvek-walk: error: --jobs takes 1 to"),
    (
        "dask-local-x",
        ["--dask", "local:x", "{input}"],
        2,
        "morvek-walk: error: --dask local:N takes N from 1",
    ),
    (
        "dask-local-0",
        ["--dask", "local:0", "{input}"],
        2,
        "morvek-walk: error: --dask local:N takes N from 1",
    ),
    (
        "encoding-not-ascii-compatible",
        ["--encoding", "utf-16", "{input}"],
        2,
        "morvek-walk: error: --encoding takes an encoding that keeps ASCII as it is",
    ),
    (
        "unknown-encoding",
        ["--encoding", "klingon", "{input}"],
        2,
        "morvek-walk: error: unknown encoding",
    ),
    (
        "output-suffix-bz2",
        ["{input}", "-o", "{dir}/out.csv.bz2"],
        2,
        "morvek-walk: error: the output {dir}/out.csv.bz2 names a format the walker does not "
        "write (.bz2)",
    ),
    (
        "output-suffix-gz-not-csv",
        ["{input}", "-o", "{dir}/out.gz"],
        2,
        "morvek-walk: error: the output {dir}/out.gz names a format the walker does not write",
    ),
    (
        "output-suffix-feather",
        ["{input}", "-o", "{dir}/out.feather"],
        2,
        "morvek-walk: error: the output {dir}/out.feather names a format",
    ),
    pytest.param(
        "dataset-with-a-damaged-input",
        ["{input}", "{dir}/flipped.pgn.gz", "-o", "{dir}/moves/"],
        2,
        "morvek-walk: cannot read {dir}/flipped.pgn.gz",
        marks=needs_pyarrow,
    ),
    pytest.param(
        "output-folder-exists",
        ["{input}", "-o", "{dir}/empty/"],
        2,
        "morvek-walk: the output {dir}/empty/ exists already: name a new folder",
        marks=needs_pyarrow,
    ),
    (
        "standard-input-is-the-output",
        ["-", "-o", "{input}"],
        2,
        "morvek-walk: the output {input} is one of the inputs",
    ),
    (
        "corrupt-deflate-data",
        ["{dir}/flipped.pgn.gz", "-o", "{dir}/out.csv"],
        2,
        "morvek-walk: cannot read {dir}/flipped.pgn.gz: Error -3",
    ),
    (
        "tag-named-like-a-column",
        ["--tags", "White,result,game", "{input}"],
        2,
        "morvek-walk: error: --tags: result names a column already",
    ),
    (
        "dask-address-without-port",
        ["--dask", "foo", "{input}"],
        2,
        "morvek-walk: error: --dask takes a scheduler's address such as tcp://host:8786",
    ),
    (
        "dask-address-bad-port",
        ["--dask", "tcp://127.0.0.1:8786x", "{input}"],
        2,
        "morvek-walk: error: --dask takes a scheduler's address",
    ),
    pytest.param(
        "zstd-cut-short",
        ["{dir}/cut.pgn.zst", "-o", "{dir}/out.csv"],
        2,
        "morvek-walk: cannot read {dir}/cut.pgn.zst: Compressed file ended before the end-of-stream",
        marks=needs_zstd,
    ),
    pytest.param(
        "dask-unreachable",
        ["--dask", "tcp://127.0.0.1:9", "--dask-timeout", "1", "{input}", "-o", "{dir}/out.csv"],
        2,
        "morvek-walk: cannot reach the Dask scheduler",
        marks=needs_dask,
    ),
    pytest.param(
        "dask-port-answered-by-another-server",
        ["--dask", "tcp://{silent}", "--dask-timeout", "1", "{input}", "-o", "{dir}/out.csv"],
        2,
        "morvek-walk: cannot reach the Dask scheduler at tcp://{silent} within 1 s",
        marks=needs_dask,
    ),
]


@pytest.mark.parametrize(
    "case, arguments, status, line", FAILURES, ids=[getattr(f, "values", f)[0] for f in FAILURES]
)
def test_failure_is_one_line_and_touches_nothing(tmp_path, case, arguments, status, line):
    (tmp_path / "games.pgn").write_text(GOOD, encoding="utf-8")
    (tmp_path / "broken.pgn.gz").write_bytes(gzip.compress(GOOD.encode())[:-12])
    flipped = bytearray(gzip.compress((SAMPLE / "standard.pgn").read_bytes()))
    flipped[40] ^= 0xFF
    (tmp_path / "flipped.pgn.gz").write_bytes(flipped)
    if case == "zstd-cut-short":
        whole = zstd_compress((SAMPLE / "standard.pgn").read_bytes())
        (tmp_path / "cut.pgn.zst").write_bytes(whole[: len(whole) // 2])
    (tmp_path / "empty").mkdir()
    before = tree(tmp_path)
    # A server that takes connections and never says a word.
    with socket.create_server(("127.0.0.1", 0)) as silent:
        fill = {
            "input": tmp_path / "games.pgn",
            "dir": tmp_path,
            "silent": "127.0.0.1:%d" % silent.getsockname()[1],
        }
        with open(tmp_path / "games.pgn", "rb") as stdin:
            got, text, errors = walk(*[a.format(**fill) for a in arguments], stdin=stdin)
    assert got == status
    assert errors[0].startswith(line.format(**fill)), errors
    assert len(errors) == 1
    assert tree(tmp_path) == before


def tree(folder):
    """Every file's bytes and every folder, hidden ones too."""
    return {p: p.read_bytes() if p.is_file() else None for p in folder.rglob("*")}


# --- outputs that are not regular files, and regular ones behind links -------------------------
@pytest.fixture
def elsewhere(tmp_path):
    """A folder on another file system where the machine has one (a RAM disk), else beside."""
    shm = pathlib.Path("/dev/shm")
    if shm.is_dir() and os.access(shm, os.W_OK) and shm.stat().st_dev != tmp_path.stat().st_dev:
        folder = pathlib.Path(tempfile.mkdtemp(dir=shm))
        yield folder
        shutil.rmtree(folder)
    else:
        (tmp_path / "elsewhere").mkdir()
        yield tmp_path / "elsewhere"


def test_outputs_that_are_streams_or_links(tmp_path, elsewhere, one_process):
    """A device, /dev/stdout, a pipe named by /dev/fd and a link (to another file system where
    there is one) are written through, never replaced; a replaced file keeps its mode."""
    expected = one_process[0]
    (tmp_path / "kept.csv").write_text("old")
    (tmp_path / "kept.csv").chmod(0o600)
    (tmp_path / "link.csv").symlink_to(elsewhere / "target.csv")
    status, text, errors = walk("--jobs", "1", "examples/games", "-o", "/dev/stdout")
    assert (status, text) == (0, expected), errors
    for name in ("kept.csv", "link.csv"):
        status, text, errors = walk("--jobs", "1", "examples/games", "-o", tmp_path / name)
        assert (status, text, len(errors)) == (0, "", 1), errors
    assert (tmp_path / "kept.csv").read_text() == expected
    assert (tmp_path / "kept.csv").stat().st_mode & 0o777 == 0o600
    assert (tmp_path / "link.csv").is_symlink()
    assert [p.name for p in elsewhere.iterdir()] == ["target.csv"]
    assert (elsewhere / "target.csv").read_text() == expected
    # A pipe, as a shell's process substitution hands it over.
    read_end, write_end = os.pipe()
    with subprocess.Popen(
        [*command(), "--jobs", "1", "examples/games", "-o", f"/dev/fd/{write_end}"],
        cwd=ROOT,
        env=environment(),
        pass_fds=(write_end,),
        stderr=subprocess.PIPE,
    ) as child:
        os.close(write_end)
        with open(read_end, "rb") as pipe:
            piped = pipe.read()
    assert child.returncode == 0 and piped.decode() == expected
    if os.geteuid() == 0:
        os.mknod(tmp_path / "null", 0o666 | stat.S_IFCHR, os.makedev(1, 3))
        status, text, errors = walk("--jobs", "1", "examples/games", "-o", tmp_path / "null")
        assert status == 0, errors
        assert stat.S_ISCHR((tmp_path / "null").stat().st_mode)
    assert {p.name for p in tmp_path.iterdir()} - {"elsewhere", "null"} == {"kept.csv", "link.csv"}


def test_folder_with_a_compressed_copy_walks_one(tmp_path, one_process):
    shutil.copy(SAMPLE / "standard.pgn", tmp_path)
    (tmp_path / "standard.pgn.zst").write_bytes(
        zstd_compress((SAMPLE / "standard.pgn").read_bytes())
    )
    status, text, errors = walk("--jobs", "1", tmp_path)
    assert status == 0
    assert errors[0] == (
        f"{tmp_path / 'standard.pgn.zst'} left out: a copy of {tmp_path / 'standard.pgn'}, "
        "which is walked"
    )
    expected = [row[1:] for row in rows_of(one_process[0]) if row[0].endswith("standard.pgn")]
    assert [row[1:] for row in rows_of(text)] == expected


# --- signals and killed walks ------------------------------------------------------------------
def output_descriptor(pid, folder):
    """Whether the process holds a file in `folder` open for writing: the walk's output."""
    for fd in pathlib.Path(f"/proc/{pid}/fd").iterdir():
        try:
            target = os.readlink(fd)
            flags = int((pathlib.Path(f"/proc/{pid}/fdinfo") / fd.name).read_text().split()[3], 8)
        except OSError:
            continue
        if target.startswith(str(folder)) and flags & (os.O_WRONLY | os.O_RDWR):
            return True
    return False


def wait_for(condition, what, seconds=120):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, f"waited {seconds} s for {what}"
        time.sleep(0.05)


@pytest.mark.parametrize("to", ["file", "stdout"])
@pytest.mark.parametrize("sent", [signal.SIGINT, signal.SIGTERM], ids=["ctrl-c", "sigterm"])
def test_interrupted_walk_leaves_no_output(tmp_path, sent, to):
    """Signalled once the walk writes: a file output leaves nothing, a stream keeps exactly the
    rows of the games counted."""
    (tmp_path / "many.pgn").write_bytes((SAMPLE / "standard.pgn").read_bytes() * 100)
    (tmp_path / "stdout.csv").touch()
    to_file = ["-o", str(tmp_path / "out.csv")] if to == "file" else []
    with (
        open(tmp_path / "stdout.csv", "wb") if not to_file else open(os.devnull, "wb") as stdout,
        subprocess.Popen(
            [*command(), "--jobs", "2", "--chunk", "2000", str(tmp_path / "many.pgn"), *to_file],
            cwd=ROOT,
            env=environment(),
            stdout=stdout,
            stderr=subprocess.PIPE,
        ) as child,
    ):
        if to_file:
            wait_for(lambda: output_descriptor(child.pid, tmp_path), "the output to open")
        else:
            wait_for(lambda: (tmp_path / "stdout.csv").stat().st_size > 1000, "the first rows")
        child.send_signal(sent)
        errors = child.stderr.read().decode().splitlines()
        status = child.wait(timeout=60)
    assert status == 130 and len(errors) == 1, errors
    assert errors[0].startswith("morvek-walk: interrupted after ")
    if to == "file":
        assert errors[0].endswith("; no output kept")
        assert sorted(p.name for p in tmp_path.iterdir()) == ["many.pgn", "stdout.csv"]
        assert (tmp_path / "stdout.csv").read_bytes() == b""
    else:
        assert errors[0].endswith("; standard output holds the rows of those games")
        rows = rows_of((tmp_path / "stdout.csv").read_text())
        assert (
            f" {len({tuple(r[:2]) for r in rows})} games written, {len(rows)} positions"
            in (errors[0])
        )


def test_signal_before_the_walk_starts_leaves_nothing(tmp_path):
    (tmp_path / "games.pgn").write_text(GOOD, encoding="utf-8")
    with subprocess.Popen(
        [*command(), str(tmp_path / "games.pgn"), "-o", str(tmp_path / "out.csv")],
        cwd=ROOT,
        env=environment(),
        stderr=subprocess.DEVNULL,
    ) as child:
        child.send_signal(signal.SIGINT)
        status = child.wait(timeout=60)
    assert status in (130, -signal.SIGINT, 0)
    if status:
        assert sorted(p.name for p in tmp_path.iterdir()) == ["games.pgn"]


def descendants_of(pid):
    parents = {
        int(entry.name): _parent_of(entry)
        for entry in pathlib.Path("/proc").iterdir()
        if entry.name.isdigit()
    }
    found, new = set(), {pid}
    while new:
        new = {child for child, parent in parents.items() if parent in new} - found
        found |= new
    return sorted(found)


def _parent_of(entry):
    try:
        return int((entry / "stat").read_text().rsplit(")", 1)[1].split()[1])
    except (OSError, IndexError, ValueError):
        return None


@needs_dask
def test_workers_end_with_a_killed_walk(tmp_path):
    """A local cluster's worker processes; --jobs walks in threads of the walk's own."""
    (tmp_path / "many.pgn").write_bytes((SAMPLE / "standard.pgn").read_bytes() * 100)
    with subprocess.Popen(
        [
            *command(),
            "--dask",
            "local:2",
            str(tmp_path / "many.pgn"),
            "-o",
            str(tmp_path / "out.csv"),
        ],
        cwd=ROOT,
        env=environment(),
        stderr=subprocess.DEVNULL,
    ) as child:
        wait_for(lambda: output_descriptor(child.pid, tmp_path), "the output to open")
        wait_for(lambda: len(descendants_of(child.pid)) >= 2, "the workers")
        workers = descendants_of(child.pid)
        child.kill()
        child.wait(timeout=60)
    wait_for(lambda: not any(pathlib.Path(f"/proc/{w}").exists() for w in workers), "no worker", 60)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["many.pgn"]


# --- a real cluster: a scheduler and two workers on the loopback address ----------------------
def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start(argv, env):
    return subprocess.Popen(
        argv, env=env, cwd=ROOT, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL
    )


def cluster_command(*argv):
    dask = pathlib.Path(sys.executable).parent / "dask"
    if not dask.is_file():
        pytest.skip("no dask command beside this interpreter")
    return [str(dask), *argv, "--no-dashboard"]


@needs_dask
@pytest.mark.parametrize(
    "case",
    [
        "every-node-has-it",
        "scheduler-lacks-it",
        "no-workers",
        pytest.param("parquet-dataset", marks=needs_pyarrow),
    ],
)
def test_walk_on_a_cluster_of_separate_processes(tmp_path, one_process, case):
    """A dataset's parts are written by the workers, and the folder appears whole."""
    scheduler_has_module = case != "scheduler-lacks-it"
    port = free_port()
    address = f"tcp://127.0.0.1:{port}"
    bare = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    processes = [
        start(
            cluster_command("scheduler", "--host", "127.0.0.1", "--port", str(port)),
            environment() if scheduler_has_module else bare,
        )
    ]
    try:
        deadline = time.monotonic() + 30
        while socket.socket().connect_ex(("127.0.0.1", port)) != 0:
            assert time.monotonic() < deadline, "the scheduler did not start"
            time.sleep(0.2)
        processes += [
            start(cluster_command("worker", address, "--nthreads", "1"), environment())
            for _ in range(2 if case != "no-workers" else 0)
        ]
        status, text, errors = walk(
            "--dask",
            address,
            "--dask-timeout",
            "3" if case == "no-workers" else "30",
            "--chunk",
            "400",
            "examples/games",
            *(["-o", f"{tmp_path}/moves/"] if case == "parquet-dataset" else []),
            timeout=120,
        )
    finally:
        for process in reversed(processes):  # the workers first, then their scheduler
            process.terminate()
            try:
                process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
    if case == "every-node-has-it":
        assert status == 0, errors
        assert text == one_process[0]
    elif case == "parquet-dataset":
        import pyarrow.csv
        import pyarrow.dataset

        assert status == 0, errors
        assert [p.name for p in tmp_path.iterdir()] == ["moves"]
        parts = sorted(p.name for p in (tmp_path / "moves").iterdir())
        assert len(parts) > 2 and parts[0] == "part-00000000.parquet"
        dataset = pyarrow.dataset.dataset(tmp_path / "moves").to_table()
        written = pyarrow.csv.read_csv(io.BytesIO(one_process[0].encode()))
        names = ["source", "game", "ply", "fen", "san"]
        assert dataset.select(names).to_pylist() == written.select(names).to_pylist()
    elif case == "no-workers":
        assert (status, errors) == (
            2,
            [f"morvek-walk: the Dask cluster at {address} has no workers"],
        )
    else:
        assert status == 2 and len(errors) == 1
        assert errors[0].startswith(
            "morvek-walk: the Dask scheduler or a worker cannot import morvek_board: "
            "install 'morvek_board[walk]' on every node"
        )


# --- Chess960 castling in FEN tags -----------------------------------------------------------
@pytest.mark.parametrize(
    "fen",
    [
        CHESS960,
        "rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/RKRNNQBB w KQkq - 0 1",
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
        "r3k2r/8/8/8/8/8/8/R3K2R b Kq - 0 1",
        "1r2k1r1/8/8/8/8/8/8/1R2K1R1 w Qk - 0 1",
        "rr2k2r/8/8/8/8/8/8/1R1K2RR w KQkq - 0 1",
        "1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GBgb - 0 1",
    ],
)
def test_fen_tag_castling_means_the_outermost_rook(tmp_path, fen):
    """What python-chess reads in a Chess960 FEN tag, the walk reads: KQkq name the outermost
    rook on each side, as programs write a start's rights."""
    theirs = chess.Board(fen, chess960=True)
    move = theirs.san(next(iter(theirs.legal_moves)))
    game = f'[Variant "Chess960"]\n[FEN "{fen}"]\n\n1. {move} *\n'
    (tmp_path / "960.pgn").write_text(game, encoding="utf-8")
    status, text, errors = walk("--jobs", "1", tmp_path / "960.pgn")
    assert status == 0, errors
    [row] = rows_of(text)
    assert castling_rooks(row[3].split(" ")[2]) == set(chess.SquareSet(theirs.castling_rights))
    assert row[5] == move


# --- the progress bar ----------------------------------------------------------------------
def test_progress_bar_on_a_terminal(tmp_path):
    pytest.importorskip("tqdm")
    import fcntl
    import pty
    import struct
    import termios

    main, terminal = pty.openpty()
    # A terminal of 100 columns; a new pseudo-terminal has none.
    fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", 30, 100, 0, 0))
    with subprocess.Popen(
        [
            *command(),
            "--jobs",
            "1",
            "--chunk",
            "400",
            "-o",
            str(tmp_path / "out.csv"),
            "examples/games",
        ],
        cwd=ROOT,
        env=environment(),
        stderr=terminal,
    ) as child:
        os.close(terminal)
        shown = b""
        # Read while it runs: a full terminal buffer would stop the child.
        while True:
            try:
                chunk = os.read(main, 65536)
            except OSError:  # the child's end closed
                break
            if not chunk:
                break
            shown += chunk
        status = child.wait(timeout=300)
    os.close(main)
    assert status == 0
    lines = shown.decode("utf-8", "replace").replace("\r", "\n").split("\n")
    # The bytes read of the inputs' total, the share done and the time left.
    from tqdm import tqdm

    total = tqdm.format_sizeof(sum(p.stat().st_size for p in SAMPLE.glob("*.pgn")), divisor=1024)
    shown = [
        re.search(r"(\d+)%\|.*\| \S+/(\S+) \[[\d:]+<[\d:?]+, .*\d games, .*positions/s", line)
        for line in lines
    ]
    assert {(m[1], m[2]) for m in shown if m and m[1] == "100"} == {("100", total)}, lines

    assert [line for line in lines if line.strip()][-1].startswith("morvek-walk: ")


def test_help_lists_every_column_and_exit_status():
    status, text, errors = walk("--help")
    assert status == 0
    for name in COLUMNS:
        assert f"\n  {name} " in text
    for code in ("0", "1", "2", "130"):
        assert f"\n  {code} " in text
