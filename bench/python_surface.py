#!/usr/bin/env python3
"""Cost of each module call against its floor: the same call into an extension that only
takes the arguments as UTF-8 and builds a result of the same shape (bench/floor.cpp).

    make bench-python     (or, with chess installed: PYTHONPATH=build python3 bench/python_surface.py)

Two modes. Repeated: each case calls one position again and again. Distinct: each case is one
loop over a fixed list of positions from seeded random games (standard and Chess960, some with
clocks near their caps), a new position every call, the floor bound to each call's result
shape in turn; python-chess does the same work from the same FEN texts for comparison. Each
case is timed for ours and for its floor, interleaved, best of several repeats. The tables give
nanoseconds per call and the ratio; the summaries the geometric mean of the ratios and the
largest one. `--json FILE` writes every row (bench/chart.py draws the distinct ones).
`--before FILE` adds a third table: the distinct cases against an earlier build of the module
(`make bench-python` builds the commit BENCH_BEFORE for it), both loaded in this process and
alternated.
"""

import argparse
import json
import math
import random
import sys
import time
import timeit

import _floor
import positions
from before_after import load_build

import chess
import morvek_board as mb

START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"
MIDDLEGAME = "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP1B1PPP/R2QKB1R w KQ - 3 8"
ENDGAME = "8/1P4k1/8/8/8/8/5p2/2K5 w - - 0 60"
CHESS960 = "bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9"
POSITIONS = {
    "start": START,
    "kiwipete": KIWIPETE,
    "middlegame": MIDDLEGAME,
    "endgame": ENDGAME,
    "chess960": CHESS960,
}

# (label, function, arguments after the FEN, position names)
CASES = [
    ("", "side_to_move", (), POSITIONS),
    ("", "is_check", (), POSITIONS),
    ("", "legal_moves", (), POSITIONS),
    ("", "null_move_fen", (), POSITIONS),
    ("", "piece_list", (), POSITIONS),
    ("", "attackers", ("e4", "white"), POSITIONS),
    ("capture", "apply_uci", ("e5f7",), ["kiwipete"]),
    ("quiet", "apply_uci", ("a2a3",), ["kiwipete"]),
    ("castling", "apply_uci", ("e1g1",), ["kiwipete"]),
    ("promotion", "apply_uci", ("b7b8q",), ["endgame"]),
    ("capture", "uci_to_san", ("e5f7",), ["kiwipete"]),
    ("quiet", "uci_to_san", ("c3b5",), ["kiwipete"]),
    ("castling", "uci_to_san", ("e1g1",), ["kiwipete"]),
    ("capture", "see_move", ("e5f7",), ["kiwipete"]),
    ("quiet", "see_move", ("a2a3",), ["kiwipete"]),
    ("castling", "see_move", ("e1g1",), ["kiwipete"]),
    ("late match", "san_to_uci", ("O-O",), ["kiwipete"]),
    ("knight", "san_to_uci", ("Nf3",), ["start"]),
    ("late match", "san_to_uci", ("Ke2",), ["middlegame"]),
    ("promotion", "san_to_uci", ("b8=Q+",), ["endgame"]),
]


def shape_of(result, name):
    if isinstance(result, bool):
        return "bool", int(result), 0
    if isinstance(result, int):
        return "int", result, 0
    if isinstance(result, str):
        # The colour word is made once and handed out again; other texts are new every call.
        return "shared_str" if name == "side_to_move" else "str", 0, len(result)
    if result and isinstance(result[0], tuple):
        return "list_triple", len(result), 0
    return "list_str", len(result), len(result[0]) if result else 0


def ns_per_call(stmt, namespace, number):
    return timeit.Timer(stmt, globals=namespace).timeit(number=number) / number * 1e9


def time_repeated(number, repeat):
    rows = []
    for label, name, extra, names in CASES:
        for pos in names:
            fen = POSITIONS[pos]
            call_args = (fen,) + tuple(extra)
            ours = getattr(mb, name)
            kind, count, length = shape_of(ours(*call_args), name)
            _floor.shape(name, kind, count, length)
            floor = getattr(_floor, name)
            namespace = {"ours": ours, "floor": floor, "a": call_args}
            stmt_ours = "ours(" + ", ".join("a[%d]" % i for i in range(len(call_args))) + ")"
            stmt_floor = stmt_ours.replace("ours(", "floor(")
            t_ours = t_floor = float("inf")
            for _ in range(repeat):  # interleaved, so both see the same machine state
                t_ours = min(t_ours, ns_per_call(stmt_ours, namespace, number))
                t_floor = min(t_floor, ns_per_call(stmt_floor, namespace, number))
            rows.append(
                {
                    "mode": "repeated",
                    "function": name,
                    "case": pos + (" " + label if label else ""),
                    "positions": 1,
                    "ours_ns": t_ours,
                    "floor_ns": t_floor,
                }
            )
    return rows


# --- distinct positions --------------------------------------------------------------------


def pick(rng, board):
    """A random move with a lean towards captures, pawn moves and checks, so that the games
    reach en passant, promotions and thin endgames."""
    moves = list(board.legal_moves)
    roll = rng.random()
    if roll < 0.1:
        checks = [m for m in moves if board.gives_check(m)]
        if checks:
            return rng.choice(checks)
    captures = [m for m in moves if board.is_capture(m)]
    pawns = [m for m in moves if board.piece_type_at(m.from_square) == chess.PAWN]
    for choices, below in ((captures, 0.5), (pawns, 0.75)):
        if choices and roll < below:
            return rng.choice(choices)
    return rng.choice(moves)


def our_fen(board):
    """The position as a caller holds it: rook-file letters in Chess960, the en passant square
    after every double push, the clocks at our caps."""
    fields = board.fen(shredder=board.chess960, en_passant="fen").split(" ")
    return " ".join(
        fields[:4] + [str(min(board.halfmove_clock, 100)), str(min(board.fullmove_number, 65535))]
    )


def distinct_positions(count, seed):
    """(fen, chess960) of seeded random games, alternately standard and Chess960; a quarter of
    the games start with clocks just below their caps."""
    rng = random.Random(seed)
    out = []
    game = 0
    while len(out) < count:
        chess960 = game % 2 == 1
        board = chess.Board.from_chess960_pos(rng.randrange(960)) if chess960 else chess.Board()
        if rng.random() < 0.25:
            board.halfmove_clock, board.fullmove_number = 95, 65530
        for _ in range(rng.randrange(20, 120)):
            if len(out) == count or board.is_game_over():
                break
            fen = our_fen(board)
            try:
                mb.side_to_move(fen)
            except ValueError:  # ours refuses some texts python-chess writes (none from play)
                pass
            else:
                out.append((fen, chess960))
            board.push(pick(rng, board))
        game += 1
    return out


def move_kinds(fen, chess960):
    """Our legal move texts by kind (a king's and a knight's moves also by mover), and
    python-chess's board of the position."""
    return positions.move_kinds(fen), chess.Board(fen, chess960=chess960)


def pychess_text(board, text):
    """python-chess's UCI for our move text: the same, but for castling, which ours may write
    as the king's two-square move where python-chess's Chess960 mode puts the king on its rook."""
    move = chess.Move.from_uci(text)
    if board.is_legal(move):
        return move.uci()
    for move in board.legal_moves:
        if board.is_castling(move) and chess.square_name(move.from_square) == text[:2]:
            if (text[2] > text[0]) == board.is_kingside_castling(move):
                return board.uci(move)
    raise AssertionError("no python-chess move for " + text)


# (label, function, how the extra argument is chosen) for the distinct mode; the kinds are
# those of the repeated cases.
DISTINCT_CASES = positions.CASES


def distinct_arguments(positions, seed):
    """Per case: our argument tuples and, for python-chess, (fen, chess960, its argument)."""
    rng = random.Random(seed)
    prepared = []
    for fen, chess960 in positions:
        kinds, board = move_kinds(fen, chess960)
        prepared.append((fen, chess960, kinds, board))
    cases = {}
    for label, name, choice in DISTINCT_CASES:
        ours, theirs = [], []
        for fen, chess960, kinds, board in prepared:
            if choice is None:
                ours.append((fen,))
                theirs.append((fen, chess960, None))
            elif choice == "not in check":
                if not board.is_check():
                    ours.append((fen,))
                    theirs.append((fen, chess960, None))
            elif choice == "square":
                square, colour = rng.randrange(64), rng.choice(("white", "black"))
                ours.append((fen, chess.square_name(square), colour))
                theirs.append((fen, chess960, (square, colour == "white")))
            elif kinds[choice]:
                text = rng.choice(kinds[choice])
                if name == "san_to_uci":
                    if choice == "king":  # the king's moves come last in our generation order
                        text = kinds[choice][-1]
                    san = mb.uci_to_san(fen, text)
                    ours.append((fen, san))
                    theirs.append((fen, chess960, san))
                else:
                    ours.append((fen, text))
                    theirs.append((fen, chess960, pychess_text(board, text)))
        cases[(label, name)] = (ours, theirs)
    return cases


def pychess_call(name):
    """The same answer as ours, from the FEN text, with python-chess; None where it has none."""
    Board = chess.Board
    square_name = chess.square_name
    if name == "side_to_move":
        return lambda fen, c960, _: "white" if Board(fen, chess960=c960).turn else "black"
    if name == "is_check":
        return lambda fen, c960, _: Board(fen, chess960=c960).is_check()
    if name == "legal_moves":
        return lambda fen, c960, _: [m.uci() for m in Board(fen, chess960=c960).legal_moves]
    if name == "null_move_fen":

        def null_move(fen, c960, _):
            board = Board(fen, chess960=c960)
            board.push(chess.Move.null())
            return board.fen(en_passant="fen")

        return null_move
    if name == "piece_list":

        def pieces(fen, c960, _):
            board = Board(fen, chess960=c960)
            return [
                (square_name(s), p.symbol(), "white" if p.color else "black")
                for s, p in sorted(board.piece_map().items())
            ]

        return pieces
    if name == "attackers":
        return lambda fen, c960, arg: [
            square_name(s) for s in Board(fen, chess960=c960).attackers(arg[1], arg[0])
        ]
    if name == "apply_uci":

        def apply(fen, c960, text):
            board = Board(fen, chess960=c960)
            board.push_uci(text)
            return board.fen(en_passant="fen")

        return apply
    if name == "uci_to_san":

        def san(fen, c960, text):
            board = Board(fen, chess960=c960)
            return board.san(board.parse_uci(text))

        return san
    if name == "san_to_uci":
        return lambda fen, c960, text: Board(fen, chess960=c960).parse_san(text).uci()
    return None  # python-chess has no exchange evaluation


def loop_ns(function, arguments):
    """Nanoseconds a call over one pass through the list."""
    start = time.perf_counter_ns()
    for args in arguments:
        function(*args)
    return (time.perf_counter_ns() - start) / len(arguments)


def time_distinct(cases, repeat, pychess_repeat):
    rows = []
    for label, name, _ in DISTINCT_CASES:
        ours_args, theirs_args = cases[(label, name)]
        if not ours_args:
            continue
        ours = getattr(mb, name)
        _floor.shapes(name, [shape_of(ours(*a), name) for a in ours_args])
        floor = getattr(_floor, name)
        t_ours = t_floor = float("inf")
        for _ in range(repeat):  # interleaved; each pass starts the floor's shapes from the first
            t_ours = min(t_ours, loop_ns(ours, ours_args))
            t_floor = min(t_floor, loop_ns(floor, ours_args))
        theirs = pychess_call(name)
        t_theirs = None
        if theirs is not None:
            t_theirs = min(loop_ns(theirs, theirs_args) for _ in range(pychess_repeat))
        rows.append(
            {
                "mode": "distinct",
                "function": name,
                "case": label or "all",
                "positions": len(ours_args),
                "ours_ns": t_ours,
                "floor_ns": t_floor,
                "python_chess_ns": t_theirs,
            }
        )
    return rows


def time_before_after(cases, before, repeat):
    """This build against an earlier one on the distinct positions, alternated, best of
    `repeat`."""
    rows = []
    for label, name, _ in DISTINCT_CASES:
        ours_args, _ = cases[(label, name)]
        if not ours_args:
            continue
        now, then = getattr(mb, name), getattr(before, name)
        t_now = t_then = float("inf")
        for _ in range(repeat):
            t_then = min(t_then, loop_ns(then, ours_args))
            t_now = min(t_now, loop_ns(now, ours_args))
        rows.append(
            {
                "mode": "before-after",
                "function": name,
                "case": label or "all",
                "positions": len(ours_args),
                "ours_ns": t_now,
                "before_ns": t_then,
            }
        )
    return rows


def print_before_after(title, rows):
    print(title)
    print("%-14s %-20s %9s %9s %6s" % ("function", "case", "before ns", "now ns", "ratio"))
    for r in rows:
        print(
            "%-14s %-20s %9.0f %9.0f %6.2f"
            % (
                r["function"],
                r["case"],
                r["before_ns"],
                r["ours_ns"],
                r["ours_ns"] / r["before_ns"],
            )
        )
    ratios = [r["ours_ns"] / r["before_ns"] for r in rows]
    geo = math.exp(sum(math.log(x) for x in ratios) / len(ratios))
    print("geometric mean of ratios: %.2f; largest: %.2f\n" % (geo, max(ratios)))


def summary(rows):
    ratios = [r["ours_ns"] / r["floor_ns"] for r in rows]
    geo = math.exp(sum(math.log(x) for x in ratios) / len(ratios))
    worst = max(rows, key=lambda r: r["ours_ns"] / r["floor_ns"])
    return geo, worst


def print_table(title, rows):
    print(title)
    distinct = rows[0]["mode"] == "distinct"
    head = "%-14s %-20s %9s %9s %6s" % ("function", "case", "ours ns", "floor ns", "ratio")
    print(head + ("  %9s %14s" % ("positions", "python-chess ns") if distinct else ""))
    for r in rows:
        line = "%-14s %-20s %9.0f %9.0f %6.2f" % (
            r["function"],
            r["case"],
            r["ours_ns"],
            r["floor_ns"],
            r["ours_ns"] / r["floor_ns"],
        )
        if distinct:
            theirs = r["python_chess_ns"]
            line += "  %9d %14s" % (r["positions"], "%.0f" % theirs if theirs is not None else "-")
        print(line)
    geo, worst = summary(rows)
    print(
        "geometric mean of ratios: %.2f; largest: %.2f (%s, %s)\n"
        % (geo, worst["ours_ns"] / worst["floor_ns"], worst["function"], worst["case"])
    )


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--number", type=int, default=20000, help="calls a timing, repeated mode")
    ap.add_argument("--repeat", type=int, default=7)
    ap.add_argument("--positions", type=int, default=2048, help="positions of the distinct mode")
    ap.add_argument("--seed", type=int, default=16)
    ap.add_argument("--pychess-repeat", type=int, default=3)
    ap.add_argument("--mode", choices=("both", "repeated", "distinct"), default="both")
    ap.add_argument("--json", help="write every row to this file")
    ap.add_argument("--before", help="an earlier build of the module to time this one against")
    args = ap.parse_args()

    rows = []
    if args.mode != "distinct":
        repeated = time_repeated(args.number, args.repeat)
        print_table("Repeated: one position, called again and again", repeated)
        rows += repeated
    if args.mode != "repeated":
        positions = distinct_positions(args.positions, args.seed)
        cases = distinct_arguments(positions, args.seed)
        distinct = time_distinct(cases, args.repeat, args.pychess_repeat)
        print_table(
            "Distinct: %d positions from random games, a new one every call" % len(positions),
            distinct,
        )
        rows += distinct
        if args.before:
            compared = time_before_after(cases, load_build(args.before), args.repeat)
            print_before_after("Distinct positions, this build against %s" % args.before, compared)
            rows += compared
    print("python %s, python-chess %s" % (sys.version.split()[0], chess.__version__))
    if args.json:
        with open(args.json, "w") as out:
            json.dump(
                {"python": sys.version.split()[0], "python_chess": chess.__version__, "rows": rows},
                out,
                indent=1,
            )


if __name__ == "__main__":
    main()
