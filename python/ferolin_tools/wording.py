"""Phrases that several reports share, so that each figure is said the same
way everywhere: counts with their noun, the Wilson upper bound at the
calibration's level, and the threshold that rejects everything."""
from __future__ import annotations

from typing import Optional

from ferolin_tools import _native
from ferolin_tools.methods import NO_THRESHOLD

#: The level of the upper bound a report gives unless the calibration has
#: its own (the binomial method's confidence level).
DEFAULT_BOUND_LEVEL = 0.95
REJECTS_EVERYTHING = "this policy rejects every query: no threshold met the target"


def queries(count: int, adjectives: str = "") -> str:
    """'1 accepted labelled query', '3 labelled queries'."""
    words = f"{adjectives} " if adjectives else ""
    return f"{count} {words}{'query' if count == 1 else 'queries'}"


def bound_level(method: str, confidence_level: Optional[float]) -> float:
    """The level of a calibration's upper bound: the binomial method's own
    level, DEFAULT_BOUND_LEVEL for the others."""
    if method == "binomial" and confidence_level is not None:
        return confidence_level
    return DEFAULT_BOUND_LEVEL


def upper_bound(accepted: int, errors: int, level: float) -> Optional[float]:
    """The one-sided Wilson upper bound of errors / accepted at `level`
    (None when nothing is accepted)."""
    return _native.wilson_upper_bound(accepted, errors, level)


def level_text(level: float) -> str:
    """'95%', '97.5%'."""
    return f"{level * 100:g}%"


def is_rejecting_everything(threshold: Optional[float]) -> bool:
    return threshold is None or threshold == NO_THRESHOLD
