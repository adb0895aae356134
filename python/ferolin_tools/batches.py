"""Per-query outputs written a slice of queries at a time, so that a table
of millions of queries costs the command no more than the pass that read
it: the Python strings of one slice live at once, never those of all."""
from __future__ import annotations

from collections import Counter
from dataclasses import dataclass, field
from typing import IO, Any, Callable, Iterator, Mapping

from ferolin_tools import analysis, groups, output
from ferolin_tools.tables import QueryPass

#: Queries per slice: large enough that the per-call cost vanishes, small
#: enough that a slice's strings stay a few MiB.
SLICE_QUERIES = 1 << 15


def slices(count: int) -> Iterator[range]:
    """The queries 0..count-1 in consecutive ranges of SLICE_QUERIES."""
    for start in range(0, count, SLICE_QUERIES):
        yield range(start, min(start + SLICE_QUERIES, count))


def write_sliced(stream: IO[str], table: QueryPass,
                 columns_of: Callable[[range], dict[str, Any]],
                 cell: Callable[[Any], str] = output.present_text) -> None:
    """Writes as TSV the columns that columns_of gives for each slice; the
    header once, also for a table without queries."""
    first = True
    for rows in slices(table.counts.queries) if table.counts.queries else [range(0)]:
        columns = columns_of(rows)
        if first:
            output.write_table(stream, list(columns), [])
            first = False
        output.write_rows(stream, output.column_rows(columns), cell)


def write_scores(stream: IO[str], table: QueryPass) -> None:
    """The per-query table of `ferolin scores`."""
    write_sliced(stream, table, lambda rows: analysis.score_columns(table, False, rows),
                 output.present_text)


@dataclass
class DecisionTotals:
    """What the decisions came to: queries, accepted, and the queries of
    each group (where the pass has a group column)."""

    queries: int = 0
    accepted: int = 0
    groups: "Counter[str]" = field(default_factory=Counter)

    def as_columns(self) -> dict[str, Any]:
        """The shape groups.applied_text reads."""
        return {"query_id": range(self.queries), "group": list(self.groups.elements())}


def write_decisions(stream: IO[str], table: QueryPass,
                    policy: Mapping[str, Any]) -> DecisionTotals:
    """The decisions of `ferolin apply`, written as they are made."""
    _, thresholds = groups.policy_groups(policy)
    decided = table.native.decide(0, policy["threshold"], thresholds)
    totals = DecisionTotals()

    def columns_of(rows: range) -> dict[str, Any]:
        columns = groups.decisions(table, policy, False, rows, decided)
        totals.queries += len(columns["query_id"])
        totals.accepted += sum(columns["accepted"])
        totals.groups.update(columns.get("group", ()))
        return columns

    write_sliced(stream, table, columns_of)
    return totals
