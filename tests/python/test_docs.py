"""The examples in the README and the reference run as written, so the documentation cannot
drift from the code."""

import doctest

import pytest

from conftest import ROOT


# The smallest example count guards against a block that doctest silently stopped reading.
@pytest.mark.parametrize("name, at_least", [("README.md", 10), ("docs/reference.md", 50)])
def test_examples_run_as_written(name, at_least):
    result = doctest.testfile(str(ROOT / name), module_relative=False, optionflags=doctest.ELLIPSIS)
    assert result.attempted > at_least
    assert result.failed == 0
