"""see_move: exchange values through the module surface, and the order of its messages."""

import pytest

from conftest import CASTLING, CASTLING_BLACK, START, value_error
from morvek_board import see_move

PROMOTE_CAPTURE = "r6k/1P6/1n6/8/8/8/8/1K6 w - - 0 1"

# Unless a row says otherwise the kings stand on a1 and h8.
EXCHANGES = [
    ("7k/8/8/3n4/8/8/8/K2R4 w - - 0 1", "d1d5", 300),
    # The pawn's recapture ends the exchange: 300 - 100.
    ("7k/8/2p5/3n4/4P3/8/8/K7 w - - 0 1", "e4d5", 200),
    ("7k/8/4p3/3p4/8/8/8/K2Q4 w - - 0 1", "d1d5", -800),
    ("7k/8/7p/8/8/5N2/8/K7 w - - 0 1", "f3e5", 0),
    ("7k/8/7p/8/8/5N2/8/K7 w - - 0 1", "f3g5", -300),
    # The rook on d1 joins through d2 once d2 has moved.
    ("3r3k/3r4/8/8/8/8/3R4/K2R4 w - - 0 1", "d2d7", 500),
    # Black king on e8: it takes back alone, but not onto a square the bishop guards.
    ("4k3/5p2/8/8/8/5Q2/8/K7 w - - 0 1", "f3f7", -800),
    ("4k3/5p2/8/8/2B5/5Q2/8/K7 w - - 0 1", "f3f7", 100),
    ("4k3/5p2/8/3Q4/2B5/8/8/K7 w - - 0 1", "d5f7", 100),
    # Bxd5 would be answered by Nxd5: White stops after exd5, the rook for a pawn.
    ("7k/8/4pn2/3p4/8/1B6/8/K2R4 w - - 0 1", "d1d5", -400),
    # exd5 cxd5 Nxd5 wins the rook outright; Qxf5 Rxf5 Rxf5 Qxf5 loses the queen for a pawn.
    ("4k3/8/2p5/3r4/4P3/2N5/8/4K3 w - - 0 1", "e4d5", 500),
    ("4k3/8/2p5/3n4/4P3/2N5/8/4K3 w - - 0 1", "e4d5", 300),
    ("k4r2/8/6q1/5P2/8/7Q/8/K4R2 b - - 0 1", "g6f5", -800),
    # En passant: the taken pawn's square no longer blocks the d-file (white king on h3).
    ("7k/8/8/3pP3/8/8/8/K7 w - d6 0 1", "e5d6", 100),
    ("7k/8/8/3pP3/8/7K/8/3r4 w - d6 0 1", "e5d6", 0),
    ("7k/8/8/8/3p4/8/4P3/K7 w - - 0 1", "e2e4", 0),
    # The promotion piece plays no part (white king on b1).
    (PROMOTE_CAPTURE, "b7a8q", 400),
    (PROMOTE_CAPTURE, "b7a8n", 400),
    # Of two equal attackers the lower square (bishop d3) takes first, opening c2-f5 for a
    # bishop whose capture the knight answers.
    ("7k/8/8/2R5/8/3bn3/2B5/K7 w - - 0 1", "c5f5", -500),
    # Black to move: the value is still the mover's.
    ("3q3k/8/8/8/3P4/4P3/8/K7 b - - 0 1", "d8d4", -800),
    ("1r5k/8/8/8/8/8/1n6/K7 w - - 0 1", "a1a2", 0),
    ("7k/8/8/8/8/8/1n6/K7 w - - 0 1", "a1b2", 300),
]


@pytest.mark.parametrize("fen, uci, value", EXCHANGES)
def test_exchange_value(fen, uci, value):
    assert see_move(fen, uci) == value


@pytest.mark.parametrize(
    "fen, uci",
    [
        (CASTLING, "e1g1"),
        (CASTLING, "e1h1"),
        (CASTLING, "e1c1"),
        (CASTLING, "e1a1"),
        (CASTLING_BLACK, "e8g8"),
        (CASTLING_BLACK, "e8a8"),
        # Away from the e-file only the king-onto-rook form is castling.
        ("6k1/8/8/8/8/8/8/RK5R w HA - 0 1", "b1a1"),
    ],
)
def test_castling_is_worth_nothing(fen, uci):
    assert see_move(fen, uci) == 0


@pytest.mark.parametrize(
    "fen, uci",
    [
        (START, "0000"),
        (START, "e2e9"),
        (START, "e2e4 "),
        (START, ""),
        (START, "E2E4"),
        (PROMOTE_CAPTURE, "b7a8Q"),
    ],
)
def test_unreadable_move(fen, uci):
    assert value_error(see_move, fen, uci) == f"bad move {uci}: MoveParseError"


@pytest.mark.parametrize(
    "fen, uci",
    [
        (START, "e2e5"),
        (START, "e3e4"),  # empty square
        (START, "e7e5"),  # the side not to move
        (START, "e2e5q "),  # the caller's text, trailing space included
        (PROMOTE_CAPTURE, "b7a8"),  # a promotion without its letter
        (PROMOTE_CAPTURE, "b7a8k"),
        ("1r5k/8/8/8/8/8/1n6/K7 w - - 0 1", "a1b2"),  # the king onto a guarded square
        ("r3k2r/8/8/8/8/8/8/R3K2R w Qkq - 0 1", "e1g1"),
    ],
)
def test_illegal_move(fen, uci):
    assert value_error(see_move, fen, uci) == f"illegal move: {uci}"


def test_fen_is_reported_before_the_move():
    assert value_error(see_move, START + " ", "0000") == "bad FEN: TooManyFields"
