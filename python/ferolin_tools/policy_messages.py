"""Policy-file errors worded for people: a value of the wrong JSON type is
named by its key, what it should be and what was found, with its line and
column ("'threshold' must be a number, found the string "0.05""). The
module ferolin keeps the JSON library's wording; the command line and the
Python API use this one, from the facts the core's reader hands over with
the failure."""
from __future__ import annotations

from ferolin_tools._native import CoreError
from ferolin_tools.errors import PolicyTypeError

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


def wrong_type_error(error: CoreError) -> PolicyTypeError:
    """The PolicyTypeError for the core's json_type failure, worded from
    its facts (key, expected, found, value, line, column)."""
    key = error.key
    subject = f"{key!r}" if key else "the policy file"
    expected = _EXPECTED.get(error.expected, error.expected)
    if error.value or error.found not in ("string", "number"):
        found = _FOUND.get(error.found, error.found).format(error.value)
    else:  # a value the reader did not keep
        found = f"a {error.found}"
    message = (f"{subject} must be {expected}, found {found} "
               f"(line {error.line}, column {error.column})")
    return PolicyTypeError(message, key=key, expected=error.expected, found=error.found,
                           value=error.value, line=error.line, column=error.column)
