"""Policy-file errors worded for people: a value of the wrong JSON type is
named by its key, what it should be and what was found, with its line and
column ("'threshold' must be a number, found the string "0.05""). The
module ferolin keeps the JSON library's wording; the command line and the
Python API use this one."""
from __future__ import annotations

import re
from typing import Optional

_INVALID_TYPE = re.compile(
    r"^JSON error: invalid type: (?P<found>.*), expected (?P<expected>.*) "
    r"at line (?P<line>\d+) column (?P<column>\d+)$", re.DOTALL)
_KEY = re.compile(r'"((?:[^"\\]|\\.)*)"\s*:\s*\Z')

_EXPECTED = {
    "f64": "a number",
    "a string": "a string",
    "a map": "an object of group labels and numbers",
    "enum ScoringMethod": "the name of a scoring method (a string)",
    "enum CalibrationMethod": "the name of a calibration method (a string)",
    "struct PolicyFile": "an object",
}
_FOUND = (
    (re.compile(r"^string (.*)$", re.DOTALL), "the string {}"),
    (re.compile(r"^(?:integer|floating point) `(.*)`$"), "the number {}"),
    (re.compile(r"^boolean `(.*)`$"), "{}"),
    (re.compile(r"^sequence$"), "a list"),
    (re.compile(r"^map$"), "an object"),
    (re.compile(r"^null$"), "null"),
)


def _found_words(found: str) -> str:
    for pattern, words in _FOUND:
        match = pattern.match(found)
        if match:
            return words.format(*match.groups())
    return found


def _key_before(text: str, line: int, column: int) -> Optional[str]:
    """The key whose value starts at (line, column) of `text`, 1-based."""
    lines = text.split("\n")
    if not 0 < line <= len(lines):
        return None
    offset = sum(len(earlier) + 1 for earlier in lines[: line - 1]) + column - 1
    # The position may point at the value's first character or just past it.
    for end in range(min(offset, len(text)), max(offset - 200, -1), -1):
        match = _KEY.search(text, 0, end)
        if match:
            return match.group(1)
    return None


def human_text(path: str, message: str) -> Optional[str]:
    """The message for a policy file `path` whose core error is `message`,
    or None when this module has no better words for it."""
    match = _INVALID_TYPE.match(message)
    if not match:
        return None
    expected = _EXPECTED.get(match["expected"], match["expected"])
    line, column = int(match["line"]), int(match["column"])
    try:
        with open(path, encoding="utf-8", errors="replace") as source:
            key = _key_before(source.read(), line, column)
    except OSError:
        key = None
    subject = f"{key!r}" if key is not None else "a value"
    return (f"{subject} must be {expected}, found {_found_words(match['found'])} "
            f"(line {line}, column {column})")
