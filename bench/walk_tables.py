"""The walker's tables: the size and cost of Parquet beside CSV, what columns and conditions on
tags save, and who does the work of a walk on a Dask cluster. Prints the tables of
BENCHMARKS.md.

    PYTHONPATH=build:. python3 bench/walk_tables.py [--copies 10] [--repeat 3]
        [--online-copies 60] [--dask-copies 134]

- Formats: the sample's copies written as .csv, .csv.zst and .parquet, whole commands, best of
  --repeat (alternated), and the files' sizes.
- Choosing: a collection in the manner of an online database (every move with a clock and an
  evaluation, every game with Elo tags drawn as such a database's ratings fall) walked whole,
  and with `--columns fen,uci --where 'WhiteElo>=2500'`; and the same with a seventh of the
  games kept (`--where 'WhiteElo>=1930'`), where the kept games' walk weighs more.
- Dask: a scheduler and two workers started as separate processes on this machine, the copies
  walked to a Parquet dataset; the CPU seconds of the client (the walker's process) against
  those of the scheduler and the workers, read from /proc before and after the walk.
"""

from __future__ import annotations

import argparse
import os
import pathlib
import platform
import random
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from walk_games import ROOT, annotate, copies, environment, model, run  # noqa: E402

WALKER = [sys.executable, "-m", "morvek_walk"]


def with_elo(pgn: bytes, seed: int) -> bytes:
    """Each game with WhiteElo and BlackElo tags, drawn as an online database's ratings fall
    (mean 1550, standard deviation 350: about one White in 300 at 2500 or more)."""
    rng = random.Random(seed)

    def tags(match: re.Match[bytes]) -> bytes:
        white, black = (max(600, round(rng.gauss(1550, 350))) for _ in range(2))
        return match[0] + b'[WhiteElo "%d"]\n[BlackElo "%d"]\n' % (white, black)

    return re.sub(rb'\[Event "[^"\n]*"\]\n', tags, pgn)


def cpu_seconds(pids: list[int]) -> float:
    """User and system time of the processes and of their children that have ended."""
    ticks = os.sysconf("SC_CLK_TCK")
    total = 0
    for pid in pids:
        try:
            fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
        except OSError:
            continue
        total += sum(int(f) for f in fields[11:15])  # utime, stime, cutime, cstime
    return total / ticks


def tree_of(pid: int) -> list[int]:
    parents = {}
    for entry in pathlib.Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                parents[int(entry.name)] = int(
                    (entry / "stat").read_text().rsplit(")", 1)[1].split()[1]
                )
            except (OSError, ValueError):
                pass
    found, new = {pid}, {pid}
    while new:
        new = {c for c, p in parents.items() if p in new} - found
        found |= new
    return sorted(found)


def dask_share(games: pathlib.Path, out: pathlib.Path, env: dict[str, str]) -> tuple[float, float]:
    """(client CPU seconds, scheduler and workers' CPU seconds) of a walk to a dataset."""
    dask = pathlib.Path(sys.executable).parent / "dask"
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    address = f"tcp://127.0.0.1:{port}"
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "env": env}
    cluster = [
        subprocess.Popen(
            [str(dask), "scheduler", "--host", "127.0.0.1", "--port", str(port), "--no-dashboard"],
            **quiet,
        )
    ]
    try:
        while socket.socket().connect_ex(("127.0.0.1", port)) != 0:
            time.sleep(0.2)
        cluster += [
            subprocess.Popen(
                [str(dask), "worker", address, "--nthreads", "1", "--no-dashboard"], **quiet
            )
            for _ in range(2)
        ]
        time.sleep(5)  # the workers joined and idle
        pids = [p for c in cluster for p in tree_of(c.pid)]
        before = cpu_seconds(pids)
        probe = (
            "import resource, subprocess, sys; "
            "subprocess.run(sys.argv[1:], check=True, stderr=subprocess.DEVNULL); "
            "u = resource.getrusage(resource.RUSAGE_CHILDREN); print(u.ru_utime + u.ru_stime)"
        )
        done = subprocess.run(
            [sys.executable, "-c", probe, *WALKER, str(games), "--dask", address, "-o", f"{out}/"],
            env=env,
            capture_output=True,
            text=True,
            check=True,
            cwd=tempfile.gettempdir(),
        )
        after = cpu_seconds(pids)
        return float(done.stdout), after - before
    finally:
        for process in reversed(cluster):
            process.terminate()
            process.wait()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--copies", type=int, default=10)
    parser.add_argument("--repeat", type=int, default=3)
    # The interpreter's start and Dask's import are fixed costs: larger inputs show what grows
    # with the input.
    parser.add_argument("--online-copies", type=int, default=60)
    parser.add_argument("--dask-copies", type=int, default=134)
    args = parser.parse_args()
    env = environment(ROOT / "build", ROOT)
    work = pathlib.Path(tempfile.mkdtemp(prefix="bench-tables-"))
    try:
        copies(work / "games", args.copies)
        seeds = iter(range(10**6))
        copies(
            work / "online", args.online_copies, lambda data: with_elo(annotate(data), next(seeds))
        )
        formats = {name: None for name in ("moves.csv", "moves.csv.zst", "moves.parquet")}
        best = {name: float("inf") for name in formats}
        choices = {
            "all columns, every game": [],
            "`--columns fen,uci --where 'WhiteElo>=2500'`": [
                "--columns",
                "fen,uci",
                "--where",
                "WhiteElo>=2500",
            ],
            "`--columns fen,uci --where 'WhiteElo>=1930'` (a seventh kept)": [
                "--columns",
                "fen,uci",
                "--where",
                "WhiteElo>=1930",
            ],
        }
        chosen = {name: float("inf") for name in choices}
        sizes = {}
        for _ in range(args.repeat):
            for name in formats:
                (work / name).unlink(missing_ok=True)
                command = WALKER + [str(work / "games"), "--jobs", "1", "-o", str(work / name)]
                best[name] = min(best[name], run(command, env)[0])
                sizes[name] = (work / name).stat().st_size
            for name, extra in choices.items():
                (work / "online.csv").unlink(missing_ok=True)
                command = WALKER + [str(work / "online"), "--jobs", "1", *extra]
                chosen[name] = min(
                    chosen[name], run(command + ["-o", str(work / "online.csv")], env)[0]
                )
        copies(work / "many", args.dask_copies)
        client, cluster = dask_share(work / "many", work / "dataset", env)
        many = sum(p.stat().st_size for p in (work / "many").rglob("*.pgn"))
        online = sum(p.stat().st_size for p in (work / "online").rglob("*.pgn"))
    finally:
        shutil.rmtree(work)

    print(f"Machine: {model()}, {os.cpu_count()} cores; CPython {platform.python_version()}.")
    print(f"Input: {args.copies} copies of examples/games; best of {args.repeat}, one job.")
    print()
    print("| output | seconds | against CSV | size | against CSV |")
    print("|---|---|---|---|---|")
    for name, seconds in best.items():
        print(
            f"| `{name}` | {seconds:.3f} | {seconds / best['moves.csv']:.2f} | "
            f"{sizes[name] / 1e6:.2f} MB | {sizes[name] / sizes['moves.csv']:.3f} |"
        )
    print()
    print(
        f"{args.online_copies} online-style copies ({online / 1e6:.1f} MB, a clock and an "
        "evaluation a move):"
    )
    print()
    print("| walk | seconds | speed-up |")
    print("|---|---|---|")
    whole = chosen["all columns, every game"]
    for name, seconds in chosen.items():
        print(f"| {name} | {seconds:.3f} | {whole / seconds:.1f} |")
    print()
    print(
        f"A Dask scheduler and two workers on this machine, {args.dask_copies} copies "
        f"({many / 1e6:.1f} MB) to a Parquet dataset:"
    )
    print()
    print("| process | CPU seconds | share |")
    print("|---|---|---|")
    print(f"| client (morvek-walk) | {client:.2f} | {client / (client + cluster):.1%} |")
    print(f"| scheduler and workers | {cluster:.2f} | {cluster / (client + cluster):.1%} |")


if __name__ == "__main__":
    main()
