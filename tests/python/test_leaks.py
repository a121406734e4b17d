"""Calls mixing every success and error path leave the interpreter's allocated blocks and the
process's resident memory flat. MORVEK_LEAK_CALLS sets the number of calls (a million for
`make soak`); the ordinary run makes fewer."""

import gc
import os
import sys

import pytest

import morvek_board as mb
from conftest import (
    CASTLING,
    FOOLS_MATE,
    NO_KINGS,
    PROMOTION,
    ROOK_FILES,
    START,
    Nameless,
    Unprintable,
    probe_module,
)

CALLS = int(os.environ.get("MORVEK_LEAK_CALLS", "100000"))

BIG = 1 << 16  # a leaked copy of a big argument shows in resident memory at once


def optional_probe():
    try:
        return probe_module()
    except pytest.skip.Exception:
        return None


def workload():
    """One call per path through the frame and the operations."""
    big_fen = "a" * BIG
    big_move = "e2e4" + "x" * BIG
    big_san = " " * BIG + "Nf3" + " " * BIG
    calls = [
        # answers
        lambda: mb.piece_list(START),
        lambda: mb.legal_moves(CASTLING),
        lambda: mb.legal_moves(FOOLS_MATE),
        lambda: mb.attackers(START, "f3", "white"),
        lambda: mb.attackers(fen=ROOK_FILES, sq="e4", color="b"),
        lambda: mb.apply_uci(CASTLING, "e1g1"),
        lambda: mb.apply_uci(PROMOTION, "a7a8q"),
        lambda: mb.uci_to_san(CASTLING, "e1c1"),
        lambda: mb.uci_to_san(PROMOTION, "a7a8n"),
        lambda: mb.san_to_uci(START, "Nf3!?"),
        lambda: mb.san_to_uci(ROOK_FILES, "O-O"),
        lambda: mb.san_to_uci(START, big_san),
        lambda: mb.see_move(START, "g1f3"),
        lambda: mb.null_move_fen(ROOK_FILES),
        lambda: mb.is_check(FOOLS_MATE),
        lambda: mb.side_to_move(START),
        lambda: mb.apply_uci(START, "e2e4" + "é" * BIG),
        # argument errors
        lambda: mb.side_to_move(),
        lambda: mb.attackers(START),
        lambda: mb.is_check(START, START),
        lambda: mb.apply_uci(START, uci="e2e4", move="x"),
        lambda: mb.apply_uci(START, fen=START),
        lambda: mb.side_to_move(**{Unprintable("bogus"): START}),
        lambda: mb.side_to_move(**{"\udc80": START}),
        lambda: mb.legal_moves(None),
        lambda: mb.attackers(START, "e4", Nameless()),
        lambda: mb.see_move(START, b"e2e4"),
        lambda: mb.side_to_move(START + "\ud800"),
        lambda: mb.apply_uci(START, "e2e4\udfff"),
        # refusals
        lambda: mb.side_to_move(NO_KINGS),
        lambda: mb.legal_moves(START.replace(" w ", " x ")),
        lambda: mb.piece_list(START.replace("KQkq", "KQkqX")),
        lambda: mb.is_check(START.replace(" - ", " e3 ")),
        lambda: mb.is_check(START.replace(" 0 1", " 101 1")),
        lambda: mb.is_check(START.replace(" 0 1", " 0 0")),
        lambda: mb.is_check(START[:-2]),
        lambda: mb.is_check(START + " "),
        lambda: mb.side_to_move(big_fen),
        lambda: mb.apply_uci(START, "e2e9"),
        lambda: mb.apply_uci(START, "e2e5"),
        lambda: mb.apply_uci(START, big_move),
        lambda: mb.uci_to_san(START, "e7e5"),
        lambda: mb.uci_to_san(START, "e2"),
        lambda: mb.see_move(START, "e2e5"),
        lambda: mb.see_move(START, "e2e4 "),
        lambda: mb.san_to_uci(START, "nf3"),
        lambda: mb.san_to_uci(START, "x" * BIG),
        lambda: mb.null_move_fen(FOOLS_MATE),
        lambda: mb.attackers(START, "e9", "white"),
        lambda: mb.attackers(START, "e4", "White"),
        lambda: mb.attackers(START, "e4", "w" * BIG),
    ]
    probe = optional_probe()
    if probe is not None:
        calls.append(lambda: probe.unchecked(START, "san", "e4e5"))  # PanicException
        calls.append(lambda: probe.unchecked(START, "play", "g1f3"))
    return calls


def run(calls, count):
    for i in range(count):
        try:
            calls[i % len(calls)]()
        except BaseException:
            pass


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(
    not os.path.exists("/proc/self/statm"), reason="resident size is read from /proc"
)
def test_many_calls_leave_memory_flat(capfd):
    calls = workload()
    # Warm up: caches, interned names, the PanicException type and the allocator's arenas.
    run(calls, 200 * len(calls))
    gc.collect()
    blocks = sys.getallocatedblocks()
    resident = resident_bytes()

    run(calls, CALLS)
    gc.collect()
    capfd.readouterr()  # the probe's reports on standard error
    grown_blocks = sys.getallocatedblocks() - blocks
    grown_resident = resident_bytes() - resident
    # The interpreter's own caches creep by a block every few thousand calls; one object
    # leaked on one path in sixty would add a block every sixty calls, and one leaked copy of
    # a big argument megabytes.
    assert grown_blocks < CALLS // 200, f"{grown_blocks} blocks more after {CALLS} calls"
    # AddressSanitizer keeps freed memory in quarantine, resident, on purpose; under it only
    # the interpreter's block count can tell (its leak checker covers the native side).
    if os.environ.get("MORVEK_SANITIZED") != "1":
        assert grown_resident < 4 << 20, f"{grown_resident} bytes more resident after {CALLS} calls"


@pytest.mark.parametrize(
    "call",
    [
        lambda: mb.piece_list(START),
        lambda: mb.legal_moves(CASTLING),
        lambda: mb.attackers(START, "e2", "white"),
        lambda: mb.san_to_uci(CASTLING, "O-O"),
        lambda: mb.side_to_move(START),
    ],
    ids=["piece_list", "legal_moves", "attackers", "san_to_uci", "side_to_move"],
)
def test_shared_results_are_counted_exactly_and_lists_are_new(call):
    """Texts and triples are handed out again, so a reference too few would free one still in
    use and one too many would keep it forever: after many calls whose results are dropped
    each count is back where it was. The list around them must be new every call, since
    callers may change it."""
    kept = call()
    items = list(kept) if isinstance(kept, list) else [kept]
    counts = [sys.getrefcount(item) for item in items]
    for _ in range(1000):
        again = call()
        assert again == kept
    assert all(a is b for a, b in zip(items, again if isinstance(again, list) else [again]))
    del again
    assert [sys.getrefcount(item) for item in items] == counts
    if isinstance(kept, list):
        kept.clear()
        assert call() == items
