"""The message for a cell that the reader could not convert: the column by
its header name, the value as it stands (shortened), the line, and what to
try where the value shows what went wrong."""
from __future__ import annotations

import re
from typing import Sequence

from ferolin_tools._native import CoreError
from ferolin_tools.errors import CellError
from ferolin_tools.layout import TableLayout

_LONGEST_SHOWN = 40
_DECIMAL_COMMA = re.compile(r"^[+-]?\d*,\d+([eE][+-]?\d+)?$")
_WORD = re.compile(r"^[^\d\s+.,-]\S*$|^[-?.]+$")


def shown_value(cell: str) -> str:
    """The cell quoted, cut to a readable length."""
    if len(cell) > _LONGEST_SHOWN:
        cell = cell[:_LONGEST_SHOWN - 3] + "..."
    return repr(cell)


def _option(layout: TableLayout, cli: str, python: str) -> str:
    return cli if layout.hint_style == "cli" else python


def _number_hint(cell: str, layout: TableLayout) -> str:
    if not layout.number_options:
        return ""
    if layout.decimal == "." and _DECIMAL_COMMA.match(cell):
        return (" It looks like a number with a decimal comma: read the table with "
                + _option(layout, "--decimal ,", "decimal=','") + ".")
    if layout.decimal == "," and "." in cell and "," in cell:
        return " Thousands separators cannot be read; write the number without them."
    if _WORD.match(cell):
        option = _option(layout, f"--na-values {shown_value(cell)}",
                         f"na_values=[{shown_value(cell)}]")
        return f" If it marks a missing value, read it as one with {option}."
    return ""


def _what_is_wrong(cell: str, reason: str, layout: TableLayout, whole: str = "rank") -> str:
    if reason == "invalid_float":
        return f"{shown_value(cell)} is not a number.{_number_hint(cell, layout)}"
    if reason == "empty_float":
        return "the cell is empty, and a score is required."
    if reason == "empty_integer":
        return f"the cell is empty, and a {whole} is required."
    if reason == "invalid_digit":
        hint = (f" {whole.capitalize()}s are whole numbers (pandas writes 1.0 for a column "
                "that holds a missing value)." if re.match(r"^\d+\.0*$", cell) else "")
        return f"{shown_value(cell)} is not a {whole} (a whole number, 0 or more).{hint}"
    if reason == "integer_too_large":
        return f"{shown_value(cell)} is too large for a {whole}."
    return (f"{shown_value(cell)} is not a label: write true or false (or 1 and 0), "
            "and leave the cell empty where the answer is unknown.")


def cell_error(path: str, error: CoreError, header: Sequence[str],
               layout: TableLayout) -> CellError:
    """The CellError for the cell the reader stopped at (`error`, the core's
    bad_cell failure), as run_pass and read_score_tables report it."""
    field = error.field
    column = header[field] if field < len(header) else None
    # The one whole-number column besides the rank: a per-query table's
    # count of candidates.
    whole = "count" if column is not None and column != layout.header_name("rank") else "rank"
    shown = repr(column) if column is not None else f"number {field + 1}"
    message = (f"{path}, line {error.line}, column {shown}: "
               f"{_what_is_wrong(error.value, error.reason, layout, whole)}")
    return CellError(message, column=column, line=error.line, value=error.value,
                     reason=error.reason)
