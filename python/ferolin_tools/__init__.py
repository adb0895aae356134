"""The command line `ferolin` and a Python API beside it, on ferolin's core.

The functions mirror the subcommands and read each table once, for as many
scoring methods as asked; they take CSV and TSV tables, gzip-compressed or
not, other header names and the label spellings pandas and R write; Parquet
and Arrow IPC files (with pyarrow); and in-memory tables, any object with
`__arrow_c_stream__` (polars, pandas, pyarrow, DuckDB):

- scores(table, methods): the per-query table, a dict of columns for
  pandas.DataFrame(...) or polars.DataFrame(...);
- compare(table): every scoring method ranked by its risk-coverage curve;
- calibrate(table, score, error_rate): a policy with a report on what it
  rests on;
- curve(table, methods): risk-coverage curves with AURC and E-AURC;
- apply(table, policy): one decision per query, in columns;
- plot_risk_coverage(curve): the picture of a curve (needs matplotlib);
- read_scores(tables), score_shards(tables, methods): the queries of many
  shards (per-query tables, or candidates tables scored in a thread pool)
  merged, for compare(), calibrate() and curve(); score_shard(),
  merge_shards() and apply_shard() for engines like Dask (see
  examples/dask_shards.py).

Data problems raise DataError (a RuntimeError) or one of its kinds, with a
message that names the file and the cause; those found in a table or a
policy file carry the facts as attributes (MissingColumn's column and
header, CellError's column, line, value and reason, ...).
"""
from ferolin_tools.analysis import (Calibration, CalibrationReport, CurveResult,
                                    MethodComparison)
from ferolin_tools.api import apply, calibrate, compare, curve, scores
from ferolin_tools.errors import (CellError, DataError, FieldTooLong, MissingColumn,
                                  NoLabelledQueries, NothingScored, PolicyTypeError, TableError)
from ferolin_tools.methods import CALIBRATION_METHODS, SCORE_METHODS
from ferolin_tools.plot import plot_risk_coverage
from ferolin_tools.policies import EditedPolicyWarning
from ferolin_tools.shards import (ShardPairs, apply_shard, merge_shards, read_scores,
                                  score_shard, score_shards)
from ferolin_tools.tables import QueryPass

__all__ = [
    "scores", "compare", "calibrate", "curve", "apply", "plot_risk_coverage",
    "read_scores", "score_shards", "score_shard", "merge_shards", "apply_shard",
    "ShardPairs", "QueryPass",
    "Calibration", "CalibrationReport", "CurveResult", "MethodComparison",
    "DataError", "TableError", "MissingColumn", "CellError", "FieldTooLong", "PolicyTypeError",
    "NoLabelledQueries", "NothingScored", "EditedPolicyWarning",
    "SCORE_METHODS", "CALIBRATION_METHODS",
]
