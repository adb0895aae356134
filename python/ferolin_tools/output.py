"""Writing results as TSV or JSON, with numbers that read back to the same
floats, to standard output or to a file that appears only when complete."""
from __future__ import annotations

import contextlib
import csv
import json
import math
import sys
from typing import IO, Any, Callable, Iterable, Iterator, Mapping, Optional, Sequence

from ferolin_tools.output_files import output_file

CURVE_COLUMNS = ["threshold", "accepted", "total", "coverage", "errors", "risk"]
DECISION_COLUMNS = ["query_id", "candidate_id", "confidence", "accepted", "threshold", "method"]
COMPARE_COLUMNS = ["score", "scored", "labelled", "queries", "aurc", "eaurc", "threshold",
                   "accepted", "coverage", "risk"]


def number_text(value: Any) -> str:
    """Shortest round-trip text: repr() of a float is exactly that ('nan', 'inf')."""
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float):
        return repr(value)
    return str(value)


def present_text(value: Any) -> str:
    """As number_text, but NaN (no value) is an empty cell, which pandas,
    polars and R all read as missing."""
    if isinstance(value, float) and math.isnan(value):
        return ""
    return number_text(value)


def tsv_writer(stream: IO[str], quote_all: bool = False) -> Any:
    # excel-tab quotes fields that hold a tab, a quote or LF, but not a lone
    # CR (not part of the line terminator): see write_table.
    if quote_all:
        return csv.writer(stream, dialect="excel-tab", lineterminator="\n",
                          quoting=csv.QUOTE_ALL)
    return csv.writer(stream, dialect="excel-tab", lineterminator="\n")


def write_table(stream: IO[str], header: Sequence[str], rows: Iterable[Sequence[Any]],
                cell: Callable[[Any], str] = present_text) -> None:
    """Rows as TSV, a missing number (None or NaN) as an empty cell, so that
    a column of numbers reads as numbers everywhere. A row with a CR in a
    cell is written with every cell quoted: unquoted, the CR would end the
    record for every reader."""
    tsv_writer(stream).writerow(header)
    write_rows(stream, rows, cell)


def write_rows(stream: IO[str], rows: Iterable[Sequence[Any]],
               cell: Callable[[Any], str] = present_text) -> None:
    """Rows as write_table writes them, without the header."""
    writer = tsv_writer(stream)
    quoted = tsv_writer(stream, quote_all=True)
    for row in rows:
        cells = [cell(value) for value in row]
        (quoted if any("\r" in text for text in cells) else writer).writerow(cells)


def _listed(column: Any) -> list[Any]:
    return list(column.tolist() if hasattr(column, "tolist") else column)


def column_rows(columns: dict[str, Any]) -> Iterator[tuple[Any, ...]]:
    """The rows of a dict of equal-length columns."""
    return zip(*(_listed(column) for column in columns.values()))


def write_columns(stream: IO[str], columns: dict[str, Any],
                  cell: Callable[[Any], str] = present_text) -> None:
    """A dict of equal-length columns as TSV, one row per entry."""
    write_table(stream, list(columns), column_rows(columns), cell)


def write_curve_tsv(stream: IO[str], curves: list[tuple[str, list[dict[str, Any]]]]) -> None:
    """curves: list of (score name, curve rows); a score column leads when several."""
    several = len(curves) > 1
    rows = ((([score] if several else []) + [row[column] for column in CURVE_COLUMNS])
            for score, curve in curves for row in curve)
    write_table(stream, (["score"] if several else []) + CURVE_COLUMNS, rows)


def flat_columns(entries: Sequence[dict[str, Any]], prefixes: Mapping[str, str]
                 ) -> tuple[list[str], list[list[Any]]]:
    """JSON-like entries with the same keys (compare's) as TSV columns: the
    entries of a nested object KEY become columns PREFIX_INNER, with the
    prefix `prefixes` gives KEY ("risk_at_coverage": "risk_at" makes
    risk_at_0.5), and an interval NAME_interval two columns NAME_low and
    NAME_high."""
    def cells(entry: dict[str, Any]) -> list[tuple[str, Any]]:
        flat: list[tuple[str, Any]] = []
        for key, value in entry.items():
            if isinstance(value, dict):
                flat += [(f"{prefixes.get(key, key)}_{inner}", item)
                         for inner, item in value.items()]
            elif key.endswith("_interval"):
                name = key[: -len("_interval")]
                flat += [(f"{name}_low", value[0]), (f"{name}_high", value[1])]
            else:
                flat.append((key, value))
        return flat

    rows = [cells(entry) for entry in entries]
    header = [name for name, _ in rows[0]] if rows else []
    return header, [[value for _, value in row] for row in rows]


def json_safe(value: Any) -> Any:
    """NaN and infinities become null: JSON has no words for them."""
    if isinstance(value, float) and not math.isfinite(value):
        return None
    if isinstance(value, dict):
        return {key: json_safe(item) for key, item in value.items()}
    if isinstance(value, (list, tuple)):
        return [json_safe(item) for item in value]
    return value


def write_json(stream: IO[str], value: Any) -> None:
    json.dump(json_safe(value), stream, indent=2, allow_nan=False)
    stream.write("\n")


@contextlib.contextmanager
def output_stream(path: Optional[str]) -> Iterator[IO[str]]:
    """Yields standard output, or a text stream to `path` written by the
    core's writer (output_files): a failed run never leaves half a file or
    destroys an older one."""
    if path is None:
        yield sys.stdout
        return
    with output_file(path) as stream:
        yield stream
