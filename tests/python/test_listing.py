"""piece_list and attackers: exact lists in square order, and the order of their messages."""

import pytest

from conftest import NO_KINGS, START, value_error
from morvek_board import attackers, piece_list


def test_piece_list_of_the_start_position():
    back = "RNBQKBNR"
    expected = (
        [(f"{f}1", back[i], "white") for i, f in enumerate("abcdefgh")]
        + [(f"{f}2", "P", "white") for f in "abcdefgh"]
        + [(f"{f}7", "P", "black") for f in "abcdefgh"]
        + [(f"{f}8", back[i], "black") for i, f in enumerate("abcdefgh")]
    )
    pieces = piece_list(START)
    assert pieces == expected
    assert all(
        type(piece) is tuple and all(type(text) is str for text in piece) for piece in pieces
    )


@pytest.mark.parametrize(
    "fen, pieces",
    [
        # Capital letters for both colours; colours mixed in square order.
        (
            "4k3/8/8/4n3/8/8/8/4K3 w - - 0 1",
            [("e1", "K", "white"), ("e5", "N", "black"), ("e8", "K", "black")],
        ),
        (
            "4k3/8/8/8/3Pp3/8/8/4K3 b - d3 0 1",
            [
                ("e1", "K", "white"),
                ("d4", "P", "white"),
                ("e4", "P", "black"),
                ("e8", "K", "black"),
            ],
        ),
        (
            "qrbnk3/8/8/8/8/8/8/3K3B w - - 0 1",
            [
                ("d1", "K", "white"),
                ("h1", "B", "white"),
                ("a8", "Q", "black"),
                ("b8", "R", "black"),
                ("c8", "B", "black"),
                ("d8", "N", "black"),
                ("e8", "K", "black"),
            ],
        ),
    ],
)
def test_piece_list(fen, pieces):
    assert piece_list(fen) == pieces


PAWNS = "4k3/8/8/4p3/3P4/8/8/4K3 w - - 0 1"
PINNED_KNIGHT = "4r1k1/8/8/8/8/8/4N3/4K3 w - - 0 1"

ATTACKERS = [
    (START, "f3", "white", ["g1", "e2", "g2"]),
    # Defenders of an own piece count, the king too; the piece on the square does not.
    (START, "e2", "white", ["d1", "e1", "f1", "g1"]),
    (START, "a3", "white", ["b1", "b2"]),  # the a1 rook is blocked by a2
    (START, "e4", "white", []),  # pushes are no attacks
    (START, "f6", "black", ["e7", "g7", "g8"]),  # whoever is to move
    (START, "f3", "w", ["g1", "e2", "g2"]),
    (START, "f6", "b", ["e7", "g7", "g8"]),
    (START, "e8", "black", ["d8"]),  # the bishop beside it does not attack along the rank
    # Pawns only forward along their diagonals.
    (PAWNS, "e5", "white", ["d4"]),
    (PAWNS, "c5", "white", ["d4"]),
    (PAWNS, "c3", "white", []),
    (PAWNS, "f4", "black", ["e5"]),
    (PAWNS, "d6", "black", []),
    (PAWNS, "d4", "black", ["e5"]),
    # No x-ray: the rook on d1 stands behind d2.
    ("7k/8/8/8/8/8/3R4/K2R4 w - - 0 1", "d5", "white", ["d2"]),
    ("7k/8/8/8/8/8/3R4/K2R4 w - - 0 1", "d2", "white", ["d1"]),
    # A pinned piece still attacks.
    (PINNED_KNIGHT, "g3", "white", ["e2"]),
    (PINNED_KNIGHT, "e2", "black", ["e8"]),
    (PINNED_KNIGHT, "f8", "black", ["e8", "g8"]),
]


@pytest.mark.parametrize("fen, sq, color, squares", ATTACKERS)
def test_attackers(fen, sq, color, squares):
    assert attackers(fen, sq, color) == squares


@pytest.mark.parametrize("sq", ["E4", "e9", "e", "e44", "", " e4", "e4 ", "i1", "a0", "４4"])
def test_bad_square(sq):
    assert value_error(attackers, START, sq, "white") == f"bad square: {sq}"


@pytest.mark.parametrize("color", ["White", "W", "wh", "", " white", "white ", "BLACK", "blacks"])
def test_bad_color(color):
    assert value_error(attackers, START, "e4", color) == f"bad color: {color} (use white|black)"


@pytest.mark.parametrize(
    "fen, sq, color, message",
    [
        (START, "e9", "purple", "bad square: e9"),
        (START + " ", "e9", "purple", "bad FEN: TooManyFields"),
        (NO_KINGS, "e4", "white", "bad FEN: InvalidBoard"),
    ],
)
def test_attackers_reports_the_first_failure(fen, sq, color, message):
    assert value_error(attackers, fen, sq, color) == message


def test_piece_list_bad_fen():
    assert (
        value_error(piece_list, START.replace("KQkq", "KQkqX")) == "bad FEN: InvalidCastlingRights"
    )
