"""Eight Python threads calling every operation at once get the answers one thread gets."""

import sys
import threading

import pytest

import morvek_board as mb

THREADS = 8
ROUNDS = 40

POSITIONS = [
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
    "1r2k1r1/8/8/8/8/8/8/1R2K1R1 b GBgb - 0 1",
    "4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1",
    "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3",
    "8/8/8/8/8/8/8/8 w - - 0 1",
]


def workload():
    """Every operation on every position, with each legal move and a few bad texts."""
    calls = []
    for fen in POSITIONS:
        for name in ("piece_list", "legal_moves", "null_move_fen", "is_check", "side_to_move"):
            calls.append((name, (fen,)))
        try:
            moves = mb.legal_moves(fen)
        except ValueError:
            moves = []
        for uci in moves + ["e2e5", "e9e4", "e1g1"]:
            calls += [(name, (fen, uci)) for name in ("apply_uci", "uci_to_san", "see_move")]
        for san in ("Nf3", "O-O", "exd6 e.p.", "bxa1=Q+", "nf3"):
            calls.append(("san_to_uci", (fen, san)))
        for sq in ("a1", "e4", "f7", "h8", "e9"):
            for color in ("white", "b", "White"):
                calls.append(("attackers", (fen, sq, color)))
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
