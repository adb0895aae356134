"""What the subcommands and the Python API compute from one read of a table:
per-query columns, curves, the comparison of methods, calibration with its
report. Each works on a QueryPass (see tables.py); decisions are in groups.py."""
from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any, Optional, Sequence

from ferolin_tools import diagnostics, intervals, policies, wording
from ferolin_tools.errors import NoLabelledQueries, NothingScored
from ferolin_tools.groups import GroupedReport
from ferolin_tools.intervals import Interval, Intervals, MethodProgress
from ferolin_tools.packed import numpy_module, unpack
from ferolin_tools.paths import PathArg, as_text
from ferolin_tools.tables import QueryPass

#: The confidence level of the upper bound of calibrations other than the
#: binomial method's, which report theirs at their own level.
REPORT_LEVEL = wording.DEFAULT_BOUND_LEVEL
#: A threshold accepting fewer labelled queries than this rests on thin evidence.
DEFAULT_MIN_ACCEPTED = 30


# ---- verdicts ---------------------------------------------------------------

def require_labels(table: QueryPass) -> None:
    """Raises NoLabelledQueries when no query's top candidate is labelled."""
    if table.counts.labelled == 0:
        raise NoLabelledQueries(diagnostics.no_labels(table))


def require_scored(table: QueryPass, index: int) -> None:
    """Raises NothingScored when method column `index` scores no labelled query."""
    if table.summary(index).scored == 0:
        raise NothingScored(diagnostics.nothing_scored(table, table.scores[index]))


def require_decidable(table: QueryPass) -> None:
    """Raises NothingScored when method column 0 scores none of the queries
    (labelled or not): every decision would be a rejection by default."""
    if table.counts.queries > 0 and table.summary(0).scored_all == 0:
        raise NothingScored(diagnostics.nothing_decided(table))


def unscored_note(score: str, scored: int, labelled: int) -> Optional[str]:
    """A note when the method scores only some labelled queries."""
    if 0 < scored < labelled:
        return (f"{score} scores {scored} of {labelled} labelled queries; the other "
                f"{labelled - scored} have no confidence and count as rejected")
    return None


# ---- per-query columns -------------------------------------------------------

def score_columns(table: QueryPass, numpy: Optional[bool] = None,
                  rows: Optional[range] = None) -> dict[str, Any]:
    """One entry per query (of those in `rows`, default all): query_id,
    candidate_id (the top candidate's), score, is_correct (True/False/None),
    candidates, then one confidence column per method (NaN where the method
    gives none)."""
    np = numpy_module(numpy)
    packed = table.columns(rows)
    columns = {
        "query_id": packed.query_id,
        "candidate_id": packed.candidate_id,
        "score": unpack(packed.score, "d", np),
        "is_correct": packed.is_correct,
        "candidates": unpack(packed.candidates, "Q", np),
    }
    for score, confidences in zip(table.scores, packed.confidences):
        columns[score] = unpack(confidences, "d", np)
    return columns


# ---- curves and the comparison of methods ----------------------------------

@dataclass(frozen=True)
class CurveResult:
    """One method's risk-coverage curve with its summary numbers."""

    score: str
    curve: list[dict[str, Any]]
    aurc: float
    eaurc: float
    labelled: int
    scored: int


def curve_result(table: QueryPass, index: int) -> CurveResult:
    summary = table.summary(index)
    return CurveResult(table.scores[index], table.curve(index), summary.aurc,
                       summary.eaurc, table.counts.labelled, summary.scored)


#: The coverages whose risk compare reports unless asked for others.
DEFAULT_COVERAGES = (0.5, 0.8, 0.9, 0.95)


@dataclass(frozen=True)
class MethodComparison:
    """How well one scoring method ranks the labelled queries of a table.

    `aurc`, `eaurc` and `augrc` summarise its curve (lower is better);
    `risk_at_coverage` maps each coverage asked for to the risk of the last
    curve row whose coverage does not exceed it (None where no row does);
    `coverage_at_risk` is the largest coverage whose risk is at most the
    target. `threshold`, `accepted`, `coverage` and `risk` describe the
    threshold calibrated for the target (None and 0 when none meets it),
    `risk_wilson_interval` the 95% Wilson interval of that risk, and
    `intervals` (None with no bootstrap) the bootstrap intervals.
    """

    score: str
    queries: int
    labelled: int
    scored: int
    aurc: float
    eaurc: float
    threshold: Optional[float]
    accepted: int
    coverage: float
    risk: Optional[float]
    augrc: float = math.nan
    risk_at_coverage: dict[float, Optional[float]] = field(default_factory=dict)
    coverage_at_risk: Optional[float] = None
    risk_wilson_interval: Interval = (math.nan, math.nan)
    intervals: Optional[Intervals] = None
    min_accepted: int = DEFAULT_MIN_ACCEPTED

    @property
    def thin_evidence(self) -> bool:
        """True when the threshold accepts some, but fewer than
        `min_accepted`, labelled queries."""
        return 0 < self.accepted < self.min_accepted

    @property
    def complete(self) -> bool:
        """True when the method scores every labelled query."""
        return self.scored == self.labelled

    def as_dict(self) -> dict[str, Any]:
        """The entry as compare's JSON gives it: coverages as text keys
        ("0.5"), each interval as a two-element list named after its figure
        with "_interval" appended."""
        entry: dict[str, Any] = {
            "score": self.score, "scored": self.scored, "labelled": self.labelled,
            "queries": self.queries, "aurc": self.aurc, "eaurc": self.eaurc, "augrc": self.augrc,
            "risk_at_coverage": {_coverage_key(c): r for c, r in self.risk_at_coverage.items()},
            "coverage_at_risk": self.coverage_at_risk, "threshold": self.threshold,
            "accepted": self.accepted, "coverage": self.coverage, "risk": self.risk,
            "risk_wilson_interval": list(self.risk_wilson_interval),
            "thin_evidence": self.thin_evidence, "min_accepted": self.min_accepted}
        if self.intervals is not None:
            entry.update(self.intervals.keys())
            if self.thin_evidence:
                # Resamples of a handful of accepted queries give a degenerate
                # risk interval (often 0 to 0); calibrate leaves it out too.
                entry["risk_interval"] = [math.nan, math.nan]
        return entry


def _coverage_key(coverage: float) -> str:
    """'0.5' for 0.5, '1' for 1.0: short, and exact (0.1234567 stays whole)."""
    text = f"{coverage:g}"
    return text if float(text) == coverage else repr(coverage)


def _rank_key(entry: MethodComparison) -> tuple[int, float]:
    # Methods that score every labelled query first: the area of a curve that
    # stops short of full coverage is smaller without being better.
    group = 0 if entry.complete else (1 if entry.scored > 0 else 2)
    return (group, math.inf if math.isnan(entry.aurc) else entry.aurc)


def comparison(table: QueryPass, error_rate: float, method: str,
               confidence_level: Optional[float],
               at_coverages: Sequence[float] = DEFAULT_COVERAGES, replicates: int = 0,
               seed: int = intervals.DEFAULT_SEED,
               progress: Optional[MethodProgress] = None,
               min_accepted: int = DEFAULT_MIN_ACCEPTED) -> list[MethodComparison]:
    """Every method column of the pass, best first (see _rank_key), with
    bootstrap intervals when `replicates` is not 0 for the methods that
    score any labelled query (`progress(score)` gives each its progress
    callable)."""
    entries = []
    for index, score in enumerate(table.scores):
        summary = table.summary(index)
        chosen = table.choose_threshold(index, error_rate, method, confidence_level).row
        points = table.native.operating_points(index, list(at_coverages),
                                               error_rate)
        threshold = chosen["threshold"] if chosen else None
        accepted, errors = (chosen["accepted"], chosen["errors"]) if chosen else (0, 0)
        bootstrap = None
        if replicates and summary.scored:
            bootstrap = intervals.bootstrap(table, index, threshold, replicates, seed,
                                            progress(score) if progress else None)
        elif replicates:
            bootstrap = intervals.undefined(replicates, seed)
        entries.append(MethodComparison(
            score, table.counts.queries, table.counts.labelled, summary.scored,
            summary.aurc, summary.eaurc, threshold, accepted,
            chosen["coverage"] if chosen else 0.0, chosen["risk"] if chosen else None,
            summary.augrc, dict(zip(at_coverages, points.risk_at_coverage)),
            points.coverage_at_risk, intervals.wilson(accepted, errors), bootstrap,
            min_accepted))
    return sorted(entries, key=_rank_key)


# ---- calibration -------------------------------------------------------------

def rule_text(method: str, confidence_level: Optional[float]) -> str:
    """'empirical', or 'binomial at confidence level 0.95'."""
    if method == "binomial" and confidence_level is not None:
        return f"binomial at confidence level {confidence_level:g}"
    return method


def _number(value: float) -> str:
    return f"{value:.4g}"


@dataclass(frozen=True)
class CalibrationReport:
    """What a calibration rests on: how many labelled queries the method
    scores, how many the threshold accepts, how many of those are wrong,
    and how high the risk at that threshold could be (the one-sided Wilson
    upper bound at `bound_level`: the binomial method's level, else 95%)."""

    table: str
    score: str
    method: str
    error_rate: float
    confidence_level: Optional[float]
    queries: int
    labelled: int
    scored: int
    threshold: Optional[float]  # None: no threshold meets the target
    accepted: int
    errors: int
    coverage: float
    observed_risk: Optional[float]
    risk_upper_bound: Optional[float]
    min_accepted: int
    best_risk: Optional[dict[str, Any]] = field(default=None, repr=False)
    # The curve's areas (AUGRC added to the two of every curve), the
    # two-sided 95% Wilson interval of the observed risk, the bootstrap
    # intervals (None when switched off) and the groups (None without).
    aurc: float = math.nan
    eaurc: float = math.nan
    augrc: float = math.nan
    risk_wilson_interval: Interval = (math.nan, math.nan)
    intervals: Optional[Intervals] = None
    groups: Optional[GroupedReport] = None
    bound_level: float = REPORT_LEVEL

    @property
    def meets_target(self) -> bool:
        return self.threshold is not None

    @property
    def thin_evidence(self) -> bool:
        """True when the threshold accepts fewer than min_accepted labelled queries."""
        return self.threshold is not None and self.accepted < self.min_accepted

    def _bound(self) -> str:
        return (f"{wording.level_text(self.bound_level)} upper bound "
                f"{_number(self.risk_upper_bound or 0.0)}")

    def lines(self) -> list[str]:
        """The report as printed by `ferolin calibrate`."""
        lines = [f"{self.table}: {self.queries} queries, {self.labelled} labelled, "
                 f"{self.scored} of them scored by {self.score}",
                 f"target error rate {self.error_rate:g} "
                 f"({rule_text(self.method, self.confidence_level)})"]
        if self.threshold is not None:
            lines.append(
                f"threshold {self.threshold!r}: accepts {self.accepted} of {self.labelled} "
                f"labelled queries (coverage {self.coverage:.1%}), {self.errors} wrong: "
                f"observed risk {_number(self.observed_risk or 0.0)}, {self._bound()} "
                f"(one-sided Wilson) of the risk at this threshold; not a bound on the "
                f"policy's risk, as the threshold is the widest of many that pass")
        return lines + self._interval_lines() + (self.groups.lines() if self.groups else [])

    def _interval_lines(self) -> list[str]:
        lines = []
        b = self.intervals
        if b is not None:
            lines.append(f"AURC {_number(self.aurc)} (95% bootstrap interval {b.text('aurc')}), "
                         f"E-AURC {_number(self.eaurc)} ({b.text('eaurc')}), AUGRC "
                         f"{_number(self.augrc)} ({b.text('augrc')}); {b.replicates} "
                         f"replicates, seed {b.seed}")
        if self.threshold is not None and self.accepted:
            text = (f"at the threshold, two-sided 95% intervals: observed risk "
                    f"{intervals.interval_text(self.risk_wilson_interval)} (Wilson)")
            if b is not None:
                # Resamples of a handful of accepted queries give a degenerate
                # risk interval (often 0 to 0); Wilson's holds there.
                if self.accepted >= self.min_accepted:
                    text += f", {b.text('risk')} (bootstrap)"
                text += f"; coverage {b.text('coverage', percent=True)} (bootstrap)"
            lines.append(text)
        return lines

    def warnings(self) -> list[str]:
        """What a careful reader must not miss about this calibration."""
        if self.threshold is None:
            text = (f"no threshold meets the target error rate {self.error_rate:g} with "
                    f"{self.method}: the policy rejects every query")
            if self.best_risk is not None:
                row = self.best_risk
                text += (f". The lowest observed risk with at least {self.min_accepted} accepted "
                         f"queries is {_number(row['risk'])} ({row['accepted']} accepted, "
                         f"threshold {row['threshold']!r})")
            return [text]
        warnings = []
        if self.accepted < self.min_accepted:
            advice = ("Label more queries." if self.method == "binomial" else
                      "Label more queries, or calibrate with the binomial method.")
            warnings.append(
                f"the threshold rests on only "
                f"{wording.queries(self.accepted, 'accepted labelled')} (fewer than "
                f"{self.min_accepted}): the observed risk {_number(self.observed_risk or 0.0)} "
                f"says little; the risk at this threshold could be as high as its "
                f"{self._bound()}. {advice}")
        elif (self.method != "binomial" and self.risk_upper_bound is not None
              and self.risk_upper_bound > self.error_rate):
            warnings.append(
                f"the observed risk meets the target, but its {self._bound()} does not; the "
                f"binomial method at confidence level 0.95 chooses a threshold whose bound "
                f"does.")
        if self.groups is not None:
            warnings += self.groups.warnings(self.error_rate, self.min_accepted,
                                             self.bound_level)
        return warnings


@dataclass(frozen=True)
class Calibration:
    """A calibrated policy (a dict for ferolin.save_policy and
    ferolin.apply_policy), the report on what it rests on, and the curve.

    A grouped policy also holds "group_col" and "group_thresholds", which
    ferolin.save_policy and ferolin.apply_policy leave out: save it with
    save(), which keeps them and `provenance` (what the threshold rests on,
    stored under the policy file's "calibration" key)."""

    policy: dict[str, Any]
    report: CalibrationReport
    curve: list[dict[str, Any]]
    provenance: Optional[dict[str, Any]] = None

    def save(self, path: PathArg) -> None:
        """Writes the policy file, replacing a file whole as ferolin.save_policy does."""
        policies.write(as_text(path), self.policy, self.provenance)


def _best_risk(curve: list[dict[str, Any]], min_accepted: int) -> Optional[dict[str, Any]]:
    rows = [row for row in curve if row["accepted"] >= min_accepted and row["risk"] is not None]
    return min(rows, key=lambda row: row["risk"], default=None)


def global_threshold(table: QueryPass, index: int, error_rate: float, method: str,
                     confidence_level: Optional[float], min_accepted: int) -> Calibration:
    """Calibrates method column `index` after the verdicts: raises
    NoLabelledQueries or NothingScored instead of a policy that rejects all."""
    require_labels(table)
    require_scored(table, index)
    result = table.choose_threshold(index, error_rate, method, confidence_level)
    curve = table.curve(index)
    row = result.row
    accepted = row["accepted"] if row else 0
    errors = row["errors"] if row else 0
    level = wording.bound_level(method, confidence_level)
    report = CalibrationReport(
        table.path, table.scores[index], method, error_rate, confidence_level,
        table.counts.queries, table.counts.labelled, table.summary(index).scored,
        result.threshold, accepted, errors, row["coverage"] if row else 0.0,
        row["risk"] if row else None,
        wording.upper_bound(accepted, errors, level), min_accepted,
        None if row else _best_risk(curve, min_accepted), bound_level=level)
    return Calibration(result.policy, report, curve)
