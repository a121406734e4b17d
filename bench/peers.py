#!/usr/bin/env python3
"""The module against the native chess packages on PyPI, function by function, on the same
FEN texts.

    make bench-peers     (or: PYTHONPATH=build build/venvs/peers/bin/python bench/peers.py)

Positions come from seeded random standard games played with this module (a lean towards
captures, pawn moves and checks, so that games reach en passant, promotions, mates and thin
endgames); every call gets the next position, as callers call. Each peer answers through an
adapter: what a user of that package writes to get our function's value from FEN text (build
its board from the FEN, ask, turn the answer into our plain value). A peer that has no way to
answer a function gets "-".

First every call's answer is compared with ours: as sets where the orders are the packages'
own (legal moves, attackers, pieces), exactly otherwise, except that a FEN's en passant field
counts as equal when one side writes the square and the other "-" and no en passant capture
is legal there (a notational choice: this module writes the square after every double push).
Only the calls that agree are timed, ours on exactly those calls beside each peer; the table
gives nanoseconds a call, the peer's time over ours, and agreed/total.

Then the game walk: over the same games, per real move the legal moves (as UCI texts), the
move's SAN, playing it and asking for check; ours from the FEN text each time, each peer with
its own board object kept between moves. Peers without SAN walk without it, and ours is timed
on that same walk. Only games on which the peer agrees at every move are timed.

Each time is the best of several passes, ours and the peers taking turns.
"""

import argparse
import math
import random
import sys
import time
from importlib import metadata

from positions import pick

import morvek_board as mb

START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
FUNCTIONS = [
    "side_to_move",
    "is_check",
    "legal_moves",
    "apply_uci",
    "null_move_fen",
    "uci_to_san",
    "san_to_uci",
    "see_move",
    "attackers",
    "piece_list",
]
PEERS = ["python-chess", "bulletchess", "fastchess", "nchess", "chessmg"]
DISTRIBUTIONS = {
    "python-chess": "chess",
    "bulletchess": "bulletchess",
    "fastchess": "fastchess",
    "nchess": "nchess",
    "chessmg": "chessmg",
}
UNORDERED = {"legal_moves", "attackers", "piece_list"}
FEN_RESULTS = {"apply_uci", "null_move_fen"}
SQUARE_NAMES = [f + r for r in "12345678" for f in "abcdefgh"]
SQUARE_INDEX = {name: i for i, name in enumerate(SQUARE_NAMES)}


# --- positions -----------------------------------------------------------------------------


def random_games(count, seed):
    """Whole games (the moves) until their positions, the last one of each included, number
    at least `count`. A game ends at mate, stalemate, a halfmove clock of 99 (one below this
    module's cap, so that no answer meets the cap) or after its drawn length."""
    rng = random.Random(seed)
    games, total = [], 0
    while total < count:
        fen, moves = START, []
        for _ in range(rng.randrange(40, 200)):
            legal = mb.legal_moves(fen)
            if not legal or int(fen.split(" ")[4]) >= 99:
                break
            move = pick(rng, fen, legal)
            moves.append(move)
            fen = mb.apply_uci(fen, move)
        games.append(moves)
        total += len(moves) + 1
    return games


def game_fens(moves):
    fens = [START]
    for move in moves:
        fens.append(mb.apply_uci(fens[-1], move))
    return fens


def arguments(positions, seed):
    """Per function, our argument tuples: a random legal move where one is needed, the SAN of
    one for san_to_uci, a random square and colour for attackers, positions not in check for
    the null move."""
    rng = random.Random(seed)
    out = {name: [] for name in FUNCTIONS}
    for fen in positions:
        legal = mb.legal_moves(fen)
        out["side_to_move"].append((fen,))
        out["is_check"].append((fen,))
        out["legal_moves"].append((fen,))
        out["piece_list"].append((fen,))
        out["attackers"].append((fen, rng.choice(SQUARE_NAMES), rng.choice(("white", "black"))))
        if not mb.is_check(fen):
            out["null_move_fen"].append((fen,))
        if legal:
            for name in ("apply_uci", "uci_to_san", "see_move"):
                out[name].append((fen, rng.choice(legal)))
            out["san_to_uci"].append((fen, mb.uci_to_san(fen, rng.choice(legal))))
    return out


# --- adapters: what a user of each package writes ------------------------------------------


def ours_adapters():
    return {name: getattr(mb, name) for name in FUNCTIONS}


def python_chess_adapters():
    import chess

    Board, Move, square_name, parse_square = (
        chess.Board,
        chess.Move,
        chess.square_name,
        chess.parse_square,
    )

    def apply_uci(fen, uci):
        board = Board(fen)
        board.push_uci(uci)
        return board.fen()

    def null_move_fen(fen):
        board = Board(fen)
        board.push(Move.null())
        return board.fen()

    def uci_to_san(fen, uci):
        board = Board(fen)
        return board.san(board.parse_uci(uci))

    def piece_list(fen):
        return [
            (square_name(s), p.symbol().upper(), "white" if p.color else "black")
            for s, p in Board(fen).piece_map().items()
        ]

    return {
        "side_to_move": lambda fen: "white" if Board(fen).turn else "black",
        "is_check": lambda fen: Board(fen).is_check(),
        "legal_moves": lambda fen: [m.uci() for m in Board(fen).legal_moves],
        "apply_uci": apply_uci,
        "null_move_fen": null_move_fen,
        "uci_to_san": uci_to_san,
        "san_to_uci": lambda fen, san: Board(fen).parse_san(san).uci(),
        "attackers": lambda fen, sq, color: [
            square_name(s) for s in Board(fen).attackers(color == "white", parse_square(sq))
        ],
        "piece_list": piece_list,
    }


def bulletchess_adapters():
    import bulletchess as bc

    from_fen, Move, WHITE, CHECK, SQUARES = (
        bc.Board.from_fen,
        bc.Move,
        bc.WHITE,
        bc.CHECK,
        bc.SQUARES,
    )

    def apply_uci(fen, uci):
        board = from_fen(fen)
        board.apply(Move.from_uci(uci))
        return board.fen()

    def null_move_fen(fen):
        board = from_fen(fen)
        board.apply(None)
        return board.fen()

    def piece_list(fen):
        board = from_fen(fen)
        out = []
        for square in SQUARES:
            piece = board[square]
            if piece is not None:
                out.append(
                    (
                        str(square).lower(),
                        str(piece).upper(),
                        "white" if piece.color == WHITE else "black",
                    )
                )
        return out

    return {
        "side_to_move": lambda fen: "white" if from_fen(fen).turn == WHITE else "black",
        "is_check": lambda fen: from_fen(fen) in CHECK,
        "legal_moves": lambda fen: [m.uci() for m in from_fen(fen).legal_moves()],
        "apply_uci": apply_uci,
        "null_move_fen": null_move_fen,
        "uci_to_san": lambda fen, uci: Move.from_uci(uci).san(from_fen(fen)),
        "san_to_uci": lambda fen, san: Move.from_san(san, from_fen(fen)).uci(),
        "piece_list": piece_list,
    }


def fastchess_adapters():
    import fastchess as fc

    Board, WHITE = fc.Board, fc.WHITE
    letters = {
        fc.PAWN: "P",
        fc.KNIGHT: "N",
        fc.BISHOP: "B",
        fc.ROOK: "R",
        fc.QUEEN: "Q",
        fc.KING: "K",
    }

    def apply_uci(fen, uci):
        board = Board(fen)
        board.push_uci(uci)
        return board.fen()

    def piece_list(fen):
        board = Board(fen)
        out = []
        for square in range(64):
            piece = board.piece_at(square)
            if piece is not None:
                out.append(
                    (
                        SQUARE_NAMES[square],
                        letters[piece[0]],
                        "white" if piece[1] == WHITE else "black",
                    )
                )
        return out

    return {
        "side_to_move": lambda fen: "white" if Board(fen).turn == WHITE else "black",
        "is_check": lambda fen: Board(fen).is_check(),
        "legal_moves": lambda fen: Board(fen).legal_moves_uci(),
        "apply_uci": apply_uci,
        "san_to_uci": lambda fen, san: Board(fen).push_san(san),
        "piece_list": piece_list,
    }


def nchess_uci(names):
    promotion = " pnbrqk"

    def uci(move):
        text = names[move.from_] + names[move.to_]
        return text + promotion[move.pro_piece] if move.is_promotion else text

    return uci


def nchess_adapters():
    import nchess as nc

    Board, names, symbols = nc.Board, nc.const.SQUARE_NAMES, nc.const.PIECE_SYMBOLS
    uci = nchess_uci(names)

    def apply_uci(fen, move):
        board = Board(fen)
        if not board.step(move):
            raise ValueError("illegal move " + move)
        return board.fen()

    def piece_list(fen):
        out = []
        for square, piece in enumerate(Board(fen).as_table(as_list=True)):
            if piece:
                symbol = symbols[piece - 1]
                out.append(
                    (names[square], symbol.upper(), "white" if symbol.isupper() else "black")
                )
        return out

    return {
        "side_to_move": lambda fen: "white" if Board(fen).side == 0 else "black",
        "is_check": lambda fen: Board(fen).is_check,
        "legal_moves": lambda fen: [uci(m) for m in Board(fen).generate_legal_moves()],
        "apply_uci": apply_uci,
        "attackers": lambda fen, sq, color: [
            names[s]
            for s in Board(fen).get_attackers_map(sq, 0 if color == "white" else 1).to_squares()
        ],
        "piece_list": piece_list,
    }


def chessmg_adapters():
    import chessmg as cm

    Position, WHITE = cm.ChessPosition, cm.Color.WHITE

    def apply_uci(fen, uci):
        position = Position(fen)
        position.make_move(uci)
        return position.fen

    return {
        "side_to_move": lambda fen: "white" if Position(fen).turn == WHITE else "black",
        "is_check": lambda fen: Position(fen).is_check,
        "legal_moves": lambda fen: [m.uci for m in Position(fen).legal_moves()],
        "apply_uci": apply_uci,
    }


ADAPTERS = {
    "python-chess": python_chess_adapters,
    "bulletchess": bulletchess_adapters,
    "fastchess": fastchess_adapters,
    "nchess": nchess_adapters,
    "chessmg": chessmg_adapters,
}


# --- game walks: each peer's own board kept between moves ----------------------------------


def ours_walk(san):
    legal_moves, uci_to_san, apply_uci, is_check = (
        mb.legal_moves,
        mb.uci_to_san,
        mb.apply_uci,
        mb.is_check,
    )

    def walk(moves):
        fen, out = START, []
        for move in moves:
            legal = legal_moves(fen)
            text = uci_to_san(fen, move) if san else None
            fen = apply_uci(fen, move)
            out.append((legal, text, is_check(fen)))
        return out

    return walk


def python_chess_walk():
    import chess

    Board, Move = chess.Board, chess.Move

    def walk(moves):
        board, out = Board(), []
        for move in moves:
            legal = [m.uci() for m in board.legal_moves]
            text = board.san_and_push(Move.from_uci(move))
            out.append((legal, text, board.is_check()))
        return out

    return walk, True


def bulletchess_walk():
    import bulletchess as bc

    Board, Move, CHECK = bc.Board, bc.Move, bc.CHECK

    def walk(moves):
        board, out = Board(), []
        for move in moves:
            legal = [m.uci() for m in board.legal_moves()]
            played = Move.from_uci(move)
            text = played.san(board)
            board.apply(played)
            out.append((legal, text, board in CHECK))
        return out

    return walk, True


def fastchess_walk():
    import fastchess as fc

    Board = fc.Board

    def walk(moves):
        board, out = Board(), []
        for move in moves:
            legal = board.legal_moves_uci()
            board.push_uci(move)
            out.append((legal, None, board.is_check()))
        return out

    return walk, False


def nchess_walk():
    import nchess as nc

    Board = nc.Board
    uci = nchess_uci(nc.const.SQUARE_NAMES)

    def walk(moves):
        board, out = Board(), []
        for move in moves:
            legal = [uci(m) for m in board.generate_legal_moves()]
            board.step(move)
            out.append((legal, None, board.is_check))
        return out

    return walk, False


def chessmg_walk():
    import chessmg as cm

    Position = cm.ChessPosition

    def walk(moves):
        position, out = Position(), []
        for move in moves:
            legal = [m.uci for m in position.legal_moves()]
            position.make_move(move)
            out.append((legal, None, position.is_check))
        return out

    return walk, False


WALKS = {
    "python-chess": python_chess_walk,
    "bulletchess": bulletchess_walk,
    "fastchess": fastchess_walk,
    "nchess": nchess_walk,
    "chessmg": chessmg_walk,
}


# --- comparing -----------------------------------------------------------------------------


def no_en_passant_capture(fen, square):
    pawns = {sq for sq, letter, colour in mb.piece_list(fen) if letter == "P"}
    return not any(m[2:4] == square and m[:2] in pawns for m in mb.legal_moves(fen))


def same_fen(ours, theirs):
    if not isinstance(theirs, str):
        return False
    a, b = ours.split(" "), theirs.split(" ")
    if len(a) != len(b) or a[:3] != b[:3] or a[4:] != b[4:]:
        return False
    if a[3] == b[3]:
        return True
    if "-" in (a[3], b[3]):
        square = a[3] if b[3] == "-" else b[3]
        return (
            "en passant"
            if square in SQUARE_INDEX and no_en_passant_capture(ours, square)
            else False
        )
    return False


def agrees(name, ours, theirs):
    if name in FEN_RESULTS:
        return same_fen(ours, theirs)
    if name in UNORDERED:
        try:
            return sorted(ours) == sorted(theirs)
        except TypeError:
            return False
    return type(ours) is type(theirs) and ours == theirs


def answer(function, args):
    try:
        return function(*args)
    except Exception as error:  # a peer's refusal is a disagreement, shown as such
        return "raised %s: %s" % (type(error).__name__, error)


# --- timing --------------------------------------------------------------------------------


def loop_ns(function, calls):
    start = time.perf_counter_ns()
    for args in calls:
        function(*args)
    return (time.perf_counter_ns() - start) / len(calls)


def walk_ns(walk, games):
    start = time.perf_counter_ns()
    for moves in games:
        walk(moves)
    return (time.perf_counter_ns() - start) / sum(len(m) for m in games)


def best_pair(repeat, ours, theirs):
    """Best of `repeat` for both, taking turns so that both see the same machine."""
    t_ours = t_theirs = float("inf")
    for _ in range(repeat):
        t_ours = min(t_ours, ours())
        t_theirs = min(t_theirs, theirs())
    return t_ours, t_theirs


# --- the run -------------------------------------------------------------------------------


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--positions", type=int, default=4000, help="at least this many positions")
    ap.add_argument("--seed", type=int, default=2024)
    ap.add_argument("--repeat", type=int, default=7)
    ap.add_argument("--markdown", action="store_true", help="also print the tables in Markdown")
    args = ap.parse_args()

    games = random_games(args.positions, args.seed)
    positions = [fen for moves in games for fen in game_fens(moves)]
    calls = arguments(positions, args.seed)
    ours = ours_adapters()

    adapters, versions, missing = {}, {}, {}
    for peer in PEERS:
        try:
            adapters[peer] = ADAPTERS[peer]()
            versions[peer] = metadata.version(DISTRIBUTIONS[peer])
        except ImportError as error:
            missing[peer] = str(error)

    # (function, peer) -> dict(ours_ns, ns, agreed, total, example)
    cells, ours_all = {}, {}
    for name in FUNCTIONS:
        ours_all[name] = min(loop_ns(ours[name], calls[name]) for _ in range(args.repeat))
        expected = [ours[name](*c) for c in calls[name]]
        for peer, table in adapters.items():
            theirs = table.get(name)
            if theirs is None:
                continue
            agreed, example, notational = [], None, 0
            for c, want in zip(calls[name], expected):
                got = answer(theirs, c)
                verdict = agrees(name, want, got)
                if verdict:
                    agreed.append(c)
                    notational += verdict == "en passant"
                elif example is None:
                    example = (c, want, got)
            cell = {
                "agreed": len(agreed),
                "total": len(calls[name]),
                "example": example,
                "notational": notational,
            }
            if agreed:
                cell["ours_ns"], cell["ns"] = best_pair(
                    args.repeat,
                    lambda: loop_ns(ours[name], agreed),
                    lambda: loop_ns(theirs, agreed),
                )
            cells[(name, peer)] = cell

    walks = {}
    for peer in adapters:
        walk, san = WALKS[peer]()
        mine = ours_walk(san)
        agreed, example = [], None
        for moves in games:
            want = mine(moves)
            got = answer(walk, (moves,))
            if (
                isinstance(got, list)
                and all(sorted(w[0]) == sorted(g[0]) and w[1:] == g[1:] for w, g in zip(want, got))
                and len(got) == len(want)
            ):
                agreed.append(moves)
            elif example is None:
                if isinstance(got, str):
                    example = (moves, None, got)
                else:
                    for ply, (w, g) in enumerate(zip(want, got)):
                        if sorted(w[0]) != sorted(g[0]) or w[1:] != g[1:]:
                            example = (
                                moves[: ply + 1],
                                (sorted(w[0]),) + w[1:],
                                (sorted(g[0]),) + g[1:],
                            )
                            break
        cell = {
            "agreed": len(agreed),
            "total": len(games),
            "san": san,
            "example": example,
            "plies": sum(len(m) for m in agreed),
        }
        if agreed:
            cell["ours_ns"], cell["ns"] = best_pair(
                args.repeat, lambda: walk_ns(mine, agreed), lambda: walk_ns(walk, agreed)
            )
        walks[peer] = cell

    report(args, games, positions, calls, ours_all, cells, walks, versions, missing)


def fmt_ns(ns):
    return "{:,.0f}".format(ns)


def cell_text(cell):
    if cell is None:
        return "-"
    if "ns" not in cell:
        return "none agree (0/%d)" % cell["total"]
    return "%s ns, %.1fx (%s/%s)" % (
        fmt_ns(cell["ns"]),
        cell["ns"] / cell["ours_ns"],
        "{:,}".format(cell["agreed"]),
        "{:,}".format(cell["total"]),
    )


def report(args, games, positions, calls, ours_all, cells, walks, versions, missing):
    peers = [p for p in PEERS if p in versions] + [p for p in PEERS if p in missing]
    rows = []
    for name in FUNCTIONS:
        row = [name, fmt_ns(ours_all[name]), "{:,}".format(len(calls[name]))]
        for peer in peers:
            row.append("not installed" if peer in missing else cell_text(cells.get((name, peer))))
        rows.append(row)
    walk_row = ["game walk, per move", "", "{:,} moves".format(sum(len(m) for m in games))]
    for peer in peers:
        cell = walks.get(peer)
        if cell is None:
            walk_row.append("not installed")
        elif "ns" not in cell:
            walk_row.append("none agree (0/%d games)" % cell["total"])
        else:
            walk_row.append(
                "%s ns, %.1fx (%d/%d games%s)"
                % (
                    fmt_ns(cell["ns"]),
                    cell["ns"] / cell["ours_ns"],
                    cell["agreed"],
                    cell["total"],
                    "" if cell["san"] else ", no SAN",
                )
            )
    head = ["function", "ours ns", "calls"] + peers

    print(
        "%d positions from %d seeded random standard games (seed %d), best of %d"
        % (len(positions), len(games), args.seed, args.repeat)
    )
    print("each peer cell: its ns a call, its time over ours on the same calls, agreed/total\n")
    widths = [max(len(str(r[i])) for r in rows + [head, walk_row]) for i in range(len(head))]
    for r in [head] + rows + [walk_row]:
        print("  ".join(str(v).ljust(w) for v, w in zip(r, widths)).rstrip())
    print(
        "\ngame walk: ours on the same games and steps as each peer:",
        ", ".join(
            "%s %s ns" % (p, fmt_ns(walks[p]["ours_ns"]))
            for p in peers
            if p in walks and "ns" in walks[p]
        ),
    )

    ratios = [c["ns"] / c["ours_ns"] for c in cells.values() if "ns" in c]
    if ratios:
        print(
            "geometric mean of peer/ours over all timed cells: %.1f"
            % math.exp(sum(math.log(r) for r in ratios) / len(ratios))
        )

    print("\nDisagreements (the first of each function and peer):")
    for (name, peer), cell in cells.items():
        if cell["example"]:
            c, want, got = cell["example"]
            print(
                "- %s %s (%d of %d differ): args %r\n    ours   %r\n    theirs %r"
                % (peer, name, cell["total"] - cell["agreed"], cell["total"], c, want, got)
            )
    for peer, cell in walks.items():
        if cell["example"]:
            moves, want, got = cell["example"]
            print(
                "- %s game walk (%d of %d games differ): after %d moves (last %s)\n    ours   %r\n    theirs %r"
                % (
                    peer,
                    cell["total"] - cell["agreed"],
                    cell["total"],
                    len(moves),
                    moves[-1],
                    want[1:] if want else want,
                    got[1:] if isinstance(got, tuple) else got,
                )
            )
            if want and isinstance(got, tuple) and want[0] != got[0]:
                print(
                    "    moves only ours %s, only theirs %s"
                    % (sorted(set(want[0]) - set(got[0])), sorted(set(got[0]) - set(want[0])))
                )
    for peer, error in missing.items():
        print("- %s: not installed (%s)" % (peer, error))
    counted = [
        "%s %s %d" % (peer, name, c["notational"])
        for (name, peer), c in cells.items()
        if c["notational"]
    ]
    if counted:
        print(
            "\nAgreed only with the en passant field read as notation (calls): "
            + ", ".join(counted)
        )

    print(
        "\npython %s; %s"
        % (
            sys.version.split()[0],
            ", ".join("%s %s" % (p, versions[p]) for p in peers if p in versions),
        )
    )
    if args.markdown:
        print()
        print("| " + " | ".join(head) + " |")
        print("|" + "---|" * len(head))
        for r in rows + [walk_row]:
            print(
                "| "
                + " | ".join(
                    ("`%s`" % v if i == 0 and v in FUNCTIONS else v) for i, v in enumerate(r)
                )
                + " |"
            )


if __name__ == "__main__":
    main()
