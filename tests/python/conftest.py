"""Makes the one built module importable (build/morvek_board.abi3.so, or MORVEK_BUILD_DIR), and
holds what the test files share: positions, the functions' parameters, helpers."""

import os
import pathlib
import sys
import sysconfig

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("MORVEK_BUILD_DIR", ROOT / "build")).resolve()
MODULE_FILE = BUILD / "morvek_board.abi3.so"

# --- installed wheel -------------------------------------------------------------------------
# With MORVEK_INSTALLED=1 (tools/wheel_test.sh) the tests import the copy that pip installed into
# this interpreter's environment instead, and the build directory stays off the path. The
# test-only probe module is not part of the wheel, so its tests skip (probe_module below).
INSTALLED = os.environ.get("MORVEK_INSTALLED") == "1"
if INSTALLED:
    MODULE_FILE = pathlib.Path(sysconfig.get_paths()["platlib"]).resolve() / MODULE_FILE.name
    if not MODULE_FILE.is_file():
        pytest.exit(f"{MODULE_FILE} is missing: install the wheel first", returncode=4)
# --- end installed wheel ---------------------------------------------------------------------

if not MODULE_FILE.is_file():
    pytest.exit(f"{MODULE_FILE} is missing: run `make build` first", returncode=4)
if not INSTALLED:
    sys.path.insert(0, str(BUILD))

import morvek_board  # noqa: E402

if pathlib.Path(morvek_board.__file__).resolve() != MODULE_FILE:
    pytest.exit(f"imported {morvek_board.__file__} instead of {MODULE_FILE}", returncode=4)


# --- positions -------------------------------------------------------------------------------
START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
AFTER_E4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1"
CASTLING = "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1"
CASTLING_BLACK = "r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1"
# Rooks on b and g: only rook-file letters name these castling rights.
ROOK_FILES = "1r2k1r1/8/8/8/8/8/8/1R2K1R1 b GBgb - 0 1"
PASSANT = "4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1"
PROMOTION = "4k3/P7/8/8/8/8/8/4K3 w - - 0 1"
FOOLS_MATE = "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3"  # White is mated
STALEMATED = "k7/8/1Q6/8/8/8/8/4K3 b - - 0 1"
NO_KINGS = "8/8/8/8/8/8/8/8 w - - 0 1"
# Castling both ways, pins, en passant and promotions everywhere at once.
KIWIPETE = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"
PROMOTIONS_AND_PINS = "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1"
# Positions that load, each with much to say, for the tests that run every function on many.
POSITIONS = [START, KIWIPETE, PROMOTIONS_AND_PINS, ROOK_FILES, PASSANT, FOOLS_MATE, STALEMATED]

# --- the module's functions ----------------------------------------------------------------
# Parameter names as the functions declare them, e.g. ("fen", "sq", "color").
PARAMETERS = {
    name: tuple(getattr(morvek_board, name).__text_signature__.strip("()").split(", "))
    for name in morvek_board.__all__
}

# Calls that answer, at least one per function, reaching both values of side_to_move's
# result, empty lists and the int of a castling exchange.
ANSWERING_CALLS = [
    ("side_to_move", (START,)),
    ("side_to_move", (CASTLING_BLACK,)),
    ("is_check", (START,)),
    ("is_check", (FOOLS_MATE,)),
    ("legal_moves", (START,)),
    ("legal_moves", (FOOLS_MATE,)),
    ("apply_uci", (START, "e2e4")),
    ("null_move_fen", (START,)),
    ("uci_to_san", (CASTLING, "e1g1")),
    ("san_to_uci", (START, "Nf3")),
    ("see_move", ("4k3/8/2p5/3n4/4P3/8/8/4K3 w - - 0 1", "e4d5")),
    ("see_move", (CASTLING, "e1g1")),
    ("attackers", (START, "f3", "white")),
    ("attackers", (START, "e4", "b")),
    ("piece_list", (START,)),
]


def value_error(function, *args):
    """The message of the ValueError that the call raises; a subclass would be a different error."""
    with pytest.raises(ValueError) as raised:
        function(*args)
    assert type(raised.value) is ValueError
    return str(raised.value)


def probe_module():
    """The test-only probe module from the build directory; the installed wheel has none."""
    if INSTALLED:
        pytest.skip("the installed wheel carries no _morvek_probe", allow_module_level=True)
    import _morvek_probe

    return _morvek_probe


class Unprintable(str):
    """A str whose str() fails."""

    def __str__(self):
        raise RuntimeError("no text")


class NamelessMeta(type):
    """A type whose __qualname__ cannot be read, for the "<failed to extract type name>" path."""

    def __getattribute__(cls, name):
        if name == "__qualname__":
            raise RuntimeError("no name")
        return super().__getattribute__(name)


class Nameless(metaclass=NamelessMeta):
    pass
