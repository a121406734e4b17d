"""legal_moves, apply_uci, is_check, null_move_fen, attackers and see_move compared with
python-chess on the positions of seeded random games, standard and Chess960.

Where the two differ by design, the expected value is derived from python-chess's answer:
- move order: ours is the fixed generation order, rebuilt here from python-chess's moves and
  pins; python-chess has an order of its own;
- castling text: for a king on the e-file ours is the king's move to the g- or c-file; in
  Chess960 mode python-chess writes king-onto-rook, as ours does for every other king;
- en passant: ours is written after every double push, python-chess's default FEN writes it
  only when a capture is legal, so positions are exchanged with en_passant="fen";
- castling letters: ours writes K/Q/k/q when every right's rook stands on the a- or h-file,
  and rook-file letters (python-chess's Shredder form) otherwise;
- clocks: ours stop at 100 and 65535;
- FEN reading: ours refuses some texts python-chess accepts (adjacent kings, en passant
  squares without the double-push geometry), none of which a real game produces.
"""

import functools
import random

import chess
import pytest

from conftest import value_error
from morvek_board import (
    apply_uci,
    attackers,
    is_check,
    legal_moves,
    null_move_fen,
    see_move,
    side_to_move,
)

PLIES = 80
GAMES = [(False, seed) for seed in range(5)] + [(True, seed) for seed in range(8)]


def pick(rng, board):
    """A random move, biased towards checks; en passant, double pushes that allow it, and
    promotion; then towards clearing the back rank (castling then stays possible for a while),
    pawn moves and captures."""
    moves = list(board.legal_moves)
    enemy_pawns = board.pieces_mask(chess.PAWN, not board.turn)
    rare = [
        m
        for m in moves
        if board.is_en_passant(m)
        or m.promotion
        or (
            board.piece_type_at(m.from_square) == chess.PAWN
            and abs(m.to_square - m.from_square) == 16
            and chess.BB_KING_ATTACKS[m.to_square] & chess.BB_RANKS[m.to_square // 8] & enemy_pawns
        )
    ]
    home = back_rank(board.turn)
    developing = [
        m
        for m in moves
        if chess.BB_SQUARES[m.from_square] & home
        and board.piece_type_at(m.from_square) in (chess.KNIGHT, chess.BISHOP, chess.QUEEN)
    ]
    pawns = [m for m in moves if board.piece_type_at(m.from_square) == chess.PAWN]
    captures = [m for m in moves if board.is_capture(m)]
    roll = rng.random()
    if roll < 0.15:
        checks = [m for m in moves if board.gives_check(m)]
        if checks:
            return rng.choice(checks)
    for choices, below in ((rare, 0.8), (developing, 0.5), (pawns, 0.7), (captures, 0.8)):
        if choices and roll < below:
            return rng.choice(choices)
    return rng.choice(moves)


@functools.lru_cache(maxsize=None)
def game(chess960, seed):
    rng = random.Random(seed)
    board = chess.Board.from_chess960_pos(rng.randrange(960)) if chess960 else chess.Board()
    # Late clocks in some games, so that ours reach their caps.
    board.halfmove_clock = rng.choice((0, 100))
    board.fullmove_number = rng.choice((1, 65510))
    positions = []
    for _ in range(PLIES):
        positions.append(board.copy(stack=False))
        if not any(board.legal_moves):
            break
        board.push(pick(rng, board))
    return positions


def capped_clocks(board):
    return [str(min(board.halfmove_clock, 100)), str(min(board.fullmove_number, 65535))]


def fen_of(board):
    fields = board.fen(shredder=board.chess960, en_passant="fen").split(" ")
    return " ".join(fields[:4] + capped_clocks(board))


def back_rank(color):
    return chess.BB_RANK_1 if color == chess.WHITE else chess.BB_RANK_8


def rook_square(board, move):
    if board.chess960:
        return move.to_square
    file = 7 if chess.square_file(move.to_square) == 6 else 0
    return chess.square(file, chess.square_rank(move.from_square))


def our_text(board, move):
    """Castling by a king on the e-file goes to the g- or c-file; any other castling is
    king-onto-rook, as python-chess writes it in Chess960 mode."""
    if board.is_castling(move) and chess.square_file(move.from_square) == 4:
        target = "g" if board.is_kingside_castling(move) else "c"
        return chess.square_name(move.from_square) + target + chess.square_name(move.from_square)[1]
    if board.is_castling(move):
        return chess.square_name(move.from_square) + chess.square_name(rook_square(board, move))
    return move.uci()


def generation_key(board, move):
    """Kind; unpinned, pinned or en passant; from square; to square (for castling the rook's);
    promotion."""
    kind = board.piece_type_at(move.from_square)
    if board.is_en_passant(move):
        group = 2
    else:
        group = int(kind != chess.KING and board.is_pinned(board.turn, move.from_square))
    target = rook_square(board, move) if board.is_castling(move) else move.to_square
    return kind, group, move.from_square, target, move.promotion or 0


def castling_letters(board):
    text = ""
    for color, letters in ((chess.WHITE, "KQ"), (chess.BLACK, "kq")):
        king = chess.square_file(board.king(color))
        rights = board.castling_rights & back_rank(color)
        rook_files = [chess.square_file(square) for square in chess.scan_forward(rights)]
        text += letters[0] * any(f > king for f in rook_files)
        text += letters[1] * any(f < king for f in rook_files)
    return text or "-"


def our_fen(board):
    placement, side, _, en_passant = board.fen(en_passant="fen").split(" ")[:4]
    corners = chess.BB_A1 | chess.BB_H1 | chess.BB_A8 | chess.BB_H8
    if board.castling_rights & ~corners:
        castling = board.castling_shredder_fen()
    else:
        castling = castling_letters(board)
    return " ".join([placement, side, castling, en_passant] + capped_clocks(board))


def positions(chess960, seed):
    return [(board, fen_of(board)) for board in game(chess960, seed)]


@pytest.mark.parametrize("chess960, seed", GAMES)
def test_legal_moves_and_check(chess960, seed):
    for board, fen in positions(chess960, seed):
        in_order = sorted(board.legal_moves, key=lambda m: generation_key(board, m))
        assert legal_moves(fen) == [our_text(board, m) for m in in_order], fen
        assert is_check(fen) is board.is_check(), fen


# Fifteen queens: more moves than a real game's positions have, all of them listed.
CROWDED = [
    "1Q4Q1/3Q4/Q4Q2/2Q4Q/4Q3/1Q5Q/3Q2RB/K4Qnk w - - 0 1",
    "3Q4/Q4Q2/2Q4Q/4Q3/1Q4Q1/3Q4/Q4QNp/K1Q3Nk w - - 0 1",
]


@pytest.mark.parametrize("fen", CROWDED)
def test_legal_moves_of_crowded_positions(fen):
    board = chess.Board(fen)
    in_order = sorted(board.legal_moves, key=lambda m: generation_key(board, m))
    assert legal_moves(fen) == [our_text(board, m) for m in in_order]


def rich(board, index):
    """Positions with castling, en passant, a promotion or check, and a third of the rest:
    writing python-chess's FEN after every move is the slow part of these tests."""
    if index % 3 == 0 or board.is_check():
        return True
    moves = board.legal_moves
    return any(board.is_castling(m) or board.is_en_passant(m) or m.promotion for m in moves)


@pytest.mark.parametrize("chess960, seed", GAMES)
def test_position_after_each_move(chess960, seed):
    for index, (board, fen) in enumerate(positions(chess960, seed)):
        if not rich(board, index):
            continue
        for move in board.legal_moves:
            text = our_text(board, move)
            board.push(move)
            expected = our_fen(board)
            board.pop()
            assert apply_uci(fen, text) == expected, (fen, text)


@pytest.mark.parametrize("chess960, seed", GAMES)
def test_null_move(chess960, seed):
    for board, fen in positions(chess960, seed):
        if board.is_check():
            assert value_error(null_move_fen, fen) == "null move illegal (in check)"
            continue
        board.push(chess.Move.null())
        expected = our_fen(board)
        board.pop()
        assert null_move_fen(fen) == expected, fen


@pytest.mark.parametrize("chess960, seed", GAMES)
def test_attackers(chess960, seed):
    for board, fen in positions(chess960, seed)[::4]:
        for square in chess.SQUARES:
            for color, word in ((chess.WHITE, "white"), (chess.BLACK, "black")):
                found = chess.scan_forward(board.attackers_mask(color, square))
                expected = [chess.square_name(s) for s in found]
                name = chess.square_name(square)
                assert attackers(fen, name, word) == expected, (fen, name, word)


@pytest.mark.parametrize("chess960, seed", GAMES)
def test_every_listed_move_is_accepted(chess960, seed):
    for board, fen in positions(chess960, seed):
        next_side = "black" if board.turn == chess.WHITE else "white"
        for text in legal_moves(fen):
            assert side_to_move(apply_uci(fen, text)) == next_side, (fen, text)


def in_generation_order(board):
    return [
        our_text(board, m)
        for m in sorted(board.legal_moves, key=lambda m: generation_key(board, m))
    ]


@pytest.mark.parametrize("chess960, seed", GAMES)
def test_walking_a_game_on_returned_fens(chess960, seed):
    """As a caller walks a game: each returned FEN is the next call's position, with a null
    move now and then. No step may be refused or lose a castling right's rook."""
    rng = random.Random(seed)
    board = game(chess960, seed)[0].copy()
    fen = fen_of(board)
    for _ in range(PLIES):
        assert legal_moves(fen) == in_generation_order(board), fen
        if not any(board.legal_moves):
            break
        if rng.random() < 0.1 and not board.is_check():
            fen = null_move_fen(fen)
            board.push(chess.Move.null())
        else:
            move = pick(rng, board)
            fen = apply_uci(fen, our_text(board, move))
            board.push(move)


EXCHANGE_VALUES = {
    chess.PAWN: 100,
    chess.KNIGHT: 300,
    chess.BISHOP: 300,
    chess.ROOK: 500,
    chess.QUEEN: 900,
    chess.KING: 20000,
}


def best_continuation(board, square, side, at_stake):
    """What `side` gains at best from the exchange on `square`, where a piece worth `at_stake`
    stands, if it may also stop at once (0). Pieces leave `board` as they capture, so sliders
    behind them join in. Only the capture itself is a choice: who takes is always the least
    valuable attacker, the lowest square among equals, and a king never takes on a square the
    other side still reaches."""
    found = board.attackers(side, square)
    if not found:
        return 0
    taker = min(found, key=lambda s: (EXCHANGE_VALUES[board.piece_type_at(s)], s))
    kind = board.piece_type_at(taker)
    board.remove_piece_at(taker)
    if kind == chess.KING and board.attackers(not side, square):
        return 0
    return max(0, at_stake - best_continuation(board, square, not side, EXCHANGE_VALUES[kind]))


def exchange_played_out(board, move):
    if board.is_castling(move):
        return 0
    played = board.copy(stack=False)
    mover = played.piece_type_at(move.from_square)
    if board.is_en_passant(move):
        taken = EXCHANGE_VALUES[chess.PAWN]
        played.remove_piece_at(move.to_square ^ 8)
    else:
        victim = played.piece_type_at(move.to_square)
        taken = EXCHANGE_VALUES[victim] if victim else 0
    played.remove_piece_at(move.from_square)
    played.remove_piece_at(move.to_square)
    return taken - best_continuation(played, move.to_square, not board.turn, EXCHANGE_VALUES[mover])


@pytest.mark.parametrize("chess960, seed", GAMES)
def test_exchange_values(chess960, seed):
    """Every capture, and every fourth of the other moves, against the exchange played out."""
    rng = random.Random(seed)
    for board, fen in positions(chess960, seed):
        for move in board.legal_moves:
            if board.is_capture(move) or rng.random() < 0.25:
                text = our_text(board, move)
                assert see_move(fen, text) == exchange_played_out(board, move), (fen, text)
