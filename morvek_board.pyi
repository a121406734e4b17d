# Type information for the extension module morvek_board, installed with the wheel as the
# stub package morvek_board-stubs. Every parameter is a required str that may be passed by
# position or by keyword; the docstrings are the module's own, and the functions without one
# have none here either. docs/reference.md describes each function in full.
from typing import Literal

__all__ = [
    "piece_list",
    "legal_moves",
    "attackers",
    "apply_uci",
    "uci_to_san",
    "san_to_uci",
    "see_move",
    "null_move_fen",
    "is_check",
    "side_to_move",
]

__version__: str

def piece_list(fen: str) -> list[tuple[str, str, str]]:
    """[(square, piece, color)] for every piece, e.g. ("e5", "N", "black")."""

def legal_moves(fen: str) -> list[str]:
    """Legal moves in standard UCI ("e1g1" for castling)."""

def attackers(fen: str, sq: str, color: str) -> list[str]:
    """Squares of `color` pieces attacking `sq` (full occupancy)."""

def apply_uci(fen: str, uci: str) -> str:
    """New FEN after playing a standard-UCI move."""

def uci_to_san(fen: str, uci: str) -> str: ...
def san_to_uci(fen: str, san: str) -> str: ...
def see_move(fen: str, uci: str) -> int:
    """Static exchange evaluation of a standard-UCI move, in centipawns
    (positive = good for the mover)."""

def null_move_fen(fen: str) -> str:
    """FEN with the side to move flipped (null move), or error if in check.
    Used by the null-move threat probe."""

def is_check(fen: str) -> bool: ...
def side_to_move(fen: str) -> Literal["white", "black"]: ...
