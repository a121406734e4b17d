"""What the walk tells its user on standard error: a progress bar on a terminal, each game left
out, and at the end the counts with the skipped games summed by reason."""

from __future__ import annotations

import sys
import time
from collections import Counter
from typing import Any, Callable, Optional

from .walk import ChunkResult


class Report:
    """The counts so far, and the lines that tell them."""

    def __init__(self, say: Callable[[str], None], quiet: bool) -> None:
        self.say = say
        self.quiet = quiet
        self.games = self.positions = self.filtered = 0
        self.skipped: Counter[str] = Counter()

    def add(self, result: ChunkResult) -> None:
        for source, number, ply, text, message, reason in result.problems:
            if not self.quiet:
                self.say(f"{source}: game {number}, ply {ply}: '{text}': {message}")
            self.skipped[reason] += 1
        self.games += result.games
        self.positions += result.positions
        self.filtered += result.filtered

    def counts(self) -> str:
        line = (
            f"{self.games} games written, {self.positions} positions, "
            f"{sum(self.skipped.values())} games skipped"
        )
        if self.skipped:
            line += " (" + ", ".join(f"{n} {why}" for why, n in self.skipped.most_common()) + ")"
        if self.filtered:
            line += f", {self.filtered} games filtered out"
        return line


class Progress:
    """On a terminal: the inputs' bytes read of their total (compressed bytes for compressed
    inputs), the share done and the time left, with games and positions a second."""

    def __init__(self, total: Optional[int], position: Callable[[], int], quiet: bool) -> None:
        self.bar: Any = None
        self.position = position
        self.started = time.monotonic()
        if quiet or not sys.stderr.isatty():
            return
        try:
            from tqdm import tqdm
        except ImportError:
            return
        self.bar = tqdm(
            total=total,
            unit="B",
            unit_scale=True,
            unit_divisor=1024,
            file=sys.stderr,
            dynamic_ncols=True,
        )

    def update(self, report: Report) -> None:
        if self.bar is None:
            return
        rate = report.positions / max(time.monotonic() - self.started, 1e-9)
        self.bar.set_postfix_str(f"{report.games} games, {rate:,.0f} positions/s", refresh=False)
        self.bar.update(self.position() - self.bar.n)

    def say(self, line: str) -> None:
        if self.bar is not None:
            self.bar.write(line, file=sys.stderr)
        else:
            print(line, file=sys.stderr)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()
            self.bar = None


def missing_extras(zstd_readable: bool) -> list[str]:
    # Looked up, not imported: importing Dask's scheduler costs half a second.
    import importlib.util

    missing = [
        gain
        for module, gain in (("tqdm", "progress bar"), ("distributed", "--dask"))
        if importlib.util.find_spec(module) is None
    ]
    if not zstd_readable:
        missing.append(".pgn.zst input")
    return missing
