"""Eight Python threads calling every operation at once get the answers one thread gets.

Every call holds the interpreter lock from start to end and runs no Python code of the
caller's in between, so today no two calls overlap and this cannot fail. It guards the day a
body runs with the lock released: state that the native code then shares between calls (a
cache, a static buffer) would be seen half-written by another thread, and the answers here
would differ."""

import itertools
import sys
import threading

import pytest

import morvek_board as mb
from conftest import NO_KINGS, PARAMETERS, POSITIONS

THREADS = 8
ROUNDS = 40


def workload():
    """Every operation on every position and one that does not load, with each legal move and
    a few bad texts."""
    calls = []
    for fen in POSITIONS + [NO_KINGS]:
        try:
            moves = mb.legal_moves(fen)
        except ValueError:
            moves = []
        texts = {
            "uci": moves + ["e2e5", "e9e4", "e1g1"],
            "san": ["Nf3", "O-O", "exd6 e.p.", "bxa1=Q+", "nf3"],
            "sq": ["a1", "e4", "f7", "h8", "e9"],
            "color": ["white", "b", "White"],
        }
        for name in mb.__all__:
            others = itertools.product(*(texts[p] for p in PARAMETERS[name][1:]))
            calls += [(name, (fen, *rest)) for rest in others]
    return calls


def outcome(name, args):
    try:
        return ("answer", getattr(mb, name)(*args))
    except ValueError as error:
        return (type(error).__name__, str(error))


@pytest.fixture
def quick_switches():
    # Thread switches every microsecond instead of every five milliseconds.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(interval)


def test_eight_threads_get_the_answers_of_one(quick_switches):
    calls = workload()
    expected = [outcome(name, args) for name, args in calls]
    mismatches = []
    failures = []
    start = threading.Barrier(THREADS)

    def worker(offset):
        try:
            start.wait()
            for round_ in range(ROUNDS):
                # Each thread walks the calls from its own place, so that different
                # operations overlap.
                shift = (offset * len(calls) // THREADS + round_ * 7) % len(calls)
                for i in range(len(calls)):
                    k = (i + shift) % len(calls)
                    got = outcome(*calls[k])
                    if got != expected[k]:
                        mismatches.append((calls[k], got, expected[k]))
        except BaseException as error:  # a PanicException would end the thread silently
            failures.append(repr(error))

    threads = [threading.Thread(target=worker, args=(t,)) for t in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
    assert mismatches[:5] == []
