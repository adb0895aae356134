"""Messages for a cell longer than the read's limit: which line, which
column by its header name, the limit, and how to raise it."""
from __future__ import annotations

import re
from typing import Optional, Sequence

_LONG_FIELD = re.compile(
    r"record \d+ \(line (\d+), field: (\d+), byte: \d+\): field longer than the limit of "
    r"(\d+) bytes")


def long_field_message(path: str, error: str, header: Sequence[str],
                       hint_style: str) -> Optional[str]:
    """The message for the core's error of a cell over the limit, or None
    for any other error."""
    found = _LONG_FIELD.search(error)
    if found is None:
        return None
    line, field, limit = (int(group) for group in found.groups())
    column = (f"column {header[field]!r}" if field < len(header) and line > 1 else
              f"column {field + 1}" + (" of the header row" if line == 1 else ""))
    option = (f"--max-field-size {limit * 2}" if hint_style == "cli" else
              f"max_field_bytes={limit * 2}")
    return (f"{path}: line {line}, {column}: a cell longer than {limit:,} bytes, the limit of "
            f"a cell's text; if the table really holds such cells, raise the limit "
            f"(e.g. {option})")
