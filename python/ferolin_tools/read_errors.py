"""The errors of a table the core could not read, worded for people: which
columns the header has, which of them looks like the one missing, whether
the table looks separated by another delimiter; a cell by its column's
header name, with what to try."""
from __future__ import annotations

import difflib
from typing import Optional, Sequence

from ferolin_tools import cell_errors, field_limit
from ferolin_tools._native import CoreError
from ferolin_tools.errors import MissingColumn, TableError
from ferolin_tools.layout import TableLayout
from ferolin_tools.methods import COLUMNS

_OTHER_DELIMITERS = {"\t": "tab", ";": ";", ",": ",", "|": "|"}
_SHOWN_COLUMNS = 12
# The columns every table must have lead the known columns.
REQUIRED_COLUMNS = COLUMNS[:4]


def _delimiter_hint(delimiter: str, style: str) -> str:
    name = _OTHER_DELIMITERS.get(delimiter, delimiter)
    if style == "cli":
        return f"--delimiter {name if name != ';' else repr(name)}"
    return f"delimiter={delimiter!r}"


def column_hint(column: str, header_name: str, style: str) -> str:
    if style == "cli":
        return f"--column {column}={header_name}"
    return f"columns={{{column!r}: {header_name!r}}}"


def header_text(header: Sequence[str]) -> str:
    """'The header has 3 columns: a, b, c.' (long headers shortened)."""
    shown = [repr(name) if not name.isprintable() or not name else name
             for name in header[:_SHOWN_COLUMNS]]
    more = f", ... ({len(header) - _SHOWN_COLUMNS} more)" if len(header) > _SHOWN_COLUMNS else ""
    noun = "column" if len(header) == 1 else "columns"
    return f"The header has {len(header)} {noun}: {', '.join(shown)}{more}."


def near_match(name: str, header: Sequence[str]) -> Optional[str]:
    """Returns the header name most like `name` (same letters in another
    case, or a close spelling), if any."""
    folded = {entry.casefold().replace("-", "_").replace(" ", "_"): entry for entry in header}
    if name.casefold() in folded:
        return folded[name.casefold()]
    close = difflib.get_close_matches(name.casefold(), list(folded), n=1, cutoff=0.75)
    return folded[close[0]] if close else None


def _other_delimiter(header: Sequence[str], delimiter: str) -> Optional[str]:
    """A delimiter that splits a one-field header into several fields."""
    if len(header) != 1:
        return None
    for other in _OTHER_DELIMITERS:
        if other != delimiter and other in header[0]:
            return other
    return None


def missing_group_column(path: str, column: str, header: Sequence[str], style: str,
                         policy: Optional[str] = None) -> str:
    """The group column (asked for; or named by the policy file `policy`, or
    by a policy dict when `policy` is "") is not in the table."""
    named = "" if policy is None else (f" that policy {policy} names" if policy else
                                       " of the policy")
    message = (f"{path}: the group column {column!r}{named} is not in the table. "
               f"{header_text(header)}")
    match = near_match(column, header)
    if match is not None and policy is None:
        hint = f"--group-col {match}" if style == "cli" else f"group_col={match!r}"
        message += f" If {match!r} is that column, give {hint}."
    elif match is not None:
        message += f" If {match!r} is that column, rename it in the table."
    return message


def _required_names(layout: TableLayout) -> list[tuple[str, str]]:
    """(known column, header name) of every column the table must have:
    the four required ones, and each one renamed by a mapping."""
    names = [(column, layout.header_name(column)) for column in REQUIRED_COLUMNS]
    return names + [(column, name) for column, name in layout.columns.items()
                    if column not in REQUIRED_COLUMNS]


def _missing_columns(path: str, header: Sequence[str], layout: TableLayout) -> str:
    """Every column the header lacks, each with what to try."""
    missing = [(column, name) for column, name in _required_names(layout) if name not in header]
    other = _other_delimiter(header, layout.delimiter)
    if other is not None:
        # Every column is missing from a header that is not split at all:
        # the delimiter is the one thing to fix.
        missing = missing[:1]
    names = [name + (f" (named by {column_hint(column, name, layout.hint_style)})"
                     if column in layout.columns else "") for column, name in missing]
    noun = "column" if len(missing) == 1 else "columns"
    message = f"{path}: Missing required {noun}: {', '.join(names)}. {header_text(header)}"
    if other is not None:
        name = _OTHER_DELIMITERS[other]
        return message + (f" It looks {name}-separated: read it with "
                          f"{_delimiter_hint(other, layout.hint_style)}.")
    for column, name in missing:
        match = near_match(name, header)
        if match is not None:
            message += (f" If {match!r} is {name}, map it with "
                        f"{column_hint(column, match, layout.hint_style)}.")
    return message


def table_error(path: str, error: CoreError, layout: TableLayout,
                group_column: Optional[str] = None, policy: Optional[str] = None,
                header: Optional[Sequence[str]] = None) -> TableError:
    """The TableError for a table the core could not read (`header`: the
    table's, where the error's own is short of it): for a cell, which one
    and why; for missing columns, all of them, what the header has and what
    to try; otherwise the core's error."""
    header = list(error.header if header is None else header)
    if error.kind == "bad_cell":
        return cell_errors.cell_error(path, error, header, layout)
    if error.kind == "too_long":
        return field_limit.long_field_error(path, error, header, layout.hint_style)
    if error.kind != "missing_column":
        return TableError(f"{path}: {error}")
    message = f"{path}: {error}"
    if header and any(name not in header for _, name in _required_names(layout)):
        message = _missing_columns(path, header, layout)
    elif header and error.column == group_column:
        message = missing_group_column(path, error.column, header, layout.hint_style, policy)
    return MissingColumn(message, column=error.column, header=header)
