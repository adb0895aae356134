"""Messages for a cell (or a row) longer than the read's limit: which line,
which column by its header name, the limit, and how to raise it."""
from __future__ import annotations

from typing import Sequence

from ferolin_tools._native import CoreError
from ferolin_tools.errors import FieldTooLong

# A row may hold this many cells at the limit (CsvTokenizer's kRecordFields).
_ROW_CELLS = 16


def long_field_error(path: str, error: CoreError, header: Sequence[str],
                     hint_style: str) -> FieldTooLong:
    """The FieldTooLong for the core's too_long failure: a cell over the
    limit, or a row that has not ended within 16 cells at it."""
    line, field, limit = error.line, error.field, error.limit
    in_header = error.record == 0
    column = header[field] if field < len(header) and not in_header else None
    cell_limit = limit // _ROW_CELLS if error.whole_record else limit
    option = (f"--max-field-size {cell_limit * 2}" if hint_style == "cli" else
              f"max_field_bytes={cell_limit * 2}")
    if error.whole_record:
        message = (f"{path}: line {line}: a row longer than {limit:,} bytes "
                   f"({_ROW_CELLS} cells at the limit of {cell_limit:,}) that has not ended; if "
                   f"the table really holds such rows, raise the limit (e.g. {option})")
    else:
        shown = (f"column {column!r}" if column is not None
                 else f"column {field + 1}" + (" of the header row" if in_header else ""))
        message = (f"{path}: line {line}, {shown}: a cell longer than {limit:,} bytes, the "
                   f"limit of a cell's text; if the table really holds such cells, raise the "
                   f"limit (e.g. {option})")
    return FieldTooLong(message, line=line, column=column, limit=limit,
                        whole_record=error.whole_record)
