"""morvek-walk: walks the main line of every game in PGN files and writes one CSV row per move.

Each move is read as SAN (san_to_uci), written again as the module writes it (uci_to_san),
played (apply_uci) and asked about: check after it (is_check), its exchange value (see_move)
and the number of legal moves before it (legal_moves). Games stream through in chunks, in a
process pool (--jobs) or on a Dask cluster (--dask); the output is the same bytes either way,
in the order of the input.
"""

from __future__ import annotations

import argparse
import bz2
import codecs
import concurrent.futures
import gzip
import importlib.util
import io
import logging
import lzma
import os
import pathlib
import signal
import sys
import tempfile
import time
from collections import deque
from typing import Any, BinaryIO, Callable, Iterable, Iterator, NoReturn, Optional, TextIO

from . import __version__
from .pgn import Game, read_games
from .walk import COLUMN_NAMES, COLUMNS, ChunkResult, walk_chunk

PROGRAM = "morvek-walk"
EXIT_ALL_WALKED, EXIT_SKIPPED, EXIT_FAILED, EXIT_BUG, EXIT_INTERRUPTED = 0, 1, 2, 3, 130

# Each worker process holds the module, a chunk of games and its rows, and a chunk costs a
# worker about as much computing as reading it costs this process, so past a few workers a
# core nothing is gained but memory: the bound keeps a typing slip (--jobs 5000) from
# starting thousands of processes.
MAX_JOBS = 4 * (os.cpu_count() or 1)

SUFFIXES = (".pgn", ".pgn.gz", ".pgn.bz2", ".pgn.xz", ".pgn.zst")

EPILOG = (
    "columns, in order:\n"
    + "".join(f"  {name:<12} {text}\n" for name, text in COLUMNS)
    + "  then one column a tag named with --tags, empty where a game has none\n\n"
    "inputs: files and folders (searched for " + ", ".join(f"*{s}" for s in SUFFIXES) + "),\n"
    "  compressed ones read by their suffix; - reads standard input\n\n"
    "exit status:\n"
    "  0    every game walked\n"
    "  1    some games skipped, each reported on standard error\n"
    "  2    a usage, input or output error, or the cluster failed; no output is left\n"
    "  3    an internal error (a bug: please report it); no output is left\n"
    "  130  interrupted; no output is left\n\n"
    "without the walk extra (pip install 'morvek_board[walk]') there is no progress bar,\n"
    "no --dask, and .pgn.zst needs CPython 3.14 or later"
)


class Failure(Exception):
    """A failure the user can act on: one line, exit status 2."""


class Interrupted(Exception):
    pass


# --- inputs ------------------------------------------------------------------------------------
def pgn_files(paths: Iterable[str]) -> list[str]:
    """The inputs, folders searched in name order; fails before anything is read."""
    found: list[str] = []
    for path in paths:
        if path == "-":
            found.append(path)
        elif os.path.isdir(path):
            inside = sorted(
                str(p)
                for p in pathlib.Path(path).rglob("*")
                if p.name.lower().endswith(SUFFIXES) and p.is_file()
            )
            if not inside:
                raise Failure(
                    f"no PGN files in {path} (looked for {', '.join('*' + s for s in SUFFIXES)})"
                )
            found += inside
        elif os.path.exists(path):
            found.append(path)
        else:
            raise Failure(f"no such file or folder: {path}")
    if any(p.lower().endswith(".zst") for p in found) and zstd_open is None:
        raise Failure("reading .zst needs the zstandard package: pip install 'morvek_board[walk]'")
    return found


def _zstd_opener() -> Optional[Callable[[str], BinaryIO]]:
    try:
        from compression import zstd  # type: ignore[import-not-found]  # CPython 3.14 on

        return lambda path: zstd.open(path, "rb")  # type: ignore[no-any-return]
    except ImportError:
        pass
    try:
        import zstandard  # type: ignore[import-not-found]
    except ImportError:
        return None

    def open_zstd(path: str) -> BinaryIO:
        raw = open(path, "rb")
        return io.BufferedReader(zstandard.ZstdDecompressor().stream_reader(raw, closefd=True))

    return open_zstd


zstd_open = _zstd_opener()


def open_input(path: str) -> BinaryIO:
    if path == "-":
        return sys.stdin.buffer
    lower = path.lower()
    if lower.endswith(".gz"):
        return gzip.open(path, "rb")  # type: ignore[return-value]
    if lower.endswith(".bz2"):
        return bz2.open(path, "rb")  # type: ignore[return-value]
    if lower.endswith(".xz"):
        return lzma.open(path, "rb")  # type: ignore[return-value]
    if lower.endswith(".zst") and zstd_open is not None:
        return zstd_open(path)
    return open(path, "rb")


def games_of(path: str, encoding: Optional[str]) -> Iterator[Game]:
    stream = None
    try:
        stream = open_input(path)
        yield from read_games(path, stream, encoding)
    except (OSError, EOFError, ValueError, lzma.LZMAError) as error:
        raise Failure(f"cannot read {path}: {error}") from None
    except Exception as error:  # the zstandard package's own errors
        if type(error).__module__.startswith(("zstandard", "compression")):
            raise Failure(f"cannot read {path}: {error}") from None
        raise
    finally:
        if stream is not None and stream is not sys.stdin.buffer:
            stream.close()


def chunks(paths: Iterable[str], size: int, encoding: Optional[str]) -> Iterator[list[Game]]:
    """Games in chunks of about `size` moves each, read one at a time from one input at a
    time."""
    chunk: list[Game] = []
    moves = 0
    for path in paths:
        for game in games_of(path, encoding):
            chunk.append(game)
            moves += len(game.moves) + 1
            if moves >= size:
                yield chunk
                chunk, moves = [], 0
    if chunk:
        yield chunk


# --- the output ----------------------------------------------------------------------------------
class Output:
    """The CSV being written: standard output, or a temporary file beside the named one that
    takes its name only when the walk has finished."""

    def __init__(self, path: str, inputs: list[str]) -> None:
        self.path = path
        self.temporary: Optional[str] = None
        self.file: TextIO
        if path == "-":
            self.file = sys.stdout
            return
        target = os.path.realpath(path)
        for source in inputs:
            if source != "-" and (os.path.realpath(source) == target or _same_file(source, path)):
                raise Failure(f"the output {path} is one of the inputs: choose another output file")
        if os.path.isdir(path):
            raise Failure(f"the output {path} is a folder: name a file")
        folder = os.path.dirname(target)
        try:
            descriptor, self.temporary = tempfile.mkstemp(
                prefix=f".{os.path.basename(target)}.", suffix=".part", dir=folder
            )
        except OSError as error:
            raise Failure(f"cannot write {path}: {error.strerror or error}") from None
        # As any new file of the user's: mkstemp's own mode would hide the result from others.
        mask = os.umask(0)
        os.umask(mask)
        os.chmod(descriptor, 0o666 & ~mask)
        self.file = os.fdopen(descriptor, "w", newline="", encoding="utf-8")

    def finish(self) -> None:
        self.file.flush()
        if self.temporary is None:
            return
        self.file.close()
        os.replace(self.temporary, self.path)
        self.temporary = None

    def discard(self) -> None:
        if self.temporary is None:
            return
        try:
            self.file.close()
        except OSError:
            pass
        try:
            os.unlink(self.temporary)
        except OSError:
            pass
        self.temporary = None


def _same_file(a: str, b: str) -> bool:
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


# --- running the chunks ----------------------------------------------------------------------------
def in_order(
    submit: Callable[[list[Game]], Any], work: Iterator[list[Game]], window: int
) -> Iterator[ChunkResult]:
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


def _ignore_interrupts() -> None:
    # Ctrl-C reaches the whole process group; the main process alone answers it.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def run_pool(jobs: int, work: Iterator[list[Game]], tags: tuple[str, ...]) -> Iterator[ChunkResult]:
    if jobs == 1:
        yield from in_order(lambda chunk: _Done(walk_chunk(chunk, tags)), work, 1)
        return
    pool = concurrent.futures.ProcessPoolExecutor(jobs, initializer=_ignore_interrupts)
    try:
        yield from in_order(lambda chunk: pool.submit(walk_chunk, chunk, tags), work, 4 * jobs)
    except concurrent.futures.process.BrokenProcessPool as error:
        raise Failure(f"a worker process died: {error}") from None
    finally:
        pool.shutdown(wait=True, cancel_futures=True)


def parse_dask(address: str) -> tuple[str, int]:
    """("local", N) for local:N, else (address, 0)."""
    if not address.startswith("local:"):
        return address, 0
    count = address[len("local:") :]
    if not count.isdigit() or not 1 <= int(count) <= MAX_JOBS:
        raise ValueError(f"--dask local:N takes N from 1 to {MAX_JOBS}, not {count!r}")
    return "local", int(count)


def run_dask(
    address: str, timeout: float, work: Iterator[list[Game]], tags: tuple[str, ...]
) -> Iterator[ChunkResult]:
    try:
        from dask.distributed import Client, LocalCluster
    except ImportError:
        raise Failure(
            "--dask needs Dask's distributed scheduler: pip install 'morvek_board[walk]'"
        ) from None
    logging.getLogger("distributed").setLevel(logging.CRITICAL)
    where, workers = parse_dask(address)
    cluster = client = None
    try:
        try:
            if workers:
                # One thread a worker: the module's calls hold the interpreter lock.
                cluster = LocalCluster(
                    n_workers=workers,
                    threads_per_worker=1,
                    processes=True,
                    dashboard_address=None,
                    silence_logs=logging.CRITICAL,
                )
                client = Client(cluster, timeout=timeout)
            else:
                client = Client(where, timeout=timeout)
        except (OSError, TimeoutError) as error:
            raise Failure(
                f"cannot reach the Dask scheduler at {address} within {timeout:g} s: {error}"
            ) from None
        slots = max(sum(client.nthreads().values()), 1)
        try:
            # pure=False: two equal chunks (two copies of a file) are still two tasks.
            yield from in_order(
                lambda chunk: client.submit(walk_chunk, chunk, tags, pure=False), work, 4 * slots
            )
        except (Failure, Interrupted, KeyboardInterrupt):
            raise
        except Exception as error:
            text = " ".join(f"{type(error).__name__}: {error}".split())
            # The scheduler unpickles each task too, and says only that it could not.
            if isinstance(error, ImportError) or "morvek" in text or "deserializ" in text:
                raise Failure(
                    "the Dask scheduler or a worker cannot import morvek_board: install "
                    "'morvek_board[walk]' on every node of the cluster, the scheduler's "
                    f"included ({text[:200]})"
                ) from None
            raise Failure(f"the Dask cluster failed: {text}") from None
    finally:
        if client is not None:
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
        self.bar.set_postfix_str(
            f"{self.positions} positions, {rate:,.0f} positions/s", refresh=False
        )
        self.bar.update(result.games + len(result.problems))

    def say(self, line: str) -> None:
        if self.bar is not None:
            self.bar.write(line, file=sys.stderr)
        else:
            print(line, file=sys.stderr)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()


def missing_extras() -> list[str]:
    # Looked up, not imported: importing Dask's scheduler costs half a second.
    missing = [
        gain
        for module, gain in (("tqdm", "progress bar"), ("distributed", "--dask"))
        if importlib.util.find_spec(module) is None
    ]
    if zstd_open is None:
        missing.append(".pgn.zst input")
    return missing


# --- the command -------------------------------------------------------------------------------------
class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        # One line, as every other failure: the usage is a --help away.
        self.exit(EXIT_FAILED, f"{self.prog}: error: {message} (see --help)\n")


def parser() -> argparse.ArgumentParser:
    ap = _Parser(
        prog=PROGRAM,
        description=__doc__.split("\n\n")[0].split(": ", 1)[1],
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    ap.add_argument("paths", nargs="+", metavar="FILE-OR-FOLDER")
    ap.add_argument(
        "-o",
        "--output",
        default="-",
        help="the CSV file to write (default: standard output); written whole or not at all",
    )
    ap.add_argument(
        "--jobs",
        type=int,
        default=os.cpu_count() or 1,
        help=f"worker processes, 1 to {MAX_JOBS} (default: every core)",
    )
    ap.add_argument(
        "--dask",
        metavar="ADDRESS",
        help="a Dask scheduler's address (tcp://host:8786), or local:N for a cluster of N "
        "worker processes on this machine",
    )
    ap.add_argument(
        "--dask-timeout",
        type=float,
        default=5.0,
        metavar="SECONDS",
        help="how long to try to reach the scheduler (default: 5)",
    )
    ap.add_argument(
        "--chunk",
        type=int,
        default=20000,
        metavar="MOVES",
        help="about this many moves go to a worker at a time (default: 20000)",
    )
    ap.add_argument(
        "--tags",
        default="",
        metavar="NAMES",
        help="tags to add as columns, comma-separated: White,Black,WhiteElo,...",
    )
    ap.add_argument(
        "--encoding",
        metavar="NAME",
        help="the inputs' text encoding (default: UTF-8, keeping bytes that are not "
        "UTF-8 in tags and comments as \\xNN escapes)",
    )
    ap.add_argument("--version", action="version", version=f"{PROGRAM} {__version__}")
    return ap


def arguments(argv: Optional[list[str]]) -> argparse.Namespace:
    ap = parser()
    args = ap.parse_args(argv)
    if not 1 <= args.jobs <= MAX_JOBS:
        ap.error(f"--jobs takes 1 to {MAX_JOBS} (four a core), not {args.jobs}")
    if args.chunk < 1:
        ap.error("--chunk takes a positive number")
    if args.dask_timeout <= 0:
        ap.error("--dask-timeout takes a positive number of seconds")
    if args.dask:
        try:
            parse_dask(args.dask)
        except ValueError as error:
            ap.error(str(error))
    if args.encoding:
        try:
            codecs.lookup(args.encoding)
        except LookupError:
            ap.error(f"unknown encoding: {args.encoding}")
    args.tags = tuple(t.strip() for t in args.tags.split(",") if t.strip())
    return args


def _interrupt(signum: int, frame: Any) -> NoReturn:
    raise Interrupted()


def main(argv: Optional[list[str]] = None) -> int:
    args = arguments(argv)
    games = positions = skipped = 0
    progress: Optional[Progress] = None
    output: Optional[Output] = None
    results: Optional[Iterator[ChunkResult]] = None
    signal.signal(signal.SIGTERM, _interrupt)

    def counts() -> str:
        return f"{games} games written, {positions} positions, {skipped} games skipped"

    def fail(line: str, status: int) -> int:
        # Nothing may interrupt the clean-up that follows an interruption.
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        if progress is not None:
            progress.close()
        if results is not None:
            try:
                results.close()  # type: ignore[attr-defined]  # stops the pool or the cluster
            except Exception:
                pass
        if output is not None:
            output.discard()
        print(line, file=sys.stderr)
        return status

    try:
        inputs = pgn_files(args.paths)
        output = Output(args.output, inputs)
        if sys.stderr.isatty() and (missing := missing_extras()):
            print(
                f"{PROGRAM}: without the walk extra there is no {', no '.join(missing)} "
                "(pip install 'morvek_board[walk]')",
                file=sys.stderr,
            )
        progress = Progress()
        output.file.write(",".join(COLUMN_NAMES + list(args.tags)) + "\n")
        work = chunks(inputs, args.chunk, args.encoding)
        results = (
            run_dask(args.dask, args.dask_timeout, work, args.tags)
            if args.dask
            else run_pool(args.jobs, work, args.tags)
        )
        for result in results:
            output.file.write(result.csv)
            for source, number, ply, text, message in result.problems:
                progress.say(f"{source}: game {number}, ply {ply}: {text!r}: {message}")
            games += result.games
            positions += result.positions
            skipped += len(result.problems)
            progress.update(result)
        output.finish()
    except Failure as failure:
        return fail(f"{PROGRAM}: {failure}", EXIT_FAILED)
    except (KeyboardInterrupt, Interrupted):
        return fail(f"{PROGRAM}: interrupted after {counts()}; no output kept", EXIT_INTERRUPTED)
    except BrokenPipeError:
        return fail(f"{PROGRAM}: the output was closed after {counts()}", EXIT_FAILED)
    except OSError as error:
        return fail(
            f"{PROGRAM}: cannot write {args.output}: {error.strerror or error}", EXIT_FAILED
        )
    except Exception as error:
        return fail(
            f"{PROGRAM}: internal error, please report it: {type(error).__name__}: {error}",
            EXIT_BUG,
        )
    if progress is not None:
        progress.close()
    print(f"{PROGRAM}: {counts()}", file=sys.stderr)
    return EXIT_SKIPPED if skipped else EXIT_ALL_WALKED


def run() -> NoReturn:
    """The installed command's entry."""
    status = main()
    try:
        sys.stdout.flush()
    except BrokenPipeError:
        # Python would complain once more at exit about the closed pipe.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        status = status or EXIT_FAILED
    sys.exit(status)
