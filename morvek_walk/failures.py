"""What can stop a walk, each kind with the exit status it ends the command with. The command's
main function maps them once; nothing else decides a status. The Python API raises the same
classes, each also a subclass of the built-in error a caller would catch."""

from __future__ import annotations

import contextlib
from typing import Any, Iterator

EXIT_ALL_WALKED, EXIT_SKIPPED, EXIT_FAILED, EXIT_BUG, EXIT_INTERRUPTED = 0, 1, 2, 3, 130


class Failure(Exception):
    """A failure the user can act on, told in one line."""

    status = EXIT_FAILED


class UsageError(Failure, ValueError):
    """The command line, or a call of walk(), asks for something the walker does not do."""


class InputError(Failure, OSError):
    """An input cannot be found or read."""


class OutputError(Failure, OSError):
    """The output cannot be written, or would overwrite an input."""


class ClusterError(Failure, RuntimeError):
    """The Dask cluster failed."""


class Interrupted(Exception):
    """Ctrl-C or SIGTERM."""

    status = EXIT_INTERRUPTED


class _Interruption:
    # Ctrl-C and SIGTERM wait while a chunk's rows are written and counted, so that a stream
    # holds whole games only and the counts say exactly which, and while a thread starts (an
    # exception between its start and its first step leaves the thread a stale entry that it
    # complains of). Blocking the signals would not do: the kernel hands them to any thread, a
    # pool's own among them.
    held = 0  # how deep in signals_held() the main thread is
    pending = False


def interrupt(signum: int, frame: Any) -> None:
    """The command's handler of SIGINT and SIGTERM."""
    if _Interruption.held:
        _Interruption.pending = True
        return
    raise Interrupted()


@contextlib.contextmanager
def signals_held() -> Iterator[None]:
    _Interruption.held += 1
    try:
        yield
    finally:
        _Interruption.held -= 1
        if _Interruption.pending and not _Interruption.held:
            _Interruption.pending = False
            raise Interrupted()
