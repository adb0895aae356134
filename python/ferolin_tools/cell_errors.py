"""The message for a cell that the reader could not convert: the column by
its header name, the value as it stands (shortened), the line, and what to
try where the value shows what went wrong."""
from __future__ import annotations

import re
from typing import TYPE_CHECKING, Any, Mapping, Sequence

if TYPE_CHECKING:
    from ferolin_tools.tables import TableLayout

_LONGEST_SHOWN = 40
_DECIMAL_COMMA = re.compile(r"^[+-]?\d*,\d+([eE][+-]?\d+)?$")
_WORD = re.compile(r"^[^\d\s+.,-]\S*$|^[-?.]+$")

# The core's reasons, by what a reader of the table needs to know.
_NOT_A_NUMBER = "invalid float literal"
_EMPTY_NUMBER = "cannot parse float from empty string"
_NOT_A_RANK = "invalid digit found in string"
_EMPTY_RANK = "cannot parse integer from empty string"
_RANK_TOO_LARGE = "number too large to fit in target type"
_NOT_A_LABEL = "provided string was not `true` or `false`"


def shown_value(cell: str) -> str:
    """The cell quoted, cut to a readable length."""
    if len(cell) > _LONGEST_SHOWN:
        cell = cell[:_LONGEST_SHOWN - 3] + "..."
    return repr(cell)


def _option(layout: "TableLayout", cli: str, python: str) -> str:
    return cli if layout.hint_style == "cli" else python


def _number_hint(cell: str, layout: "TableLayout") -> str:
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


def _what_is_wrong(cell: str, reason: str, layout: "TableLayout", whole: str = "rank") -> str:
    if reason == _NOT_A_NUMBER:
        return f"{shown_value(cell)} is not a number.{_number_hint(cell, layout)}"
    if reason == _EMPTY_NUMBER:
        return "the cell is empty, and a score is required."
    if reason == _EMPTY_RANK:
        return f"the cell is empty, and a {whole} is required."
    if reason == _NOT_A_RANK:
        hint = (f" {whole.capitalize()}s are whole numbers (pandas writes 1.0 for a column "
                "that holds a missing value)." if re.match(r"^\d+\.0*$", cell) else "")
        return f"{shown_value(cell)} is not a {whole} (a whole number, 0 or more).{hint}"
    if reason == _RANK_TOO_LARGE:
        return f"{shown_value(cell)} is too large for a {whole}."
    if reason == _NOT_A_LABEL:
        return (f"{shown_value(cell)} is not a label: write true or false (or 1 and 0), "
                "and leave the cell empty where the answer is unknown.")
    return f"{shown_value(cell)}: {reason}."


def cell_error(path: str, cell: Mapping[str, Any], header: Sequence[str],
               layout: "TableLayout") -> str:
    """The message for the cell the reader stopped at, as run_pass and
    read_score_tables report it."""
    field = cell["field"]
    name = repr(header[field]) if field < len(header) else f"number {field + 1}"
    # The one whole-number column besides the rank: a per-query table's
    # count of candidates.
    counted = field < len(header) and header[field] != layout.header_name("rank")
    whole = "count" if counted else "rank"
    return (f"{path}, line {cell['line']}, column {name}: "
            f"{_what_is_wrong(cell['cell'], cell['reason'], layout, whole)}")
