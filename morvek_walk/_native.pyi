# Type information for the walker's native module, morvek_walk._native.
from typing import Any, Iterable, Optional, Sequence

COLUMNS: tuple[str, ...]
LONGEST_GAME: int

# (source, game, ply, text, message, reason) of a game left out.
Problem = tuple[str, int, int, str, str, str]

class Splitter:
    # Each chunk: (games, first game) and, with ranges, (begin, end) in the input (games None
    # where the input holds them as they are), then, with starts, where its games begin.
    def __init__(self, chunk_moves: int, ranges: bool = False, starts: bool = False) -> None: ...
    def feed(self, data: bytes, /) -> list[tuple[Any, ...]]: ...
    def finish(self) -> list[tuple[Any, ...]]: ...

class Batch:
    @property
    def num_rows(self) -> int: ...
    @property
    def problems(self) -> list[Problem]: ...
    @property
    def games(self) -> int: ...
    @property
    def positions(self) -> int: ...
    @property
    def filtered(self) -> int: ...
    def __arrow_c_schema__(self) -> Any: ...
    def __arrow_c_array__(self, requested_schema: Any = None) -> tuple[Any, Any]: ...

class Stream:
    def __init__(
        self,
        batches: Iterable[Batch],
        columns: Optional[Sequence[str]] = None,
        tags: Sequence[str] = (),
    ) -> None: ...
    def __arrow_c_stream__(self, requested_schema: Any = None) -> Any: ...
    def __arrow_c_schema__(self) -> Any: ...

def walk(
    data: bytes,
    source: str,
    first_game: int,
    tags: Sequence[str],
    columns: Optional[Sequence[str]] = None,
    where: Sequence[str] = (),
    game_starts: Optional[bytes] = None,
) -> tuple[bytes, list[Problem], int, int, int]: ...
def walk_table(
    data: bytes,
    source: str,
    first_game: int,
    tags: Sequence[str],
    columns: Optional[Sequence[str]] = None,
    where: Sequence[str] = (),
    game_starts: Optional[bytes] = None,
) -> Batch: ...
