#!/usr/bin/env python3
"""Draws the distinct-positions rows of `bench/python_surface.py --json FILE` as a bar chart:
ours, the floor and python-chess per function and case, nanoseconds a call, log scale.

    bench/chart.py build/bench-python.json bench/python_surface.png
"""

import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the backend is chosen first)


def main():
    source, target = sys.argv[1], sys.argv[2]
    with open(source) as f:
        data = json.load(f)
    rows = [r for r in data["rows"] if r["mode"] == "distinct"]
    labels = [r["function"] + ("" if r["case"] == "all" else "\n" + r["case"]) for r in rows]
    series = [
        ("morvek_board", [r["ours_ns"] for r in rows], "#1f77b4"),
        ("floor (the bare call)", [r["floor_ns"] for r in rows], "#aaaaaa"),
        ("python-chess", [r["python_chess_ns"] or float("nan") for r in rows], "#d62728"),
    ]
    width = 0.27
    fig, ax = plt.subplots(figsize=(15, 6))
    for i, (name, values, colour) in enumerate(series):
        ax.bar(
            [x + (i - 1) * width for x in range(len(rows))], values, width, label=name, color=colour
        )
    ax.set_yscale("log")
    ax.set_ylabel("nanoseconds a call (log scale)")
    ax.set_xticks(range(len(rows)))
    ax.set_xticklabels(labels, rotation=60, ha="right", fontsize=8)
    ax.set_title(
        "A new position every call: %d positions from random games (Python %s, python-chess %s)"
        % (max(r["positions"] for r in rows), data["python"], data["python_chess"])
    )
    ax.grid(axis="y", which="both", alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(target, dpi=100)


if __name__ == "__main__":
    main()
