"""legal_moves, apply_uci, is_check and null_move_fen: exact texts, order and messages."""

import pytest

from conftest import AFTER_E4, FOOLS_MATE, NO_KINGS, PASSANT, ROOK_FILES, START, value_error
from morvek_board import apply_uci, is_check, legal_moves, null_move_fen

CASTLE_WHITE = "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 3 10"
CASTLE_BLACK = "r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 3 10"
PROMOTE = "8/4P3/8/8/8/8/8/k5K1 w - - 5 40"
# Rook-file castling rights with kings off the e-file.
KING_B1 = "6k1/8/8/8/8/8/8/RK5R w HA - 0 1"
KING_F1 = "6k1/8/8/8/8/8/8/5K1R w H - 0 1"
KING_F1_ROOK_G1 = "k7/8/8/8/8/8/8/5KR1 w G - 0 1"
STALEMATE = "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1"
ROOK_CHECK = "4r1k1/8/8/8/8/8/8/R3K2R w KQ - 0 1"
DOUBLE_CHECK = "4r1k1/8/8/1B6/8/3n4/8/R3K2R w KQ - 0 1"
PAWN_CHECK_EP = "8/8/8/2k5/3Pp3/8/8/4K3 b - d3 0 1"


START_MOVES = [f"{f}2{f}{r}" for f in "abcdefgh" for r in "34"] + ["b1a3", "b1c3", "g1f3", "g1h3"]

LEGAL_MOVES = [
    (START, START_MOVES),
    # Promotions knight, bishop, rook, queen for each target square, capture on a8 first.
    (
        "r6k/1P6/8/8/8/8/8/7K w - - 0 1",
        [
            "b7a8n",
            "b7a8b",
            "b7a8r",
            "b7a8q",
            "b7b8n",
            "b7b8b",
            "b7b8r",
            "b7b8q",
            "h1g1",
            "h1g2",
            "h1h2",
        ],
    ),
    # Castling sits among the king's moves by its rook's square: e1c1 counts as a1, e1g1 as h1.
    (
        CASTLE_WHITE,
        ["a1b1", "a1c1", "a1d1"]
        + [f"a1a{r}" for r in range(2, 9)]
        + ["h1f1", "h1g1"]
        + [f"h1h{r}" for r in range(2, 9)]
        + ["e1c1", "e1d1", "e1f1", "e1g1", "e1d2", "e1e2", "e1f2"],
    ),
    (
        CASTLE_BLACK,
        [f"a8a{r}" for r in range(1, 8)]
        + ["a8b8", "a8c8", "a8d8"]
        + [f"h8h{r}" for r in range(1, 8)]
        + ["h8f8", "h8g8", "e8d7", "e8e7", "e8f7", "e8c8", "e8d8", "e8f8", "e8g8"],
    ),
    # Away from the e-file castling is written king onto rook (b1a1, b1h1): b1c1 is the step.
    (
        KING_B1,
        [f"a1a{r}" for r in range(2, 9)]
        + ["h1c1", "h1d1", "h1e1", "h1f1", "h1g1"]
        + [f"h1h{r}" for r in range(2, 9)]
        + ["b1a1", "b1c1", "b1h1", "b1a2", "b1b2", "b1c2"],
    ),
    # En passant after every other pawn move (even e5e6 of the same pawn), before the knight.
    (
        "4k3/8/7P/3pP3/8/8/P7/4K1N1 w - d6 0 1",
        ["a2a3", "a2a4", "e5e6", "h6h7", "e5d6", "g1e2", "g1f3", "g1h3"]
        + ["e1d1", "e1f1", "e1d2", "e1e2", "e1f2"],
    ),
    # Pinned pieces come after the unpinned ones of their kind and stay on the pin line.
    (
        "k2r4/8/8/8/8/8/3P3P/3K4 w - - 0 1",
        ["h2h3", "h2h4", "d2d3", "d2d4", "d1c1", "d1e1", "d1c2", "d1e2"],
    ),
    (
        "r5k1/8/8/8/8/8/R7/K6R w - - 0 1",
        ["h1b1", "h1c1", "h1d1", "h1e1", "h1f1", "h1g1"]
        + [f"h1h{r}" for r in range(2, 9)]
        + [f"a2a{r}" for r in range(3, 9)]
        + ["a1b1", "a1b2"],
    ),
    # In check: no castling; in double check the bishop may not take the knight.
    (ROOK_CHECK, ["e1d1", "e1f1", "e1d2", "e1f2"]),
    (DOUBLE_CHECK, ["e1d1", "e1f1", "e1d2"]),
    # The checking pawn is taken en passant; the plain push does not answer the check.
    (PAWN_CHECK_EP, ["e4d3", "c5b4", "c5c4", "c5d4", "c5b5", "c5d5", "c5b6", "c5c6", "c5d6"]),
    # Taking en passant would open the fifth rank to the rook on h5, but not one on h6.
    ("8/8/8/KPp4r/8/8/8/7k w - c6 0 1", ["b5b6", "a5a4", "a5a6", "a5b6"]),
    ("8/8/7r/KPp5/8/8/8/7k w - c6 0 1", ["b5b6", "b5c6", "a5a4"]),
    (FOOLS_MATE, []),
    (STALEMATE, []),
]


@pytest.mark.parametrize("fen, moves", LEGAL_MOVES)
def test_legal_moves_in_generation_order(fen, moves):
    assert legal_moves(fen) == moves


APPLIED = [
    # The en passant square is written after a double push even with no pawn to take.
    (START, "e2e4", AFTER_E4),
    (START, "e2e4é", AFTER_E4),  # a multi-byte fifth character is no promotion letter
    (START, "g1f3", "rnbqkbnr/pppppppp/8/8/8/5N2/PPPPPPPP/RNBQKB1R b KQkq - 1 1"),
    (AFTER_E4, "e7e5", "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2"),
    # Both text forms of castling play the same move and drop both of the mover's rights.
    (CASTLE_WHITE, "e1g1", "r3k2r/8/8/8/8/8/8/R4RK1 b kq - 4 10"),
    (CASTLE_WHITE, "e1h1", "r3k2r/8/8/8/8/8/8/R4RK1 b kq - 4 10"),
    (CASTLE_WHITE, "e1c1", "r3k2r/8/8/8/8/8/8/2KR3R b kq - 4 10"),
    (CASTLE_WHITE, "e1a1", "r3k2r/8/8/8/8/8/8/2KR3R b kq - 4 10"),
    (CASTLE_BLACK, "e8g8", "r4rk1/8/8/8/8/8/8/R3K2R w KQ - 4 11"),
    (CASTLE_BLACK, "e8c8", "2kr3r/8/8/8/8/8/8/R3K2R w KQ - 4 11"),
    # A rook leaving its corner, or taken there, ends that right only.
    (CASTLE_WHITE, "h1h2", "r3k2r/8/8/8/8/8/7R/R3K3 b Qkq - 4 10"),
    (CASTLE_WHITE, "a1a8", "R3k2r/8/8/8/8/8/8/4K2R b Kk - 0 10"),
    # Clocks stop at 100 and 65535.
    ("4k3/8/8/8/8/8/8/4K1N1 w - - 99 80", "g1f3", "4k3/8/8/8/8/5N2/8/4K3 b - - 100 80"),
    ("4k3/8/8/8/8/8/8/4K1N1 w - - 100 80", "g1f3", "4k3/8/8/8/8/5N2/8/4K3 b - - 100 80"),
    ("4k3/8/8/8/8/8/8/4K1n1 b - - 0 65535", "g1f3", "4k3/8/8/8/8/5n2/8/4K3 w - - 1 65535"),
    # Only the fifth character is read: a second letter or a trailing space is ignored.
    (PROMOTE, "e7e8q", "4Q3/8/8/8/8/8/8/k5K1 b - - 0 40"),
    (PROMOTE, "e7e8qq", "4Q3/8/8/8/8/8/8/k5K1 b - - 0 40"),
    (PROMOTE, "e7e8q ", "4Q3/8/8/8/8/8/8/k5K1 b - - 0 40"),
    (PROMOTE, "e7e8n", "4N3/8/8/8/8/8/8/k5K1 b - - 0 40"),
    (PASSANT, "e5d6", "4k3/8/3P4/8/8/8/8/4K3 b - - 0 1"),
    # Away from the e-file castling is given king-onto-rook; b1c1 is the king's step.
    (KING_B1, "b1a1", "6k1/8/8/8/8/8/8/2KR3R b - - 1 1"),
    (KING_B1, "b1h1", "6k1/8/8/8/8/8/8/R4RK1 b - - 1 1"),
    (KING_B1, "b1c1", "6k1/8/8/8/8/8/8/R1K4R b - - 1 1"),
    (KING_F1, "f1g1", "6k1/8/8/8/8/8/8/6KR b - - 1 1"),
    (KING_F1, "f1h1", "6k1/8/8/8/8/8/8/5RK1 b - - 1 1"),
    (KING_F1_ROOK_G1, "f1g1", "k7/8/8/8/8/8/8/5RK1 b - - 1 1"),
    # Rights off the corner files stay in rook-file letters, so that the text reads back;
    # corner rooks are written K/Q/k/q however the rights were read.
    ("1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GBgb - 0 1", "e1c1", "1r2k1r1/8/8/8/8/8/8/2KR2R1 b gb - 1 1"),
    (
        "rnbkqbrn/ppppppp1/8/7p/7P/8/PPPPPPP1/RNBKQBRN w GAga h6 0 2",
        "b2b4",
        "rnbkqbrn/ppppppp1/8/7p/1P5P/8/P1PPPPP1/RNBKQBRN b GAga b3 0 2",
    ),
    (KING_B1, "h1g1", "6k1/8/8/8/8/8/8/RK4R1 b Q - 1 1"),
]


@pytest.mark.parametrize("fen, uci, expected", APPLIED)
def test_apply_uci(fen, uci, expected):
    assert apply_uci(fen, uci) == expected


BAD_TEXT = [
    (START, "e2e4 "),
    (START, "e2e4\n"),
    (START, ""),
    (START, "e2e"),
    (START, "E2E4"),
    (START, "e9e4"),
    (START, "0000"),
    (START, "e2e4x"),
    (START, "é2e4"),
    (PROMOTE, "e7e8Q"),
    (PROMOTE, "e7e8x"),
]


@pytest.mark.parametrize("fen, uci", BAD_TEXT)
def test_apply_uci_unreadable_move(fen, uci):
    assert value_error(apply_uci, fen, uci) == f"bad move {uci}: MoveParseError"


ILLEGAL = [
    (START, "e2e5"),
    (START, "e7e5"),  # the side not to move
    (START, "e3e4"),  # empty square
    (START, "e1e2"),  # onto an own piece
    (START, "g1f3q"),  # promotion letter on a knight move
    (START, "e2e5q "),  # the caller's text, trailing space included
    (PROMOTE, "e7e8"),
    (PROMOTE, "e7e8k"),  # k and p read as no promotion at all
    (PROMOTE, "e7e8p"),
    (PROMOTE, "e7e8é"),
    ("r3k2r/8/8/8/8/8/8/R3K2R w Qkq - 0 1", "e1g1"),  # without the right: a two-square step
    ("r3k2r/8/8/8/8/8/8/R3K2R w Qkq - 0 1", "e1h1"),
    (CASTLE_BLACK, "e1g1"),
    (ROOK_CHECK, "e1g1"),
    (KING_B1, "b1g1"),
    (DOUBLE_CHECK, "b5d3"),
]


@pytest.mark.parametrize("fen, uci", ILLEGAL)
def test_apply_uci_illegal_move(fen, uci):
    assert value_error(apply_uci, fen, uci) == f"illegal move {uci}: IllegalMoveError"


@pytest.mark.parametrize(
    "fen, uci, message",
    [
        (START + " ", "e9e4", "bad FEN: TooManyFields"),
        (START.replace(" w ", " x "), "e2e5", "bad FEN: InvalidSideToMove"),
        (NO_KINGS, "", "bad FEN: InvalidBoard"),
    ],
)
def test_apply_uci_reports_the_fen_before_the_move(fen, uci, message):
    assert value_error(apply_uci, fen, uci) == message


CHECKS = [
    (START, False),
    (STALEMATE, False),
    (CASTLE_BLACK, False),
    (FOOLS_MATE, True),
    (ROOK_CHECK, True),
    (DOUBLE_CHECK, True),
    (PAWN_CHECK_EP, True),
    ("4k3/8/8/8/8/8/2n5/4K3 w - - 0 1", True),
]


@pytest.mark.parametrize("fen, check", CHECKS)
def test_is_check(fen, check):
    assert is_check(fen) is check


@pytest.mark.parametrize("fen", [fen for fen, check in CHECKS if check])
def test_null_move_refused_in_check(fen):
    assert value_error(null_move_fen, fen) == "null move illegal (in check)"


NULL_MOVES = [
    (START, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 1 1"),
    (START.replace(" w ", " b "), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 1 2"),
    (AFTER_E4, "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 1 2"),
    ("4k3/8/8/8/8/8/8/4K3 w - - 99 50", "4k3/8/8/8/8/8/8/4K3 b - - 100 50"),
    ("4k3/8/8/8/8/8/8/4K3 w - - 100 50", "4k3/8/8/8/8/8/8/4K3 b - - 100 50"),
    ("4k3/8/8/8/8/8/8/4K3 b - - 7 65535", "4k3/8/8/8/8/8/8/4K3 w - - 8 65535"),
    (START.replace("KQkq", "HAha"), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 1 1"),
    (ROOK_FILES, "1r2k1r1/8/8/8/8/8/8/1R2K1R1 w GBgb - 1 2"),
    ("rrk5/8/8/8/8/8/8/4K3 w b - 0 1", "rrk5/8/8/8/8/8/8/4K3 b b - 1 1"),
    ("1r2k3/8/8/8/8/8/8/4K3 b b - 0 1", "1r2k3/8/8/8/8/8/8/4K3 w b - 1 2"),
    (KING_B1, "6k1/8/8/8/8/8/8/RK5R b KQ - 1 1"),
]


@pytest.mark.parametrize("fen, expected", NULL_MOVES)
def test_null_move_fen(fen, expected):
    assert is_check(fen) is False
    assert null_move_fen(fen) == expected


@pytest.mark.parametrize("fen", [START, AFTER_E4, CASTLE_BLACK, "4k3/8/8/8/8/8/8/4K3 b - - 98 9"])
def test_null_move_twice(fen):
    placement, side, castling, _, halfmove, fullmove = fen.split(" ")
    expected = [placement, side, castling, "-", str(int(halfmove) + 2), str(int(fullmove) + 1)]
    assert null_move_fen(null_move_fen(fen)).split(" ") == expected
