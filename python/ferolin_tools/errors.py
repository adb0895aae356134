"""The failures of the companion package that concern the data, not the call.

They derive from RuntimeError, like the errors the module `ferolin` raises
for unreadable tables, so one `except RuntimeError` catches both. The
command line reports them with exit status 1. Those that the core found in
a table or a policy file carry its facts as attributes (the column, the
line, the value), so that a caller handles them without reading the text.
"""
from __future__ import annotations

from typing import Any, Optional, Sequence


def _rebuilt(kind: type[DataError], args: tuple[Any, ...], facts: dict[str, Any]) -> DataError:
    error = kind.__new__(kind, *args)
    error.__dict__.update(facts)
    return error


class DataError(RuntimeError):
    """A table or policy that cannot be used as asked; the message says why."""

    def __reduce__(self) -> tuple[Any, ...]:
        # The facts are keyword arguments, which unpickling would not pass
        # again: a failure on a worker process reaches the client whole.
        return _rebuilt, (type(self), self.args, self.__dict__)


class TableError(DataError):
    """A table that cannot be read: missing, unreadable, malformed."""


class MissingColumn(TableError):
    """The header lacks a column the read needs (`column`, the core's name
    for it as the table spells it); `header` is the header's fields."""

    def __init__(self, message: str, *, column: str, header: Sequence[str]) -> None:
        super().__init__(message)
        self.column = column
        self.header = list(header)


class CellError(TableError):
    """A cell that cannot be read as its column's values: on the record that
    starts at `line`, in column `column` (its header name; None past the
    header's end), holding `value`; `reason` is one of "empty_integer",
    "invalid_digit", "integer_too_large", "empty_float", "invalid_float",
    "invalid_bool"."""

    def __init__(self, message: str, *, column: Optional[str], line: int, value: str,
                 reason: str) -> None:
        super().__init__(message)
        self.column = column
        self.line = line
        self.value = value
        self.reason = reason


class FieldTooLong(TableError):
    """A cell, or with `whole_record` a row that has not ended, longer than
    `limit` bytes, on the record that starts at `line`, in column `column`
    (its header name; None in the header row or past its end)."""

    def __init__(self, message: str, *, line: int, column: Optional[str], limit: int,
                 whole_record: bool) -> None:
        super().__init__(message)
        self.line = line
        self.column = column
        self.limit = limit
        self.whole_record = whole_record


class PolicyTypeError(DataError):
    """A policy file's value of the wrong JSON type: under `key` (empty for
    the document), which takes `expected` (the core's name for it), found a
    `found` ("string", "number", ...) spelled `value`, at `line` and `column`."""

    def __init__(self, message: str, *, key: str, expected: str, found: str, value: str,
                 line: int, column: int) -> None:
        super().__init__(message)
        self.key = key
        self.expected = expected
        self.found = found
        self.value = value
        self.line = line
        self.column = column


class NoLabelledQueries(DataError):
    """No query's top candidate carries a label, so nothing can be measured."""


class NothingScored(DataError):
    """The scoring method gives no query a confidence on this table."""
