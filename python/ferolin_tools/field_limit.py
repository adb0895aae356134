"""Messages for a cell (or a row) longer than the read's limit: which line,
which column by its header name, the limit, and how to raise it."""
from __future__ import annotations

import re
from typing import Optional, Sequence

_LONG_FIELD = re.compile(
    r"record \d+ \(line (\d+), field: (\d+), byte: \d+\): (field|record) longer than the "
    r"limit of (\d+) bytes")
# A row may hold this many cells at the limit (CsvTokenizer's kRecordFields).
_ROW_CELLS = 16


def long_field_message(path: str, error: str, header: Sequence[str],
                       hint_style: str) -> Optional[str]:
    """The message for the core's error of a cell over the limit, or None
    for any other error."""
    found = _LONG_FIELD.search(error)
    if found is None:
        return None
    line, field, what, limit = found.groups()
    line_number, field_index, limit_bytes = int(line), int(field), int(limit)
    cell_limit = limit_bytes // _ROW_CELLS if what == "record" else limit_bytes
    option = (f"--max-field-size {cell_limit * 2}" if hint_style == "cli" else
              f"max_field_bytes={cell_limit * 2}")
    if what == "record":
        return (f"{path}: line {line_number}: a row longer than {limit_bytes:,} bytes "
                f"({_ROW_CELLS} cells at the limit of {cell_limit:,}) that has not ended; if the "
                f"table really holds such rows, raise the limit (e.g. {option})")
    in_header = line_number == 1
    column = (f"column {header[field_index]!r}" if field_index < len(header) and not in_header
              else f"column {field_index + 1}" + (" of the header row" if in_header else ""))
    return (f"{path}: line {line_number}, {column}: a cell longer than {limit_bytes:,} bytes, "
            f"the limit of a cell's text; if the table really holds such cells, raise the "
            f"limit (e.g. {option})")
