"""Hostile input: whatever a caller passes, every function answers well formed or raises
TypeError or ValueError (UnicodeEncodeError included), with its exact message, and promptly."""

import os
import re
import time

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import morvek_board
from conftest import PARAMETERS, POSITIONS, START, value_error

FEN_NAMES = (
    "InvalidBoard InvalidSideToMove InvalidCastlingRights InvalidEnPassant InvalidHalfMoveClock "
    "InvalidFullmoveNumber MissingField TooManyFields"
).split()

UCI = re.compile(r"[a-h][1-8][a-h][1-8][nbrq]?")
SQUARE = re.compile(r"[a-h][1-8]")
SAN = re.compile(r"(O-O|O-O-O|[NBRQK][a-h]?[1-8]?x?[a-h][1-8]|([a-h]x)?[a-h][1-8](=[NBRQ])?)[+#]?")
FEN = re.compile(
    r"([1-8pnbrqkPNBRQK]+/){7}[1-8pnbrqkPNBRQK]+ [wb] (-|K?Q?k?q?|[A-H]{0,2}[a-h]{0,2}) (-|[a-h][36]) \d+ \d+"
)


def square_index(square):
    return (int(square[1]) - 1) * 8 + "abcdefgh".index(square[0])


def rising(squares):
    indices = [square_index(s) for s in squares]
    return indices == sorted(set(indices))


def written_fen(text):
    if type(text) is not str or not FEN.fullmatch(text) or not text.strip():
        return False
    ranks = text.split(" ")[0].split("/")
    if not all(sum(int(c) if c.isdigit() else 1 for c in rank) == 8 for rank in ranks):
        return False
    # What the module returns it must read again; a refusal raises here.
    morvek_board.is_check(text)
    return True


def well_formed(name, args, result):
    """Whether `result` has the form the function promises for these (loadable) arguments."""
    fen = args[0]
    if name == "side_to_move":
        return result in ("white", "black")
    if name == "is_check":
        return type(result) is bool
    if name == "legal_moves":
        return type(result) is list and all(type(m) is str and UCI.fullmatch(m) for m in result)
    if name in ("apply_uci", "null_move_fen"):
        return written_fen(result)
    if name == "uci_to_san":
        return type(result) is str and SAN.fullmatch(result) is not None
    if name == "san_to_uci":
        return type(result) is str and result in morvek_board.legal_moves(fen)
    if name == "see_move":
        return type(result) is int and result % 100 == 0
    if name == "attackers":
        return type(result) is list and all(SQUARE.fullmatch(s) for s in result) and rising(result)
    if name == "piece_list":
        return (
            type(result) is list
            and 2 <= len(result) <= 32
            and all(
                type(p) is tuple
                and len(p) == 3
                and SQUARE.fullmatch(p[0])
                and p[1] in "PNBRQK"
                and len(p[1]) == 1
                and p[2] in ("white", "black")
                for p in result
            )
            and rising([p[0] for p in result])
        )
    raise AssertionError(f"no form known for {name}")


def refusals(name, args):
    """Every ValueError message the function may give for these texts."""
    fen_messages = {f"bad FEN: {variant}" for variant in FEN_NAMES}
    if name == "null_move_fen":
        return fen_messages | {"null move illegal (in check)"}
    if name in ("apply_uci", "uci_to_san", "see_move"):
        uci = args[1]
        illegal = (
            f"illegal move {uci}: IllegalMoveError"
            if name == "apply_uci"
            else f"illegal move: {uci}"
        )
        return fen_messages | {f"bad move {uci}: MoveParseError", illegal}
    if name == "san_to_uci":
        return fen_messages | {f"no legal move matches SAN '{args[1]}'"}
    if name == "attackers":
        return fen_messages | {f"bad square: {args[1]}", f"bad color: {args[2]} (use white|black)"}
    return fen_messages


def encodable(text):
    try:
        str.encode(text)  # not a subclass's own encode()
        return True
    except UnicodeEncodeError:
        return False


def fen_refusal(fen):
    """The message every function gives for this FEN, or None when it loads: side_to_move
    fails on nothing else."""
    try:
        morvek_board.side_to_move(fen)
        return None
    except ValueError as error:
        return str(error)


def attackers_refusal(sq, color):
    """The refusal attackers owes a loadable FEN with these texts: the square is read first."""
    if not SQUARE.fullmatch(sq) or len(sq) != 2:
        return f"bad square: {sq}"
    if color not in ("white", "w", "black", "b"):
        return f"bad color: {color} (use white|black)"
    return None


def check_text_call(name, args, by_keyword=False):
    """Calls with str arguments only, by position or by keyword: a well-formed answer or one
    of the promised errors. Returns the answer or the error."""
    function = getattr(morvek_board, name)
    try:
        if by_keyword:
            result = function(**dict(zip(PARAMETERS[name], args)))
        else:
            result = function(*args)
    except UnicodeEncodeError as error:
        assert not all(encodable(a) for a in args), error
        assert error.reason == "surrogates not allowed"
        return error
    except ValueError as error:
        assert type(error) is ValueError
        plain = [str.__str__(a) for a in args]
        message = str(error)
        assert message in refusals(name, plain)
        # The FEN is read before the other arguments, by every function alike.
        fen_error = fen_refusal(plain[0])
        if fen_error is not None:
            assert message == fen_error
        else:
            assert not message.startswith("bad FEN: ")
            if name == "attackers":
                assert message == attackers_refusal(*plain[1:])
        return error
    assert fen_refusal(args[0]) is None
    if name == "attackers":
        assert attackers_refusal(*[str.__str__(a) for a in args[1:]]) is None
    assert well_formed(name, args, result), (name, args, result)
    return result


def same_outcome(a, b):
    if isinstance(a, BaseException) or isinstance(b, BaseException):
        return type(a) is type(b) and str(a) == str(b)
    return a == b


# --- strategies ------------------------------------------------------------------------------

# Every code point, lone surrogates included.
any_text = st.text(st.characters(blacklist_categories=()), max_size=40)

FEN_TOKENS = list("pnbrqkPNBRQK12345678/ wb-+0KQkqHAhae3") + [
    "8/",
    "/8",
    " w ",
    " b ",
    " KQkq ",
    " - ",
    " 0 1",
    "e3",
    "d6",
    "100",
    "65535",
    "\x00",
    "\t",
    "\u3000",
    "é",
]


@st.composite
def fen_like(draw):
    """Texts near real FENs, so that the readers' later fields get reached too."""
    kind = draw(st.integers(0, 3))
    if kind == 0:
        return draw(any_text)
    if kind == 1:
        return "".join(draw(st.lists(st.sampled_from(FEN_TOKENS), max_size=30)))
    base = draw(st.sampled_from(POSITIONS))
    if kind == 2:
        return base
    # One edit: a slice of a real FEN replaced by other text.
    start = draw(st.integers(0, len(base)))
    end = draw(st.integers(start, len(base)))
    middle = draw(st.one_of(any_text, st.sampled_from(FEN_TOKENS)))
    return base[:start] + middle + base[end:]


MOVE_PIECES = [
    "a",
    "e",
    "h",
    "1",
    "2",
    "7",
    "8",
    "g",
    "c",
    "q",
    "n",
    "k",
    "p",
    "Q",
    " ",
    "\x00",
    "é",
    "\udc80",
]
move_like = st.one_of(
    any_text,
    st.lists(st.sampled_from(MOVE_PIECES), max_size=7).map("".join),
    st.sampled_from(
        ["e2e4", "e1g1", "e1h1", "e8c8", "b7a8q", "a7a8n", "e5d6", "g1f3", "e2e4 ", "e7e8k"]
    ),
)
san_like = st.one_of(
    any_text,
    st.sampled_from(
        ["Nf3", "e4", "O-O", "0-0-0", "exd6 e.p.", "a8=Q+", "Qh4#", " Nf3!? ", "Ka7", "bxa1=Q"]
    ),
)
square_like = st.one_of(
    any_text, st.sampled_from(["e4", "a1", "h8", "E4", "e9", "e", "e44", "f3\x00"])
)
color_like = st.one_of(
    any_text, st.sampled_from(["white", "black", "w", "b", "White", " white", "wh", ""])
)
OTHER_TEXTS = {"uci": move_like, "san": san_like, "sq": square_like, "color": color_like}


class Text(str):
    """A str subclass with its own str() and encode(): the characters are what count."""

    def __str__(self):
        return "e2e4"

    def encode(self, *args, **kwargs):
        return b"garbage"


class Hostile:
    """An object whose every comparison, conversion and hash misbehaves."""

    def __eq__(self, other):
        raise RuntimeError("compared")

    __hash__ = None

    def __str__(self):
        raise RuntimeError("converted")

    __repr__ = __index__ = __str__


not_text = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(),
    st.floats(allow_nan=True),
    st.binary(max_size=8),
    st.binary(max_size=8).map(bytearray),
    st.lists(st.text(max_size=3), max_size=3),
    st.tuples(st.text(max_size=3)),
    st.dictionaries(st.text(max_size=3), st.integers(), max_size=2),
    st.sampled_from(
        [str, object, morvek_board, morvek_board.side_to_move, Ellipsis, NotImplemented, 1j]
    ),
    st.builds(Hostile),
    st.builds(object),
)
any_value = st.one_of(not_text, any_text, fen_like(), any_text.map(Text))

# A few dozen examples per function in the ordinary run; MORVEK_HOSTILE_EXAMPLES asks for more.
EXAMPLES = int(os.environ.get("MORVEK_HOSTILE_EXAMPLES", "40"))
hostile = settings(
    max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow]
)


# --- any text ----------------------------------------------------------------------------------


@pytest.mark.parametrize("name", morvek_board.__all__)
@hostile
@given(data=st.data())
def test_any_text_gives_an_answer_or_a_promised_error(name, data):
    args = [data.draw(fen_like(), label="fen")]
    args += [data.draw(OTHER_TEXTS[p], label=p) for p in PARAMETERS[name][1:]]
    positional = check_text_call(name, args)
    by_keyword = check_text_call(name, args, by_keyword=True)
    assert same_outcome(positional, by_keyword)


@pytest.mark.parametrize("name", morvek_board.__all__)
@hostile
@given(data=st.data())
def test_texts_around_real_positions(name, data):
    # Every position loads, so the other arguments' readers always run.
    args = [data.draw(st.sampled_from(POSITIONS), label="fen")]
    args += [data.draw(OTHER_TEXTS[p], label=p) for p in PARAMETERS[name][1:]]
    outcome = check_text_call(name, args)
    if "uci" in PARAMETERS[name]:
        # The three readers of a move text agree on which texts are moves and which are legal.
        kinds = set()
        for reader in ("apply_uci", "uci_to_san", "see_move"):
            result = check_text_call(reader, args)
            kinds.add(str(result).split(" ")[0] if isinstance(result, Exception) else "answer")
        assert len(kinds) == 1, (args, kinds, outcome)


# --- any object, any keywords ------------------------------------------------------------------


@pytest.mark.parametrize("name", morvek_board.__all__)
@hostile
@given(data=st.data())
def test_any_object_is_refused_by_the_first_bad_parameter(name, data):
    parameters = PARAMETERS[name]
    args = [data.draw(any_value, label=p) for p in parameters]
    bad = next((i for i, a in enumerate(args) if not isinstance(a, str)), None)
    if bad is None:
        check_text_call(name, args)
        return
    with pytest.raises((TypeError, ValueError)) as raised:
        getattr(morvek_board, name)(*args)
    if not all(encodable(a) for a in args[:bad]):
        # Arguments are converted in order: a lone surrogate before it fails first.
        assert type(raised.value) is UnicodeEncodeError
        return
    assert type(raised.value) is TypeError
    type_name = type(args[bad]).__qualname__
    assert (
        str(raised.value)
        == f"argument '{parameters[bad]}': '{type_name}' object cannot be converted to 'PyString'"
    )


# Keys: the parameter names, near misses and any text.
keyword_names = st.one_of(
    st.sampled_from(
        ["fen", "uci", "san", "sq", "color", "FEN", "fen ", "args", "kwargs", "self", ""]
    ),
    any_text,
)


@pytest.mark.parametrize("name", morvek_board.__all__)
@hostile
@given(
    positional=st.lists(any_value, max_size=4),
    keywords=st.dictionaries(keyword_names, any_value, max_size=4),
)
def test_any_keyword_set_gives_an_answer_or_an_argument_error(name, positional, keywords):
    parameters = PARAMETERS[name]
    function = getattr(morvek_board, name)
    try:
        result = function(*positional, **keywords)
    except TypeError as error:
        assert type(error) is TypeError
        message = str(error)
        assert message.startswith(f"{name}() ") or message.startswith("argument '"), message
        return
    except ValueError as error:
        assert type(error) in (ValueError, UnicodeEncodeError)
        return
    # An answer needs exactly every parameter, each once, each a str.
    filled = dict(zip(parameters, positional))
    assert not set(filled) & set(keywords)
    filled.update(keywords)
    assert set(filled) == set(parameters)
    args = [filled[p] for p in parameters]
    assert all(isinstance(a, str) for a in args)
    assert well_formed(name, args, result)


# --- huge texts --------------------------------------------------------------------------------

MEGA = 1 << 20
# Seconds: a linear scan of a megabyte takes milliseconds, a quadratic one hours. Slow
# runtimes (valgrind) stretch it with MORVEK_TIME_SCALE.
PROMPT = 1.0 * float(os.environ.get("MORVEK_TIME_SCALE", "1"))


def timed(function, *args):
    began = time.perf_counter()
    try:
        outcome = function(*args)
    except ValueError as error:
        outcome = error
    return outcome, time.perf_counter() - began


HUGE_FENS = [
    ("letters", "a" * MEGA, "InvalidBoard"),
    ("spaces", " " * MEGA, "InvalidBoard"),
    ("slashes", "/" * MEGA, "InvalidBoard"),
    ("empty ranks", "8/" * (MEGA // 2), "InvalidBoard"),
    ("digits", "1" * MEGA, "InvalidBoard"),
    ("NULs", "\x00" * MEGA, "InvalidBoard"),
    ("wide characters", "\u3000" * MEGA, "InvalidBoard"),
    ("trailing spaces", START + " " * MEGA, "TooManyFields"),
    ("trailing fields", START + " 1" * (MEGA // 2), "TooManyFields"),
    ("castling field", START.replace("KQkq", "K" * MEGA), "InvalidCastlingRights"),
    ("en passant field", START.replace(" - ", " " + "e" * MEGA + " "), "InvalidEnPassant"),
    ("halfmove digits", START.replace(" 0 1", " " + "1" * MEGA + " 1"), "InvalidHalfMoveClock"),
    ("fullmove digits", START[:-1] + "1" * MEGA, "InvalidFullmoveNumber"),
    ("signs", START[:-1] + "+" * MEGA + "1", "InvalidFullmoveNumber"),
]


@pytest.mark.parametrize("name", morvek_board.__all__)
@pytest.mark.parametrize("shape, fen, variant", HUGE_FENS, ids=[case[0] for case in HUGE_FENS])
def test_megabyte_fen_is_refused_promptly(name, shape, fen, variant):
    others = ["e2e4", "e4", "white"][: len(PARAMETERS[name]) - 1]
    outcome, seconds = timed(getattr(morvek_board, name), fen, *others)
    assert type(outcome) is ValueError and str(outcome) == f"bad FEN: {variant}"
    assert seconds < PROMPT


@pytest.mark.parametrize(
    "fen, answer",
    [
        # Leading zeros are allowed in the clocks, so length alone refuses nothing;
        (START.replace(" 0 1", " " + "0" * MEGA + "7 " + "0" * MEGA + "1"), "- 8 1"),
        # and a zero in the placement fills no square, wherever it stands.
        (START.replace("8/8/8/8", "0" * MEGA + "8/8/8/8" + "0" * MEGA), "- 1 1"),
    ],
    ids=["clocks", "placement"],
)
def test_megabyte_of_zeros_is_still_a_position(fen, answer):
    outcome, seconds = timed(morvek_board.null_move_fen, fen)
    assert outcome == "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq " + answer
    assert seconds < PROMPT


HUGE_MOVES = [
    ("repeated move", "e2e4" * (MEGA // 4), "bad"),
    ("repeated promotion", "e7e8q" * (MEGA // 5), "illegal"),
    ("letters", "x" * MEGA, "bad"),
    ("NULs", "\x00" * MEGA, "bad"),
    # Byte 4 begins a multi-byte character: the rest of the text is never read.
    ("wide tail", "e2e4" + "é" * MEGA, "e2e4"),
]


@pytest.mark.parametrize("name", ["apply_uci", "uci_to_san", "see_move"])
@pytest.mark.parametrize("shape, uci, outcome", HUGE_MOVES, ids=[case[0] for case in HUGE_MOVES])
def test_megabyte_move_text_is_answered_promptly(name, shape, uci, outcome):
    result, seconds = timed(getattr(morvek_board, name), START, uci)
    assert seconds < PROMPT
    if outcome == "bad":
        assert str(result) == f"bad move {uci}: MoveParseError"
    elif outcome == "illegal":
        assert type(result) is ValueError and str(result).startswith("illegal move")
        assert uci in str(result)
    else:
        assert result == getattr(morvek_board, name)(START, outcome)


@pytest.mark.parametrize(
    "san, answer",
    [
        (" " * MEGA + "Nf3" + "\u3000" * MEGA, "g1f3"),
        ("e4" + "+" * MEGA, "e2e4"),
        ("e4" + "e.p." * (MEGA // 4), "e2e4"),
        ("0" * MEGA, None),
        ("e4" + "\x00" * MEGA, None),
        ("Nf3 " * (MEGA // 4), None),
    ],
    ids=["white space", "signs", "marks", "zeros", "NULs", "repeated"],
)
def test_megabyte_san_is_answered_promptly(san, answer):
    result, seconds = timed(morvek_board.san_to_uci, START, san)
    assert seconds < PROMPT
    if answer is None:
        assert str(result) == f"no legal move matches SAN '{san}'"
    else:
        assert result == answer


@pytest.mark.parametrize(
    "sq, color, message",
    [
        ("e4" * MEGA, "white", "bad square: {sq}"),
        ("e4", "white" * MEGA, "bad color: {color} (use white|black)"),
        ("\x00" * MEGA, "\x00" * MEGA, "bad square: {sq}"),
    ],
)
def test_megabyte_square_or_colour_is_refused_promptly(sq, color, message):
    result, seconds = timed(morvek_board.attackers, START, sq, color)
    assert seconds < PROMPT
    assert type(result) is ValueError and str(result) == message.format(sq=sq, color=color)


# --- NUL characters --------------------------------------------------------------------------


@pytest.mark.parametrize(
    "call, message",
    [
        # Not a terminator: the text goes on after it, and the message keeps it.
        (("apply_uci", START, "e2e4\x00"), "bad move e2e4\x00: MoveParseError"),
        (("apply_uci", START, "e2\x00e4"), "bad move e2\x00e4: MoveParseError"),
        (("uci_to_san", START, "e2e4\x00q"), "bad move e2e4\x00q: MoveParseError"),
        (("see_move", START, "\x00"), "bad move \x00: MoveParseError"),
        (("san_to_uci", START, "e4\x00"), "no legal move matches SAN 'e4\x00'"),
        (("san_to_uci", START, "\x00Nf3"), "no legal move matches SAN '\x00Nf3'"),
        (("attackers", START, "e4\x00", "white"), "bad square: e4\x00"),
        (("attackers", START, "e4", "white\x00"), "bad color: white\x00 (use white|black)"),
        (("side_to_move", "\x00" + START), "bad FEN: InvalidBoard"),
        (("side_to_move", START.replace("8/8/8/8", "8/8/\x008/8")), "bad FEN: InvalidBoard"),
        (("side_to_move", START.replace(" w ", " w\x00 ")), "bad FEN: InvalidSideToMove"),
        (("side_to_move", START.replace("KQkq", "KQ\x00kq")), "bad FEN: InvalidCastlingRights"),
        (("side_to_move", START.replace(" - ", " -\x00 ")), "bad FEN: InvalidEnPassant"),
        (("side_to_move", START.replace(" 0 1", " 0\x00 1")), "bad FEN: InvalidHalfMoveClock"),
        (("side_to_move", START + "\x00"), "bad FEN: InvalidFullmoveNumber"),
        (("side_to_move", START.replace(" 0 1", " 0 1\x00 ")), "bad FEN: InvalidFullmoveNumber"),
    ],
)
def test_nul_is_an_ordinary_character(call, message):
    name, *args = call
    assert value_error(getattr(morvek_board, name), *args) == message


def test_nul_keyword_name_is_an_unexpected_keyword():
    with pytest.raises(TypeError) as raised:
        morvek_board.side_to_move(**{"fen\x00": START})
    assert str(raised.value) == "side_to_move() got an unexpected keyword argument 'fen\x00'"
