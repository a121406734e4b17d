"""Internal checks that no loaded position can trip reach Python as PanicException.

The probe module runs the core's routines without the legality checks that every real
operation makes first; it shares the real module's frame.
"""

import pytest

from conftest import START, probe_module

probe = probe_module()


@pytest.mark.parametrize(
    "routine, uci, message",
    [
        ("san", "e4e5", "legal move has a mover"),
        ("see", "e4e5", "SEE: no piece on from-square"),
        ("play", "e4e5", "Missing piece on move's from square"),
    ],
)
def test_internal_check_raises_panic_exception(capfd, routine, uci, message):
    with pytest.raises(BaseException) as caught:
        probe.unchecked(START, routine, uci)
    panic = caught.type
    assert f"{panic.__module__}.{panic.__qualname__}" == "pyo3_runtime.PanicException"
    # Like SystemExit: an `except Exception` in the caller's code must not swallow it.
    assert issubclass(panic, BaseException) and not issubclass(panic, Exception)
    assert caught.value.args == (message,)
    assert panic.__doc__
    # The report on standard error names the check and where in the source it failed.
    report = capfd.readouterr().err
    assert message in report and ".cpp:" in report


def test_panic_exception_type_is_created_once():
    types = set()
    for _ in range(3):
        with pytest.raises(BaseException) as caught:
            probe.unchecked(START, "san", "e4e5")
        types.add(caught.type)
    assert len(types) == 1


def test_the_interpreter_keeps_working_after_a_panic():
    with pytest.raises(BaseException):
        probe.unchecked(START, "play", "a3a4")
    assert probe.unchecked(START, "san", "g1f3") == "Nf3"
    assert probe.unchecked(START, "play", "e2e4").startswith("rnbqkbnr/pppppppp/8/8/4P3/")
