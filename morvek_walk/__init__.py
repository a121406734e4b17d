"""morvek-walk, the command-line tool on top of morvek_board: every move of every game in PGN
collections (plain or compressed, any size) as CSV rows, on every core or a Dask cluster.

    morvek-walk games/ -o moves.csv        or        python -m morvek_walk games/ -o moves.csv

`morvek-walk --help` lists the columns and exit codes.
"""

import pkgutil

from morvek_board import __version__

# The native walk (morvek_walk._native) is installed inside this package; in a build tree it
# lies in build/morvek_walk/, found when build/ is on the path beside the sources.
__path__ = pkgutil.extend_path(__path__, __name__)

__all__ = ["__version__"]
