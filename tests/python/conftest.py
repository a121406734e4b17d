"""Makes the one built module importable: build/morvek_board.abi3.so, or MORVEK_BUILD_DIR."""

import os
import pathlib
import sys
import sysconfig

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("MORVEK_BUILD_DIR", ROOT / "build")).resolve()
MODULE_FILE = BUILD / "morvek_board.abi3.so"

# --- installed wheel -------------------------------------------------------------------------
# With MORVEK_INSTALLED=1 (tools/wheel.sh) the tests import the copy that pip installed into
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


START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"


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


class NamelessMeta(type):
    """A type whose __qualname__ cannot be read, for the "<failed to extract type name>" path."""

    def __getattribute__(cls, name):
        if name == "__qualname__":
            raise RuntimeError("no name")
        return super().__getattribute__(name)


class Nameless(metaclass=NamelessMeta):
    pass
