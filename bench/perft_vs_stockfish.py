#!/usr/bin/env python3
"""Perft speed of build/perft against Stockfish's `go perft`, side by side in one run.

    python3 bench/perft_vs_stockfish.py [--repeat N] [--perft build/perft] [--stockfish PATH]

Stockfish is timed from sending `go perft` to reading its node count, after its start-up and
network loading are over; our tool reports its own counting time. Each figure is the best of
N runs, the two programs interleaved so that both see the same machine state.
"""

import argparse
import re
import shutil
import subprocess
import sys
import time

POSITIONS = [
    ("start position", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 6),
    ("Kiwipete", "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 5),
]


class Stockfish:
    def __init__(self, path):
        self.proc = subprocess.Popen(
            [path], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1
        )
        self.send("uci")
        self.wait_for("uciok")
        self.send("isready")
        self.wait_for("readyok")

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def wait_for(self, prefix):
        while True:
            line = self.proc.stdout.readline()
            if not line:
                raise RuntimeError("stockfish ended early")
            if line.startswith(prefix):
                return line

    def perft(self, fen, depth):
        self.send("position fen " + fen)
        self.send("isready")
        self.wait_for("readyok")
        started = time.perf_counter()
        self.send("go perft %d" % depth)
        line = self.wait_for("Nodes searched")
        elapsed = time.perf_counter() - started
        return int(line.split(":")[1]), elapsed

    def close(self):
        self.send("quit")
        self.proc.wait()


def ours(perft, fen, depth):
    out = subprocess.run(
        [perft, str(depth), fen], check=True, capture_output=True, text=True
    ).stdout
    m = re.search(r"nodes (\d+) time (\d+) ms", out)
    return int(m.group(1)), int(m.group(2)) / 1000.0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--perft", default="build/perft")
    ap.add_argument("--stockfish", default=shutil.which("stockfish") or "/usr/games/stockfish")
    args = ap.parse_args()

    sf = Stockfish(args.stockfish)
    print(
        "%-16s %5s %12s %10s %10s %8s %8s %6s"
        % ("position", "depth", "nodes", "ours ms", "sf ms", "ours Mn/s", "sf Mn/s", "ratio")
    )
    worst = None
    for name, fen, depth in POSITIONS:
        best_ours = best_sf = float("inf")
        for _ in range(args.repeat):
            n1, t1 = ours(args.perft, fen, depth)
            n2, t2 = sf.perft(fen, depth)
            if n1 != n2:
                sys.exit("node counts differ for %s: ours %d, stockfish %d" % (name, n1, n2))
            best_ours, best_sf = min(best_ours, t1), min(best_sf, t2)
        ratio = best_sf / best_ours
        worst = ratio if worst is None else min(worst, ratio)
        print(
            "%-16s %5d %12d %10.0f %10.0f %8.0f %8.0f %6.2f"
            % (
                name,
                depth,
                n1,
                best_ours * 1e3,
                best_sf * 1e3,
                n1 / best_ours / 1e6,
                n1 / best_sf / 1e6,
                ratio,
            )
        )
    sf.close()
    print("lowest speed ratio (stockfish time / our time): %.2f" % worst)


if __name__ == "__main__":
    main()
