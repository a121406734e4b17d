#!/usr/bin/env python3
"""Instructions a module call costs, counted by callgrind: the module's entry and everything
it calls (the argument reading, the body, the result), over distinct positions
(bench/positions.py), a new position every call.

    PYTHONPATH=build python3 bench/call_instructions.py \
        [--before OLD.abi3.so] [--python /path/to/python3.13] [--functions is_check,apply_uci]

The positions and arguments are made outside valgrind; the counted run loads only the module,
from its file, in the interpreter --python names, and calls each function on every argument
tuple twice (the first pass makes the texts the module keeps). Only the module's entry points
are counted, so the interpreter's loop is not.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

import positions

# What the counted interpreter runs: the module from its file, then every call of the list.
INNER = r"""
import importlib.machinery, importlib.util, json, sys
path, name, args_file = sys.argv[1:4]
loader = importlib.machinery.ExtensionFileLoader("morvek_board", path)
spec = importlib.util.spec_from_file_location("morvek_board", path, loader=loader)
module = importlib.util.module_from_spec(spec)
loader.exec_module(module)
function = getattr(module, name)
with open(args_file) as f:
    calls = [tuple(a) for a in json.load(f)]
for _ in range(2):
    for a in calls:
        try:
            function(*a)
        except ValueError:
            pass
"""


def count(python, module, name, args_file, calls):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "callgrind.out")
        inner = os.path.join(tmp, "inner.py")
        with open(inner, "w") as f:
            f.write(INNER)
        subprocess.run(
            [
                "valgrind",
                "--tool=callgrind",
                "--collect-atstart=no",
                "--toggle-collect=*vector_entry*",
                "--toggle-collect=*tuple_entry*",
                "--callgrind-out-file=" + out,
                python,
                inner,
                module,
                name,
                args_file,
            ],
            check=True,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        with open(out) as f:
            totals = re.search(r"^(?:summary|totals): (\d+)", f.read(), re.M)
        return int(totals.group(1)) / (2 * calls)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--module", default=os.path.join("build", "morvek_board.abi3.so"))
    ap.add_argument("--before", help="an earlier build of the module, counted beside it")
    ap.add_argument("--python", default=sys.executable, help="the interpreter counted")
    ap.add_argument("--positions", type=int, default=512)
    ap.add_argument("--seed", type=int, default=16)
    ap.add_argument("--functions", help="comma-separated; default: every distinct case")
    args = ap.parse_args()

    wanted = set(args.functions.split(",")) if args.functions else None
    fens = positions.distinct_positions(args.positions, args.seed)
    cases = positions.case_arguments(fens, args.seed)
    modules = [("now", args.module)] + ([("before", args.before)] if args.before else [])
    print("%-14s %-12s %6s" % ("function", "case", "calls"), end="")
    for label, _ in modules:
        print(" %10s" % (label + " Ir"), end="")
    print(" %6s" % "ratio" if args.before else "")
    with tempfile.TemporaryDirectory() as tmp:
        for label, name, _ in positions.CASES:
            calls = cases[(label, name)]
            if not calls or (wanted and name not in wanted):
                continue
            args_file = os.path.join(tmp, "args.json")
            with open(args_file, "w") as f:
                json.dump(calls, f)
            counts = [count(args.python, m, name, args_file, len(calls)) for _, m in modules]
            line = "%-14s %-12s %6d" % (name, label or "all", len(calls))
            line += "".join(" %10.0f" % c for c in counts)
            if args.before:
                line += " %6.2f" % (counts[0] / counts[1])
            print(line, flush=True)


if __name__ == "__main__":
    main()
