"""Walks the main line of every game in PGN files and writes one CSV row per move.

    python3 examples/walk_games.py FILES-OR-FOLDERS -o OUT.csv [--jobs N] [--dask ADDRESS]

Each move is read as SAN (san_to_uci), written again as the module writes it (uci_to_san),
played (apply_uci) and asked about: check after it (is_check), its exchange value (see_move)
and the number of legal moves before it (legal_moves). The columns:

    source, game, ply, fen, uci, san, check, see, legal_moves

`fen` is the position before the move; `game` counts from 1 in each file, `ply` from 1 in each
game. Folders are searched for *.pgn files, in name order.

Games go to worker processes in chunks: `--jobs N` (default: every core) runs a process pool,
`--dask ADDRESS` the same chunks on a Dask distributed cluster (`--dask local:N` starts one on
this machine with N worker processes). The output is the same whichever runs it, in the
input's order. Workers of a remote cluster need morvek_board importable.

A game that cannot be walked (a move that does not read or is illegal, a game cut off before
its result, a byte that is not UTF-8, a FEN tag the module refuses) is reported on standard
error and left out; every other game is written. The exit status is 1 when any game was left
out, else 0.

Optional: tqdm draws a progress bar on a terminal; dask[distributed] runs --dask.
"""

from __future__ import annotations

import argparse
import concurrent.futures
import csv
import io
import os
import pathlib
import re
import sys
import time
from collections import deque
from typing import Any, Callable, Iterable, Iterator, NamedTuple, Optional

import morvek_board as mb

START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
COLUMNS = ["source", "game", "ply", "fen", "uci", "san", "check", "see", "legal_moves"]


class Game(NamedTuple):
    source: str
    number: int
    tags: dict[str, str]
    sans: list[str]
    # Set when the reader already knows the game cannot be walked: (ply, text, message).
    problem: Optional[tuple[int, str, str]]


# --- reading PGN -----------------------------------------------------------------------------
# One pattern over the whole text; the group that matches says what was read. Comments and
# escape lines are skipped here, variations by depth below. A move number comes before a SAN
# token in the alternation, so one glued to its move ("12.Nf3") is read apart from it.
TOKEN = re.compile(
    r"""
      (?P<space>\s+)
    | (?P<brace>\{[^}]*\}?)
    | (?P<semicolon>;[^\n]*)
    | (?P<escape>(?:(?<=\n)|^)%[^\n]*)
    | (?P<tag>\[\s*(?P<name>[A-Za-z0-9_]+)\s*"(?P<value>(?:[^"\\\n]|\\.)*)"\s*\])
    | (?P<open>\()
    | (?P<close>\))
    | (?P<nag>\$\d+)
    | (?P<result>(?:1-0|0-1|1/2-1/2|\*)(?=[\s{}()\[\];]|$))
    | (?P<number>\d+\.+)
    | (?P<dots>\.+)
    | (?P<word>[^\s{}()\[\];$]+)
    | (?P<other>.)
    """,
    re.VERBOSE | re.DOTALL,
)
# Bytes that are not UTF-8 come through decoding as lone surrogates (surrogateescape).
UNDECODED = re.compile("[\udc80-\udcff]")


def _printable(text: str) -> str:
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")


def read_games(source: str, data: bytes) -> Iterator[Game]:
    """The games of one PGN file, numbered from 1. A game ends at its result; one that reaches
    the next tag section or the end of the text without a result comes with a problem."""
    text = data.decode("utf-8", "surrogateescape")
    if text.startswith("\ufeff"):
        text = text[1:]
    number = 0
    tags: dict[str, str] = {}
    sans: list[str] = []
    problem: Optional[tuple[int, str, str]] = None
    depth = 0
    in_movetext = False
    started = False  # anything of a game read: a tag or movetext

    def finish(result_seen: bool, where: str) -> Game:
        nonlocal number, tags, sans, problem, depth, in_movetext, started
        number += 1
        found = problem
        if found is None and not result_seen:
            last = sans[-1] if sans else ""
            found = (len(sans), last, f"truncated: no result before {where}")
        game = Game(source, number, tags, sans, found)
        tags, sans, problem, depth, in_movetext, started = {}, [], None, 0, False, False
        return game

    for match in TOKEN.finditer(text):
        kind = match.lastgroup
        token = match.group()
        if kind == "tag" and in_movetext:
            yield finish(False, "the next game's tags")
        bad = UNDECODED.search(token)
        if bad and problem is None:
            byte = ord(bad.group()) - 0xDC00
            ply = len(sans) + 1 if in_movetext or kind != "tag" else 0
            problem = (ply, _printable(token), f"byte 0x{byte:02x} is not UTF-8")
        if kind in ("space", "semicolon", "escape", "nag", "dots"):
            continue
        if kind == "brace":
            if not token.endswith("}"):
                # An open comment swallows the rest of the text, the result with it.
                started = True
                break
            continue
        if kind == "tag":
            started = True
            tags[match.group("name")] = re.sub(r"\\(.)", r"\1", match.group("value"))
            continue
        started = True
        in_movetext = True
        if kind == "open":
            depth += 1
        elif kind == "close":
            depth = max(depth - 1, 0)
        elif depth:
            continue
        elif kind == "result":
            yield finish(True, "")
        elif kind == "word":
            sans.append(token)
        elif kind == "number":
            continue
        elif problem is None:
            problem = (len(sans) + 1, _printable(token), "not PGN movetext")
    if started:
        yield finish(False, "the end of the file")


# --- Chess960 castling in FEN tags -----------------------------------------------------------
def rook_file_castling(fen: str) -> str:
    """The FEN with KQkq in rook-file letters when they mean rooks off the h- and a-files.

    Chess programs write a Chess960 start's rights as KQkq, meaning the outermost rook on each
    side of the king; the module reads those letters as rooks on h and a. When every letter
    already names such a rook, the text is returned as written."""
    fields = fen.split(" ")
    if len(fields) < 3 or not set(fields[2]) & set("KQkq"):
        return fen
    rows = fields[0].split("/")
    if len(rows) != 8:
        return fen
    letters = []
    changed = False
    for letter in fields[2]:
        if letter not in "KQkq":
            letters.append(letter)
            continue
        white = letter.isupper()
        row = rows[7] if white else rows[0]
        files = _expand(row)
        king = files.find("K" if white else "k")
        rooks = [i for i, piece in enumerate(files) if piece == ("R" if white else "r")]
        if king < 0 or len(files) != 8:
            return fen
        side = [r for r in rooks if (r > king if letter in "Kk" else r < king)]
        if not side:
            letters.append(letter)  # no rook to name: the module refuses it as written
            continue
        rook = max(side) if letter in "Kk" else min(side)
        changed |= rook != (7 if letter in "Kk" else 0)
        name = "abcdefgh"[rook]
        letters.append(name.upper() if white else name)
    if not changed:
        return fen
    fields[2] = "".join(letters)
    return " ".join(fields)


def _expand(row: str) -> str:
    return "".join("." * int(c) if c.isdigit() else c for c in row)


# --- walking ---------------------------------------------------------------------------------
class ChunkResult(NamedTuple):
    csv: str
    # (source, game, ply, text, message) of each game left out, in order
    problems: list[tuple[str, int, int, str, str]]
    games: int
    positions: int


def walk_chunk(games: list[Game]) -> ChunkResult:
    """The rows of a chunk of games as CSV text. Runs in a worker: everything it needs comes
    in its argument, everything it finds goes out in its result."""
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\n")
    problems = []
    written = positions = 0
    for game in games:
        if game.problem is not None:
            problems.append((game.source, game.number, *game.problem))
            continue
        rows, problem = walk_game(game)
        if problem is not None:
            problems.append((game.source, game.number, *problem))
            continue
        writer.writerows(rows)
        written += 1
        positions += len(rows)
    return ChunkResult(out.getvalue(), problems, written, positions)


def walk_game(game: Game) -> tuple[list[tuple[Any, ...]], Optional[tuple[int, str, str]]]:
    fen = game.tags.get("FEN", START)
    if "FEN" in game.tags:
        fen = rook_file_castling(fen)
        try:
            mb.side_to_move(fen)
        except ValueError as error:
            return [], (0, game.tags["FEN"], str(error))
    rows = []
    for ply, san in enumerate(game.sans, 1):
        try:
            uci = mb.san_to_uci(fen, san)
            after = mb.apply_uci(fen, uci)
            rows.append((game.source, game.number, ply, fen, uci, mb.uci_to_san(fen, uci),
                         int(mb.is_check(after)), mb.see_move(fen, uci),
                         len(mb.legal_moves(fen))))
        except ValueError as error:
            return [], (ply, san, str(error))
        fen = after
    return rows, None


# --- input and chunks ------------------------------------------------------------------------
def pgn_files(paths: Iterable[str]) -> Iterator[str]:
    for path in paths:
        if os.path.isdir(path):
            found = (p for p in pathlib.Path(path).rglob("*") if p.suffix.lower() == ".pgn")
            yield from sorted(str(p) for p in found if p.is_file())
        else:
            yield path


def chunks(paths: Iterable[str], size: int) -> Iterator[list[Game]]:
    """Games in chunks of about `size` moves each, files read one at a time."""
    chunk: list[Game] = []
    moves = 0
    for path in pgn_files(paths):
        with open(path, "rb") as file:
            data = file.read()
        for game in read_games(path, data):
            chunk.append(game)
            moves += len(game.sans) + 1
            if moves >= size:
                yield chunk
                chunk, moves = [], 0
    if chunk:
        yield chunk


# --- running the chunks ----------------------------------------------------------------------
def in_order(submit: Callable[[list[Game]], Any], work: Iterator[list[Game]],
             window: int) -> Iterator[ChunkResult]:
    """Results in the order of the chunks, at most `window` chunks in flight, so memory stays
    bounded however large the input. Works with any future that has result()."""
    pending: deque[Any] = deque()
    for chunk in work:
        pending.append(submit(chunk))
        if len(pending) >= window:
            yield pending.popleft().result()
    while pending:
        yield pending.popleft().result()


class _Done:
    def __init__(self, value: ChunkResult) -> None:
        self.value = value

    def result(self) -> ChunkResult:
        return self.value


def run(args: argparse.Namespace, work: Iterator[list[Game]]) -> Iterator[ChunkResult]:
    if args.dask:
        yield from run_dask(args.dask, work)
    elif args.jobs == 1:
        yield from in_order(lambda chunk: _Done(walk_chunk(chunk)), work, 1)
    else:
        with concurrent.futures.ProcessPoolExecutor(args.jobs) as pool:
            yield from in_order(lambda chunk: pool.submit(walk_chunk, chunk), work, 4 * args.jobs)


def run_dask(address: str, work: Iterator[list[Game]]) -> Iterator[ChunkResult]:
    try:
        from dask.distributed import Client, LocalCluster
    except ImportError:
        sys.exit("walk_games: --dask needs dask[distributed] (pip install 'dask[distributed]')")
    cluster = None
    if address.startswith("local:"):
        workers = int(address[len("local:"):])
        # One thread a worker: the module's calls hold the interpreter lock.
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    else:
        client = Client(address)
    try:
        slots = max(sum(client.nthreads().values()), 1)
        # pure=False: two equal chunks (two copies of a file) are still two tasks.
        yield from in_order(lambda chunk: client.submit(walk_chunk, chunk, pure=False), work,
                            4 * slots)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


class Progress:
    """Games and positions a second on standard error, when it is a terminal."""

    def __init__(self) -> None:
        self.bar: Any = None
        self.positions = 0
        self.started = time.monotonic()
        if sys.stderr.isatty():
            try:
                from tqdm import tqdm
            except ImportError:
                return
            self.bar = tqdm(unit=" games", file=sys.stderr, dynamic_ncols=True)

    def update(self, result: ChunkResult) -> None:
        if self.bar is None:
            return
        self.positions += result.positions
        rate = self.positions / max(time.monotonic() - self.started, 1e-9)
        self.bar.set_postfix_str(f"{self.positions} positions, {rate:,.0f} positions/s",
                                 refresh=False)
        self.bar.update(result.games + len(result.problems))

    def say(self, line: str) -> None:
        if self.bar is not None:
            self.bar.write(line, file=sys.stderr)
        else:
            print(line, file=sys.stderr)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


def main(argv: Optional[list[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("paths", nargs="+", metavar="FILE-OR-FOLDER")
    parser.add_argument("-o", "--output", default="-", help="CSV file to write (default: standard output)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1,
                        help="worker processes (default: every core)")
    parser.add_argument("--dask", metavar="ADDRESS",
                        help="a Dask scheduler's address, or local:N for a local cluster")
    parser.add_argument("--chunk", type=int, default=20000, metavar="MOVES",
                        help="about this many moves go to a worker at a time")
    args = parser.parse_args(argv)
    if args.jobs < 1 or args.chunk < 1:
        parser.error("--jobs and --chunk take a positive number")
    for path in args.paths:
        if not os.path.exists(path):
            parser.error(f"no such file or folder: {path}")

    out = sys.stdout if args.output == "-" else open(args.output, "w", newline="", encoding="utf-8")
    games = positions = skipped = 0
    progress = Progress()
    try:
        out.write(",".join(COLUMNS) + "\n")
        for result in run(args, chunks(args.paths, args.chunk)):
            out.write(result.csv)
            for source, number, ply, text, message in result.problems:
                progress.say(f"{source}: game {number}, ply {ply}: {text!r}: {message}")
            games += result.games
            positions += result.positions
            skipped += len(result.problems)
            progress.update(result)
    finally:
        progress.close()
        if out is not sys.stdout:
            out.close()
    print(f"walk_games: {games} games written, {positions} positions, {skipped} games skipped",
          file=sys.stderr)
    return 1 if skipped else 0


if __name__ == "__main__":
    sys.exit(main())
