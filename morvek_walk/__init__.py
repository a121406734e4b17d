"""morvek-walk, the command-line tool on top of morvek_board: every move of every game in PGN
collections (plain or compressed, any size) as CSV rows, on every core or a Dask cluster.

    morvek-walk games/ -o moves.csv        or        python -m morvek_walk games/ -o moves.csv

`morvek-walk --help` lists the columns and exit codes.
"""

from morvek_board import __version__

__all__ = ["__version__"]
