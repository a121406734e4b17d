"""Asks morvek_board about a few positions and prints what it answers.

Run with the build directory on the path: `make demo`, or
PYTHONPATH=build python3 examples/demo.py
"""

import morvek_board

POSITIONS = [
    ("start position", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"),
    ("after 1. e4", "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1"),
    ("rook-file castling letters", "1r2k1r1/pppppppp/8/8/8/8/PPPPPPPP/1R2K1R1 w GBgb - 0 1"),
]

# One row per question: the function and the arguments that follow the FEN.
QUESTIONS = [
    ("side_to_move", ()),
]

BAD_FENS = [
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0",
    "8/8/8/8/8/8/8/Kk6 w - - 0 1",
]


def show(name, fen, extra):
    call = f"{name}({', '.join(repr(a) for a in (fen, *extra))})"
    try:
        answer = repr(getattr(morvek_board, name)(fen, *extra))
    except ValueError as error:
        answer = f"ValueError: {error}"
    print(f"  {call}\n    -> {answer}")


def main():
    print(f"morvek_board functions: {', '.join(morvek_board.__all__)}")
    for label, fen in POSITIONS:
        print(f"\n{label}:")
        for name, extra in QUESTIONS:
            show(name, fen, extra)
    print("\nrefused positions:")
    for fen in BAD_FENS:
        show("side_to_move", fen, ())


if __name__ == "__main__":
    main()
