"""Messages that say what is wrong with a table and how to fix it: which
columns the header has, which of them looks like the one missing, whether
the table looks separated by another delimiter, why a method scores nothing."""
from __future__ import annotations

import difflib
import re
from typing import TYPE_CHECKING, Any, Mapping, Optional, Sequence

from ferolin_tools import cell_errors
from ferolin_tools.field_limit import long_field_message
from ferolin_tools.methods import COLUMNS

if TYPE_CHECKING:
    from ferolin_tools.tables import QueryPass, TableLayout

_MISSING_COLUMN = re.compile(r"^Missing required column: (.*)$", re.DOTALL)
_OTHER_DELIMITERS = {"\t": "tab", ";": ";", ",": ",", "|": "|"}
_SHOWN_COLUMNS = 12
# The columns every table must have lead the known columns.
REQUIRED_COLUMNS = COLUMNS[:4]


def _delimiter_hint(delimiter: str, style: str) -> str:
    name = _OTHER_DELIMITERS.get(delimiter, delimiter)
    if style == "cli":
        return f"--delimiter {name if name != ';' else repr(name)}"
    return f"delimiter={delimiter!r}"


def _column_hint(column: str, header_name: str, style: str) -> str:
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


def _required_names(layout: "TableLayout") -> list[tuple[str, str]]:
    """(known column, header name) of every column the table must have:
    the four required ones, and each one renamed by a mapping."""
    names = [(column, layout.header_name(column)) for column in REQUIRED_COLUMNS]
    return names + [(column, name) for column, name in layout.columns.items()
                    if column not in REQUIRED_COLUMNS]


def _missing_columns(path: str, header: Sequence[str], layout: "TableLayout") -> str:
    """Every column the header lacks, each with what to try."""
    missing = [(column, name) for column, name in _required_names(layout) if name not in header]
    other = _other_delimiter(header, layout.delimiter)
    if other is not None:
        # Every column is missing from a header that is not split at all:
        # the delimiter is the one thing to fix.
        missing = missing[:1]
    names = [name + (f" (named by {_column_hint(column, name, layout.hint_style)})"
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
                        f"{_column_hint(column, match, layout.hint_style)}.")
    return message


def table_error(path: str, error: str, header: Sequence[str], layout: "TableLayout",
                group_column: Optional[str] = None, policy: Optional[str] = None,
                cell: Optional[Mapping[str, Any]] = None) -> str:
    """The message for a table the core could not read: for a cell, which
    one and why; for missing columns, all of them, what the header has and
    what to try; otherwise the core's error."""
    if cell is not None:
        return cell_errors.cell_error(path, cell, header, layout)
    long_field = long_field_message(path, error, header, layout.hint_style)
    if long_field is not None:
        return long_field
    missing = _MISSING_COLUMN.match(error)
    if not missing or not header:
        return f"{path}: {error}"
    if any(name not in header for _, name in _required_names(layout)):
        return _missing_columns(path, header, layout)
    if group_column is not None and missing.group(1) == group_column:
        return missing_group_column(path, group_column, header, layout.hint_style, policy)
    return f"{path}: {error}"


def no_labels(table: "QueryPass") -> str:
    """Why no query of the table counts as labelled, and what to do."""
    layout = table.layout
    name = layout.header_name("is_correct")
    message = f"{table.path}: no labelled query, so nothing can be measured or calibrated:"
    if name not in table.header:
        message += (f" the table has no {name!r} column to tell right from wrong answers. "
                    + header_text(table.header))
        match = near_match(name, table.header)
        if match is not None:
            message += (f" If {match!r} holds the labels, map it with "
                        f"{_column_hint('is_correct', match, layout.hint_style)}.")
        return message
    return message + (f" the {name!r} cell is empty for the top candidate (smallest rank) of "
                      f"every one of its {table.counts.queries} queries; only the top "
                      f"candidate's label is read.")


def _probability_note(table: "QueryPass") -> str:
    name = table.layout.header_name("probability")
    return f" (the table has no {name!r} column)" if name not in table.header else ""


def why_unscored(table: "QueryPass", score: str, labelled: bool) -> str:
    """Why `score` gives none of the table's queries (or of its labelled
    queries) a confidence."""
    counts = table.counts
    considered = counts.labelled if labelled else counts.queries
    single = counts.labelled_single_candidate if labelled else counts.single_candidate
    what = "labelled queries" if labelled else "queries"
    if table.own is not None and score == table.scores[-1]:
        return (f"{score} is the top candidates' cells of column {table.own.column!r}; none of "
                f"the {considered} {what} has a number there")
    probabilities = _probability_note(table)
    if score == "max-prob":
        return f"max-prob needs probabilities; 0 of {considered} top candidates have one" + \
            probabilities
    if score == "margin":
        return ("margin needs the probabilities of the top two candidates; none of the "
                f"{considered} {what} has both{probabilities}")
    if score in ("entropy", "effective-k"):
        return (f"{score} needs a probability for every candidate; none of the {considered} "
                f"{what} has them all{probabilities}")
    if single == considered:
        return f"{score} needs at least two candidates; each of the {considered} {what} has one"
    if score == "score-ratio":
        return (f"score-ratio needs a positive, finite runner-up score; none of the {considered} "
                f"{what} has one")
    return f"{score} found no finite confidence among the {considered} {what}"


def nothing_scored(table: "QueryPass", score: str) -> str:
    """The message for a method that scores none of the labelled queries."""
    hint = (f"`ferolin compare {table.path}` shows which methods can"
            if table.layout.hint_style == "cli" else
            "ferolin_tools.compare() shows which methods can")
    return (f"{table.path}: {score} scores none of the {table.counts.labelled} labelled "
            f"queries: {why_unscored(table, score, labelled=True)}. {hint}.")


def nothing_decided(table: "QueryPass") -> str:
    """The message for a policy whose method scores none of the queries."""
    score = table.scores[0]
    return (f"{table.path}: the policy's method, {score}, scores none of the "
            f"{table.counts.queries} queries, so it would reject them all: "
            f"{why_unscored(table, score, labelled=False)}.")


def tied_tops(table: "QueryPass") -> Optional[str]:
    """A note on queries whose top candidate the order of rows decides."""
    tied = table.tied_tops
    if not tied:
        return None
    return (f"{tied} of the {table.counts.queries} queries hold two or more rows at their "
            f"smallest rank (a tied top, or two candidate lists under one query id); the first "
            f"such row in the file is taken as the top candidate, so the label and confidence "
            f"of these queries depend on the order of the rows")
