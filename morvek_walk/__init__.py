"""morvek_walk: every move of every game in PGN collections (plain or compressed, any size) as
rows of a table, on every core or a Dask cluster.

From Python, walk() hands the rows over as Arrow data:

    import polars, morvek_walk
    moves = polars.DataFrame(morvek_walk.walk("games/", columns=["fen", "san"]))

From the shell, morvek-walk writes them as CSV (plain or compressed) or Parquet:

    morvek-walk games/ -o moves.parquet        or        python -m morvek_walk games/ -o x.csv

`morvek-walk --help` lists the columns and exit codes.
"""

import pkgutil

from morvek_board import __version__

# The native walk (morvek_walk._native) is installed inside this package; in a build tree it
# lies in build/morvek_walk/, found when build/ is on the path beside the sources.
__path__ = pkgutil.extend_path(__path__, __name__)

from .api import Walk, walk  # noqa: E402
from .failures import ClusterError, Failure, InputError, OutputError, UsageError  # noqa: E402
from .walk import COLUMN_NAMES as COLUMNS  # noqa: E402

__all__ = [
    "COLUMNS",
    "ClusterError",
    "Failure",
    "InputError",
    "OutputError",
    "UsageError",
    "Walk",
    "__version__",
    "walk",
]
