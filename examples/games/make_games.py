"""Writes the sample collection: Stockfish playing itself at a small node count, standard chess
and Chess960, as PGN whose SAN morvek_board writes.

    PYTHONPATH=build python3 examples/games/make_games.py [--standard 200] [--chess960 100]
        [--nodes 600] [--seed 1] [--out examples/games]

Stockfish is Debian's (`apt-get install stockfish`, /usr/games/stockfish). Each game opens
with a few random moves drawn from the seed, so the games differ although the engine plays
the same way from the same position; Chess960 games also start from a random one of the 960
positions. A game ends by mate, stalemate, threefold repetition, the fifty-move rule, bare
material or, after MAX_PLIES, adjudication as a draw. The same arguments write the same files.

The FEN tag of a Chess960 game writes its castling rights as KQkq (the outermost rook on each
side), as chess programs commonly do; the walker (morvek_walk) reads them so.
"""

from __future__ import annotations

import argparse
import pathlib
import random
import subprocess
import textwrap
from collections import Counter
from typing import Optional

import morvek_board as mb

STOCKFISH = "/usr/games/stockfish"
START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
MAX_PLIES = 300


class Engine:
    def __init__(self, path: str, chess960: bool) -> None:
        self.process = subprocess.Popen(
            [path], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1
        )
        self.send("uci")
        self.wait("uciok")
        self.version = ""
        # One thread and a small table: the same position and node count give the same move.
        self.send("setoption name Threads value 1")
        self.send("setoption name Hash value 16")
        self.send(f"setoption name UCI_Chess960 value {'true' if chess960 else 'false'}")
        self.send("isready")
        self.wait("readyok")

    def send(self, line: str) -> None:
        assert self.process.stdin is not None
        self.process.stdin.write(line + "\n")

    def wait(self, word: str) -> str:
        assert self.process.stdout is not None
        for line in self.process.stdout:
            if line.startswith("id name "):
                self.name = line[len("id name ") :].strip()
            if line.split()[:1] == [word]:
                return line
        raise RuntimeError(f"stockfish stopped before '{word}'")

    def best(self, fen: str, nodes: int) -> str:
        # The position alone, without the moves before it: the engine then plays the same
        # move in the same position whatever led there.
        self.send("ucinewgame")
        self.send(f"position fen {fen}")
        self.send(f"go nodes {nodes}")
        return self.wait("bestmove").split()[1]

    def close(self) -> None:
        self.send("quit")
        self.process.wait()


def chess960_start(rng: random.Random) -> str:
    """One of the 960 starting positions, castling written KQkq as programs write it."""
    row: list[Optional[str]] = [None] * 8
    row[rng.randrange(0, 8, 2)] = "b"
    row[rng.randrange(1, 8, 2)] = "b"
    for piece in "qnn":
        row[rng.choice([i for i, p in enumerate(row) if p is None])] = piece
    rook, king, other = [i for i, p in enumerate(row) if p is None]
    row[rook], row[king], row[other] = "r", "k", "r"
    black = "".join(p or "" for p in row)
    return f"{black}/pppppppp/8/8/8/8/PPPPPPPP/{black.upper()} w KQkq - 0 1"


def rook_file_fen(fen: str) -> str:
    """The start with KQkq as rook files, which the module reads for any rook position."""
    row = fen.split("/")[0]
    king = row.index("k")
    rooks = [i for i, p in enumerate(row) if p == "r"]
    short, long = "abcdefgh"[max(rooks)], "abcdefgh"[min(rooks)]
    assert min(rooks) < king < max(rooks)
    fields = fen.split(" ")
    fields[2] = short.upper() + long.upper() + short + long
    return " ".join(fields)


def outcome(fen: str, seen: Counter[str]) -> Optional[tuple[str, str]]:
    """The result and why, when the game is over in this position."""
    if not mb.legal_moves(fen):
        if mb.is_check(fen):
            return ("0-1" if mb.side_to_move(fen) == "white" else "1-0"), "checkmate"
        return "1/2-1/2", "stalemate"
    if seen[" ".join(fen.split(" ")[:4])] >= 3:
        return "1/2-1/2", "threefold repetition"
    if int(fen.split(" ")[4]) >= 100:
        return "1/2-1/2", "fifty-move rule"
    others = [letter for _, letter, _ in mb.piece_list(fen) if letter not in "Kk"]
    if not others or (len(others) == 1 and others[0] in "NBnb"):
        return "1/2-1/2", "insufficient material"
    return None


def play(engine: Engine, start: str, rng: random.Random, nodes: int) -> tuple[list[str], str, str]:
    fen = start
    sans: list[str] = []
    seen: Counter[str] = Counter()
    random_plies = rng.randint(2, 8)
    while True:
        seen[" ".join(fen.split(" ")[:4])] += 1
        over = outcome(fen, seen)
        if over:
            return sans, *over
        if len(sans) >= MAX_PLIES:
            return sans, "1/2-1/2", "adjudication"
        if len(sans) < random_plies:
            uci = rng.choice(mb.legal_moves(fen))
        else:
            uci = engine.best(fen, nodes)
        # The engine writes Chess960 castling as the king's move onto its rook; the module's SAN
        # of it, read back, gives the module's own text of the same move.
        san = mb.uci_to_san(fen, uci)
        uci = mb.san_to_uci(fen, san)
        sans.append(san)
        fen = mb.apply_uci(fen, uci)


def pgn(tags: dict[str, str], sans: list[str], result: str) -> str:
    head = "".join(f'[{name} "{value}"]\n' for name, value in tags.items())
    words = []
    for ply, san in enumerate(sans):
        words.append(f"{ply // 2 + 1}. {san}" if ply % 2 == 0 else san)
    words.append(result)
    return head + "\n" + textwrap.fill(" ".join(words), 79, break_on_hyphens=False) + "\n\n"


def write(path: pathlib.Path, count: int, chess960: bool, nodes: int, seed: int) -> None:
    rng = random.Random(f"{seed}-{'chess960' if chess960 else 'standard'}")
    engine = Engine(STOCKFISH, chess960)
    player = f"{engine.name} ({nodes} nodes)"
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        for number in range(1, count + 1):
            tags = {
                "Event": "morvek_board sample" + (" (Chess960)" if chess960 else ""),
                "Site": "?",
                "Date": "????.??.??",
                "Round": str(number),
                "White": player,
                "Black": player,
            }
            start = START
            if chess960:
                written = chess960_start(rng)
                start = rook_file_fen(written)
                tags.update({"Variant": "Chess960", "SetUp": "1", "FEN": written})
            sans, result, why = play(engine, start, rng, nodes)
            tags["Result"] = result
            tags["Termination"] = why
            out.write(pgn(tags, sans, result))
    engine.close()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--standard", type=int, default=200, help="standard games")
    parser.add_argument("--chess960", type=int, default=100, help="Chess960 games")
    parser.add_argument("--nodes", type=int, default=600, help="Stockfish's nodes a move")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--out", default=str(pathlib.Path(__file__).parent), help="folder")
    args = parser.parse_args()
    out = pathlib.Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    write(out / "standard.pgn", args.standard, False, args.nodes, args.seed)
    write(out / "chess960.pgn", args.chess960, True, args.nodes, args.seed)


if __name__ == "__main__":
    main()
