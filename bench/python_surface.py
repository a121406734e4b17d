#!/usr/bin/env python3
"""Cost of each module call against its floor: the same call into an extension that only
takes the arguments as UTF-8 and builds a result of the same shape (bench/floor.cpp).

    make bench-python        (or: PYTHONPATH=build python3 bench/python_surface.py)

Each case is timed for ours and for its floor, interleaved, best of several repeats. The
table gives nanoseconds per call and the ratio; the summary gives the geometric mean of the
ratios and the largest one.
"""
import argparse
import math
import sys
import timeit

import _floor
import morvek_board as mb

START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"
MIDDLEGAME = "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP1B1PPP/R2QKB1R w KQ - 3 8"
ENDGAME = "8/1P4k1/8/8/8/8/5p2/2K5 w - - 0 60"
CHESS960 = "bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9"
POSITIONS = {"start": START, "kiwipete": KIWIPETE, "middlegame": MIDDLEGAME,
             "endgame": ENDGAME, "chess960": CHESS960}

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


def shape_of(result):
    if isinstance(result, bool):
        return "bool", int(result), 0
    if isinstance(result, int):
        return "int", result, 0
    if isinstance(result, str):
        return "str", 0, len(result)
    if result and isinstance(result[0], tuple):
        return "list_triple", len(result), 0
    return "list_str", len(result), len(result[0]) if result else 0


def ns_per_call(stmt, namespace, number):
    return timeit.Timer(stmt, globals=namespace).timeit(number=number) / number * 1e9


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--number", type=int, default=20000)
    ap.add_argument("--repeat", type=int, default=7)
    args = ap.parse_args()

    rows = []
    for label, name, extra, names in CASES:
        for pos in names:
            fen = POSITIONS[pos]
            call_args = (fen,) + tuple(extra)
            ours = getattr(mb, name)
            kind, count, length = shape_of(ours(*call_args))
            _floor.shape(name, kind, count, length)
            floor = getattr(_floor, name)
            namespace = {"ours": ours, "floor": floor, "a": call_args}
            stmt_ours = "ours(" + ", ".join("a[%d]" % i for i in range(len(call_args))) + ")"
            stmt_floor = stmt_ours.replace("ours(", "floor(")
            t_ours = t_floor = float("inf")
            for _ in range(args.repeat):  # interleaved, so both see the same machine state
                t_ours = min(t_ours, ns_per_call(stmt_ours, namespace, args.number))
                t_floor = min(t_floor, ns_per_call(stmt_floor, namespace, args.number))
            rows.append((name, pos + (" " + label if label else ""), t_ours, t_floor))

    print("%-14s %-22s %9s %9s %6s" % ("function", "case", "ours ns", "floor ns", "ratio"))
    for name, case, t_ours, t_floor in rows:
        print("%-14s %-22s %9.0f %9.0f %6.2f" % (name, case, t_ours, t_floor, t_ours / t_floor))
    ratios = [t / f for _, _, t, f in rows]
    geo = math.exp(sum(math.log(r) for r in ratios) / len(ratios))
    worst = max(rows, key=lambda r: r[2] / r[3])
    print("geometric mean of ratios: %.2f; largest: %.2f (%s, %s)" %
          (geo, worst[2] / worst[3], worst[0], worst[1]))
    print("python %s" % sys.version.split()[0])


if __name__ == "__main__":
    main()
