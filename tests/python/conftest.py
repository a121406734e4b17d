"""Makes the one built module importable: build/morvek_board.abi3.so, or MORVEK_BUILD_DIR."""

import os
import pathlib
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("MORVEK_BUILD_DIR", ROOT / "build")).resolve()
MODULE_FILE = BUILD / "morvek_board.abi3.so"

if not MODULE_FILE.is_file():
    pytest.exit(f"{MODULE_FILE} is missing: run `make build` first", returncode=4)
sys.path.insert(0, str(BUILD))

import morvek_board  # noqa: E402

if pathlib.Path(morvek_board.__file__).resolve() != MODULE_FILE:
    pytest.exit(f"imported {morvek_board.__file__} instead of {MODULE_FILE}", returncode=4)


START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"


def value_error(function, *args):
    """The message of the ValueError that the call raises; a subclass would be a different error."""
    with pytest.raises(ValueError) as raised:
        function(*args)
    assert type(raised.value) is ValueError
    return str(raised.value)
