"""PGN read as a stream: games come out one at a time, each with its tags, its main line's moves
(with the clock and engine evaluation of each move's comment) and its result, so that memory
holds one game, not the file."""

from __future__ import annotations

import codecs
import re
from typing import BinaryIO, Iterator, NamedTuple, Optional

# A game that cannot be walked: (ply, text, message, reason); ply 0 for what comes before the
# moves; the reason, a few words, sums the games left out at the end of a walk.
Problem = tuple[int, str, str, str]


# What a move's comment says: (seconds left from [%clk H:MM:SS], centipawns from White's side
# from [%eval 0.17], moves to mate from White's side from [%eval #-3]), each None when absent.
Annotations = tuple[Optional[float], Optional[int], Optional[int]]


class Game(NamedTuple):
    source: str
    number: int
    tags: dict[str, str]
    moves: list[str]  # SAN as written; a null move is one of NULL_MOVES
    # By ply, for the moves whose comment has a clock or an evaluation. Apart from the moves, so
    # that a chunk of games without them goes to a worker as little more than its texts.
    annotations: dict[int, Annotations]
    result: str  # the result that ends the movetext, or "" when none did
    problem: Optional[Problem]  # set when the reader already knows the game cannot be walked


# One pattern over the text; the group that matches says what was read. Comments and escape
# lines are skipped here, variations by depth below. A move number comes before a SAN token
# in the alternation, so one glued to its move ("12.Nf3") is read apart from it.
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

# Signs that PGN writers put after a move, apart from it: judgements (!, ?!), evaluations
# (+-, =, the Unicode symbols), a novelty, a check sign, the "e.p." of an en passant capture.
ANNOTATION = re.compile(
    r"[!?]{1,2}|[+#]{1,2}|e\.p\.?|ep|[+\-=][/]?[+\-=]|=|\+|[±∓⩲⩱∞□⨀]|N|TN|\([!?]\)"
)
NULL_MOVES = frozenset({"--", "Z0", "0000", "@@@@"})
SAN_FIRST = frozenset("abcdefghKQRBNO0")
NOT_SAN = frozenset({"N", "e.p.", "e.p", "ep"})  # annotations that start as SAN does

CLOCK = re.compile(r"\[%clk\s+(\d+):(\d{1,2}):(\d{1,2}(?:\.\d+)?)\]")
EVALUATION = re.compile(r"\[%eval\s+(#)?([+-]?\d+(?:\.\d+)?)(?:,\d+)?\s*\]")

# Bytes that are not UTF-8 come through decoding as lone surrogates (surrogateescape).
UNDECODED = re.compile("[\udc80-\udcff]")

# A game longer than this without an end is an open comment swallowing the rest of the input,
# reported at once rather than held in memory to the end.
LONGEST_GAME = 32 << 20


def printable(text: str) -> str:
    """The text with undecodable bytes as \\xNN escapes."""
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")


def annotations_of(comment: str) -> Annotations:
    clock = eval_cp = eval_mate = None
    found = CLOCK.search(comment)
    if found:
        clock = int(found[1]) * 3600 + int(found[2]) * 60 + float(found[3])
    found = EVALUATION.search(comment)
    if found:
        if found[1]:
            eval_mate = int(float(found[2]))
        else:
            eval_cp = round(float(found[2]) * 100)
    return clock, eval_cp, eval_mate


class _GameText:
    """What is known of the game being read."""

    def __init__(self) -> None:
        self.tags: dict[str, str] = {}
        self.moves: list[str] = []
        self.annotations: dict[int, Annotations] = {}
        self.problem: Optional[Problem] = None
        self.depth = 0
        self.in_movetext = False
        self.started = False  # anything of a game read: a tag or movetext


class GameReader:
    """Turns the bytes of one PGN input, fed in pieces, into games numbered from 1. A game ends
    at its result; one that reaches the next tag section or the end of the input without a
    result comes with a problem. `encoding` None reads UTF-8 and keeps bytes that are not UTF-8
    as escapes: they cost a game only in its moves, never in its tags or comments."""

    def __init__(self, source: str, encoding: Optional[str] = None) -> None:
        self.source = source
        self.number = 0
        errors = "surrogateescape" if encoding is None else "replace"
        self.decoder = codecs.getincrementaldecoder(encoding or "utf-8")(errors=errors)
        self.text = ""  # from the start of the game not yet finished
        self.first = True
        self.swallowed = False  # an open comment took the rest of the input

    def feed(self, data: bytes, final: bool = False) -> Iterator[Game]:
        if self.swallowed:
            return
        text = self.decoder.decode(data, final)
        if self.first and text:
            self.first = False
            if text.startswith("\ufeff"):
                text = text[1:]
        self.text += text
        if final:
            yield from self._games(self.text, final=True)
            self.text = ""
            return
        # Only whole lines: no token but a comment runs over a line end.
        end = self.text.rfind("\n") + 1
        if end:
            rest = self.text[end:]
            self.text = self.text[:end]
            yield from self._games(self.text, final=False)
            self.text += rest

    def _finish(self, game: _GameText, result: str, where: str) -> Game:
        self.number += 1
        found = game.problem
        if found is None and not result:
            last = game.moves[-1] if game.moves else ""
            found = (len(game.moves), last, f"truncated: no result before {where}", "cut off")
        return Game(
            self.source, self.number, game.tags, game.moves, game.annotations, result, found
        )

    def _games(self, text: str, final: bool) -> Iterator[Game]:
        """The games that end within `text`; self.text keeps what follows the last of them."""
        game = _GameText()
        start = 0  # where the unfinished game's text begins
        for match in TOKEN.finditer(text):
            kind = match.lastgroup
            token = match.group()
            if kind == "tag" and game.in_movetext:
                yield self._finish(game, "", "the next game's tags")
                game, start = _GameText(), match.start()
            if kind in ("word", "other") and game.problem is None:
                bad = UNDECODED.search(token)
                if bad:
                    byte = ord(bad.group()) - 0xDC00
                    game.problem = (
                        len(game.moves) + 1,
                        printable(token),
                        f"byte 0x{byte:02x} is not UTF-8",
                        "not UTF-8",
                    )
            if kind in ("space", "semicolon", "escape", "nag", "dots"):
                continue
            if kind == "brace":
                if not token.endswith("}"):
                    if not final and len(text) - start < LONGEST_GAME:
                        break  # the comment's end is still to come
                    # An open comment swallows the rest of the input, the result with it.
                    game.started = True
                    self.swallowed = not final
                    self.text = ""
                    yield self._finish(game, "", "the end of the file")
                    return
                if not game.depth and game.moves and "[%" in token:
                    found = annotations_of(token)
                    if found != (None, None, None):
                        game.annotations[len(game.moves)] = found
                continue
            if kind == "tag":
                game.started = True
                game.tags[match.group("name")] = re.sub(r"\\(.)", r"\1", match.group("value"))
                continue
            game.started = True
            game.in_movetext = True
            if kind == "open":
                game.depth += 1
            elif kind == "close":
                game.depth = max(game.depth - 1, 0)
            elif game.depth:
                continue
            elif kind == "result":
                yield self._finish(game, token, "")
                game, start = _GameText(), match.end()
            elif kind == "word":
                # Nearly every word is a move, and SAN starts with one of a few letters: the
                # pattern of annotations is asked only about the rest.
                if (
                    (token[0] in SAN_FIRST and token not in NOT_SAN)
                    or token in NULL_MOVES
                    or not ANNOTATION.fullmatch(token)
                ):
                    game.moves.append(token)
            elif kind == "number":
                continue
            elif game.problem is None:
                game.problem = (
                    len(game.moves) + 1,
                    printable(token),
                    "not PGN movetext",
                    "not PGN",
                )
        else:
            if final:
                if game.started:
                    yield self._finish(game, "", "the end of the file")
                return
        self.text = text[start:]


def read_games(
    source: str, stream: BinaryIO, encoding: Optional[str] = None, block: int = 1 << 20
) -> Iterator[Game]:
    """The games of one input, read `block` bytes at a time."""
    reader = GameReader(source, encoding)
    while True:
        data = stream.read(block)
        if not data:
            break
        yield from reader.feed(data)
    yield from reader.feed(b"", final=True)
