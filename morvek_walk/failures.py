"""What can stop a walk, each kind with the exit status it ends the command with. The command's
main function maps them once; nothing else decides a status. The Python API raises the same
classes, each also a subclass of the built-in error a caller would catch."""

from __future__ import annotations

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
