"""Distinct positions and the arguments of each function's calls on them, made with this module
alone: seeded random games from the standard start and from Chess960 starts (castling written
in rook-file letters), with a lean towards captures, pawn moves and checks so that the games
reach en passant, promotions and thin endgames, a quarter of them with clocks near their caps.
The same seed gives the same positions and arguments.

The cases are those of bench/python_surface.py's distinct mode: each function on every
position, or, where it needs a move, on one move of the case's kind where the position has one.
"""

import random

import morvek_board as mb

START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
SQUARE_NAMES = [f + r for r in "12345678" for f in "abcdefgh"]

# (label, function, kind of the extra argument): None for the FEN alone.
CASES = [
    ("", "side_to_move", None),
    ("", "is_check", None),
    ("", "legal_moves", None),
    ("", "null_move_fen", "not in check"),
    ("", "piece_list", None),
    ("", "attackers", "square"),
    ("capture", "apply_uci", "capture"),
    ("quiet", "apply_uci", "quiet"),
    ("castling", "apply_uci", "castling"),
    ("promotion", "apply_uci", "promotion"),
    ("capture", "uci_to_san", "capture"),
    ("quiet", "uci_to_san", "quiet"),
    ("castling", "uci_to_san", "castling"),
    ("capture", "see_move", "capture"),
    ("quiet", "see_move", "quiet"),
    ("castling", "see_move", "castling"),
    ("late match", "san_to_uci", "king"),
    ("knight", "san_to_uci", "knight"),
    ("promotion", "san_to_uci", "promotion"),
]


def chess960_start(rng):
    """Bishops on opposite colours, then queen and knights, then rook, king, rook."""
    rank = [None] * 8
    rank[2 * rng.randrange(4)] = "B"
    rank[2 * rng.randrange(4) + 1] = "B"
    for piece, choices in (("Q", 6), ("N", 5), ("N", 4)):
        empty = [f for f in range(8) if rank[f] is None]
        rank[empty[rng.randrange(choices)]] = piece
    empty = [f for f in range(8) if rank[f] is None]
    for f, piece in zip(empty, "RKR"):
        rank[f] = piece
    white = "".join(rank)
    rights = "ABCDEFGH"[empty[2]] + "ABCDEFGH"[empty[0]]
    rights += rights.lower()
    return "%s/pppppppp/8/8/8/8/PPPPPPPP/%s w %s - 0 1" % (white.lower(), white, rights)


def pick(rng, fen, legal):
    occupant = {sq: letter for sq, letter, _ in mb.piece_list(fen)}
    roll = rng.random()
    if roll < 0.1:
        checks = [u for u in legal if mb.is_check(mb.apply_uci(fen, u))]
        if checks:
            return rng.choice(checks)
    captures = [u for u in legal if u[2:4] in occupant or (occupant[u[:2]] == "P" and u[0] != u[2])]
    pawns = [u for u in legal if occupant[u[:2]] == "P"]
    for choices, below in ((captures, 0.5), (pawns, 0.75)):
        if choices and roll < below:
            return rng.choice(choices)
    return rng.choice(legal)


def distinct_positions(count, seed):
    """FEN texts of seeded random games, alternately from the standard start and from a
    Chess960 start, a quarter of the games starting with clocks near their caps."""
    rng = random.Random(seed)
    out = []
    game = 0
    while len(out) < count:
        fen = chess960_start(rng) if game % 2 else START
        if rng.random() < 0.25:
            fen = fen[: fen.rindex(" - ") + 3] + "95 65530"
        for _ in range(rng.randrange(20, 120)):
            legal = mb.legal_moves(fen)
            if len(out) == count or not legal or int(fen.split(" ")[4]) >= 99:
                break
            out.append(fen)
            fen = mb.apply_uci(fen, pick(rng, fen, legal))
        game += 1
    return out


def move_kinds(fen):
    """Our legal move texts by kind, and a king's and a knight's moves by mover."""
    occupant = {square: (letter.upper(), colour) for square, letter, colour in mb.piece_list(fen)}
    kinds = {"capture": [], "quiet": [], "castling": [], "promotion": [], "king": [], "knight": []}
    for text in mb.legal_moves(fen):
        mover, colour = occupant[text[:2]]
        target = occupant.get(text[2:4])
        own = target is not None and target[1] == colour
        if mover == "K" and (own or abs(ord(text[0]) - ord(text[2])) == 2):
            kinds["castling"].append(text)
        elif len(text) == 5:
            kinds["promotion"].append(text)
        elif target or (mover == "P" and text[0] != text[2]):
            kinds["capture"].append(text)
        else:
            kinds["quiet"].append(text)
        if mover == "K":
            kinds["king"].append(text)
        if mover == "N":
            kinds["knight"].append(text)
    return kinds


def case_arguments(positions, seed):
    """Per (label, function): the argument tuples of its calls."""
    rng = random.Random(seed)
    kinds_of = [move_kinds(fen) for fen in positions]
    cases = {}
    for label, name, choice in CASES:
        calls = []
        for fen, kinds in zip(positions, kinds_of):
            if choice is None:
                calls.append((fen,))
            elif choice == "not in check":
                if not mb.is_check(fen):
                    calls.append((fen,))
            elif choice == "square":
                calls.append((fen, rng.choice(SQUARE_NAMES), rng.choice(("white", "black"))))
            elif kinds[choice]:
                text = rng.choice(kinds[choice])
                if name == "san_to_uci":
                    if choice == "king":  # the king's moves come last in generation order
                        text = kinds[choice][-1]
                    calls.append((fen, mb.uci_to_san(fen, text)))
                else:
                    calls.append((fen, text))
        cases[(label, name)] = calls
    return cases
