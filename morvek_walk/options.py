"""The walk's options, checked the same way for the command and the Python API: each check
returns the option as the walk takes it, or raises UsageError with the option's name (as the
command spells it) and what it takes."""

from __future__ import annotations

import codecs
from typing import Iterable, Optional

from . import _native
from .failures import UsageError
from .walk import COLUMN_NAMES


def whole(value: object, low: int, high: Optional[int], what: str) -> int:
    try:
        number = int(value)  # type: ignore[call-overload]
        exact = str(number) == str(value).strip() or isinstance(value, int)
    except (TypeError, ValueError):
        number, exact = low - 1, False
    if not exact or number < low or (high is not None and number > high):
        raise UsageError(f"{what}, not {value}")
    return number


def seconds(value: object, what: str) -> float:
    try:
        number = float(value)  # type: ignore[arg-type]
    except (TypeError, ValueError):
        number = 0.0
    if not number > 0 or number == float("inf"):
        raise UsageError(f"{what} takes a positive number of seconds, not {value}")
    return number


def encoding(name: Optional[str]) -> Optional[str]:
    if name is None:
        return None
    try:
        codecs.lookup(name)
    except LookupError:
        raise UsageError(f"unknown encoding: {name}") from None
    # Games are found in the bytes as they are stored, by PGN's ASCII marks.
    ascii = bytes(range(128))
    decoded = ascii.decode(name, "replace")
    if decoded != ascii.decode("ascii") or decoded.encode(name, "replace") != ascii:
        raise UsageError(f"--encoding takes an encoding that keeps ASCII as it is, not {name}")
    return name


def columns(names: Optional[Iterable[str]]) -> Optional[tuple[str, ...]]:
    """The columns asked for (None: all), in the table's order."""
    if names is None:
        return None
    asked = tuple(names)
    unknown = [name for name in asked if name not in COLUMN_NAMES]
    if unknown or not asked:
        raise UsageError(
            f"--columns takes names of columns ({', '.join(COLUMN_NAMES)}), not "
            f"{', '.join(map(repr, unknown)) or 'none'}"
        )
    return tuple(name for name in COLUMN_NAMES if name in asked)


def tags(names: Iterable[str]) -> tuple[str, ...]:
    found = tuple(names)
    # Headers that differ only in case are one column to duckdb, and each program renames
    # repeated headers its own way.
    seen = {name.lower() for name in COLUMN_NAMES}
    for tag in found:
        if not isinstance(tag, str) or not tag:
            raise UsageError(f"--tags takes names of tags, not {tag!r}")
        if tag.lower() in seen:
            raise UsageError(
                f"--tags: {tag} names a column already (the columns: --help); "
                "each column's name must be its own"
            )
        seen.add(tag.lower())
    return found


def conditions(texts: Iterable[str]) -> tuple[str, ...]:
    found = tuple(texts)
    try:
        # The walk's own reading of them, on no games: one reading, one set of messages.
        _native.walk(b"", "-", 1, (), None, found)
    except (TypeError, ValueError) as error:
        raise UsageError(f"--where: {error}") from None
    return found
