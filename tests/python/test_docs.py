"""The examples in the README and the reference run as written, so the documentation cannot
drift from the code."""

import doctest
import importlib.util

import pytest

from conftest import INSTALLED, ROOT

# The walker's reference shows its tables in pyarrow, polars and duckdb.
readers = all(importlib.util.find_spec(m) for m in ("pyarrow", "polars", "duckdb"))


# The smallest example count guards against a block that doctest silently stopped reading.
@pytest.mark.parametrize(
    "name, at_least",
    [
        ("README.md", 10),
        ("docs/reference.md", 50),
        pytest.param(
            "docs/walk.md",
            12,
            marks=pytest.mark.skipif(not readers, reason="no Arrow readers here"),
        ),
    ],
)
def test_examples_run_as_written(name, at_least, monkeypatch):
    if not INSTALLED:
        monkeypatch.syspath_prepend(str(ROOT))
    monkeypatch.chdir(ROOT)
    result = doctest.testfile(str(ROOT / name), module_relative=False, optionflags=doctest.ELLIPSIS)
    assert result.attempted > at_least
    assert result.failed == 0
