"""Every function of morvek_board once, as a typed caller uses it.

Run with the module importable: the wheel installed (`pip install .`), or
PYTHONPATH=build python3 examples/quick_tour.py. `make test` runs it under every interpreter
the wheel is installed into, and checks it with mypy in strict mode.
"""

import morvek_board as mb

START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"


def play(fen: str, sans: list[str]) -> str:
    """The position after the moves, given in SAN."""
    for san in sans:
        fen = mb.apply_uci(fen, mb.san_to_uci(fen, san))
    return fen


def material(fen: str) -> dict[str, int]:
    """Pieces per colour, kings included."""
    counts = {"white": 0, "black": 0}
    for _square, _letter, colour in mb.piece_list(fen):
        counts[colour] += 1
    return counts


def main() -> None:
    fen = play(START, ["e4", "d5", "Nf3"])
    side = mb.side_to_move(fen)
    print(f"{fen}: {side} to move, in check: {mb.is_check(fen)}")

    moves = mb.legal_moves(fen)
    captures = [uci for uci in moves if "x" in mb.uci_to_san(fen, uci)]
    print(f"{len(moves)} legal moves; captures {captures}")
    for uci in captures:
        print(f"  {mb.uci_to_san(fen, uci)}: exchange {mb.see_move(fen, uci):+d} centipawns")

    print(f"white pieces attacking d5: {mb.attackers(fen, 'd5', 'white')}")
    print(f"after a pass: {mb.null_move_fen(fen)}")
    print(f"material: {material(fen)}")

    try:
        mb.apply_uci(fen, "e4e5")
    except ValueError as refusal:
        print(f"refused: {refusal}")


if __name__ == "__main__":
    main()
