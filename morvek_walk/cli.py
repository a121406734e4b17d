"""morvek-walk: walks the main line of every game in PGN files and writes one CSV row per move.

The walk is native: each game's moves are read as SAN and played on one board kept from move
to move, and each row is written from that board (the position before the move, the move as
UCI and as SAN, check after it, its exchange value, the number of legal moves before it). This
process only finds where games begin; chunks of whole games are walked in threads (--jobs) or
on a Dask cluster's workers (--dask), and the output is the same bytes either way, in the order
of the input.
"""

from __future__ import annotations

import argparse
import os
import signal
import sys
from typing import Any, NoReturn, Optional

from . import __version__, _native, options
from .failures import (
    EXIT_ALL_WALKED,
    EXIT_BUG,
    EXIT_FAILED,
    EXIT_SKIPPED,
    Failure,
    Interrupted,
    UsageError,
    interrupt,
    signals_held,
)
from .formats import format_of
from .inputs import SUFFIXES, Reading, pgn_files, size_of, zstd_readable
from .output import Rows
from .progress import Progress, Report, missing_extras
from .runners import CHUNK_MOVES, DASK_CHUNK_MOVES, MAX_JOBS, dask_address, run_walk
from .walk import COLUMNS, WalkOptions, column_names

PROGRAM = "morvek-walk"

EPILOG = (
    "columns, in order:\n"
    + "".join(f"  {name:<12} {text}\n" for name, text in COLUMNS)
    + "  then one column a tag named with --tags, empty where a game has none\n\n"
    "inputs: files and folders (searched for " + ", ".join(f"*{s}" for s in SUFFIXES) + "),\n"
    "  compressed ones read by their suffix; - reads standard input. A folder holding\n"
    "  one file under several compressions (x.pgn and x.pgn.zst) walks one of them\n\n"
    "output: a CSV file, written whole or not at all; standard output, a device or a\n"
    "  pipe is written as the rows come\n\n"
    "exit status:\n"
    "  0    every game walked\n"
    "  1    some games skipped, each reported on standard error\n"
    "  2    a usage, input or output error, or the cluster failed\n"
    "  3    an internal error (a bug: please report it)\n"
    "  130  interrupted\n"
    "  after 2, 3 and 130 no output file is left; a stream keeps the rows of the games\n"
    "  counted in the last line\n\n"
    "without the walk extra (pip install 'morvek_board[walk]') there is no progress bar,\n"
    "no --dask, and .pgn.zst needs CPython 3.14 or later"
)


# --- options, each checked as it is read --------------------------------------------------------
# argparse would print its usage text and exit on its own errors: they become UsageErrors. The
# checks' UsageErrors are ValueErrors too, which argparse would take for its own "invalid
# value", so they pass through it wrapped.
class _Refused(Exception):
    pass


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        raise UsageError(message)

    def parse_args(self, args: Any = None, namespace: Any = None) -> Any:
        try:
            return super().parse_args(args, namespace)
        except _Refused as refused:
            raise refused.args[0] from None


def _checked(check: Any) -> Any:
    def convert(text: str) -> Any:
        try:
            return check(text)
        except UsageError as error:
            raise _Refused(error) from None

    return convert


def _whole(low: int, high: Optional[int], what: str) -> Any:
    return _checked(lambda text: options.whole(text, low, high, what))


@_checked
def _output(path: str) -> str:
    format_of(path)
    return path


def _names(check: Any) -> Any:
    """A check of a list, for an option that takes it comma-separated."""
    return _checked(lambda text: check(name.strip() for name in text.split(",") if name.strip()))


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
        type=_output,
        help="where the rows go, as its name says: a .csv, .csv.gz or .csv.zst file, a .parquet "
        "file, or a folder ending in / for a Parquet dataset (default: CSV on standard output); "
        "written whole or not at all",
    )
    ap.add_argument(
        "--jobs",
        type=_whole(1, MAX_JOBS, f"--jobs takes 1 to {MAX_JOBS} (four a core)"),
        default=os.cpu_count() or 1,
        help=f"threads walking games, 1 to {MAX_JOBS} (default: every core)",
    )
    ap.add_argument(
        "--dask",
        metavar="ADDRESS",
        type=_checked(dask_address),
        help="a Dask scheduler's address (tcp://host:8786), or local:N for a cluster of N "
        "worker processes on this machine",
    )
    ap.add_argument(
        "--dask-timeout",
        type=_checked(lambda text: options.seconds(text, "--dask-timeout")),
        default=5.0,
        metavar="SECONDS",
        help="how long to wait for the scheduler, and for a worker when the cluster has none "
        "(default: 5)",
    )
    ap.add_argument(
        "--chunk",
        type=_whole(1, None, "--chunk takes a positive number"),
        metavar="MOVES",
        help=f"about this many moves go to a worker at a time (default: {CHUNK_MOVES}, and "
        f"{DASK_CHUNK_MOVES} a task on a Dask cluster)",
    )
    ap.add_argument(
        "--columns",
        type=_names(options.columns),
        metavar="NAMES",
        help="only these columns, comma-separated, in the table's order (default: all); a "
        "column not asked for is not computed",
    )
    ap.add_argument(
        "--where",
        type=_checked(lambda text: options.conditions([text])[0]),
        action="append",
        default=[],
        metavar="CONDITION",
        help="walk only the games whose tags meet it, decided before their moves are read: "
        "WhiteElo>=2000, TimeControl=180+0, Event~Blitz (contains, any case); = != < <= > >= "
        "~; numbers compare as numbers; repeat it for games that meet every one",
    )
    ap.add_argument(
        "--tags",
        type=_names(options.tags),
        default=(),
        metavar="NAMES",
        help="tags to add as columns, comma-separated: White,Black,WhiteElo,...",
    )
    ap.add_argument(
        "--encoding",
        metavar="NAME",
        type=_checked(options.encoding),
        help="the inputs' text encoding (default: UTF-8, keeping bytes that are not "
        "UTF-8 in tags and comments as \\xNN escapes)",
    )
    ap.add_argument(
        "-q",
        "--quiet",
        action="store_true",
        help="no progress bar and no line for each game left out: only the counts at the end "
        "(with the skipped games summed by reason) and errors",
    )
    ap.add_argument("--version", action="version", version=f"{PROGRAM} {__version__}")
    return ap


# --- the walk -------------------------------------------------------------------------------------
class Walk:
    """One run of the command: what it has written so far and where."""

    def __init__(self) -> None:
        self.progress = Progress(None, lambda: 0, quiet=True)
        self.report = Report(self.progress.say, quiet=False)
        self.rows: Optional[Rows] = None

    def run(self, args: argparse.Namespace) -> None:
        self.report.quiet = args.quiet
        inputs = pgn_files(args.paths, (lambda line: None) if args.quiet else self.progress.say)
        schema = _native.Stream((), args.columns, args.tags)
        self.rows = Rows(args.output, column_names(args.columns, args.tags), schema)
        self.rows.open(inputs)
        if sys.stderr.isatty() and not args.quiet:
            if missing := missing_extras(zstd_readable()):
                self.progress.say(
                    f"{PROGRAM}: without the walk extra there is no {', no '.join(missing)} "
                    "(pip install 'morvek_board[walk]')"
                )
        reading = Reading(inputs)
        self.progress = Progress(size_of(inputs), reading.position, args.quiet)
        self.report.say = self.progress.say
        walk_options = WalkOptions(
            args.tags,
            args.encoding,
            args.columns,
            tuple(args.where),
            self.rows.format.form,
            self.rows.folder,
        )
        results = run_walk(
            reading, walk_options, args.jobs, args.dask, args.dask_timeout, args.chunk
        )
        try:
            for result in results:
                with signals_held():
                    self.rows.take(result.data)
                    self.report.add(result)
                self.progress.update(self.report)
        finally:
            results.close()  # stops the pool or the cluster, whatever stopped the walk
        self.rows.finish()

    def stop(self) -> str:
        """After a failure: the output discarded, or a stream left as it is; what is left."""
        # Nothing may interrupt the clean-up that follows an interruption.
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        self.progress.close()
        if self.rows is None:
            return "; no output kept"
        self.rows.discard()
        if self.rows.stream:
            return f"; {self.rows.where()} holds the rows of those games"
        return "; no output kept"


def main(argv: Optional[list[str]] = None) -> int:
    """The command; returns its exit status. Every failure ends here, as one line."""
    signal.signal(signal.SIGINT, interrupt)
    signal.signal(signal.SIGTERM, interrupt)
    walk = Walk()
    interrupted = False
    try:
        walk.run(parser().parse_args(argv))
    except UsageError as failure:
        line, status = f"error: {failure} (see --help)", failure.status
    except Failure as failure:
        line, status = str(failure), failure.status
    except (Interrupted, KeyboardInterrupt):
        line, status = f"interrupted after {walk.report.counts()}", Interrupted.status
        interrupted = True
    except BrokenPipeError:
        line, status = f"the output was closed after {walk.report.counts()}", EXIT_FAILED
        # Python would complain once more at exit, flushing into the closed pipe.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
    except Exception as error:
        line = f"internal error, please report it: {type(error).__name__}: {error}"
        status = EXIT_BUG
    else:
        walk.progress.close()
        print(f"{PROGRAM}: {walk.report.counts()}", file=sys.stderr)
        return EXIT_SKIPPED if walk.report.skipped else EXIT_ALL_WALKED
    left = walk.stop()
    print(f"{PROGRAM}: {line}{left if interrupted else ''}", file=sys.stderr)
    return status


def run() -> NoReturn:
    """The installed command's entry."""
    sys.exit(main())
