"""SAN writing (uci_to_san) and reading (san_to_uci), and their agreement with python-chess."""

import collections
import functools
import random
import re

import chess
import pytest

from conftest import (
    CASTLING,
    CASTLING_BLACK,
    NO_KINGS,
    PASSANT,
    PROMOTION,
    STALEMATED,
    START,
    value_error,
)
from morvek_board import apply_uci, legal_moves, san_to_uci, uci_to_san

# King on g1, long castling with the rook on b1: the rook-file letters are needed to load it.
KING_G1 = "1r4k1/8/8/8/8/8/8/1R4K1 w Bb - 0 1"
# King on b1 with both rooks, and king on f1 with the short rook: the g- and c-file texts are
# the king's ordinary steps, so castling is written and read in the king-onto-rook form.
KING_B1 = "1k6/8/8/8/8/8/8/RK5R w AH - 0 1"
KING_F1 = "5k2/8/8/8/8/8/8/5K1R w H - 0 1"
TWO_KNIGHTS = "4k3/8/8/8/8/5N2/8/1N2K3 w - - 0 1"
ROOKS = "4k3/8/8/R7/8/8/8/R3K3 w - - 0 1"
QUEENS = "4k3/8/8/8/8/Q7/8/Q1Q1K3 w - - 0 1"
MATE_IN_ONE = "rnbqkbnr/pppp1ppp/8/4p3/6P1/5P2/PPPPP2P/RNBQKBNR b KQkq - 0 2"
BAD_SIDE = START.replace(" w ", " x ")


# --- writing -----------------------------------------------------------------------------


@pytest.mark.parametrize(
    "fen, uci, san",
    [
        (START, "g1f3", "Nf3"),
        (START, "e2e4", "e4"),
        (TWO_KNIGHTS, "b1d2", "Nbd2"),
        (TWO_KNIGHTS, "f3d2", "Nfd2"),
        ("4k3/8/8/8/8/5N2/3r4/1N2K3 w - - 0 1", "b1d2", "Nbxd2"),
        (ROOKS, "a1a3", "R1a3"),
        (ROOKS, "a5a3", "R5a3"),
        (QUEENS, "a1b2", "Qa1b2"),
        (QUEENS, "a3b2", "Q3b2"),
        (QUEENS, "c1b2", "Qcb2"),
        # the knight on e2 is pinned, so it is no rival
        ("4k3/4r3/8/1N6/8/8/4N3/4K3 w - - 0 1", "b5c3", "Nc3"),
        (PASSANT, "e5d6", "exd6"),
        (PROMOTION, "a7a8q", "a8=Q+"),
        (PROMOTION, "a7a8n", "a8=N"),
        # bytes after the promotion letter are never read
        (PROMOTION, "a7a8qq", "a8=Q+"),
        ("1n2k3/P7/8/8/8/8/8/4K3 w - - 0 1", "a7b8q", "axb8=Q+"),
        (CASTLING, "e1g1", "O-O"),
        (CASTLING, "e1c1", "O-O-O"),
        (CASTLING, "e1h1", "O-O"),
        (CASTLING, "e1a1", "O-O-O"),
        (CASTLING_BLACK, "e8g8", "O-O"),
        (CASTLING_BLACK, "e8c8", "O-O-O"),
        (KING_G1, "g1b1", "O-O-O"),
        (KING_B1, "b1a1", "O-O-O"),
        (KING_B1, "b1h1", "O-O"),
        (KING_B1, "b1c1", "Kc1"),
        (KING_F1, "f1h1", "O-O+"),
        (KING_F1, "f1g1", "Kg1"),
        ("5k2/8/8/8/8/8/8/4K2R w K - 0 1", "e1g1", "O-O+"),
        ("4k3/8/8/8/8/8/8/R3K3 w - - 0 1", "a1a8", "Ra8+"),
        (MATE_IN_ONE, "d8h4", "Qh4#"),
        # stalemate gets no sign
        ("k7/8/8/1Q6/8/8/8/4K3 w - - 0 1", "b5b6", "Qb6"),
    ],
)
def test_uci_to_san(fen, uci, san):
    assert uci_to_san(fen, uci) == san


@pytest.mark.parametrize(
    "fen, uci, message",
    [
        (START, "e2e5", "illegal move: e2e5"),
        (START, "zz", "bad move zz: MoveParseError"),
        (START, "", "bad move : MoveParseError"),
        (START, "E2E4", "bad move E2E4: MoveParseError"),
        # the text is quoted untrimmed, and unreadable text is reported before legality
        (START, "e2e4 ", "bad move e2e4 : MoveParseError"),
        (START, " e2e4", "bad move  e2e4: MoveParseError"),
        (START, "e2e5 ", "bad move e2e5 : MoveParseError"),
        (START, "g1f3q", "illegal move: g1f3q"),
        # a pawn reaching the last rank must name its promotion; "k" names none
        (PROMOTION, "a7a8", "illegal move: a7a8"),
        (PROMOTION, "a7a8k", "illegal move: a7a8k"),
        (PROMOTION, "a7a8Q", "bad move a7a8Q: MoveParseError"),
        # only a king move from the e-file reads as castling
        (KING_G1, "g1c1", "illegal move: g1c1"),
        (KING_B1, "b1g1", "illegal move: b1g1"),
        ("r3k2r/8/8/8/8/8/8/R3K2R w Qkq - 0 1", "e1g1", "illegal move: e1g1"),
        (CASTLING_BLACK, "e1g1", "illegal move: e1g1"),
        (NO_KINGS, "zz", "bad FEN: InvalidBoard"),
        (BAD_SIDE, "e2e5", "bad FEN: InvalidSideToMove"),
    ],
)
def test_uci_to_san_failures(fen, uci, message):
    assert value_error(uci_to_san, fen, uci) == message


# --- reading -----------------------------------------------------------------------------


@pytest.mark.parametrize(
    "fen, san, uci",
    [
        (START, "Nf3", "g1f3"),
        (START, "e4", "e2e4"),
        (START, "Nf3 +", "g1f3"),
        (START, "Nf3!?", "g1f3"),
        (CASTLING, "O-O", "e1g1"),
        (CASTLING, "0-0", "e1g1"),
        (CASTLING, "O-O-O", "e1c1"),
        (CASTLING, "0-0-0", "e1c1"),
        (CASTLING_BLACK, "O-O-O", "e8c8"),
        (KING_G1, "O-O-O", "g1b1"),
        (KING_B1, "O-O-O", "b1a1"),
        (KING_B1, "O-O", "b1h1"),
        (KING_B1, "Kc1", "b1c1"),
        (KING_F1, "O-O", "f1h1"),
        (KING_F1, "Kg1", "f1g1"),
        (PASSANT, "exd6", "e5d6"),
        (PASSANT, "exd6 e.p.", "e5d6"),
        (PASSANT, "exd6e.p.", "e5d6"),
        (PASSANT, "exd6 e.p.+", "e5d6"),
        (PROMOTION, "a8=Q", "a7a8q"),
        (PROMOTION, "a8=Q+", "a7a8q"),
        (PROMOTION, "a8=N", "a7a8n"),
        (TWO_KNIGHTS, "Nbd2", "b1d2"),
        (QUEENS, "Qa1b2", "a1b2"),
        # signs are stripped, never checked against the position
        (MATE_IN_ONE, "Qh4#", "d8h4"),
        (MATE_IN_ONE, "Qh4+", "d8h4"),
        (MATE_IN_ONE, "Qh4", "d8h4"),
        (PROMOTION, "a8=N#", "a7a8n"),
        (START, "e4+", "e2e4"),
    ],
)
def test_san_to_uci(fen, san, uci):
    assert san_to_uci(fen, san) == uci


@pytest.mark.parametrize(
    "fen, san",
    [
        (START, "Nf3+ !"),
        (START, "nf3"),
        (START, "Ngf3"),
        (START, "e2e4"),
        (START, ""),
        (CASTLING, "o-o"),
        (CASTLING, "Kg1"),
        (KING_B1, "Kg1"),
        (PASSANT, "exd6+ e.p."),
        (PASSANT, "dxe6"),
        (PROMOTION, "a8Q"),
        (PROMOTION, "a8=q"),
        (PROMOTION, "a8"),
        (TWO_KNIGHTS, "Nd2"),
        (TWO_KNIGHTS, "N1d2"),
        (QUEENS, "Qab2"),
        (QUEENS, "Q1b2"),
        (STALEMATED, "Ka7"),
    ],
)
def test_san_that_matches_no_legal_move(fen, san):
    assert value_error(san_to_uci, fen, san) == f"no legal move matches SAN '{san}'"


@pytest.mark.parametrize(
    "fen, san, message",
    [
        (NO_KINGS, "Nf3", "bad FEN: InvalidBoard"),
        (NO_KINGS, "", "bad FEN: InvalidBoard"),
        (BAD_SIDE, "nf3", "bad FEN: InvalidSideToMove"),
    ],
)
def test_bad_fen_is_reported_before_the_san(fen, san, message):
    assert value_error(san_to_uci, fen, san) == message


# --- normalisation, seen through san_to_uci --------------------------------------------------

# Every character with the Unicode White_Space property.
WHITE_SPACE = (
    "\t\n\x0b\x0c\r \x85\xa0\u1680"
    + "".join(map(chr, range(0x2000, 0x200B)))
    + ("\u2028\u2029\u202f\u205f\u3000")
)
# Look like space or are invisible, but lack the property (U+180E lost it in Unicode 6.3).
NOT_WHITE_SPACE = "\x00\x1c\x1f\u180e\u200b\u2060\ufeff"


@pytest.mark.parametrize("space", WHITE_SPACE, ids=lambda c: f"U+{ord(c):04X}")
def test_white_space_is_trimmed_at_both_ends_before_and_after(space):
    assert san_to_uci(START, space + "Nf3" + space * 2) == "g1f3"
    # the trailing sign goes, then the space left in front of it
    assert san_to_uci(START, "Nf3" + space + "#") == "g1f3"
    # the mark goes, then the space left in front of it
    assert san_to_uci(PASSANT, space + "exd6" + space + "e.p." + space) == "e5d6"
    san = "Nf3+" + space + "!"
    assert value_error(san_to_uci, START, san) == f"no legal move matches SAN '{san}'"


@pytest.mark.parametrize("char", NOT_WHITE_SPACE, ids=lambda c: f"U+{ord(c):04X}")
@pytest.mark.parametrize("where", ["{}Nf3", "Nf3{}", "Nf3+{}"])
def test_characters_without_the_white_space_property_stay(char, where):
    san = where.format(char)
    assert value_error(san_to_uci, START, san) == f"no legal move matches SAN '{san}'"


@pytest.mark.parametrize(
    "fen, san, uci",
    [
        (START, "Nf3+#!?!?", "g1f3"),
        (START, "+Nf3", None),
        (START, "N+f3", None),
        (START, "+", None),
        (START, "\u3000\t", None),
        (START, "N f3", None),
        # every zero becomes the letter O, also after the signs are gone
        (CASTLING, "O-0", "e1g1"),
        (CASTLING, "0-O-0+", "e1c1"),
        (CASTLING, "0-0 !", "e1g1"),
        # marks go wherever they are, once, left to right
        (PASSANT, "exd6e.p.e.p.", "e5d6"),
        (PASSANT, "exe.p.d6", "e5d6"),
        (PASSANT, "e.p.exd6", "e5d6"),
        (PASSANT, "exd6 e.p.!?", "e5d6"),
        (START, "Nf3e.p.+", "g1f3"),
        # removing the inner mark joins "e." and "p.", which is not searched again
        (PASSANT, "exd6e.e.p.p.", None),
        (PASSANT, "exd6 E.P.", None),
        (PASSANT, "exd6 ep", None),
        (PASSANT, "exd6 e.p", None),
        # a sign uncovered by removing the mark is not stripped again
        (START, "Nf3+e.p.", None),
        (START, "Nf3+ e.p.", None),
    ],
)
def test_normalisation(fen, san, uci):
    if uci is None:
        assert value_error(san_to_uci, fen, san) == f"no legal move matches SAN '{san}'"
    else:
        assert san_to_uci(fen, san) == uci


# --- random positions ----------------------------------------------------------------------

CHESS960_GAME = "bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9"
Listed = collections.namedtuple("Listed", "inputs shown san castling en_passant")


def standard_text(board, move):
    """The text legal_moves writes: castling by a king on its e-file square as the king's move
    to the g- or c-file, any other castling as the king's move onto its rook."""
    if not board.is_castling(move) or chess.square_file(move.from_square) != 4:
        return move.uci()  # chess960 boards hold castling as the king's move onto its rook
    short = chess.square_file(move.to_square) > chess.square_file(move.from_square)
    to = chess.square(6 if short else 2, chess.square_rank(move.from_square))
    return chess.square_name(move.from_square) + chess.square_name(to)


def listed(board, move):
    shown = standard_text(board, move)
    inputs = [move.uci()]
    if shown != move.uci():
        inputs.append(shown)
    return Listed(
        inputs, shown, board.san(move), board.is_castling(move), board.is_en_passant(move)
    )


def weight(board, move):
    """Playouts favour pawns and spare kings and rooks, so that castling rights last, and
    almost always take en passant and promotion when they can."""
    if board.is_en_passant(move) or move.promotion:
        return 30
    if board.is_castling(move):
        return 0.5
    kind = board.piece_type_at(move.from_square)
    return {chess.PAWN: 4, chess.KING: 0.2, chess.ROOK: 0.3}.get(kind, 1)


@functools.lru_cache(maxsize=None)
def walk(start, seed, plies=100):
    """(fen, listed moves) for every other position of one seeded playout, and for every
    position where en passant is possible."""
    rng = random.Random(seed)
    if start == "chess960":
        board = chess.Board.from_chess960_pos(rng.randrange(960))
    else:
        board = chess.Board(start, chess960=True)
    positions = []
    for ply in range(plies):
        moves = list(board.legal_moves)
        if not moves:
            break
        if ply % 2 == 0 or board.has_legal_en_passant():
            fen = board.fen(shredder=start != chess.STARTING_FEN)
            positions.append((fen, [listed(board, move) for move in moves]))
        board.push(rng.choices(moves, [weight(board, move) for move in moves])[0])
    return positions


WALKS = [(chess.STARTING_FEN, seed) for seed in range(4)]
WALKS += [("chess960", seed) for seed in range(4)] + [(CHESS960_GAME, 0)]


def walk_id(walk_args):
    start, seed = walk_args
    return f"{'standard' if start == chess.STARTING_FEN else start[:8]}-{seed}"


def spellings(move, san):
    body = san.rstrip("+#")
    sign = san[len(body) :]
    yield san
    yield body
    yield body + ("+" if sign == "#" else "#")
    yield body + "!"
    yield san + "?!"
    yield "\u3000\t" + san + "\u2028\n"
    if move.castling:
        yield san.replace("O", "0")
    if move.en_passant:
        yield body + " e.p." + sign
        yield body + "e.p."


@pytest.mark.parametrize("walk_args", WALKS, ids=walk_id)
def test_san_round_trip(walk_args):
    for fen, moves in walk(*walk_args):
        texts = legal_moves(fen)
        assert sorted(texts) == sorted(move.shown for move in moves), fen
        # One text, one move: each listed text plays its own position and has its own SAN.
        assert len(set(texts)) == len(texts), fen
        assert len({apply_uci(fen, text) for text in texts}) == len(texts), fen
        assert len({uci_to_san(fen, text) for text in texts}) == len(texts), fen
        for move in moves:
            for text in move.inputs:
                san = uci_to_san(fen, text)
                for spelling in spellings(move, san):
                    assert (fen, spelling, san_to_uci(fen, spelling)) == (fen, spelling, move.shown)


@pytest.mark.parametrize("walk_args", WALKS, ids=walk_id)
def test_uci_to_san_agrees_with_python_chess(walk_args):
    for fen, moves in walk(*walk_args):
        for move in moves:
            for text in move.inputs:
                assert (fen, text, uci_to_san(fen, text)) == (fen, text, move.san)


def test_walks_reach_every_form():
    moves = [move for args in WALKS for _, listed_moves in walk(*args) for move in listed_moves]
    assert any(move.en_passant for move in moves)
    assert any(len(move.inputs) == 1 and move.castling for move in moves)
    assert any(len(move.inputs) == 2 for move in moves)
    sans = {move.san for move in moves}
    forms = [r"[a-h]x[a-h][18]=[NBRQ]", r"O-O-O", r"[NBRQ][a-h1-8]x?[a-h][1-8]", r".*\+", r".*#"]
    for form in forms:
        assert any(re.fullmatch(form, san) for san in sans), form
