"""The walker's native walk (morvek_walk._native): every row held against python-chess on
generated games, the same rows however the input is split, and its arguments checked as a
module's are."""

import csv
import io
import random
import sys
import threading

import chess
import chess.pgn
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import INSTALLED, ROOT

if not INSTALLED:
    sys.path.insert(0, str(ROOT))
native = pytest.importorskip("morvek_walk._native")

import test_walk_games as walker_tests  # noqa: E402

SAMPLE = ROOT / "examples" / "games"


def walked(data, source, tags=(), blocks=None, chunk_moves=20000):
    """The native walk of `data`, whole, or split in blocks of the given sizes (cycled) and
    walked chunk by chunk."""
    if blocks is None:
        return native.walk(data, source, 1, tags)
    splitter = native.Splitter(chunk_moves)
    chunks, at, sizes = [], 0, iter(blocks * (len(data) + 1))
    while at < len(data):
        size = next(sizes)
        chunks += splitter.feed(data[at : at + size])
        at += size
    chunks += splitter.finish()
    rows, problems, games, positions, filtered = b"", [], 0, 0, 0
    for chunk, first in chunks:
        part = native.walk(chunk, source, first, tags)
        rows, problems = rows + part[0], problems + part[1]
        games, positions, filtered = games + part[2], positions + part[3], filtered + part[4]
    return rows, problems, games, positions, filtered


# --- the same rows however the input is split ----------------------------------------------
def decorated():
    return walker_tests.decorate(walker_tests.first_game()).encode("utf-8")


INPUTS = [
    *[pytest.param(lambda p=p: p.read_bytes(), id=p.name) for p in sorted(SAMPLE.glob("*.pgn"))],
    pytest.param(decorated, id="decorated"),
    pytest.param(lambda: walker_tests.ANNOTATED.encode(), id="annotated"),
    *[
        pytest.param(
            lambda m=middle: walker_tests.GOOD.encode() + b'[Event "bad"]\n' + m, id=f"bad-{case}"
        )
        for case, middle, *_ in walker_tests.BAD_GAMES
    ],
]


@pytest.mark.parametrize("make", INPUTS)
@pytest.mark.parametrize("blocks, chunk_moves", [([1 << 20], 400), ([7, 1, 4096], 1)], ids=str)
def test_rows_are_the_same_split_or_whole(make, blocks, chunk_moves):
    data = make()
    tags = ("White", "Round", "Result", "Missing")
    whole = walked(data, "games/x.pgn", tags)
    assert whole[2] > 0
    assert walked(data, "games/x.pgn", tags, blocks, chunk_moves) == whole


def test_game_without_result_is_walked_with_its_result_tag(tmp_path):
    """The Python walker reported it as truncated; python-chess reads it as a game."""
    path = tmp_path / "no-result.pgn"
    path.write_bytes(b'[Result "1-0"]\n\n1. e4 e5 2. Nf3\n\n[Event "next"]\n\n1. d4 d5\n')
    rows = list(csv.reader(io.StringIO(walked(path.read_bytes(), str(path))[0].decode())))
    assert [row[9] for row in rows] == ["1-0"] * 3 + ["*"] * 2
    assert walker_tests.check_against_python_chess(rows, path, str(path)) == 2


# --- every row against python-chess on generated games -----------------------------------------
def random_game(seed):
    """A game played at random (with a lean to captures and pawn moves, so that promotions,
    en passant and castling come up), from the standard start or a Chess960 one, with clocks,
    evaluations and null moves in its comments and moves as online databases write them."""
    rng = random.Random(seed)
    chess960 = rng.random() < 0.4
    board = chess.Board.from_chess960_pos(rng.randrange(960)) if chess960 else chess.Board()
    game = chess.pgn.Game.from_board(board)
    if chess960:
        game.headers["Variant"] = rng.choice(["Chess960", "chess960"])
        # Programs write a start's rights as KQkq, meaning the outermost rooks.
        game.headers["FEN"] = board.fen().replace(board.fen().split()[2], "KQkq")
    node, seconds = game, 600
    for ply in range(rng.randrange(1, 160)):
        moves = list(board.legal_moves)
        if not moves:
            break
        keen = [m for m in moves if board.is_capture(m) or board.piece_type_at(m.from_square) == 1]
        move = rng.choice(keen if keen and rng.random() < 0.6 else moves)
        if not board.is_check() and rng.random() < 0.03:
            move = chess.Move.null()
        board.push(move)
        node = node.add_variation(move)
        seconds = max(seconds - rng.choice([0, 0.5, 1, 2.7, 11]), 0)
        notes = []
        if rng.random() < 0.7:
            notes.append(
                f"[%clk {int(seconds // 3600)}:{int(seconds // 60 % 60):02}:{seconds % 60:04.1f}]"
            )
        if rng.random() < 0.5:
            notes.append(
                f"[%eval #{rng.choice([-3, 2, 5])}]"
                if rng.random() < 0.2
                else f"[%eval {rng.uniform(-9, 9):.2f},{rng.randrange(1, 30)}]"
            )
        node.comment = " ".join(notes)
    game.headers["Result"] = board.result(claim_draw=False) if board.is_game_over() else "*"
    return str(game)


@settings(max_examples=40, deadline=None)
@given(st.lists(st.integers(0, 2**32), min_size=1, max_size=4))
def test_generated_games_agree_with_python_chess(tmp_path_factory, seeds):
    path = tmp_path_factory.mktemp("games") / "generated.pgn"
    path.write_text("\n\n".join(random_game(seed) for seed in seeds) + "\n", encoding="utf-8")
    rows, problems, games, positions, _ = walked(path.read_bytes(), str(path), (), [4096], 50)
    assert problems == []
    table = list(csv.reader(io.StringIO(rows.decode())))
    assert walker_tests.check_against_python_chess(table, path, str(path)) == games == len(seeds)
    assert len(table) == positions


# --- any bytes: the same rows whole and split -----------------------------------------------------
PIECES = [
    *"1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 4. Ba4 Nf6 5. O-O Be7 6. Qe2 b5 7. Bb3 O-O 8. c3".split(),
    *['[Event "x"]', '[White "A \\"B\\" \\\\ C,"]', '[Result "0-1"]', '[Variant "960"]'],
    *['[Variant "Atomic"]', '[FEN "8/8/8/8/8/8/8/8 w - - 0 1"]', "[Bad", '[X "open\n', "["],
    *["{ [%clk 0:03:00] [%eval 0.17] }", "{ [%eval #-3] }", "{ [%clk 1:02:03.5] }", "{c}"],
    *["{ [%clk \u0661:\u0660\u0660:\u0660\u0660] }", "{ [%eval 0.125,9] }", "(", ")", "$14"],
    *["$", "!?", "+-", "N", "e.p.", "\u00b1", "--", "Z0", "1-0", "0-1", "1/2-1/2", "*", "*x"],
    *["12.", "12...", "...", "12.Nf3", "}", "]", ";c\n", "\n%esc\n", "%no", "\r\n", "\u00a0"],
    *["\u3000", "\x1c", "\ufeff", "{", "\u0663.", "Qh5+", "e8=Q"],
]
JUNK = [b"\xff", b"N\xffc6", b"\xe2\x82", b"caf\xe9", b"\xed\xa0\x80", b"\xf0\x9f"]


@settings(max_examples=300, deadline=None)
@given(
    st.lists(
        st.one_of(
            st.sampled_from(PIECES).map(str.encode),
            st.sampled_from(JUNK),
            st.sampled_from([b" ", b"\n", b""]),
        ),
        max_size=60,
    ),
    st.lists(st.integers(1, 64), min_size=1, max_size=5),
    st.integers(1, 30),
)
def test_any_input_walks_alike_split_and_whole(parts, blocks, chunk_moves):
    data = b" ".join(parts)
    tags = ("White", "Result")
    assert walked(data, "x.pgn", tags, blocks, chunk_moves) == walked(data, "x.pgn", tags)
    assert chunks_by_place(data, blocks, chunk_moves) == chunks_of(data, blocks, chunk_moves)
    # Games turned down by their tags are left at the next game's start, unread: the same.
    where = ("White~a", "Result!=0-1")
    read, left = [], []
    for part, first, starts in chunks_of(data, blocks, chunk_moves, starts=True):
        read.append(native.walk(part, "x.pgn", first, tags, None, where))
        left.append(native.walk(part, "x.pgn", first, tags, None, where, starts))
    assert left == read


def chunks_of(data, blocks, chunk_moves, **options):
    splitter = native.Splitter(chunk_moves, **options)
    chunks, at, sizes = [], 0, iter(blocks * (len(data) + 1))
    while at < len(data):
        size = next(sizes)
        chunks += splitter.feed(data[at : at + size])
        at += size
    return chunks + splitter.finish()


def chunks_by_place(data, blocks, chunk_moves):
    """The chunks of a splitter that gives places: each one's bytes taken from the input where
    it stands there as it is."""
    return [
        (data[begin:end] if part is None else part, first)
        for part, first, begin, end in chunks_of(data, blocks, chunk_moves, ranges=True)
    ]


def test_chunks_by_place_past_a_mark_and_long_stretches_between_games():
    """The byte-order mark and a long comment between games are the splitter's own edits."""
    game = walker_tests.first_game().encode()
    data = b"\xef\xbb\xbf" + game + b"{" + b"x" * (3 << 20) + b"}\n" + game * 3
    found = chunks_by_place(data, [1 << 16], 50)
    assert found == chunks_of(data, [1 << 16], 50)
    assert [part is None for part, *_ in chunks_of(data, [1 << 16], 50, ranges=True)] == [
        True,
        False,  # its first byte stands for the comment
        True,
        True,
    ]


# --- the binding as callers meet it -----------------------------------------------------------
def test_source_that_is_not_utf_8_is_written_as_escapes():
    source = b"caf\xe9.pgn".decode("utf-8", "surrogateescape")
    rows, problems, games, *_ = native.walk(b"1. e4 *\n1. Nf9 *", source, 5, ())
    assert rows.startswith(b"caf\\xe9.pgn,5,1,")
    assert problems == [(source, 6, 1, "Nf9", "no legal move matches SAN 'Nf9'", "move not legal")]
    assert problems[0][0] is source and games == 1


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: native.walk("1. e4 *", "x", 1, ()), TypeError, "data must be bytes, not str"),
        (lambda: native.walk(b"", "x", 0, ()), ValueError, "first_game must be at least 1"),
        (lambda: native.walk(b"", "x", -1, ()), OverflowError, None),
        (
            lambda: native.walk(b"", "x", 1, (b"White",)),
            TypeError,
            "tags must be a sequence of str",
        ),
        (lambda: native.Splitter(0), ValueError, "chunk_moves must be at least 1"),
        (
            lambda: native.Splitter(5).feed(bytearray(b"x")),
            TypeError,
            "feed() argument must be bytes, not bytearray",
        ),
    ],
    ids=["str-data", "game-zero", "negative-game", "bytes-tag", "no-moves", "bytearray"],
)
def test_bad_arguments_raise(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert message is None or str(raised.value) == message


def test_a_finished_splitter_takes_nothing_more():
    splitter = native.Splitter(1)
    assert splitter.feed(b"1. e4 *\n1. d4") == [(b"1. e4 *", 1)]
    assert splitter.finish() == [(b"\n1. d4", 2)]
    for call in (lambda: splitter.feed(b"*"), splitter.finish):
        with pytest.raises(ValueError, match="the Splitter has finished its input"):
            call()


def test_threads_walk_side_by_side_with_the_same_rows():
    data = (SAMPLE / "standard.pgn").read_bytes()
    expected = native.walk(data, "s", 1, ("White",))
    results = []

    def work():
        results.extend(native.walk(data, "s", 1, ("White",)) for _ in range(3))

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [expected] * 12
