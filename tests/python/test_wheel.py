"""What pip installed from the wheel: the module, its stub package and the walker's package and
command, named for the 3.9 stable ABI, its license in the metadata, and nothing more. Runs against an installed wheel only (MORVEK_INSTALLED=1)."""

import email.parser
import pathlib
import platform
from importlib import metadata

import pytest

import morvek_board
from conftest import INSTALLED, ROOT

pytestmark = pytest.mark.skipif(not INSTALLED, reason="tests the installed wheel")


@pytest.fixture(scope="module")
def distribution():
    return metadata.distribution("morvek_board")


def headers(text):
    return email.parser.Parser().parsestr(text)


def test_wheel_holds_the_module_its_stubs_and_the_walker_only(distribution):
    payload = {
        f.as_posix()
        for f in distribution.files
        if not f.parts[0].endswith(".dist-info")
        and "__pycache__" not in f.parts
        and f.parts[0] != ".."
    }
    walker = {
        f"morvek_walk/{p.name}"
        for p in (ROOT / "morvek_walk").iterdir()
        if p.suffix in (".py", ".pyi") or p.name == "py.typed"
    }
    assert (
        payload
        == {
            "morvek_board.abi3.so",
            "morvek_board-stubs/__init__.pyi",
            "morvek_board-stubs/py.typed",
            "morvek_walk/_native.abi3.so",
        }
        | walker
    )
    assert [
        (e.name, e.value) for e in distribution.entry_points if e.group == "console_scripts"
    ] == [("morvek-walk", "morvek_walk.cli:run")]
    extras = {
        name: {
            r.split(";")[0].split(">")[0].strip()
            for r in distribution.requires or []
            if f'extra == "{name}"' in r
        }
        for name in ("walk", "parquet")
    }
    assert extras == {"walk": {"dask[distributed]", "tqdm", "zstandard"}, "parquet": {"pyarrow"}}


def test_wheel_is_named_for_the_stable_abi_of_3_9_and_manylinux2014(distribution):
    wheel = headers(distribution.read_text("WHEEL"))
    # The manylinux2014 tag in both of its spellings, for the machine it runs on.
    machine = platform.machine()
    assert sorted(wheel.get_all("Tag")) == [
        f"cp39-abi3-manylinux2014_{machine}",
        f"cp39-abi3-manylinux_2_17_{machine}",
    ]
    assert wheel["Root-Is-Purelib"] == "false"
    assert distribution.metadata["Requires-Python"] == ">=3.9"


def test_the_imported_module_is_the_installed_one(distribution):
    installed = pathlib.Path(distribution.locate_file("morvek_board.abi3.so")).resolve()
    assert pathlib.Path(morvek_board.__file__).resolve() == installed


def test_installed_stubs_are_the_sources_and_complete(distribution):
    stubs = pathlib.Path(distribution.locate_file("morvek_board-stubs"))
    assert (stubs / "__init__.pyi").read_bytes() == (ROOT / "morvek_board.pyi").read_bytes()
    # "partial" here would tell type checkers to look past the stubs.
    assert (stubs / "py.typed").read_bytes() == b""


def test_wheel_carries_its_license(distribution):
    assert distribution.metadata["License-Expression"] == "MIT"
    licenses = [
        f for f in distribution.files if f.parts[0].endswith(".dist-info") and f.name == "LICENSE"
    ]
    assert [f.read_binary() for f in licenses] == [(ROOT / "LICENSE").read_bytes()]
