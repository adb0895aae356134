"""The failures of the companion package that concern the data, not the call.

They derive from RuntimeError, like the errors the module `ferolin` raises
for unreadable tables, so one `except RuntimeError` catches both. The
command line reports them with exit status 1.
"""


class DataError(RuntimeError):
    """A table or policy that cannot be used as asked; the message says why."""


class TableError(DataError):
    """A table that cannot be read: missing, unreadable, malformed."""


class NoLabelledQueries(DataError):
    """No query's top candidate carries a label, so nothing can be measured."""


class NothingScored(DataError):
    """The scoring method gives no query a confidence on this table."""
