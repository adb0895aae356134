"""Reading a candidates table once for several scoring methods, with the
layouts users have: other delimiters, other header names, gzip."""
from __future__ import annotations

import warnings
from dataclasses import dataclass
from typing import Any, Callable, Mapping, Optional, Sequence

from ferolin_tools import _native, confidence, frames, read_errors
from ferolin_tools.errors import TableError
from ferolin_tools.layout import TableLayout, delimiter_for
from ferolin_tools.methods import COLUMNS, score_name
from ferolin_tools.paths import PathArg, PathProblem, as_text, check_readable

#: progress(bytes read from the file, rows read), called every few MiB.
ProgressCallback = Callable[[int, int], None]

#: The longest cell text a read takes (as careful CSV readers limit it; a
#: longer one is an error naming its line and column): 1 MiB.
DEFAULT_MAX_FIELD_BYTES = 1 << 20


def check_columns(columns: Optional[Mapping[str, str]],
                  mapping: str = "the column mapping") -> dict[str, str]:
    """Returns the header names of known columns as a dict; ValueError for
    a name that is not a known column, or for two columns that would be read
    from one header name (probability=score: score is read as the score),
    which names the mapping as `mapping` says it ("--column" on the command
    line)."""
    columns = dict(columns or {})
    for known in columns:
        if known not in COLUMNS:
            raise ValueError(f"unknown column '{known}' in a column mapping; the known columns "
                             f"are {', '.join(COLUMNS)}")
    readers: dict[str, str] = {}
    for known in COLUMNS:
        name = columns.get(known, known)
        if name in readers and (known in columns or readers[name] in columns):
            mapped = known if known in columns else readers[name]
            raise ValueError(f"{mapping} {mapped}={name} reads {name!r} as {mapped}, "
                             f"but {name!r} is already read as {readers[name]}; map "
                             f"{readers[name] if mapped == known else known} to another column "
                             "too")
        readers[name] = known
    return columns


def check_decimal(decimal: str) -> str:
    """Returns the decimal separator when it is "." or ","; ValueError otherwise."""
    if decimal not in (".", ","):
        raise ValueError(f"the decimal separator must be '.' or ',', not {decimal!r}")
    return decimal


#: The columns a read computes with: a group column among them would let the
#: answer (the label, or the confidence itself) decide the grouping.
_COMPUTED_COLUMNS = ("query_id", "candidate_id", "rank", "score", "probability", "is_correct")


def check_group_column(group_column: Optional[str],
                       columns: Optional[Mapping[str, str]] = None) -> None:
    """ValueError for a group column that the read computes with."""
    if group_column is None:
        return
    names = {column: (columns or {}).get(column, column) for column in _COMPUTED_COLUMNS}
    for column, name in names.items():
        if name == group_column:
            raise ValueError(f"the group column {group_column!r} is the {column} column, which "
                             f"ferolin reads to score and label queries; grouping by it would "
                             f"let the answer choose the threshold. Group by another column "
                             f"(e.g. ionisation mode, instrument)")


class QueryPass:
    """The result of one read of a table: per query its top candidate and a
    confidence by each method requested; curves and calibrations from it.
    `native` is the pass itself (ferolin_tools._native.Pass), whose methods
    the package calls for groups, decisions and intervals."""

    #: The own confidence read as the last column (confidence.py), if any.
    own: Optional[confidence.OwnConfidence] = None
    #: The column each query's group was read from, if any.
    group_column: Optional[str] = None

    def __init__(self, native: _native.Pass, path: str, scores: Sequence[str],
                 layout: TableLayout, header: Sequence[str], *, compressed: bool = False,
                 file_bytes: int = 0, sha256: Optional[str] = None):
        self.native = native
        self.path = path
        self.scores = tuple(scores)
        self.layout = layout
        self.header = list(header)
        self.compressed = compressed
        #: The file's size as read and its SHA-256 (None unless asked for).
        self.file_bytes = file_bytes
        self.sha256 = sha256
        self.counts: _native.Counts = native.counts()
        #: Queries with two or more rows at their smallest rank (None for
        #: merged shards, which keep one row a query).
        self.tied_tops: Optional[int] = self.counts.tied_tops
        #: The files merged into this pass (ferolin_tools.shards); empty for one table.
        self.shards: tuple[str, ...] = ()
        self._summaries: dict[int, _native.Summary] = {}

    @classmethod
    def of(cls, outcome: _native.ReadOutcome, path: str, scores: Sequence[str],
           layout: TableLayout, file_bytes: Optional[int] = None) -> "QueryPass":
        """The pass of a read or merge."""
        return cls(outcome.query_pass, path, scores, layout, outcome.header,
                   compressed=outcome.compressed, sha256=outcome.sha256,
                   file_bytes=outcome.file_bytes if file_bytes is None else file_bytes)

    def summary(self, index: int) -> _native.Summary:
        """Labelled queries scored, AURC and E-AURC of method column `index`."""
        if index not in self._summaries:
            self._summaries[index] = self.native.summary(index)
        return self._summaries[index]

    def curve(self, index: int) -> list[dict[str, Any]]:
        return self.native.curve(index)

    def choose_threshold(self, index: int, error_rate: float, method: str,
                         confidence_level: Optional[float]) -> _native.Calibration:
        """The threshold the calibration method chooses for `error_rate`,
        with its policy and curve row (None where no threshold meets it)."""
        return self.native.calibrate(index, error_rate, method, confidence_level)

    def columns(self, rows: Optional[range] = None) -> _native.Columns:
        """The per-query columns, of the queries in `rows` (default: all)."""
        if rows is None:
            return self.native.columns()
        return self.native.columns(rows.start, rows.stop)


def read_table(table: Any, scores: Sequence[str], *, keep_ids: bool = False,
               delimiter: Optional[str] = None, columns: Optional[Mapping[str, str]] = None,
               progress: Optional[ProgressCallback] = None,
               hint_style: str = "python", group_column: Optional[str] = None,
               group_policy: Optional[str] = None, fingerprint: bool = False,
               own: Optional[confidence.OwnConfidence] = None,
               decimal: str = ".", na_values: Optional[Sequence[str]] = None,
               threads: Optional[int] = None,
               max_field_bytes: int = DEFAULT_MAX_FIELD_BYTES) -> QueryPass:
    """Reads `table` (a path, an object with __arrow_c_stream__, or a
    Parquet or Arrow IPC file) once and scores every query by each of `scores`;
    with `group_column`, also each query's group label from that column
    (which `group_policy`, the name of a policy file, may have named);
    with `fingerprint`, also the SHA-256 of the file's bytes as read; with
    `own`, that column's top-candidate values as one more column after the
    methods' (see confidence.py). Warns (confidence.ProbabilityWarning) when a
    method read a probability column that holds no probabilities.
    Score and probability cells spelled "NA", "NaN", "nan", "null" or "None",
    or any of `na_values`, are missing (an empty score too); `decimal` ","
    reads "0,5" as 0.5.
    A plain file is read by `threads` threads (None: the FEROLIN_NUM_THREADS
    environment variable, else one per processor); the result is the same.
    A cell longer than `max_field_bytes` in a column the read uses ends it
    with an error; cells of other columns are skipped, however long.

    Raises TableError, naming the path, for a table that cannot be read,
    with what the header shows when a column is missing.
    """
    scores = [score_name(score) for score in scores]
    if frames.is_frame(table):  # a DataFrame, an Arrow table, a DuckDB relation
        name = frames.frame_name(table)
        layout = TableLayout(",", check_columns(columns), hint_style)
        selected, header = frames.narrowed(table, layout.columns,
                                           frames.further_columns(group_column, own))
        read = frames.run_stream(selected, name, scores, layout, keep_ids=keep_ids,
                                 progress=progress, group_column=group_column,
                                 group_policy=group_policy, header=header, own=own)
        return _checked_pass(QueryPass(read.native, name, scores, layout, read.header), own,
                             group_column)
    name = as_text(table)
    layout = TableLayout(delimiter_for(name, delimiter), check_columns(columns), hint_style,
                         check_decimal(decimal))
    if layout.delimiter == layout.decimal:
        raise ValueError("the decimal separator cannot be the field delimiter too")
    check_group_column(group_column, layout.columns)
    try:
        check_readable(name, "table")
    except PathProblem as problem:
        raise TableError(str(problem)) from None
    if frames.file_format(name) is not None:  # Parquet and Arrow IPC, through pyarrow
        read = frames.read_file(name, scores, layout, keep_ids=keep_ids, progress=progress,
                                group_column=group_column, group_policy=group_policy,
                                fingerprint=fingerprint, own=own)
        return _checked_pass(QueryPass(read.native, name, scores, layout, read.header,
                                       file_bytes=read.file_bytes, sha256=read.sha256), own,
                             group_column)
    try:
        result = _native.run_pass(name, scores, delimiter=layout.delimiter,
                                  columns=layout.columns, keep_ids=keep_ids, progress=progress,
                                  group_column=group_column, fingerprint=fingerprint,
                                  **confidence.pass_arguments(own), decimal=decimal,
                                  na_values=list(na_values or ()), threads=threads,
                                  max_field_bytes=max_field_bytes)
    except _native.CoreError as error:
        raise read_errors.table_error(name, error, layout, group_column, group_policy) from None
    return _checked_pass(QueryPass.of(result, name, scores, layout), own, group_column)


def _checked_pass(read: QueryPass, own: Optional[confidence.OwnConfidence],
                  group_column: Optional[str]) -> QueryPass:
    """The pass of a read, whose last column is the own confidence where one
    was read; warns, for the API (the command says it its own way), when the
    probabilities that a method read are none."""
    if own is not None:
        read.scores = (*read.scores, own.name(read.layout.header_name("score")))
    read.own = own
    read.group_column = group_column
    if read.layout.hint_style == "python":
        warn_probabilities(read)
    return read


def probability_problems(table: QueryPass) -> Optional[str]:
    """What is wrong with the probability column that the read's methods
    read, in one sentence; None when nothing is (or none read it)."""
    check = table.native.probability_check()
    if check is None:
        return None
    name = table.layout.header_name("probability")
    problems = []
    if check.outside:
        problems.append(f"{check.outside} values outside [0, 1]")
    if check.above_one:
        problems.append(f"{check.above_one} queries whose candidates' probabilities sum "
                        f"above 1")
    if not problems:
        return None
    return (f"{table.path}: column {name!r} holds {' and '.join(problems)}; the methods that "
            f"read probabilities score them as they are")


def warn_probabilities(table: QueryPass) -> None:
    """Warns once for the table (a ProbabilityWarning) when its probability
    column holds values that are not probabilities."""
    problem = probability_problems(table)
    if problem is not None:
        warnings.warn(problem, confidence.ProbabilityWarning, stacklevel=3)
