"""Thresholds per group (Mondrian calibration): one threshold per ionisation
mode, instrument or compound class, each calibrated on the group's own
labelled queries, beside the global threshold that queries of every other
group (and those without a group) fall back to; and decisions by such a
policy. A query's group is its top candidate's cell in the group column."""
from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Mapping, Optional

from ferolin_tools import _native, wording
from ferolin_tools.intervals import Interval, wilson
from ferolin_tools.methods import NO_THRESHOLD
from ferolin_tools.packed import numpy_module, unpack
from ferolin_tools.tables import QueryPass

DEFAULT_MIN_GROUP: int = _native.DEFAULT_MIN_GROUP
NO_GROUP = "(no group)"
# A minimum no group reaches: every group at the global threshold.
_NO_GROUP_OF_ITS_OWN = 2**64 - 1
# More groups than this without a threshold of their own are reported as one.
SHOWN_SMALL_GROUPS = 10


@dataclass(frozen=True)
class Outcome:
    """Labelled queries decided by a threshold: how many, how many accepted,
    how many of those wrong, and the observed risk (None: none accepted)."""

    labelled: int
    accepted: int
    errors: int
    risk: Optional[float]

    @classmethod
    def of(cls, counts: _native.ThresholdOutcome) -> "Outcome":
        return cls(counts.labelled, counts.accepted, counts.errors, counts.risk)

    @property
    def risk_interval(self) -> Interval:
        """The two-sided 95% Wilson interval of the observed risk."""
        return wilson(self.accepted, self.errors)

    def as_dict(self) -> dict[str, Any]:
        return {"labelled": self.labelled, "accepted": self.accepted, "errors": self.errors,
                "observed_risk": self.risk}

    @classmethod
    def total(cls, outcomes: list["Outcome"]) -> "Outcome":
        """The outcomes of several groups together."""
        accepted = sum(o.accepted for o in outcomes)
        errors = sum(o.errors for o in outcomes)
        return cls(sum(o.labelled for o in outcomes), accepted, errors,
                   errors / accepted if accepted else None)


@dataclass(frozen=True)
class GroupResult:
    """One group: its own threshold (NO_THRESHOLD when none meets the
    target; None when it has too few labelled queries and falls back to the
    global threshold), its labelled queries at the threshold it gets, and
    at the global threshold."""

    group: str
    threshold: Optional[float]
    outcome: Outcome
    at_global: Outcome

    @property
    def threshold_text(self) -> str:
        if self.threshold is None:
            return "global"
        return "none" if self.threshold == NO_THRESHOLD else repr(self.threshold)


def _label(text: str) -> str:
    return text if text.isprintable() and text else repr(text)


def _share(outcome: Outcome) -> str:
    return f"{outcome.accepted / outcome.labelled:.1%}" if outcome.labelled else "-"


def _risk_text(outcome: Outcome) -> str:
    return "-" if outcome.risk is None else f"{outcome.risk:.4g}"


@dataclass(frozen=True)
class GroupedReport:
    """What a grouped calibration rests on, group by group."""

    group_col: str
    min_group: int
    global_threshold: float
    groups: tuple[GroupResult, ...]
    ungrouped: Outcome  # labelled queries with an empty group cell
    grouped_policy: Outcome  # every labelled query under the grouped policy
    global_only: Outcome  # every labelled query at the global threshold alone

    @property
    def thresholds(self) -> dict[str, float]:
        """The groups with a threshold of their own, as the policy stores them."""
        return {g.group: g.threshold for g in self.groups if g.threshold is not None}

    def rows(self) -> list[tuple[str, Outcome, str, Outcome]]:
        """(group, outcome, threshold text, outcome at the global threshold)
        for every group; more than SHOWN_SMALL_GROUPS groups without a
        threshold of their own as one row."""
        small = [g for g in self.groups if g.threshold is None]
        shown = self.groups if len(small) <= SHOWN_SMALL_GROUPS else tuple(
            g for g in self.groups if g.threshold is not None)
        rows = [(_label(g.group), g.outcome, g.threshold_text, g.at_global) for g in shown]
        if len(shown) < len(self.groups):
            together = Outcome.total([g.outcome for g in small])
            rows.append((f"({len(small)} smaller groups)", together, "global", together))
        return rows

    def lines(self) -> list[str]:
        """The per-group report, as `ferolin calibrate --group-col` prints it."""
        own = len(self.thresholds)
        lines = [f"groups by {self.group_col}: {len(self.groups)}, of which {own} have a "
                 f"threshold of their own ({self.min_group} or more labelled queries); the "
                 f"rest get the global threshold"]
        table = [("group", "labelled", "threshold", "accepted", "observed risk",
                  "at global: accepted", "observed risk")]
        table += [(group, str(o.labelled), threshold, str(o.accepted), _risk_text(o),
                   str(g.accepted), _risk_text(g)) for group, o, threshold, g in self.rows()]
        if self.ungrouped.labelled:
            o = self.ungrouped
            table.append((NO_GROUP, str(o.labelled), "global", str(o.accepted), _risk_text(o),
                          str(o.accepted), _risk_text(o)))
        widths = [max(len(row[i]) for row in table) for i in range(len(table[0]))]
        lines += ["  " + "  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip()
                  for row in table]
        grouped, alone = self.grouped_policy, self.global_only
        lines.append(f"grouped policy: accepts {grouped.accepted} of {grouped.labelled} labelled "
                     f"queries ({_share(grouped)}), observed risk {_risk_text(grouped)}; the "
                     f"global threshold alone: {alone.accepted} ({_share(alone)}), observed risk "
                     f"{_risk_text(alone)}")
        return lines

    def warnings(self, error_rate: float, min_accepted: int,
                 bound_level: float = wording.DEFAULT_BOUND_LEVEL) -> list[str]:
        """Groups that the policy rejects whole, or whose threshold rests on
        few queries, with the same upper bound as the global report."""
        warnings = []
        for g in self.groups:
            if g.threshold == NO_THRESHOLD:
                warnings.append(
                    f"group {_label(g.group)}: no threshold meets the target error rate "
                    f"{error_rate:g} on its {g.outcome.labelled} labelled queries: the policy "
                    f"rejects every query of this group")
            elif g.threshold is not None and g.outcome.accepted < min_accepted:
                bound = wording.upper_bound(g.outcome.accepted, g.outcome.errors, bound_level)
                warnings.append(
                    f"group {_label(g.group)}: its threshold rests on only "
                    f"{wording.queries(g.outcome.accepted, 'accepted labelled')} (fewer than "
                    f"{min_accepted}); the risk at this threshold could be as high as its "
                    f"{wording.level_text(bound_level)} upper bound {bound or 0.0:.4g}")
        return warnings

    def provenance(self) -> dict[str, Any]:
        """The groups as the policy file's record of what they rest on, as
        the report's rows show them."""
        groups = {group: {**outcome.as_dict(), "threshold": threshold,
                          "at_global_threshold": at_global.as_dict()}
                  for group, outcome, threshold, at_global in self.rows()}
        return {"min_group": self.min_group, "groups": groups,
                "ungrouped": self.ungrouped.as_dict()}


def thresholds_per_group(table: QueryPass, index: int, error_rate: float, method: str,
                         confidence_level: Optional[float], group_col: str,
                         min_group: int) -> tuple[dict[str, Any], GroupedReport]:
    """The grouped policy (a policy dict with group_col and group_thresholds)
    and its report; the pass must have been read with the group column."""
    result, global_only = (
        table.native.calibrate_groups(index, error_rate, method, group_col, least,
                                      confidence_level)
        for least in (min_group, _NO_GROUP_OF_ITS_OWN))
    policy = result.policy
    report = GroupedReport(
        group_col, min_group, policy["threshold"],
        tuple(GroupResult(g.group, g.threshold, Outcome.of(g.outcome), Outcome.of(alone.outcome))
              for g, alone in zip(result.groups, global_only.groups)),
        Outcome.of(result.ungrouped), Outcome.of(result.grouped_policy),
        Outcome.of(result.global_only))
    return policy, report


def group_curve(table: QueryPass, index: int, group: str) -> list[dict[str, Any]]:
    """The risk-coverage curve of one group's labelled queries."""
    return table.native.group_curve(index, group)


# ---- decisions ---------------------------------------------------------------

def policy_groups(policy: Mapping[str, Any]) -> tuple[Optional[str], Optional[dict[str, float]]]:
    """The group column and group thresholds of a policy dict (None where absent)."""
    thresholds = policy.get("group_thresholds")
    return policy.get("group_col"), dict(thresholds) if thresholds is not None else None


def decisions(table: QueryPass, policy: Mapping[str, Any],
              numpy: Optional[bool] = None, rows: Optional[range] = None,
              decided: Optional[_native.Decisions] = None) -> dict[str, Any]:
    """One decision per query by the policy's rule, as ferolin.apply_policy
    makes them for a policy without groups: a query whose group has a
    threshold of its own is decided by it, every other query by the global
    threshold. Columns: query_id, candidate_id, confidence (NaN where none),
    accepted, threshold (the one applied), method (its hyphen spelling,
    "topk-gap", as in every table and report), then `group` when the
    pass was read with the policy's group column. The pass must have ids and
    the policy's method as column 0. `rows` limits the columns to those
    queries; `decided` (Pass.decide's result for the whole pass) saves
    deciding again for each slice."""
    np = numpy_module(numpy)
    packed = table.columns(rows)
    group_col, thresholds = policy_groups(policy)
    threshold = policy["threshold"]
    if decided is None:
        decided = table.native.decide(0, threshold, thresholds)
    count = len(packed.query_id)
    first = rows.start if rows is not None else 0
    accepted = memoryview(decided.accepted)[first:first + count]
    if group_col is not None or thresholds:
        applied = unpack(memoryview(decided.threshold)[first * 8:(first + count) * 8], "d", np)
    else:  # the policy's threshold as given
        applied = np.full(count, threshold) if np is not None else [threshold] * count
    columns = {
        "query_id": packed.query_id,
        "candidate_id": packed.candidate_id,
        "confidence": unpack(packed.confidences[0], "d", np),
        "accepted": unpack(accepted, "B", np),
        "threshold": applied,
        "method": [table.scores[0]] * count,
    }
    if group_col is not None:
        columns["group"] = table.native.groups(first, first + count)
    return columns


def applied_text(columns: Mapping[str, Any], policy: Mapping[str, Any]) -> str:
    """How many group thresholds of the policy the decisions applied, and
    to how many queries each."""
    group_col, thresholds = policy_groups(policy)
    counts: dict[str, int] = {}
    for group in columns.get("group", []):
        if thresholds and group is not None and group in thresholds:
            counts[group] = counts.get(group, 0) + 1
    applied = ", ".join(
        f"{_label(group)}: rejects every query, as no threshold met the target ({count})"
        if wording.is_rejecting_everything(thresholds[group]) else
        f"{_label(group)} >= {thresholds[group]!r} ({count})"
        for group, count in sorted(counts.items())) if thresholds else ""
    rest = len(columns["query_id"]) - sum(counts.values())
    return (f"group thresholds by {group_col}: {len(counts)} of {len(thresholds or {})} applied"
            + (f": {applied}" if applied else "") + f"; {rest} queries at the global threshold")
