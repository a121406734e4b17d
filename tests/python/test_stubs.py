"""The type stubs describe the module as it is: names, parameters, docstrings and the types of
real results; and mypy, reading them from the installed wheel, accepts the examples in strict
mode and reports wrong calls."""

import ast
import inspect
import pathlib
import re
import sys
import typing

import pytest

import morvek_board
from conftest import ANSWERING_CALLS, INSTALLED, MODULE_FILE, ROOT, START

# The stub the wheel installed, or its source at the project root beside a build directory.
if INSTALLED:
    STUB = MODULE_FILE.parent / "morvek_board-stubs" / "__init__.pyi"
else:
    STUB = ROOT / "morvek_board.pyi"
TREE = ast.parse(STUB.read_text(encoding="utf-8"), filename=str(STUB))
DEFINITIONS = {node.name: node for node in TREE.body if isinstance(node, ast.FunctionDef)}


def stub_all():
    for node in TREE.body:
        if isinstance(node, ast.Assign) and [getattr(t, "id", None) for t in node.targets] == [
            "__all__"
        ]:
            return ast.literal_eval(node.value)
    return None


def declared_result(name):
    """The stub's result annotation as a runtime object, such as list[tuple[str, str, str]]."""
    expression = ast.Expression(DEFINITIONS[name].returns)
    return eval(compile(expression, str(STUB), "eval"), {"Literal": typing.Literal})


def conforms(value, annotation):
    """Whether the value has exactly the declared type; bool does not pass for int."""
    origin, args = typing.get_origin(annotation), typing.get_args(annotation)
    if origin is typing.Literal:
        return any(type(value) is type(a) and value == a for a in args)
    if origin is list:
        return type(value) is list and all(conforms(item, args[0]) for item in value)
    if origin is tuple:
        return type(value) is tuple and len(value) == len(args) and all(map(conforms, value, args))
    return type(value) is annotation


# --- the stub against the module --------------------------------------------------------


def test_stub_declares_exactly_the_modules_functions_in_order():
    assert stub_all() == morvek_board.__all__
    assert list(DEFINITIONS) == morvek_board.__all__


@pytest.mark.parametrize("name", morvek_board.__all__)
def test_stub_parameters_are_the_modules(name):
    arguments = DEFINITIONS[name].args
    runtime = inspect.signature(getattr(morvek_board, name)).parameters.values()
    assert [a.arg for a in arguments.args] == [p.name for p in runtime]
    assert {p.kind for p in runtime} == {inspect.Parameter.POSITIONAL_OR_KEYWORD}
    # Positional or keyword, all required, all str, and nothing else.
    assert not (arguments.posonlyargs or arguments.kwonlyargs)
    assert not (arguments.vararg or arguments.kwarg)
    assert not (arguments.defaults or arguments.kw_defaults)
    assert all(ast.unparse(a.annotation) == "str" for a in arguments.args)


@pytest.mark.parametrize("name", morvek_board.__all__)
def test_stub_docstring_is_the_modules(name):
    assert ast.get_docstring(DEFINITIONS[name]) == getattr(morvek_board, name).__doc__


def test_every_function_has_a_result_check():
    assert {name for name, _ in ANSWERING_CALLS} == set(morvek_board.__all__)


@pytest.mark.parametrize("name, args", ANSWERING_CALLS)
def test_results_have_the_declared_types(name, args):
    result = getattr(morvek_board, name)(*args)
    assert conforms(result, declared_result(name)), (result, ast.unparse(DEFINITIONS[name].returns))


# --- mypy against the installed wheel ------------------------------------------------------

# Type-checked only, never run: assert_type fails the check when a declared result differs.
ACCEPTED = f"""
from typing import Literal

from typing_extensions import assert_type

import morvek_board as mb
from morvek_board import attackers

fen = {START!r}
assert_type(mb.side_to_move(fen), Literal["white", "black"])
assert_type(mb.is_check(fen=fen), bool)
assert_type(mb.legal_moves(fen), list[str])
assert_type(mb.apply_uci(fen, uci="e2e4"), str)
assert_type(mb.null_move_fen(fen), str)
assert_type(mb.uci_to_san(fen, "g1f3"), str)
assert_type(mb.san_to_uci(san="Nf3", fen=fen), str)
assert_type(mb.see_move(fen, "e2e4"), int)
assert_type(attackers(fen, sq="f3", color="white"), list[str])
assert_type(mb.piece_list(fen), list[tuple[str, str, str]])

import morvek_walk

walked = morvek_walk.walk("games/", columns=["fen", "san"], tags=["White"], where=["WhiteElo>2000"])
assert_type(walked, morvek_walk.Walk)
assert_type(walked.problems, list[tuple[str, int, int, str, str, str]])
assert_type(walked.games, int)
"""

# Each wrong line names the error code that mypy must report for it, and no other line may
# draw one.
REJECTED = f"""
import morvek_board as mb

fen = {START!r}
mb.is_check(1)  # expect: arg-type
mb.apply_uci(fen, b"e2e4")  # expect: arg-type
mb.attackers(fen, "e4", colour="white")  # expect: call-arg
mb.legal_moves()  # expect: call-arg
mb.san_to_uci(fen, "Nf3", "e4")  # expect: call-arg
side: int = mb.side_to_move(fen)  # expect: assignment
red = mb.side_to_move(fen) == "red"  # expect: comparison-overlap
square, letter = mb.piece_list(fen)[0]  # expect: misc
total = mb.see_move(fen, "e2e4") + "cp"  # expect: operator
mb.perft(fen, 3)  # expect: attr-defined
import morvek_walk
morvek_walk.walk("games/", jobs="2")  # expect: arg-type
"""
EXPECTED = re.compile(r"#\s*expect:\s*([a-z-]+)")
REPORTED = re.compile(r"^(?P<file>.+?):(?P<line>\d+): error: .*\[(?P<code>[a-z-]+)\]$")


@pytest.fixture(scope="module")
def mypy_errors(tmp_path_factory):
    """mypy --strict over the examples and the two snippets, as a user's mypy sees the wheel.

    It runs in an empty directory, so the source stub at the project root cannot stand in for
    the installed one. Returns {file name: [(line, code), ...]}.
    """
    from mypy import api

    work = tmp_path_factory.mktemp("mypy")
    (work / "accepted.py").write_text(ACCEPTED, encoding="utf-8")
    (work / "rejected.py").write_text(REJECTED, encoding="utf-8")
    examples = ROOT / "examples"
    files = [examples / "demo.py", examples / "quick_tour.py"]
    files += [work / "accepted.py", work / "rejected.py"]
    with pytest.MonkeyPatch.context() as patch:
        patch.chdir(work)
        stdout, stderr, _status = api.run(
            [
                "--strict",
                "--python-version",
                "3.9",
                "--python-executable",
                sys.executable,
                "--cache-dir",
                str(work / "cache"),
                "--show-error-codes",
                "--no-pretty",
                "--no-error-summary",
                *map(str, files),
            ]
        )
    assert not stderr, stderr
    errors = {path.name: [] for path in files}
    for line in stdout.splitlines():
        if ": note: " in line:
            continue
        match = REPORTED.match(line)
        assert match, f"unexpected mypy output: {line}"
        errors[pathlib.Path(match["file"]).name].append((int(match["line"]), match["code"]))
    return errors


needs_wheel = pytest.mark.skipif(not INSTALLED, reason="the type checks read the installed wheel")


@needs_wheel
@pytest.mark.parametrize("name", ["demo.py", "quick_tour.py", "accepted.py"])
def test_strict_mypy_accepts(mypy_errors, name):
    assert mypy_errors[name] == []


@needs_wheel
def test_mypy_reports_each_wrong_call(mypy_errors):
    expected = [
        (number, EXPECTED.search(line)[1])
        for number, line in enumerate(REJECTED.splitlines(), start=1)
        if EXPECTED.search(line)
    ]
    assert len(expected) == 11
    assert sorted(mypy_errors["rejected.py"]) == expected


@needs_wheel
def test_mypy_holds_the_installed_walker_to_its_native_stub(tmp_path):
    """The installed walker checked by mypy against the stub of its native module, so that the
    two cannot drift apart (the optional packages it imports are not needed for this)."""
    from mypy import api

    stdout, stderr, status = api.run(
        ["--python-version", "3.9", "--python-executable", sys.executable,
         "--ignore-missing-imports", "--cache-dir", str(tmp_path / "cache"), "--show-error-codes",
         "--no-error-summary", "-p", "morvek_walk"]
    )  # fmt: skip
    assert (status, stdout, stderr) == (0, "", "")
