#!/usr/bin/env python3
"""This build of the module against an earlier one, both loaded into one process and timed in
turns over the same distinct positions (bench/positions.py: made with this module alone), a new
position every call; the best of several passes each. Nanoseconds a call.

    PYTHONPATH=build python3 bench/before_after.py --before OLD/morvek_board.abi3.so [--repeat 9]

(`tools/build_before.sh COMMIT build/before` builds the earlier module and prints its path.)
"""

import argparse
import importlib.machinery
import importlib.util
import math
import sys
import time

import morvek_board as mb
import positions


def load_build(path):
    """A second build of the module, from another file, beside the one imported above."""
    loader = importlib.machinery.ExtensionFileLoader("morvek_board", path)
    location = importlib.util.spec_from_file_location("morvek_board", path, loader=loader)
    module = importlib.util.module_from_spec(location)
    loader.exec_module(module)
    return module


def loop_ns(function, calls):
    start = time.perf_counter_ns()
    for args in calls:
        function(*args)
    return (time.perf_counter_ns() - start) / len(calls)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--before", required=True, help="the earlier build's module file")
    ap.add_argument("--positions", type=int, default=2048)
    ap.add_argument("--seed", type=int, default=16)
    ap.add_argument("--repeat", type=int, default=7)
    args = ap.parse_args()

    before = load_build(args.before)
    fens = positions.distinct_positions(args.positions, args.seed)
    cases = positions.case_arguments(fens, args.seed)
    print("python %s, %d positions, best of %d" % (sys.version.split()[0], len(fens), args.repeat))
    print("%-14s %-12s %6s %9s %9s %6s" % ("function", "case", "calls", "before", "now", "ratio"))
    ratios = []
    for label, name, _ in positions.CASES:
        calls = cases[(label, name)]
        if not calls:
            continue
        now, then = getattr(mb, name), getattr(before, name)
        for f in (now, then):  # the texts both modules make once, made before timing
            loop_ns(f, calls)
        t_now = t_then = float("inf")
        for _ in range(args.repeat):
            t_then = min(t_then, loop_ns(then, calls))
            t_now = min(t_now, loop_ns(now, calls))
        ratios.append(t_now / t_then)
        print(
            "%-14s %-12s %6d %9.0f %9.0f %6.2f"
            % (name, label or "all", len(calls), t_then, t_now, t_now / t_then),
            flush=True,
        )
    geo = math.exp(sum(math.log(r) for r in ratios) / len(ratios))
    print("geometric mean of the ratios %.2f; largest %.2f" % (geo, max(ratios)))


if __name__ == "__main__":
    main()
