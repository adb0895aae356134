"""Method names and constants, taken from the core through the private
native module so that the command line never keeps copies of its own."""
from __future__ import annotations

from ferolin_tools import _native

#: Hyphen spellings of the scoring methods, in the core's order.
SCORE_METHODS: tuple[str, ...] = tuple(score for score, _, _ in _native.SCORING_METHODS)
#: The calibration methods: "empirical", "binomial", "crc".
CALIBRATION_METHODS: tuple[str, ...] = _native.CALIBRATION_METHODS
#: The threshold of a policy for which no threshold met the target.
NO_THRESHOLD: float = _native.NO_THRESHOLD
#: The known columns of a candidates table, by their standard names.
COLUMNS: tuple[str, ...] = _native.COLUMNS

# Score-argument spellings, policy names ("top_k_gap") and the display names
# of decisions ("TopKGap") to hyphen spellings: a name seen anywhere works.
_BY_SPELLING = dict(_native.SCORE_NAMES)
_BY_SPELLING.update((policy, score) for score, policy, _ in _native.SCORING_METHODS)
_BY_SPELLING.update((display, score) for score, _, display in _native.SCORING_METHODS)
_DISPLAY_NAMES = {score: display for score, _, display in _native.SCORING_METHODS}


def score_name(spelling: str) -> str:
    """Returns the hyphen spelling of a scoring method (the one every table
    and report prints) given by a score argument's spelling, a policy name
    or a display name; ValueError for any other text."""
    try:
        return _BY_SPELLING[spelling]
    except KeyError:
        raise ValueError(f"Unknown score method '{spelling}'. Valid: "
                         + ", ".join(SCORE_METHODS)) from None


def display_name(score: str) -> str:
    """Returns the display name of a method in decisions ("Margin"); an
    own-confidence column keeps its name ("column:evalue")."""
    if score not in _BY_SPELLING:
        return score
    return _DISPLAY_NAMES[score_name(score)]
