"""Asks morvek_board about a built-in position, then walks a famous game through it.

Run with the build directory on the path: `make demo`, or
PYTHONPATH=build python3 examples/demo.py
"""

import morvek_board

# Kiwipete: castling both ways, pins, captures and promotions-to-be in one position.
POSITION = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"

# One row per question: the function and the arguments that follow the FEN.
QUESTIONS: list[tuple[str, tuple[str, ...]]] = [
    ("side_to_move", ()),
    ("is_check", ()),
    ("legal_moves", ()),
    ("apply_uci", ("e1g1",)),
    ("uci_to_san", ("e5f7",)),
    ("san_to_uci", ("O-O-O",)),
    ("see_move", ("e5f7",)),
    ("see_move", ("d5e6",)),
    ("null_move_fen", ()),
    ("attackers", ("e6", "black")),
    ("piece_list", ()),
]

REFUSALS: list[tuple[str, str, tuple[str, ...]]] = [
    ("side_to_move", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0", ()),
    ("side_to_move", "8/8/8/8/8/8/8/Kk6 w - - 0 1", ()),
    ("apply_uci", POSITION, ("e1e3",)),
    ("apply_uci", POSITION, ("e9e4",)),
    ("san_to_uci", POSITION, ("Nf3",)),
    ("attackers", POSITION, ("e6", "White")),
]

# Paris, 1858: the Opera Game, in SAN as it is usually printed.
GAME = (
    "e4 e5 Nf3 d6 d4 Bg4 dxe5 Bxf3 Qxf3 dxe5 Bc4 Nf6 Qb3 Qe7 Nc3 c6 Bg5 b5 Nxb5 cxb5 "
    "Bxb5+ Nbd7 O-O-O Rd8 Rxd7 Rxd7 Rd1 Qe6 Bxd7+ Nxd7 Qb8+ Nxb8 Rd8#"
).split()
START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"


def show(name: str, fen: str, extra: tuple[str, ...]) -> None:
    call = f"{name}({', '.join(repr(a) for a in (fen, *extra))})"
    try:
        answer = repr(getattr(morvek_board, name)(fen, *extra))
    except ValueError as error:
        answer = f"ValueError: {error}"
    print(f"  {call}\n    -> {answer}")


def walk_game() -> None:
    fen = START
    for ply, san in enumerate(GAME):
        uci = morvek_board.san_to_uci(fen, san)
        written = morvek_board.uci_to_san(fen, uci)
        # SAN marks every capture with an x, en passant included.
        capture = "x" in written
        see = f"  SEE {morvek_board.see_move(fen, uci):+d}" if capture else ""
        number = f"{ply // 2 + 1}." + (".." if ply % 2 else "")
        fen = morvek_board.apply_uci(fen, uci)
        print(f"  {number:<5} {written:<7} {uci:<6} {fen}{see}")
    print(
        f"  final position: check={morvek_board.is_check(fen)}, "
        f"legal replies={len(morvek_board.legal_moves(fen))}"
    )


def main() -> None:
    print(f"morvek_board functions: {', '.join(morvek_board.__all__)}")
    print(f"\nposition {POSITION}:")
    for name, extra in QUESTIONS:
        show(name, POSITION, extra)
    print("\nrefused input:")
    for name, fen, extra in REFUSALS:
        show(name, fen, extra)
    print("\nthe Opera Game, move by move (SAN, UCI, FEN after it, SEE of captures):")
    walk_game()


if __name__ == "__main__":
    main()
