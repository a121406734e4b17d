"""examples/walk_games.py as its users run it: over the sample collection with one process, two
and a Dask cluster; every row held against python-chess reading the same PGN; bad input
reported and left out with everything else written.

The example runs as a command in a child interpreter of this one, which finds the module the
way the tests do (the build directory, or the installed wheel).
"""

import csv
import importlib.util
import io
import os
import pathlib
import subprocess
import sys

import chess
import chess.pgn
import pytest

import morvek_board as mb
from conftest import BUILD, INSTALLED, ROOT

WALKER = ROOT / "examples" / "walk_games.py"
SAMPLE = ROOT / "examples" / "games"
if not WALKER.is_file() or not SAMPLE.is_dir():
    pytest.skip("the walker and its sample are not beside these tests", allow_module_level=True)

COLUMNS = ["source", "game", "ply", "fen", "uci", "san", "check", "see", "legal_moves"]


def walk(*args, cwd=ROOT, timeout=300):
    """Runs the walker; (exit status, CSV text, standard error lines)."""
    env = dict(os.environ)
    if not INSTALLED:
        env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(BUILD), env.get("PYTHONPATH")]))
    done = subprocess.run([sys.executable, str(WALKER), *map(str, args)], cwd=cwd, env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=timeout)
    errors = done.stderr.decode("utf-8").splitlines()
    return done.returncode, done.stdout.decode("utf-8"), errors


def rows_of(text):
    reader = csv.reader(io.StringIO(text))
    assert next(reader) == COLUMNS
    return list(reader)


@pytest.fixture(scope="module")
def one_process():
    """The sample walked by one process, in small chunks so that the parallel runs split it."""
    status, text, errors = walk("--jobs", "1", "--chunk", "400", "examples/games")
    assert status == 0, errors
    return text, errors


# --- the same output whichever runs it -------------------------------------------------------
def dask_ready():
    return importlib.util.find_spec("distributed") is not None


@pytest.mark.parametrize("how", [
    ["--jobs", "2"],
    pytest.param(["--dask", "local:2"], marks=pytest.mark.skipif(
        not dask_ready(), reason="dask[distributed] is not installed here")),
], ids=["two-processes", "dask-two-workers"])
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
    assert errors[-1] == (f"walk_games: {len(games)} games written, {len(rows)} positions, "
                          "0 games skipped")
    assert {row[0] for row in rows} == {"examples/games/chess960.pgn",
                                        "examples/games/standard.pgn"}


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
    return (
        [placement, side, passant, halfmove, fullmove] == theirs[:2] + theirs[3:]
        and castling_rooks(castling) == set(chess.SquareSet(board.castling_rights))
    )


def test_every_row_agrees_with_python_chess(one_process):
    by_game = {}
    for row in rows_of(one_process[0]):
        by_game.setdefault((row[0], int(row[1])), []).append(row)
    walked = 0
    for path in sorted(SAMPLE.glob("*.pgn")):
        source = f"examples/games/{path.name}"
        with open(path, encoding="utf-8") as file:
            number = 0
            while (game := chess.pgn.read_game(file)) is not None:
                number += 1
                assert not game.errors, (source, number, game.errors)
                rows = by_game.pop((source, number))
                board = game.board()
                moves = list(game.mainline_moves())
                assert [int(row[2]) for row in rows] == list(range(1, len(moves) + 1))
                for row, move in zip(rows, moves):
                    where = (source, number, row[2])
                    assert same_position(row[3], board), where
                    assert int(row[8]) == board.legal_moves.count(), where
                    assert row[5] == board.san(move), where
                    board.push(move)
                    assert same_position(mb.apply_uci(row[3], row[4]), board), where
                    assert row[6] == str(int(board.is_check())), where
                walked += 1
    assert by_game == {}
    assert walked >= 300


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


# --- bad input: reported, left out, nothing else lost ---------------------------------------
GOOD = '[Event "good"]\n\n1. e4 e5 2. Nf3 Nc6 1-0\n\n'
CHESS960 = "nbbrknrq/pppppppp/8/8/8/8/PPPPPPPP/NBBRKNRQ w KQkq - 0 1"

# (case, the middle game's bytes, ply, text, message) of what standard error must say.
BAD_GAMES = [
    ("unreadable-move", b"1. e4 e5 2. Nf9 Nc6 1-0\n\n", 3, "Nf9", "no legal move matches SAN 'Nf9'"),
    ("illegal-move", b"1. e4 e5 2. Ke3 Nc6 1-0\n\n", 3, "Ke3", "no legal move matches SAN 'Ke3'"),
    ("no-result", b"1. e4 e5 2. Nf3\n\n", 3, "Nf3", "truncated: no result before the next game's tags"),
    ("not-utf-8", b"1. e4 e5 2. Nf3 N\xffc6 1-0\n\n", 4, "N\\xffc6", "byte 0xff is not UTF-8"),
    ("not-utf-8-tag", b'[White "caf\xe9"]\n\n1. e4 e5 1-0\n\n', 0, '[White "caf\\xe9"]',
     "byte 0xe9 is not UTF-8"),
    ("bad-fen-tag", b'[FEN "8/8/8/8/8/8/8/8 w - - 0 1"]\n\n1. e4 1-0\n\n', 0,
     "8/8/8/8/8/8/8/8 w - - 0 1", "bad FEN: InvalidBoard"),
]


@pytest.mark.parametrize("case, middle, ply, text, message", BAD_GAMES, ids=[c[0] for c in BAD_GAMES])
def test_bad_game_is_reported_and_left_out(tmp_path, case, middle, ply, text, message):
    (tmp_path / "games.pgn").write_bytes(GOOD.encode() + b'[Event "bad"]\n' + middle + GOOD.encode())
    (tmp_path / "good.pgn").write_text(GOOD + GOOD, encoding="utf-8")
    status, text_out, errors = walk("--jobs", "2", "--chunk", "1", tmp_path)
    assert status == 1
    rows = rows_of(text_out)
    # Both files' games 1 and the good file's 2 are written, and identically so; the bad file's
    # third game keeps its number.
    written = [(pathlib.Path(row[0]).name, row[1]) for row in rows]
    assert sorted(set(written)) == [("games.pgn", "1"), ("games.pgn", "3"),
                                    ("good.pgn", "1"), ("good.pgn", "2")]
    assert len({tuple(row[2:]) for row in rows}) == len(rows) // 4
    assert errors == [
        f"{tmp_path / 'games.pgn'}: game 2, ply {ply}: {text!r}: {message}",
        "walk_games: 4 games written, 16 positions, 1 games skipped",
    ]


def test_game_cut_off_at_the_end_of_the_file(tmp_path):
    (tmp_path / "cut.pgn").write_text(GOOD + "1. d4 d5 2. c4 { a comment left open", encoding="utf-8")
    status, text, errors = walk("--jobs", "1", tmp_path / "cut.pgn")
    assert status == 1
    assert len(rows_of(text)) == 4
    assert errors[0].endswith(": game 2, ply 3: 'c4': truncated: no result before the end of the file")


# --- Chess960 castling in FEN tags -----------------------------------------------------------
def walker_module():
    found = importlib.util.spec_from_file_location("walk_games", WALKER)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


@pytest.mark.parametrize("fen", [
    CHESS960,
    "rkrnnqbb/pppppppp/8/8/8/8/PPPPPPPP/RKRNNQBB w KQkq - 0 1",
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/8/8/8/8/8/8/R3K2R b Kq - 0 1",
    "1r2k1r1/8/8/8/8/8/8/1R2K1R1 w Qk - 0 1",
    "rr2k2r/8/8/8/8/8/8/1R1K2RR w KQkq - 0 1",
    "1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GBgb - 0 1",
])
def test_fen_tag_castling_means_the_outermost_rook(fen):
    """What python-chess reads in a Chess960 FEN, the module reads in the walker's text of it;
    a text whose letters already name those rooks stays as written."""
    converted = walker_module().rook_file_castling(fen)
    theirs = chess.Board(fen, chess960=True)
    assert castling_rooks(converted.split(" ")[2]) == set(chess.SquareSet(theirs.castling_rights))
    mb.side_to_move(converted)
    standard = all(chess.square_file(s) in (0, 7) for s in chess.SquareSet(theirs.castling_rights))
    assert (converted == fen) == (standard or not set("KQkq") & set(fen.split(" ")[2]))


# --- the progress bar ----------------------------------------------------------------------
def test_progress_bar_on_a_terminal(tmp_path):
    pytest.importorskip("tqdm")
    import fcntl
    import pty
    import struct
    import termios

    env = dict(os.environ)
    if not INSTALLED:
        env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(BUILD), env.get("PYTHONPATH")]))
    main, terminal = pty.openpty()
    # A terminal of 100 columns; a new pseudo-terminal has none.
    fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", 30, 100, 0, 0))
    with subprocess.Popen([sys.executable, str(WALKER), "--jobs", "1", "--chunk", "400",
                           "-o", str(tmp_path / "out.csv"), "examples/games"],
                          cwd=ROOT, env=env, stderr=terminal) as child:
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
    assert any("games" in line and "positions/s" in line for line in lines)
    assert [line for line in lines if line.strip()][-1].startswith("walk_games: ")
