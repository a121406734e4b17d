"""Positions a second of the walker (morvek-walk) over copies of the sample collection: one
process, two, two on the same copies compressed with zstd, a local Dask cluster of two workers,
and python-chess doing the same walk with its own PGN reader. Prints the table of
BENCHMARKS.md.

    PYTHONPATH=build:. python3 bench/walk_games.py [--copies 10] [--repeat 3]

Every timing is a whole command from start to exit (interpreter start, pool or cluster start,
reading, writing the CSV), so the figures are what a user waits for; the copies make the input
large enough that start-up is a small part. The runs alternate, best of --repeat each. The three
walker runs must write the same bytes.

python-chess's walk reads each game with chess.pgn and writes the same columns but the exchange
value, which it has no function for: its board's SAN of the move, check after it and the number
of legal moves before it. The .zst run needs zstandard (or CPython 3.14) here.
"""

from __future__ import annotations

import argparse
import csv
import hashlib
import os
import pathlib
import platform
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
SAMPLE = ROOT / "examples" / "games"


def python_chess_walk(paths: list[str], output: str) -> None:
    import chess.pgn

    with open(output, "w", newline="") as out:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(["source", "game", "ply", "fen", "uci", "san", "check", "legal_moves"])
        for path in paths:
            with open(path, encoding="utf-8") as file:
                number = 0
                while (game := chess.pgn.read_game(file)) is not None:
                    number += 1
                    board = game.board()
                    for ply, move in enumerate(game.mainline_moves(), 1):
                        fen = board.fen(en_passant="fen")
                        legal = board.legal_moves.count()
                        san = board.san(move)
                        board.push(move)
                        writer.writerow(
                            [path, number, ply, fen, move.uci(), san, int(board.is_check()), legal]
                        )


def timed(command: list[str], env: dict[str, str]) -> float:
    started = time.perf_counter()
    done = subprocess.run(
        command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True
    )
    elapsed = time.perf_counter() - started
    if done.returncode != 0:
        sys.exit(f"{' '.join(command)} failed:\n{done.stderr}")
    return elapsed


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--copies", type=int, default=10)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--python-chess-walk", nargs="+", help=argparse.SUPPRESS)
    parser.add_argument("-o", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.python_chess_walk:
        python_chess_walk(args.python_chess_walk, args.o)
        return

    work = pathlib.Path(tempfile.mkdtemp(prefix="bench-walk-"))
    try:
        for copy in range(args.copies):
            shutil.copytree(
                SAMPLE, work / "games" / f"copy-{copy:03d}", ignore=shutil.ignore_patterns("*.py")
            )
        files = sorted(str(p) for p in (work / "games").rglob("*.pgn"))
        import zstandard

        for path in files:
            compressed = pathlib.Path(path.replace(str(work / "games"), str(work / "zst")) + ".zst")
            compressed.parent.mkdir(parents=True, exist_ok=True)
            compressed.write_bytes(
                zstandard.ZstdCompressor(level=10).compress(pathlib.Path(path).read_bytes())
            )
        env = dict(os.environ)
        env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(ROOT), env.get("PYTHONPATH")]))
        walker = [sys.executable, "-m", "morvek_walk"]
        runs = {
            "morvek-walk --jobs 1": walker
            + [str(work / "games"), "--jobs", "1", "-o", str(work / "jobs1.csv")],
            "morvek-walk --jobs 2": walker
            + [str(work / "games"), "--jobs", "2", "-o", str(work / "jobs2.csv")],
            "morvek-walk --jobs 2, .pgn.zst input": walker
            + [str(work / "zst"), "--jobs", "2", "-o", str(work / "zst.csv")],
            "morvek-walk --dask local:2": walker
            + [str(work / "games"), "--dask", "local:2", "-o", str(work / "dask.csv")],
            "python-chess, one process": [
                sys.executable,
                __file__,
                "-o",
                str(work / "chess.csv"),
                "--python-chess-walk",
                *files,
            ],
        }
        best = {name: float("inf") for name in runs}
        for _ in range(args.repeat):
            for name, command in runs.items():
                best[name] = min(best[name], timed(command, env))
        # The .zst run names its files with their suffix; everything else must be the same.
        zst = (
            (work / "zst.csv")
            .read_bytes()
            .replace(b"/zst/", b"/games/")
            .replace(b".pgn.zst,", b".pgn,")
        )
        outputs = {
            hashlib.sha256((work / f).read_bytes()).hexdigest()
            for f in ("jobs1.csv", "jobs2.csv", "dask.csv")
        }
        outputs.add(hashlib.sha256(zst).hexdigest())
        if len(outputs) != 1:
            sys.exit("the walker's runs wrote different output")
        with open(work / "jobs1.csv") as file:
            positions = sum(1 for _ in file) - 1
        with open(work / "chess.csv") as file:
            if sum(1 for _ in file) - 1 != positions:
                sys.exit("python-chess walked a different number of positions")
    finally:
        shutil.rmtree(work)

    model = next(
        (
            line.split(":", 1)[1].strip()
            for line in subprocess.run(
                ["lscpu"], capture_output=True, text=True
            ).stdout.splitlines()
            if line.startswith("Model name")
        ),
        platform.processor(),
    )
    print(f"Machine: {model}, {os.cpu_count()} cores; CPython {platform.python_version()}.")
    print(
        f"Input: {args.copies} copies of examples/games ({positions:,} positions); best of {args.repeat}."
    )
    print()
    print("| run | seconds | positions/s | against one process |")
    print("|---|---|---|---|")
    one = best["morvek-walk --jobs 1"]
    for name, seconds in best.items():
        print(f"| {name} | {seconds:.2f} | {positions / seconds:,.0f} | {one / seconds:.2f} |")


if __name__ == "__main__":
    main()
