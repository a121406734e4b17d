"""Walking games: what a worker does with a chunk of them. Everything it needs comes in its
argument and everything it finds goes out in its result, so the same function runs in this
process, a process pool or on a Dask cluster's workers."""

from __future__ import annotations

import csv
import io
import re
from typing import Any, NamedTuple, Optional

import morvek_board as mb

from .pgn import NULL_MOVES, Game, Problem, printable

START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"

# Every column, with what --help says of it; --tags adds one column a tag after these.
COLUMNS = [
    ("source", "the file the game comes from (- for standard input)"),
    ("game", "the game's number in its file, from 1"),
    ("ply", "the move's number in its game, from 1"),
    ("fen", "the position before the move"),
    ("uci", "the move as UCI text (empty for a null move)"),
    (
        "san",
        "the move as standard algebraic notation, as the module writes it (empty for a null move)",
    ),
    ("check", "1 when the move gives check, else 0"),
    ("see", "the move's static exchange value in centipawns (empty for a null move)"),
    ("legal_moves", "the number of legal moves before the move"),
    ("result", "the game's result: 1-0, 0-1, 1/2-1/2 or *"),
    ("clock", "seconds on the mover's clock after the move, from [%clk] in its comment"),
    ("eval", "the engine evaluation after the move in centipawns from White's side, from [%eval]"),
    ("mate", "moves to mate from White's side, from [%eval #N]"),
]
COLUMN_NAMES = [name for name, _ in COLUMNS]

# Standard chess and Chess960 as PGN writers name them in the Variant tag; compared with case,
# spaces, hyphens and underscores ignored.
CHESS_VARIANTS = frozenset(
    {
        "",
        "standard",
        "chess",
        "normal",
        "classical",
        "fromposition",
        "frompos",
        "chess960",
        "960",
        "fischerandom",
        "fischerrandom",
        "freestyle",
    }
)


class ChunkResult(NamedTuple):
    csv: bytes
    # (source, game, ply, text, message, reason) of each game left out, in order
    problems: list[tuple[str, int, int, str, str, str]]
    games: int
    positions: int


def walk_chunk(games: list[Game], tags: tuple[str, ...] = ()) -> ChunkResult:
    """The rows of a chunk of games as CSV text, with the values of `tags` as extra columns."""
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\n")
    problems = []
    written = positions = 0
    for game in games:
        problem = game.problem or variant_problem(game)
        rows: list[tuple[Any, ...]] = []
        if problem is None:
            rows, problem = walk_game(game)
        if problem is not None:
            problems.append((game.source, game.number, *problem))
            continue
        extra = tuple(printable(game.tags.get(tag, "")) for tag in tags)
        writer.writerows(row + extra for row in rows)
        written += 1
        positions += len(rows)
    return ChunkResult(out.getvalue().encode(), problems, written, positions)


def variant_problem(game: Game) -> Optional[Problem]:
    variant = game.tags.get("Variant", "")
    if re.sub(r"[\s_-]", "", variant).lower() in CHESS_VARIANTS:
        return None
    return (
        0,
        f'[Variant "{printable(variant)}"]',
        "not chess: only standard chess and Chess960 are walked",
        "not chess",
    )


NO_ANNOTATIONS = ("", "", "")


def walk_game(game: Game) -> tuple[list[tuple[Any, ...]], Optional[Problem]]:
    fen = game.tags.get("FEN", START)
    if "FEN" in game.tags:
        fen = rook_file_castling(fen)
        try:
            mb.side_to_move(fen)
        except ValueError as error:
            return [], (0, printable(game.tags["FEN"]), str(error), "FEN tag refused")
    result = game.result or game.tags.get("Result", "")
    source = printable(game.source)
    rows = []
    for ply, written in enumerate(game.moves, 1):
        found = NO_ANNOTATIONS
        if game.annotations and ply in game.annotations:
            found = tuple(map(_cell, game.annotations[ply]))
        try:
            if written in NULL_MOVES:
                reason = "null move in check"
                after = mb.null_move_fen(fen)
                uci = san = see = ""
            else:
                reason = "move not legal"
                uci = mb.san_to_uci(fen, written)
                after = mb.apply_uci(fen, uci)
                san = mb.uci_to_san(fen, uci)
                see = mb.see_move(fen, uci)
            rows.append(
                (
                    source,
                    game.number,
                    ply,
                    fen,
                    uci,
                    san,
                    int(mb.is_check(after)),
                    see,
                    len(mb.legal_moves(fen)),
                    result,
                    *found,
                )
            )
        except ValueError as error:
            return [], (ply, written, str(error), reason)
        fen = after
    return rows, None


def _cell(value: Any) -> Any:
    """Empty for none; whole seconds without a fraction, as the clock wrote them."""
    if value is None:
        return ""
    return int(value) if isinstance(value, float) and value.is_integer() else value


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
