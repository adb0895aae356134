"""The Python API: what the subcommands of `ferolin` do, as functions.

Every function reads its table once, whatever the number of methods, and
accepts the layouts the command line accepts: `delimiter` (a comma by
default, a tab for .tsv and .tab names, "tab" or "\\t" for a tab),
`columns` (known column -> the table's header name, e.g.
{"is_correct": "Is_Correct"}), `decimal` ("," for "0,5"), `na_values`
(spellings of a missing score or probability beside "NA", "NaN", "nan",
"null", "None" and an empty cell), gzip-compressed files, and labels
spelled true/false in any case, 1/0 or 1.0/0.0. `progress`, when given, is
called as progress(bytes_read, rows_read) every few MiB.

Every function also takes, in place of a path, an in-memory table: any
object with __arrow_c_stream__ (a polars or pandas DataFrame, a pyarrow
Table or RecordBatchReader, a DuckDB relation), read through the Arrow C
stream interface with the same results as the same table written as CSV;
and Parquet and Arrow IPC files (.parquet, .arrow, .feather, .ipc) when
pyarrow is installed (pip install 'ferolin[parquet]').

`threads` sets how many threads read a plain (uncompressed) table file: by
default the FEROLIN_NUM_THREADS environment variable, else one per
processor; 1 reads it as one stream. The results are the same, bit for bit,
for any number.

curve(), compare() and calibrate() also take, in place of a table, the
queries of many shards merged by ferolin_tools.shards (read_scores,
score_shards, merge_shards), or any QueryPass that holds what the call asks
for (the `ferolin` command passes the one it read); the layout options then
do not apply. compare() and calibrate() take `bootstrap_progress`, which
gives each method's bootstrap a progress callable (or None).

curve(), compare(), calibrate() and apply() take a table's own confidence:
`confidence` names a column whose top-candidate value is the query's
confidence, higher meaning more confident (`lower_is_better=True` for
e-values or ranks: the confidence is then the negated value). Methods that
read probabilities warn (confidence.ProbabilityWarning) when the
probability column holds values outside [0, 1] or queries whose
probabilities sum above 1.
"""
from __future__ import annotations

import math
from typing import Any, Mapping, Optional, Sequence, Union

from ferolin_tools import analysis, evidence, groups, intervals, policies
from ferolin_tools import confidence as own_column
from ferolin_tools.analysis import DEFAULT_COVERAGES, Calibration, CurveResult, MethodComparison
from ferolin_tools.intervals import MethodProgress
from ferolin_tools.methods import CALIBRATION_METHODS, SCORE_METHODS, score_name
from ferolin_tools.paths import PathArg
from ferolin_tools.tables import (DEFAULT_MAX_FIELD_BYTES, ProgressCallback, QueryPass,
                                  read_table)

#: A table to read: a path (CSV or TSV, plain or gzip; Parquet or Arrow IPC
#: with pyarrow), or an object with __arrow_c_stream__ (a polars or pandas
#: DataFrame, a pyarrow Table or RecordBatchReader, a DuckDB relation).
TableArg = Union[PathArg, Any]
#: A table to read, or queries already read and merged.
TableOrPass = Union[TableArg, QueryPass]


def _read(table: TableOrPass, methods: Sequence[str], **options: Any) -> QueryPass:
    """Reads `table` for `methods`; a QueryPass given is used as it is, when
    it holds them and the confidence column asked for."""
    own = options.get("own")
    if isinstance(table, QueryPass) and own is not None and table.own != own:
        raise ValueError("a confidence column needs a candidates table: queries merged from "
                         "shards keep no column of their own")
    if isinstance(table, QueryPass):
        missing = [score_name(m) for m in methods if score_name(m) not in table.scores]
        if missing:
            raise ValueError(f"{table.path} holds no confidences by {', '.join(missing)}; it "
                             f"holds {', '.join(table.scores)}")
        return table
    return read_table(table, methods, **options)


def check_rate(value: float, name: str) -> float:
    """Returns `value` when it is a finite number strictly between 0 and 1;
    ValueError otherwise (5 for 5% is the classic slip)."""
    value = float(value)
    if not (math.isfinite(value) and 0.0 < value < 1.0):
        hint = f"; for {value:g}% write {value / 100:g}" if 1.0 <= value < 100.0 else ""
        raise ValueError(f"{name} must be a number between 0 and 1 (exclusive), "
                         f"not {value:g}{hint}")
    return value


def check_policy_rate(named: Optional[str], policy: Mapping[str, Any]) -> None:
    """ValueError for a policy whose target_error_rate is a number outside
    (0, 1), named by its file's path where it has one; a field that is no
    number is left to the policy's reader to refuse."""
    rate = policy.get("target_error_rate")
    if isinstance(rate, (int, float)) and not isinstance(rate, bool):
        try:
            check_rate(rate, "its target_error_rate")
        except ValueError as error:
            raise ValueError(f"{named or 'the policy'}: {error}") from None


def check_calibration_method(method: str, confidence_level: Optional[float]) -> None:
    """ValueError for an unknown method, a missing or unsupported level."""
    from ferolin_tools import _native

    if method not in CALIBRATION_METHODS:
        raise ValueError(f"Unknown calibration method '{method}'. Valid: "
                         + ", ".join(CALIBRATION_METHODS))
    if confidence_level is not None:
        check_rate(confidence_level, "the confidence level")
    if method == "binomial":
        if confidence_level is None:
            raise ValueError("the binomial method needs a confidence level")
        if not _native.supported_confidence_level(confidence_level):
            raise ValueError(f"Unsupported confidence level: {confidence_level:g}. "
                             "Supported: 0.90, 0.95, 0.975, 0.99")


def scores(table: TableArg, methods: Sequence[str], *, delimiter: Optional[str] = None,
           columns: Optional[Mapping[str, str]] = None,
           decimal: str = ".", na_values: Optional[Sequence[str]] = None,
           progress: Optional[ProgressCallback] = None,
           numpy: Optional[bool] = None, threads: Optional[int] = None,
           max_field_bytes: int = DEFAULT_MAX_FIELD_BYTES) -> dict[str, Any]:
    """Returns the per-query table: one entry per query, in columns that
    pandas.DataFrame(...) and polars.DataFrame(...) take as they are.

    Columns: query_id, candidate_id (the top candidate), score (its score),
    is_correct (True, False or None), candidates (how many), then one column
    of confidences per method, named by its hyphen spelling (NaN where the
    method gives none). Numbers come as numpy arrays when numpy is installed
    (numpy=False: lists), ids and labels as lists. Queries are in byte
    order of their ids; the confidences equal ferolin.apply_policy's.
    """
    read = read_table(table, methods, keep_ids=True, delimiter=delimiter, columns=columns,
                      decimal=decimal, na_values=na_values, progress=progress,
                      threads=threads,
                 max_field_bytes=max_field_bytes)
    return analysis.score_columns(read, numpy)


def curve(table: TableOrPass, methods: Sequence[str], *, delimiter: Optional[str] = None,
          columns: Optional[Mapping[str, str]] = None,
          decimal: str = ".", na_values: Optional[Sequence[str]] = None,
          progress: Optional[ProgressCallback] = None, confidence: Optional[str] = None,
          lower_is_better: bool = False,
          threads: Optional[int] = None,
          max_field_bytes: int = DEFAULT_MAX_FIELD_BYTES) -> dict[str, CurveResult]:
    """Returns each method's risk-coverage curve (as ferolin.compute_curve
    gives it) with AURC, E-AURC and how many labelled queries it scores;
    with `confidence`, also that column's curve (named "top-score" for the
    score column, otherwise "column:NAME").

    Raises NoLabelledQueries or NothingScored (naming the cause) rather than
    returning empty curves.
    """
    own = own_column.own_confidence(confidence, lower_is_better)
    read = _read(table, methods, delimiter=delimiter, columns=columns, decimal=decimal,
                 na_values=na_values, progress=progress, own=own, threads=threads,
                 max_field_bytes=max_field_bytes)
    analysis.require_labels(read)
    results = {}
    indices = [read.scores.index(score_name(score)) for score in methods]
    for index in indices + ([len(read.scores) - 1] if own else []):
        analysis.require_scored(read, index)
        results[read.scores[index]] = analysis.curve_result(read, index)
    return results


def check_coverages(coverages: Sequence[float]) -> tuple[float, ...]:
    """Returns the coverages as floats when each is in (0, 1]; ValueError otherwise."""
    checked = tuple(float(c) for c in coverages)
    for coverage in checked:
        if not 0.0 < coverage <= 1.0:
            raise ValueError(f"a coverage must be a number above 0 and at most 1, not "
                             f"{coverage:g}")
    return checked


def compare(table: TableOrPass, *, error_rate: float = 0.05, method: str = "empirical",
            confidence_level: Optional[float] = None, methods: Sequence[str] = SCORE_METHODS,
            at_coverage: Sequence[float] = DEFAULT_COVERAGES, bootstrap: Optional[int] = None,
            seed: int = intervals.DEFAULT_SEED, min_accepted: int = analysis.DEFAULT_MIN_ACCEPTED,
            delimiter: Optional[str] = None,
            columns: Optional[Mapping[str, str]] = None,
            decimal: str = ".", na_values: Optional[Sequence[str]] = None,
            progress: Optional[ProgressCallback] = None, confidence: Optional[str] = None,
            lower_is_better: bool = False,
            threads: Optional[int] = None,
            max_field_bytes: int = DEFAULT_MAX_FIELD_BYTES,
            bootstrap_progress: Optional[MethodProgress] = None) -> list[MethodComparison]:
    """Compares scoring methods on one labelled table, best first: the
    methods asked for and, with `confidence`, that column ("column:NAME",
    or "top-score" for the score column); with neither given, every method
    and, for a CSV or TSV table, the top candidate's own score ("top-score").

    Methods that score every labelled query come first, by AURC; then those
    that score only some (their AURC covers those alone); then those that
    score none. Each entry also gives AUGRC, the risk at each coverage of
    `at_coverage`, the coverage at the risk `error_rate`, and the threshold
    the calibration method chooses for `error_rate`, with its coverage,
    observed risk and that risk's 95% Wilson interval. With `bootstrap`
    replicates (None: 1000 unless labelled queries times methods exceed
    2,000,000, then 0; 0: none) each entry also holds 95% percentile-bootstrap
    intervals, the same for the same `seed` everywhere. An entry whose
    threshold accepts fewer than `min_accepted` labelled queries has
    `thin_evidence` set and no bootstrap risk interval (resampling a handful
    of queries gives a degenerate one). Merged shards are compared on every
    method they hold. `bootstrap_progress(method)`, when given, returns the
    progress callable of that method's bootstrap (or None), called as
    progress(replicates done, replicates in all).
    """
    check_rate(error_rate, "the error rate")
    check_calibration_method(method, confidence_level)
    coverages = check_coverages(at_coverage)
    if bootstrap is not None:
        intervals.check_replicates(bootstrap)
    intervals.check_seed(seed)
    own = own_column.own_confidence(confidence, lower_is_better)
    if isinstance(table, QueryPass):
        methods = ()  # compared on every column the pass holds
    elif own is None and methods is SCORE_METHODS:
        own = own_column.top_score(columns)
    read = _read(table, methods, delimiter=delimiter, columns=columns, decimal=decimal,
                 na_values=na_values, progress=progress, own=own, threads=threads,
                 max_field_bytes=max_field_bytes)
    analysis.require_labels(read)
    replicates = bootstrap if bootstrap is not None else intervals.compare_replicates(
        read.counts.labelled, len(read.scores))
    return analysis.comparison(read, error_rate, method, confidence_level, coverages,
                               replicates, seed, bootstrap_progress, min_accepted)


def calibrate(table: TableOrPass, score: Optional[str], error_rate: float, *,
              method: str = "empirical",
              confidence_level: Optional[float] = None, min_accepted: int = 30,
              group_col: Optional[str] = None, min_group: int = groups.DEFAULT_MIN_GROUP,
              bootstrap: int = intervals.DEFAULT_REPLICATES, seed: int = intervals.DEFAULT_SEED,
              delimiter: Optional[str] = None, columns: Optional[Mapping[str, str]] = None,
              decimal: str = ".", na_values: Optional[Sequence[str]] = None,
              progress: Optional[ProgressCallback] = None, confidence: Optional[str] = None,
              lower_is_better: bool = False,
              threads: Optional[int] = None,
              max_field_bytes: int = DEFAULT_MAX_FIELD_BYTES,
              bootstrap_progress: Optional[MethodProgress] = None) -> Calibration:
    """Calibrates a policy, as ferolin.calibrate does, and reports on it.

    With `confidence` (and `score` None) the policy is calibrated on that
    column's top-candidate values and names the column: scoring_method
    "confidence_column", "confidence_col" and "lower_is_better".
    ferolin.load_policy and ferolin.apply_policy refuse such a policy;
    apply() and `ferolin apply` read the column again.

    Returns a Calibration: `policy` (equal to ferolin.calibrate's for the
    same table without `group_col`), `report` (labelled, scored and
    accepted queries, observed risk with its one-sided Wilson upper bound
    (at the binomial method's confidence level, else 95%) and Wilson
    interval, AURC, E-AURC and AUGRC, with 95% percentile-bootstrap
    intervals of `bootstrap` replicates (0: none) for them and for the
    coverage and risk at the threshold, and `warnings()`, e.g. a threshold
    backed by fewer than `min_accepted` accepted queries), `curve` and
    `provenance`; save it with its save(path).

    With `group_col` (a column of the table; a query's group is its top
    candidate's cell) every group of at least `min_group` labelled queries
    gets a threshold of its own, calibrated on its queries alone, and the
    policy holds "group_col" and "group_thresholds"; every other query keeps
    the global threshold. Raises ValueError for a rate outside (0, 1),
    NoLabelledQueries and NothingScored instead of a policy that silently
    rejects everything. `bootstrap_progress` is compare()'s.

    In place of a table, a QueryPass holding the method (or the confidence
    column) is calibrated as it is; with `group_col`, when it was read with
    that group column.
    """
    check_rate(error_rate, "the error rate")
    check_calibration_method(method, confidence_level)
    intervals.check_replicates(bootstrap)
    intervals.check_seed(seed)
    if isinstance(table, QueryPass) and group_col is not None and table.group_column != group_col:
        raise ValueError("group_col needs a candidates table: queries merged from shards keep "
                         "no group column")
    own = own_column.own_confidence(confidence, lower_is_better)
    if (score is None) == (own is None):
        raise ValueError("give a scoring method or a confidence column, not both"
                         if own is not None else "give a scoring method or a confidence column")
    read = _read(table, [score] if score is not None else [], delimiter=delimiter,
                 columns=columns, decimal=decimal, na_values=na_values, progress=progress,
                 group_column=group_col, fingerprint=True, own=own, threads=threads,
                 max_field_bytes=max_field_bytes)
    index = len(read.scores) - 1 if score is None else read.scores.index(score_name(score))
    steps = bootstrap_progress(read.scores[index]) if bootstrap and bootstrap_progress else None
    return evidence.policy_with_evidence(
        read, index, error_rate, method, confidence_level, min_accepted, group_col=group_col,
        min_group=min_group, replicates=bootstrap, seed=seed, progress=steps)


def apply(table: TableArg, policy: Mapping[str, Any] | PathArg, *,
          delimiter: Optional[str] = None, columns: Optional[Mapping[str, str]] = None,
          decimal: str = ".", na_values: Optional[Sequence[str]] = None,
          progress: Optional[ProgressCallback] = None,
          numpy: Optional[bool] = None, confidence: Optional[str] = None,
          threads: Optional[int] = None,
          max_field_bytes: int = DEFAULT_MAX_FIELD_BYTES) -> dict[str, Any]:
    """Decides every query of a table by a policy (a dict, or the path of a
    policy file), as ferolin.apply_policy does, in columns: query_id,
    candidate_id, confidence (NaN where none), accepted, threshold, method.

    A grouped policy ("group_col" and "group_thresholds", as a policy file
    or Calibration.policy holds them) reads its group column from the table:
    a query whose group has a threshold of its own is decided by it, every
    other one by the global threshold; the columns then end with `group`.
    A policy on a confidence column reads that column's top-candidate
    values (`confidence`: the column's name in this table, when it
    differs). Raises NothingScored when the policy's method scores no query
    at all (every query would be rejected for want of a confidence), TableError
    when the table lacks the policy's group column. Warns
    (EditedPolicyWarning) when the policy is not the one its calibration
    record describes (a threshold, method or target edited by hand).
    """
    named = None
    if not isinstance(policy, Mapping):
        from ferolin_tools.paths import as_text

        named = as_text(policy)
        policy = policies.read(named)
    check_policy_rate(named, policy)
    policies.warn_if_edited(named, policy)
    group_col, _ = groups.policy_groups(policy)
    own = own_column.applied_column(policy, confidence)
    read = read_table(table, [score_name(policy["scoring_method"])] if own is None else [],
                      keep_ids=True, delimiter=delimiter, columns=columns, decimal=decimal,
                      na_values=na_values, progress=progress,
                      group_column=group_col, group_policy=named or "", own=own, threads=threads,
                      max_field_bytes=max_field_bytes)
    analysis.require_decidable(read)
    return groups.decisions(read, dict(policy), numpy)
