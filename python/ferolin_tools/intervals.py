"""How far to trust the figures of a risk-coverage curve: percentile-bootstrap
intervals (the labelled queries resampled with replacement) for AURC,
E-AURC, AUGRC and the coverage and risk at a threshold, and the Wilson score
interval of that risk. A seed fixes every interval, on any machine."""
from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Callable, Optional

from ferolin_tools import _native
from ferolin_tools.tables import QueryPass

#: The two-sided level of every interval.
LEVEL = 0.95
DEFAULT_REPLICATES = 1000
DEFAULT_SEED = 0
#: The fewest and the most replicates a 95% interval takes (0 switches them off).
MIN_REPLICATES, MAX_REPLICATES = _native.REPLICATE_RANGE
#: compare bootstraps every method by default while the labelled queries
#: times the methods stay within this: 1000 replicates of 250,000 queries by
#: 8 methods take about 7.5 s of CPU time (3.3 to 3.9 s per million queries
#: in benchmarks/README.md).
COMPARE_BUDGET = 2_000_000
#: The figures with bootstrap intervals, in the order they are reported.
FIGURES = ("aurc", "eaurc", "augrc", "coverage", "risk")

#: (low, high); NaN at both ends where the interval is undefined.
Interval = tuple[float, float]
#: progress(replicates done, replicates in all).
BootstrapProgress = Callable[[int, int], None]
#: progress_of(method name): the progress callable of that method's bootstrap, or None.
MethodProgress = Callable[[str], Optional[BootstrapProgress]]


def check_replicates(value: int) -> int:
    """Returns `value` when it is 0 (no intervals) or a number of replicates
    a 95% percentile interval can rest on; ValueError otherwise."""
    if isinstance(value, bool) or not isinstance(value, int) or not (
            value == 0 or MIN_REPLICATES <= value <= MAX_REPLICATES):
        raise ValueError(f"the number of bootstrap replicates must be 0 (no intervals) or "
                         f"between {MIN_REPLICATES} and {MAX_REPLICATES}, not {value!r}")
    return value


def check_seed(value: int) -> int:
    """Returns `value` when it is a seed (0 to 2**64 - 1); ValueError otherwise."""
    if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value < 2**64:
        raise ValueError(f"the seed must be an integer from 0 to 2**64 - 1, not {value!r}")
    return value


def compare_replicates(labelled: int, methods: int) -> int:
    """compare's default: DEFAULT_REPLICATES while labelled * methods stays
    within COMPARE_BUDGET, else 0 (ask for intervals with a number)."""
    return DEFAULT_REPLICATES if labelled * methods <= COMPARE_BUDGET else 0


def wilson(accepted: int, errors: int) -> Interval:
    """The two-sided 95% Wilson score interval of errors / accepted."""
    return _native.wilson_interval(accepted, errors, LEVEL)


@dataclass(frozen=True)
class Intervals:
    """The bootstrap of one method column: each figure's estimate on the
    data as given and its percentile interval over the replicates, at the
    threshold `threshold` (None: no threshold, so no coverage or risk)."""

    replicates: int
    seed: int
    level: float
    threshold: Optional[float]
    estimates: dict[str, float]
    intervals: dict[str, Interval]

    def keys(self) -> dict[str, list[float]]:
        """The intervals as their output keys: aurc_interval, ... ."""
        return {f"{figure}_interval": list(interval)
                for figure, interval in self.intervals.items()}

    def text(self, figure: str, percent: bool = False) -> str:
        """'0.2768 to 0.3222' (or '5.3% to 7.5%'); 'undefined' where NaN."""
        return interval_text(self.intervals[figure], percent)


def interval_text(interval: Interval, percent: bool = False) -> str:
    low, high = interval
    if math.isnan(low) or math.isnan(high):
        return "undefined"
    if percent:
        return f"{low:.1%} to {high:.1%}"
    return f"{low:.4g} to {high:.4g}"


_UNDEFINED: Interval = (math.nan, math.nan)


def bootstrap(table: QueryPass, index: int, threshold: Optional[float], replicates: int,
              seed: int, progress: Optional[BootstrapProgress] = None) -> Intervals:
    """Bootstraps method column `index` of the pass: AURC, E-AURC and AUGRC,
    and the coverage and risk at `threshold` (NaN intervals without one)."""
    held = threshold if threshold is not None else _native.NO_THRESHOLD
    result = table.native.bootstrap(index, held, replicates, seed, LEVEL, progress)
    metrics = {"aurc": result.aurc, "eaurc": result.eaurc, "augrc": result.augrc,
               "coverage": result.coverage, "risk": result.risk}
    estimates = {figure: metrics[figure].estimate for figure in FIGURES}
    found = {figure: metrics[figure].interval for figure in FIGURES}
    if threshold is None:
        found.update(coverage=_UNDEFINED, risk=_UNDEFINED)
    return Intervals(replicates, seed, LEVEL, threshold, estimates, found)


def undefined(replicates: int, seed: int) -> Intervals:
    """The intervals of a method that scores no labelled query: all NaN."""
    return Intervals(replicates, seed, LEVEL, None, {figure: math.nan for figure in FIGURES},
                     {figure: _UNDEFINED for figure in FIGURES})


def risk_band(table: QueryPass, index: int, coverages: list[float], replicates: int,
              seed: int, progress: Optional[BootstrapProgress] = None) -> list[Interval]:
    """The pointwise bootstrap interval of the curve's risk at each coverage."""
    return table.native.risk_band(index, coverages, replicates, seed, LEVEL, progress)
