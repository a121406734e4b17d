"""What can stop a walk, each kind with the exit status it ends the command with. The command's
main function maps them once; nothing else decides a status."""

from __future__ import annotations

EXIT_ALL_WALKED, EXIT_SKIPPED, EXIT_FAILED, EXIT_BUG, EXIT_INTERRUPTED = 0, 1, 2, 3, 130


class Failure(Exception):
    """A failure the user can act on, told in one line."""

    status = EXIT_FAILED


class UsageError(Failure):
    """The command line asks for something the walker does not do."""


class InputError(Failure):
    """An input cannot be found or read."""


class OutputError(Failure):
    """The output cannot be written, or would overwrite an input."""


class ClusterError(Failure):
    """The worker pool or the Dask cluster failed."""


class Interrupted(Exception):
    """Ctrl-C or SIGTERM."""

    status = EXIT_INTERRUPTED
