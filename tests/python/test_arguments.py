"""The module surface: registration, argument errors, string arguments, FEN loading."""

import os
import subprocess
import sys
import textwrap

import chess
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import morvek_board
from conftest import (
    AFTER_E4,
    ANSWERING_CALLS,
    NO_KINGS,
    PARAMETERS,
    ROOK_FILES,
    START,
    Nameless,
    Unprintable,
    probe_module,
    value_error,
)

# The surface the module must have, stated here once and read from the module everywhere else:
# every function in registration order, with its parameters and the text of its docstring
# after the signature (None: no text, so __doc__ is None).
SURFACE = {
    "piece_list": (
        ("fen",),
        '[(square, piece, color)] for every piece, e.g. ("e5", "N", "black").',
    ),
    "legal_moves": (("fen",), 'Legal moves in standard UCI ("e1g1" for castling).'),
    "attackers": (
        ("fen", "sq", "color"),
        "Squares of `color` pieces attacking `sq` (full occupancy).",
    ),
    "apply_uci": (("fen", "uci"), "New FEN after playing a standard-UCI move."),
    "uci_to_san": (("fen", "uci"), None),
    "san_to_uci": (("fen", "san"), None),
    "see_move": (
        ("fen", "uci"),
        "Static exchange evaluation of a standard-UCI move, in centipawns\n"
        "(positive = good for the mover).",
    ),
    "null_move_fen": (
        ("fen",),
        "FEN with the side to move flipped (null move), or error if in check.\n"
        "Used by the null-move threat probe.",
    ),
    "is_check": (("fen",), None),
    "side_to_move": (("fen",), None),
}


def call(name, *args, **kwargs):
    return getattr(morvek_board, name)(*args, **kwargs)


def type_error(name, *args, **kwargs):
    with pytest.raises(TypeError) as raised:
        call(name, *args, **kwargs)
    assert type(raised.value) is TypeError
    return str(raised.value)


# --- the module and its table ------------------------------------------------------------


def test_all_lists_the_functions_in_registration_order():
    assert morvek_board.__all__ == list(SURFACE)


def test_only_registered_functions_are_public():
    public = sorted(name for name in dir(morvek_board) if not name.startswith("_"))
    assert public == sorted(morvek_board.__all__)


def test_module_docstring_is_empty_text():
    assert morvek_board.__doc__ == ""


@pytest.mark.parametrize("name", morvek_board.__all__)
def test_function_identity_and_docstring(name):
    parameters, text = SURFACE[name]
    function = getattr(morvek_board, name)
    assert function.__name__ == name
    assert function.__module__ == "morvek_board"
    assert function.__self__ is morvek_board
    assert function.__doc__ == text
    assert function.__text_signature__ == "(" + ", ".join(parameters) + ")"


def test_importing_again_gives_the_same_module():
    first = sys.modules.pop("morvek_board")
    try:
        import morvek_board as again

        assert again is first
        assert again.__all__ == list(SURFACE)
    finally:
        sys.modules["morvek_board"] = first


def test_calls_come_in_the_fastest_form_the_interpreter_offers():
    """The vector calling convention and the direct UTF-8 reader from 3.10 on, where the
    interpreter's stable ABI has them; the tuple and dict before. The argument tests of this
    file then hold both forms to the same messages, each under its interpreters."""
    probe = probe_module()
    newer = sys.version_info >= (3, 10)
    assert probe.conventions() == (newer, newer)


def test_sub_interpreter_import_is_refused():
    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "run_in_subinterp"):
        pytest.skip("no run_in_subinterp")
    build = os.path.dirname(morvek_board.__file__)
    inner = textwrap.dedent(
        f"""
        import os, sys
        sys.path.insert(0, {build!r})
        for _ in range(2):
            try:
                import morvek_board
                os.write(1, b"imported\\n")
            except ImportError as e:
                os.write(1, (type(e).__name__ + ": " + str(e) + "\\n").encode())
        """
    )
    outer = f"import sys; sys.path.insert(0, {build!r}); import morvek_board, _testcapi; _testcapi.run_in_subinterp({inner!r})"
    result = subprocess.run(
        [sys.executable, "-c", outer], capture_output=True, text=True, timeout=60
    )
    assert result.returncode == 0, result.stderr
    message = (
        "ImportError: morvek_board does not support sub-interpreters: "
        "it was first initialised by another interpreter of this process"
    )
    assert result.stdout.splitlines() == [message, message]


# Runs in a fresh process: the interpreters of ORDER ("main", or a sub-interpreter of the
# "isolated" or "legacy" configuration, whichever the running CPython can make) each try to
# import the module twice, in that order, and write how it went; at the end, with every
# sub-interpreter gone, the main interpreter tries once more. A refused sub-interpreter lives
# on until then, so it is still there when the next one asks. The interpreter itself refuses
# single-phase modules in isolated sub-interpreters (3.12 on); the legacy ones reach the
# module's own check.
ATTEMPT = """
import os, sys
sys.path.insert(0, BUILD)

def attempt(config):
    sys.modules.pop("morvek_board", None)  # so that the import calls the module's init again
    try:
        import morvek_board as mb
        outcome = "imported " + repr([getattr(mb, name)(*args) for name, args in CALLS])
    except ImportError as e:
        outcome = type(e).__name__ + ": " + str(e)
    os.write(OUT, (config + " " + outcome + "\\n").encode())
"""
SUB_INTERPRETERS = """
import os
read, OUT = os.pipe()
exec(ATTEMPT)
try:
    import _interpreters as interpreters
    configs = {"isolated": lambda: interpreters.create(), "legacy": lambda: interpreters.create("legacy")}
except ImportError:
    import _xxsubinterpreters as interpreters
    try:
        interpreters.destroy(interpreters.create(isolated=False))
        configs = {"isolated": lambda: interpreters.create(), "legacy": lambda: interpreters.create(isolated=False)}
    except TypeError:  # before 3.12 every sub-interpreter is a legacy one
        configs = {"legacy": lambda: interpreters.create()}
os.write(OUT, ("made " + " ".join(configs) + "\\n").encode())

alive = []
for config in ORDER:
    if config == "main":
        attempt("main")
        attempt("main")
    elif config in configs:
        alive.append(configs[config]())
        setup = "BUILD, OUT, CALLS, ATTEMPT = %r, %d, %r, %r\\nexec(ATTEMPT)\\n" % (BUILD, OUT, CALLS, ATTEMPT)
        interpreters.run_string(alive[-1], setup + "attempt(%r)\\nattempt(%r)\\n" % (config, config))
for interpreter in alive:
    interpreters.destroy(interpreter)
attempt("main")
os.close(OUT)
with os.fdopen(read) as lines:
    sys.stdout.write(lines.read())
"""
OWN_REFUSAL = (
    "ImportError: morvek_board does not support sub-interpreters: "
    "it was first initialised by another interpreter of this process"
)


@pytest.mark.parametrize(
    "order",
    [
        ("main", "legacy", "isolated"),
        ("isolated", "main", "legacy"),
        ("legacy", "isolated", "main"),
        ("isolated", "legacy", "main"),
    ],
    ids="-".join,
)
def test_the_first_interpreter_that_gets_the_module_owns_it(order):
    if sys.version_info < (3, 13):
        pytest.importorskip("_xxsubinterpreters")
    else:
        pytest.importorskip("_interpreters")
    build = os.path.dirname(morvek_board.__file__)
    program = (
        f"BUILD = {build!r}\nORDER = {order!r}\nCALLS = {ANSWERING_CALLS!r}\nATTEMPT = {ATTEMPT!r}\n"
        + SUB_INTERPRETERS
    )
    result = subprocess.run(
        [sys.executable, "-c", program], capture_output=True, text=True, timeout=120
    )
    assert result.returncode == 0, result.stderr
    (_, made), *lines = [line.split(" ", 1) for line in result.stdout.splitlines()]
    tried = [config for config in order if config == "main" or config in made.split()]
    assert [config for config, _ in lines] == [config for config in tried for _ in (0, 1)] + [
        "main"
    ]
    # From 3.12 on an isolated sub-interpreter never gets a single-phase module (before, the
    # configuration does not reach extension modules), and from 3.13 on the interpreter runs
    # the init of a sub-interpreter's first import in the main interpreter, so the module is
    # made there first. Before that, a sub-interpreter that asks first gets it.
    refused = {"isolated"} if sys.version_info >= (3, 12) else set()
    owner = "main" if sys.version_info >= (3, 13) else next(c for c in tried if c not in refused)
    answers = repr([getattr(morvek_board, name)(*args) for name, args in ANSWERING_CALLS])
    for config, outcome in lines:
        if config == owner:
            assert outcome == "imported " + answers
        elif config not in refused:
            assert outcome == OWN_REFUSAL
        else:
            assert outcome.startswith("ImportError: ")


# 3.14's everyday sub-interpreters: pool workers and interpreters of concurrent.interpreters,
# all isolated ones. The callables they run must be importable there by name, hence the helper
# module on PYTHONPATH, which every interpreter of the process reads.
POOL_HELPER = """
def attempt():
    try:
        import morvek_board
    except ImportError as e:
        return type(e).__name__ + ": " + str(e)
    return "imported " + morvek_board.side_to_move(%r)
"""
POOL = """
import sys
sys.path.insert(0, BUILD)
from concurrent import interpreters
from concurrent.futures import InterpreterPoolExecutor
import pool_helper
if MAIN_FIRST:
    import morvek_board
with InterpreterPoolExecutor(max_workers=2) as pool:
    futures = [pool.submit(pool_helper.attempt) for _ in range(4)]
    print("\\n".join(future.result() for future in futures))
interpreter = interpreters.create()
print(interpreter.call(pool_helper.attempt))
interpreter.close()
print(pool_helper.attempt())
"""


@pytest.mark.parametrize("main_first", [True, False], ids=["main-first", "workers-first"])
def test_pool_workers_get_the_import_error_and_main_keeps_working(main_first, tmp_path):
    pytest.importorskip("concurrent.interpreters")
    (tmp_path / "pool_helper.py").write_text(POOL_HELPER % START)
    build = os.path.dirname(morvek_board.__file__)
    program = f"BUILD = {build!r}\nMAIN_FIRST = {main_first}\n" + POOL
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(tmp_path), build]))
    result = subprocess.run(
        [sys.executable, "-c", program], capture_output=True, text=True, timeout=120, env=env
    )
    assert result.returncode == 0, result.stderr
    *workers, main = result.stdout.splitlines()
    assert len(workers) == 5
    for outcome in workers:
        assert (
            outcome
            == "ImportError: module morvek_board does not support loading in subinterpreters"
        )
    assert main == "imported white"


# --- argument extraction -----------------------------------------------------------------

MISSING = [
    ("side_to_move", (), {}, "side_to_move() missing 1 required positional argument: 'fen'"),
    ("is_check", (), {}, "is_check() missing 1 required positional argument: 'fen'"),
    ("legal_moves", (), {}, "legal_moves() missing 1 required positional argument: 'fen'"),
    ("apply_uci", (), {"uci": "e2e4"}, "apply_uci() missing 1 required positional argument: 'fen'"),
    ("apply_uci", (), {}, "apply_uci() missing 2 required positional arguments: 'fen' and 'uci'"),
    ("san_to_uci", (START,), {}, "san_to_uci() missing 1 required positional argument: 'san'"),
    (
        "attackers",
        (),
        {},
        "attackers() missing 3 required positional arguments: 'fen', 'sq', and 'color'",
    ),
    (
        "attackers",
        (),
        {"sq": "e4"},
        "attackers() missing 2 required positional arguments: 'fen' and 'color'",
    ),
    (
        "attackers",
        (START,),
        {"color": "white"},
        "attackers() missing 1 required positional argument: 'sq'",
    ),
]


@pytest.mark.parametrize("name, args, kwargs, message", MISSING)
def test_missing_arguments_are_listed_in_parameter_order(name, args, kwargs, message):
    assert type_error(name, *args, **kwargs) == message


@pytest.mark.parametrize("extra", [1, 2])
@pytest.mark.parametrize("name", morvek_board.__all__)
def test_too_many_positional_arguments(name, extra):
    count = len(PARAMETERS[name])
    message = type_error(name, *["x"] * (count + extra))
    assert message == f"{name}() takes {count} positional arguments but {count + extra} were given"


@pytest.mark.parametrize("name", morvek_board.__all__)
def test_too_many_positional_arguments_is_reported_before_keywords(name):
    count = len(PARAMETERS[name])
    message = type_error(name, *["x"] * (count + 1), bogus=1)
    assert message == f"{name}() takes {count} positional arguments but {count + 1} were given"


@pytest.mark.parametrize("name", morvek_board.__all__)
def test_keyword_repeating_a_positional_argument(name):
    parameters = PARAMETERS[name]
    for parameter in parameters:
        message = type_error(name, *["x"] * len(parameters), **{parameter: "y"})
        assert message == f"{name}() got multiple values for argument '{parameter}'"


class Shown(str):
    def __str__(self):
        return "shown"


UNEXPECTED = [
    ("move", "'move'"),
    ("FEN", "'FEN'"),  # names compare exactly, case included
    ("fen ", "'fen '"),
    ("\udc80", "'\udc80'"),  # not encodable as UTF-8: matches nothing
    (Shown("bogus"), "'shown'"),  # rendered with str()
    (Unprintable("bogus"), "'<unprintable Unprintable object>'"),
]


@pytest.mark.parametrize("key, shown", UNEXPECTED)
@pytest.mark.parametrize("name", morvek_board.__all__)
def test_unexpected_keyword(name, key, shown):
    message = type_error(name, "not a fen", **{key: "x"})
    assert message == f"{name}() got an unexpected keyword argument {shown}"


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        # The keyword dictionary is walked in its own order: the first offending key counts.
        (
            ("x",),
            {"bogus": 1, "fen": "y"},
            "side_to_move() got an unexpected keyword argument 'bogus'",
        ),
        (("x",), {"fen": "y", "bogus": 1}, "side_to_move() got multiple values for argument 'fen'"),
        # Keywords are checked before missing arguments and before any value is looked at.
        ((), {"bogus": 1}, "side_to_move() got an unexpected keyword argument 'bogus'"),
        ((None,), {"bogus": 1}, "side_to_move() got an unexpected keyword argument 'bogus'"),
    ],
)
def test_order_of_argument_errors(args, kwargs, message):
    assert type_error("side_to_move", *args, **kwargs) == message


def test_str_subclass_key_names_a_parameter():
    assert morvek_board.side_to_move(**{Shown("fen"): START}) == "white"


# --- string arguments --------------------------------------------------------------------


class Outer:
    class Inner:
        pass


NOT_STRINGS = [
    (None, "NoneType"),
    (1, "int"),
    (b"fen", "bytes"),
    (["fen"], "list"),
    (Outer.Inner(), "Outer.Inner"),  # the qualified name, not __name__
    (Nameless(), "<failed to extract type name>"),
]


@pytest.mark.parametrize("value, type_name", NOT_STRINGS)
@pytest.mark.parametrize("name", morvek_board.__all__)
def test_non_string_argument_names_the_first_bad_parameter(name, value, type_name):
    parameters = PARAMETERS[name]
    for i, parameter in enumerate(parameters):
        # Later arguments are bad too: only the first failing one is reported.
        args = [START] * i + [value] * (len(parameters) - i)
        assert type_error(name, *args) == (
            f"argument '{parameter}': '{type_name}' object cannot be converted to 'PyString'"
        )


@pytest.mark.parametrize("name", morvek_board.__all__)
def test_non_string_argument_has_no_cause(name):
    with pytest.raises(TypeError) as raised:
        call(name, *[1] * len(PARAMETERS[name]))
    assert raised.value.__cause__ is None


class Text(str):
    def __str__(self):
        return NO_KINGS

    def encode(self, *args, **kwargs):
        return b"garbage"


@pytest.mark.parametrize("fen, side", [(Text(START), "white"), (Text(AFTER_E4), "black")])
def test_str_subclass_is_read_by_its_characters(fen, side):
    assert morvek_board.side_to_move(fen) == side
    assert morvek_board.side_to_move(fen=fen) == side


@pytest.mark.parametrize("fen", ["\udc80", START + "\ud800", START.replace("KQkq", "K\udfffkq")])
def test_lone_surrogate_is_the_interpreters_encode_error(fen):
    with pytest.raises(ValueError) as raised:
        morvek_board.side_to_move(fen)
    assert type(raised.value) is UnicodeEncodeError
    assert raised.value.reason == "surrogates not allowed"


# --- parse_board -------------------------------------------------------------------------

BAD_FENS = [
    (NO_KINGS, "InvalidBoard"),
    ("", "InvalidBoard"),
    (" " + START, "InvalidBoard"),
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR/8 w KQkq - 0 1", "InvalidBoard"),
    # A board that is refused is not read again, whatever its castling field says.
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBN1R w HAha - 0 1", "InvalidBoard"),
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR x KQkq - 0 1", "InvalidSideToMove"),
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR W KQkq - 0 1", "InvalidSideToMove"),
    # Refused in standard letters, and K is no file letter: the second reading fails alike.
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkqX - 0 1", "InvalidCastlingRights"),
    ("rnbqkbnr/pppppppp/8/8/8/4K3/PPPPPPPP/RNBQ1BNR w KQkq - 0 1", "InvalidCastlingRights"),
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAhaH - 0 1", "InvalidCastlingRights"),
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq e3 0 1", "InvalidEnPassant"),
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 101 1", "InvalidHalfMoveClock"),
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 0", "InvalidFullmoveNumber"),
    (START + "\x00", "InvalidFullmoveNumber"),  # the text is not cut at a NUL
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0", "MissingField"),
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w", "MissingField"),
    (START + " ", "TooManyFields"),
    # Refused by both readings: the second reading's error is the one reported.
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha e9 0 1", "InvalidEnPassant"),
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - x 1", "InvalidHalfMoveClock"),
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1 x", "TooManyFields"),
    ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha -", "MissingField"),
    # Kings on neighbouring squares are refused, after every other board check.
    ("8/8/8/8/8/8/8/Kk6 w - - 0 1", "InvalidBoard"),
    ("8/8/8/8/8/8/1k6/K7 b - - 0 1", "InvalidBoard"),
    ("8/8/8/3k4/3K4/8/8/8 w - - 0 1", "InvalidBoard"),
    ("8/8/8/8/8/8/8/Kk6 x - - 0 1", "InvalidSideToMove"),
]


@pytest.mark.parametrize("fen, variant", BAD_FENS)
def test_bad_fen_names_the_variant(fen, variant):
    assert value_error(morvek_board.side_to_move, fen) == f"bad FEN: {variant}"


@pytest.mark.parametrize("name", morvek_board.__all__)
def test_bad_fen_is_reported_by_every_function(name):
    others = ["?"] * (len(PARAMETERS[name]) - 1)
    assert value_error(getattr(morvek_board, name), NO_KINGS, *others) == "bad FEN: InvalidBoard"


@pytest.mark.parametrize(
    "fen, side",
    [
        (START, "white"),
        (AFTER_E4, "black"),
        # Rook-file castling letters load through the second reading.
        ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1", "white"),
        ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b Hh - 0 1", "black"),
        (ROOK_FILES, "black"),
        # An empty castling field, kings two squares apart, the field limits.
        ("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w  - 0 1", "white"),
        ("8/8/8/8/8/8/8/K1k5 b - - 100 65535", "black"),
        ("8/8/8/8/8/8/8/K1k5 w - - +7 007", "white"),
    ],
)
def test_side_to_move(fen, side):
    assert morvek_board.side_to_move(fen) == side
    assert morvek_board.side_to_move(fen=fen) == side


@settings(max_examples=60, deadline=None)
@given(st.lists(st.integers(min_value=0, max_value=10_000), max_size=40))
def test_side_to_move_agrees_with_an_independent_reader(choices):
    board = chess.Board()
    for choice in choices:
        moves = list(board.legal_moves)
        if not moves:
            break
        board.push(moves[choice % len(moves)])
    expected = "white" if board.turn == chess.WHITE else "black"
    assert morvek_board.side_to_move(board.fen()) == expected
