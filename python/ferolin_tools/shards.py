"""Results written as many files (shards): each shard scored where it lies,
its queries merged as compact pairs, one calibration over all of them.

- read_scores(tables): the per-query tables that `ferolin scores` writes
  (plain or gzip), merged;
- score_shards(tables, methods): candidates tables scored in a thread pool
  (the core reads without the GIL), merged;
- score_shard(table, methods) on a worker, then merge_shards([...]) on the
  client: the same in two steps, for Dask and other engines that move
  results between processes (ShardPairs pickle as compact bytes);
- apply_shard(table, policy, output): one shard's decisions as a TSV file.

A merged result is a QueryPass that calibrate(), curve() and compare()
take in place of a table. It is exact: its curves, AURC, E-AURC and
policies are bit for bit those of the same call on all the shards' rows in
one table, as long as no query has rows in two shards; a query id found in
two shards is an error that names it and both files.
"""
from __future__ import annotations

import contextlib
import os
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from typing import Any, Callable, Mapping, Optional, Sequence

from ferolin_tools import _native, cell_errors, frames, output, read_errors
from ferolin_tools.errors import MissingColumn, TableError
from ferolin_tools.layout import TableLayout
from ferolin_tools.methods import score_name
from ferolin_tools.paths import PathArg, PathProblem, as_text, check_readable
from ferolin_tools.tables import QueryPass, read_table


@dataclass(frozen=True)
class ShardPairs:
    """One shard's queries, packed: each query's id, label and confidence by
    each method, about 10 bytes a query for one method beside the ids.
    Picklable, so a worker process can hand it to the client."""

    name: str
    scores: tuple[str, ...]
    packed: bytes


def _shard_names(names: Sequence[str]) -> str:
    """How reports name the shards: 'a.tsv', or 'a.tsv and 7 more'."""
    if len(names) == 1:
        return names[0]
    return f"{names[0]} and {len(names) - 1} more"


_PER_QUERY_COLUMNS = ("query_id", "is_correct", "candidates")


def _table_error(name: str, error: _native.CoreError, header: Sequence[str]) -> TableError:
    """The error for a shard that cannot be read: what the header has, and
    whether the file looks like a candidates table instead."""
    shown = f" {read_errors.header_text(header)}" if header else ""
    plain = f"{name}: {error}" + (f".{shown}" if header else "")
    if error.kind != "missing_column":
        return TableError(plain)
    if error.column not in _PER_QUERY_COLUMNS:
        return MissingColumn(plain, column=error.column, header=header)
    message = (f"{name}: not a per-query table as `ferolin scores` writes it (TSV with the "
               f"columns {', '.join(_PER_QUERY_COLUMNS)} and one per scoring method): {error}.")
    fields = [field for entry in header for field in entry.split(",")]
    if "rank" in fields:
        message += " It looks like a candidates table: score it with `ferolin scores` first."
    return MissingColumn(message + shown, column=error.column, header=header)


def _merged(merge: Callable[[], _native.ReadOutcome], names: Sequence[str], hint_style: str,
            size: int) -> QueryPass:
    """The QueryPass of a merge (`size`: the bytes of its shards), or
    TableError naming the file at fault."""
    layout = TableLayout("\t", {}, hint_style, number_options=False)
    try:
        result = merge()
    except _native.CoreError as error:
        if error.source is None:  # the merge's own error names its files
            raise TableError(str(error)) from None
        name, header = names[error.source], error.header
        if error.kind == "bad_cell":
            raise cell_errors.cell_error(name, error, header, layout) from None
        raise _table_error(name, error, header) from None
    merged = QueryPass.of(result, _shard_names(names), result.scores or (), layout,
                          file_bytes=size)
    merged.shards = tuple(names)
    return merged


def _check_shards(names: Sequence[Any]) -> None:
    if not names:
        raise ValueError("no shards given")


def read_scores(tables: Sequence[PathArg], methods: Optional[Sequence[str]] = None, *,
                hint_style: str = "python") -> QueryPass:
    """Merges per-query tables written by `ferolin scores` (TSV, plain or
    gzip-compressed) for `methods` (default: the method columns of the
    first table, which every table must have).

    Raises TableError naming the file for a table that cannot be read, and
    for a query id found in two tables (or twice in one).
    """
    paths = [as_text(table) for table in tables]
    _check_shards(paths)
    for path in paths:
        try:
            check_readable(path, "per-query table")
        except PathProblem as problem:
            raise TableError(str(problem)) from None
    wanted = None if methods is None else [score_name(method) for method in methods]
    size = sum(os.path.getsize(path) for path in paths if os.path.isfile(path))
    return _merged(lambda: _native.read_score_tables(paths, wanted), paths, hint_style, size)


def score_shard(table: Any, methods: Sequence[str], *, delimiter: Optional[str] = None,
                columns: Optional[Mapping[str, str]] = None,
                name: Optional[str] = None) -> ShardPairs:
    """Reads one candidates table (a path, or an object with
    __arrow_c_stream__ such as one partition of a Dask DataFrame) for
    `methods` and returns its queries packed, for merge_shards(), under
    `name` (default: the path); raises TableError as read_table() does."""
    read = read_table(table, methods, keep_ids=True, delimiter=delimiter, columns=columns)
    return ShardPairs(name or read.path, read.scores, read.native.pack())


def merge_shards(shards: Sequence[ShardPairs], methods: Optional[Sequence[str]] = None, *,
                 hint_style: str = "python") -> QueryPass:
    """Merges packed shards into one QueryPass for `methods` (default: the
    first shard's); raises TableError for a query id in two shards."""
    _check_shards(shards)
    wanted = [score_name(method) for method in (methods or shards[0].scores)]
    names = [shard.name for shard in shards]
    packed = [shard.packed for shard in shards]
    return _merged(lambda: _native.merge_packed(names, packed, wanted), names, hint_style,
                   sum(len(bytes_) for bytes_ in packed))


def _shard_name(table: Any, number: int) -> str:
    """A shard's path, or '<polars DataFrame> 3' for the third table given in memory."""
    return f"{frames.frame_name(table)} {number + 1}" if frames.is_frame(table) else as_text(table)


def score_shards(tables: Sequence[Any], methods: Sequence[str], *,
                 workers: Optional[int] = None, delimiter: Optional[str] = None,
                 columns: Optional[Mapping[str, str]] = None) -> QueryPass:
    """Scores candidates tables (paths, or objects with __arrow_c_stream__)
    with a pool of `workers` threads (default: one per core) and merges their queries. The core reads without the GIL,
    so the reads run side by side."""
    names = [_shard_name(table, number) for number, table in enumerate(tables)]
    _check_shards(names)
    with ThreadPoolExecutor(max_workers=workers or os.cpu_count() or 1) as pool:
        shards = list(pool.map(
            lambda table, name: score_shard(table, methods, delimiter=delimiter, columns=columns,
                                            name=name),
            tables, names))
    return merge_shards(shards, methods)


def apply_shard(table: PathArg, policy: Mapping[str, Any], decisions: PathArg, *,
                delimiter: Optional[str] = None,
                columns: Optional[Mapping[str, str]] = None) -> dict[str, Any]:
    """Decides every query of one shard by `policy` and writes the decisions
    as TSV to `decisions` (written as they are made, put in place once
    complete). A decisions file of an earlier run is removed first, so that
    a task that dies never leaves old decisions looking like new ones.
    Returns the shard's path, the file written, and its queries and
    acceptances."""
    from ferolin_tools import analysis, batches, groups

    target = as_text(decisions)
    remove_stale(target)
    group_col, _ = groups.policy_groups(policy)
    read = read_table(table, [score_name(policy["scoring_method"])], keep_ids=True,
                      delimiter=delimiter, columns=columns, group_column=group_col,
                      group_policy="")
    analysis.require_decidable(read)
    with output.output_stream(target) as stream:
        totals = batches.write_decisions(stream, read, dict(policy))
    return {"table": as_text(table), "decisions": target,
            "queries": totals.queries, "accepted": totals.accepted}


def remove_stale(decisions: PathArg) -> None:
    """Removes the regular file `decisions` (an earlier run's output), if
    any; a link or a stream is left alone."""
    target = as_text(decisions)
    if os.path.isfile(target) and not os.path.islink(target):
        with contextlib.suppress(FileNotFoundError):
            os.unlink(target)
