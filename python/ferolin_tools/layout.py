"""How a table is laid out (its delimiter, its header names, its decimal
separator) and how hints about it are phrased; the rules for a delimiter."""
from __future__ import annotations

from dataclasses import dataclass
from typing import Optional

_TAB_SPELLINGS = ("tab", "\\t", "\t")
_TAB_SUFFIXES = (".tsv", ".tab")
_COMPRESSED_SUFFIXES = (".gz", ".gzip")


def parse_delimiter(text: str) -> str:
    """Returns the delimiter `text` names ("tab" and "\\t" spell a tab):
    one ASCII character other than NUL, the double quote, CR and LF, which
    are the ones the core's reader separates fields by; ValueError otherwise."""
    if text in _TAB_SPELLINGS:
        return "\t"
    if len(text) != 1 or not "\0" < text < "\x80" or text in "\"\r\n":
        raise ValueError("the delimiter must be one character other than a quote or a line "
                         f"break, not '{text}'")
    return text


def delimiter_for(path: str, delimiter: Optional[str] = None) -> str:
    """Returns the field delimiter: the one given (see parse_delimiter), or
    a tab for names ending in .tsv or .tab (before any .gz), or a comma."""
    if delimiter is not None:
        return parse_delimiter(delimiter)
    name = path.lower()
    for suffix in _COMPRESSED_SUFFIXES:
        if name.endswith(suffix):
            name = name[: -len(suffix)]
    return "\t" if name.endswith(_TAB_SUFFIXES) else ","


@dataclass(frozen=True)
class TableLayout:
    """How a table is laid out, and how to phrase hints about it."""

    delimiter: str
    columns: dict[str, str]
    # "cli" for option spellings (--delimiter tab), "python" for arguments.
    hint_style: str = "python"
    decimal: str = "."
    # Whether the read takes decimal= and na_values= (--decimal, --na-values),
    # so that a cell's message may suggest them.
    number_options: bool = True

    def header_name(self, column: str) -> str:
        return self.columns.get(column, column)
