"""The walker (morvek-walk) over copies of the sample collection: positions a second of one job,
two, two on the same copies compressed with zstd, a local Dask cluster of two workers, and
python-chess doing the same walk with its own PGN reader; the main process's own work (reading
and finding where games begin) in MB a second, on plain PGN and on PGN with a clock and an
evaluation in every move's comment; the peak memory of a large collection. Prints the tables
of BENCHMARKS.md.

    PYTHONPATH=build:. python3 bench/walk_games.py [--copies 10] [--repeat 3] [--large 134]
        [--before DIR]

Every timing is a whole command from start to exit (interpreter start, pool or cluster start,
reading, writing the CSV), so the figures are what a user waits for. The runs alternate, best
of --repeat each; outputs are removed between runs, so each writes a new file. The walker's
runs must write the same bytes. --before DIR runs the same commands with the walker of another
checkout (DIR holds morvek_walk/ and build/ with its module), beside today's.

python-chess's walk reads each game with chess.pgn and writes the same columns but the exchange
value, which it has no function for: its board's SAN of the move, check after it and the number
of legal moves before it. The .zst runs need zstandard (or CPython 3.14) here.
"""

from __future__ import annotations

import argparse
import csv
import hashlib
import os
import pathlib
import platform
import re
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


def split_only(paths: list[str]) -> None:
    """The main process's own work and nothing else: read, decompress, find the games. Prints
    its seconds."""
    from morvek_walk.inputs import Reading

    started = time.perf_counter()
    for _ in Reading(paths).chunks(20000):
        pass
    print(time.perf_counter() - started)


MOVE = re.compile(rb"(?<=\s)(?!\d+\.)([KQRBNOa-h][^\s{}()]*)")


def annotate(pgn: bytes) -> bytes:
    """The games with a comment after every move as online databases write them: an engine's
    evaluation and the mover's clock."""
    head_and_moves = re.split(rb"(\n\n)", pgn)
    out = []
    for i, part in enumerate(head_and_moves):
        if i % 4 == 2:  # movetext, after a tag section and its blank line
            count = iter(range(10**9))
            part = MOVE.sub(
                lambda m: (
                    m[1]
                    + b" { [%%eval %d.%02d] [%%clk 0:%02d:%02d] }"
                    % (next(count) % 3, 17, 59 - (m.start() // 97) % 60, m.start() % 60)
                ),
                part,
            )
        out.append(part)
    return b"".join(out)


def run(command: list[str], env: dict[str, str]) -> tuple[float, int]:
    """Seconds from start to exit, and the peak resident memory of the command's largest
    process in KiB."""
    probe = (
        "import resource, subprocess, sys, time; t = time.perf_counter(); "
        "done = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE); "
        "t = time.perf_counter() - t; "
        "sys.exit(done.stderr.decode()) if done.returncode else "
        "print(t, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)"
    )
    # Run from elsewhere: `python -m` would take a walker from the current folder first.
    done = subprocess.run(
        [sys.executable, "-c", probe, *command],
        env=env,
        capture_output=True,
        text=True,
        cwd=tempfile.gettempdir(),
    )
    if done.returncode != 0 or not done.stdout:
        sys.exit(f"{' '.join(command)} failed:\n{done.stderr}")
    seconds, kib = done.stdout.split()
    return float(seconds), int(kib)


def copies(target: pathlib.Path, count: int, transform=lambda data: data) -> list[str]:
    for copy in range(count):
        folder = target / f"copy-{copy:03d}"
        folder.mkdir(parents=True)
        for path in SAMPLE.glob("*.pgn"):
            (folder / path.name).write_bytes(transform(path.read_bytes()))
    return sorted(str(p) for p in target.rglob("*.pgn"))


def model() -> str:
    return next(
        (
            line.split(":", 1)[1].strip()
            for line in subprocess.run(
                ["lscpu"], capture_output=True, text=True
            ).stdout.splitlines()
            if line.startswith("Model name")
        ),
        platform.processor(),
    )


def environment(*paths: pathlib.Path) -> dict[str, str]:
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(str(p) for p in paths)
    return env


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--copies", type=int, default=10)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--large", type=int, default=134, help="copies for the memory table")
    parser.add_argument("--before", type=pathlib.Path, help="tools/build_before.sh's folder")
    parser.add_argument("--python-chess-walk", nargs="+", help=argparse.SUPPRESS)
    parser.add_argument("--split-only", nargs="+", help=argparse.SUPPRESS)
    parser.add_argument("-o", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.python_chess_walk:
        python_chess_walk(args.python_chess_walk, args.o)
        return
    if args.split_only:
        split_only(args.split_only)
        return

    work = pathlib.Path(tempfile.mkdtemp(prefix="bench-walk-"))
    try:
        files = copies(work / "games", args.copies)
        annotated = copies(work / "annotated", args.copies, annotate)
        import zstandard

        for path in files:
            compressed = pathlib.Path(path.replace(str(work / "games"), str(work / "zst")) + ".zst")
            compressed.parent.mkdir(parents=True, exist_ok=True)
            compressed.write_bytes(
                zstandard.ZstdCompressor(level=10).compress(pathlib.Path(path).read_bytes())
            )
        size = sum(os.path.getsize(p) for p in files)
        annotated_size = sum(os.path.getsize(p) for p in annotated)
        today = environment(ROOT / "build", ROOT)
        walkers = {"": today}
        if args.before:
            before = args.before.resolve()
            walkers[" (before)"] = environment(before / "build", before / "source")
        walker = [sys.executable, "-m", "morvek_walk"]
        runs: dict[str, tuple[list[str], dict[str, str]]] = {}
        for tag, env in walkers.items():
            runs |= {
                f"`morvek-walk --jobs 1`{tag}": (
                    walker + [str(work / "games"), "--jobs", "1", "-o", str(work / "jobs1.csv")],
                    env,
                ),
                f"`morvek-walk --jobs 2`{tag}": (
                    walker + [str(work / "games"), "--jobs", "2", "-o", str(work / "jobs2.csv")],
                    env,
                ),
                f"`morvek-walk --jobs 2`, `.pgn.zst` input{tag}": (
                    walker + [str(work / "zst"), "--jobs", "2", "-o", str(work / "zst.csv")],
                    env,
                ),
                f"`morvek-walk --dask local:2`{tag}": (
                    walker + [str(work / "games"), "--dask", "local:2", "-o", str(work / "d.csv")],
                    env,
                ),
                f"`morvek-walk --jobs 1`, annotated{tag}": (
                    walker + [str(work / "annotated"), "--jobs", "1", "-o", str(work / "a.csv")],
                    env,
                ),
            }
        runs["python-chess, one process"] = (
            [
                sys.executable,
                __file__,
                "-o",
                str(work / "chess.csv"),
                "--python-chess-walk",
                *files,
            ],
            today,
        )
        large = copies(work / "large", args.large)
        large_annotated = copies(work / "large-annotated", args.large, annotate)
        splits = {
            "plain PGN": ([sys.executable, __file__, "--split-only", *large], large),
            "annotated PGN": (
                [sys.executable, __file__, "--split-only", *large_annotated],
                large_annotated,
            ),
        }
        best = {name: float("inf") for name in runs}
        split_best = {name: float("inf") for name in splits}
        for _ in range(args.repeat):
            for name, (command, env) in runs.items():
                for output in work.glob("*.csv"):
                    output.unlink()
                best[name] = min(best[name], run(command, env)[0])
                if name == "`morvek-walk --jobs 1`":
                    shutil.copy(work / "jobs1.csv", work / "reference")
                if not name.startswith("python-chess") and "annotated" not in name:
                    made = next(work.glob("*.csv")).read_bytes()
                    made = made.replace(b"/zst/", b"/games/").replace(b".pgn.zst,", b".pgn,")
                    if (
                        hashlib.sha256(made).digest()
                        != hashlib.sha256((work / "reference").read_bytes()).digest()
                    ):
                        sys.exit(f"{name} wrote other rows than one job")
            for name, (command, _) in splits.items():
                done = subprocess.run(command, env=today, capture_output=True, text=True)
                split_best[name] = min(split_best[name], float(done.stdout))
        with open(work / "reference") as file:
            positions = sum(1 for _ in file) - 1
        with open(work / "chess.csv") as file:
            if sum(1 for _ in file) - 1 != positions:
                sys.exit("python-chess walked a different number of positions")
        split_sizes = {
            name: sum(os.path.getsize(p) for p in paths) for name, (_, paths) in splits.items()
        }
        large_positions = positions // args.copies * args.large
        memory = {}
        for tag, env in walkers.items():
            for jobs in ("1", "2"):
                memory[f"`morvek-walk --jobs {jobs}`{tag}"] = run(
                    walker + [str(work / "large"), "--jobs", jobs, "-o", str(work / "l.csv")], env
                )
        large_size = sum(os.path.getsize(p) for p in large)
    finally:
        shutil.rmtree(work)

    print(f"Machine: {model()}, {os.cpu_count()} cores; CPython {platform.python_version()}.")
    print(
        f"Input: {args.copies} copies of examples/games ({positions:,} positions, "
        f"{size / 1e6:.1f} MB; annotated: {annotated_size / 1e6:.1f} MB); best of {args.repeat}."
    )
    print()
    print("| run | seconds | positions/s | against one job |")
    print("|---|---|---|---|")
    one = best["`morvek-walk --jobs 1`"]
    for name, seconds in best.items():
        print(f"| {name} | {seconds:.3f} | {positions / seconds:,.0f} | {one / seconds:.2f} |")
    print()
    print(f"The main process's own work (reading, finding games) on {args.large} copies:")
    print()
    print("| input | MB | seconds | MB/s |")
    print("|---|---|---|---|")
    for name, seconds in split_best.items():
        data = split_sizes[name] / 1e6
        print(f"| {name} | {data:.1f} | {seconds:.3f} | {data / seconds:,.0f} |")
    print()
    print(
        f"Peak memory: {args.large} copies ({large_size / 1e6:.1f} MB, {large_positions:,} "
        "positions), the largest process:"
    )
    print()
    print("| run | seconds | MiB |")
    print("|---|---|---|")
    for name, (seconds, kib) in memory.items():
        print(f"| {name} | {seconds:.2f} | {kib / 1024:.1f} |")


if __name__ == "__main__":
    main()
