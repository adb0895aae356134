"""Policy-file errors worded for people: a value of the wrong JSON type is
named by its key, what it should be and what was found, with its line and
column ("'threshold' must be a number, found the string "0.05""). The
module ferolin keeps the JSON library's wording; the command line and the
Python API use this one, from the facts the core's reader hands over with
the failure."""
from __future__ import annotations

from typing import Any, Mapping

# What a key takes, by the core's name for it.
_EXPECTED = {
    "f64": "a number",
    "a string": "a string",
    "a boolean": "true or false",
    "a map": "an object of group labels and numbers",
    "enum ScoringMethod": "the name of a scoring method (a string)",
    "enum CalibrationMethod": "the name of a calibration method (a string)",
    "struct PolicyFile": "an object",
    "unit": "null",
}
# What a value is, by its JSON kind; {} is the value as the file holds it.
_FOUND = {
    "string": "the string {}",
    "number": "the number {}",
    "boolean": "{}",
    "array": "a list",
    "object": "an object",
    "null": "null",
}


def wrong_type_text(failure: Mapping[str, Any]) -> str:
    """The message for a value of the wrong type, from the fields the
    reader's failure carries (key, expected, found, value, line, column)."""
    key = failure["key"]
    subject = f"{key!r}" if key else "the policy file"
    expected = _EXPECTED.get(failure["expected"], failure["expected"])
    if failure["value"] or failure["found"] not in ("string", "number"):
        found = _FOUND.get(failure["found"], failure["found"]).format(failure["value"])
    else:  # a value the reader did not keep
        found = f"a {failure['found']}"
    return (f"{subject} must be {expected}, found {found} "
            f"(line {failure['line']}, column {failure['column']})")
