"""A calibration with all it rests on: the policy (grouped when a group
column is given), the report with the bootstrap intervals of the curve's
areas and of the coverage and risk at the threshold, and the record the
policy file keeps of it (the table's size and SHA-256 among it)."""
from __future__ import annotations

from dataclasses import replace
from typing import Any, Optional

from ferolin_tools import analysis, confidence, groups, intervals, policies
from ferolin_tools.analysis import Calibration, CalibrationReport
from ferolin_tools.tables import QueryPass


def _policy_of_column(table: QueryPass, index: int, policy: dict[str, Any]) -> dict[str, Any]:
    """The policy of method column `index`: for the own column, one that
    names the column and its direction instead of the pass's stand-in method."""
    own = table.own
    if own is None or index != len(table.scores) - 1:
        return policy
    policy = dict(policy)
    policy["scoring_method"] = confidence.COLUMN_METHOD
    policy["confidence_col"] = own.column
    policy["lower_is_better"] = own.lower_is_better
    return policy


def _provenance(table: QueryPass, report: CalibrationReport,
                policy: dict[str, Any]) -> dict[str, Any]:
    record: dict[str, Any] = {
        "table": table.path, "table_bytes": table.file_bytes, "table_sha256": table.sha256,
        "queries": report.queries, "labelled": report.labelled, "scored": report.scored,
        "accepted": report.accepted, "errors": report.errors,
        "observed_risk": report.observed_risk, "risk_upper_bound": report.risk_upper_bound,
        "risk_upper_bound_level": report.bound_level,
        "thin_evidence": report.thin_evidence, "min_accepted": report.min_accepted,
        "risk_wilson_interval": list(report.risk_wilson_interval),
        "aurc": report.aurc, "eaurc": report.eaurc, "augrc": report.augrc}
    # What was calibrated, to tell a policy edited later from this one.
    record.update(policies.calibrated_fields(policy))
    if report.intervals is not None:
        record["bootstrap"] = {"replicates": report.intervals.replicates,
                               "seed": report.intervals.seed, "level": report.intervals.level,
                               **report.intervals.keys()}
    if report.groups is not None:
        record.update(report.groups.provenance())
    if table.tied_tops:
        # Only a table's rows show ties; merged shards keep one row a query.
        record["tied_tops"] = table.tied_tops
    if table.shards:
        record["shards"] = list(table.shards)
    return record


def policy_with_evidence(table: QueryPass, index: int, error_rate: float, method: str,
                         confidence_level: Optional[float], min_accepted: int, *,
                         group_col: Optional[str] = None,
                         min_group: int = groups.DEFAULT_MIN_GROUP,
                         replicates: int = intervals.DEFAULT_REPLICATES,
                         seed: int = intervals.DEFAULT_SEED,
                         progress: Optional[intervals.BootstrapProgress] = None) -> Calibration:
    """Calibrates method column `index` as analysis.global_threshold does; with
    `group_col` (the pass read with that column) one threshold per group of
    at least `min_group` labelled queries beside the global one; with
    `replicates` (not 0) the bootstrap intervals at the global threshold."""
    base = analysis.global_threshold(table, index, error_rate, method, confidence_level,
                                     min_accepted)
    policy, grouped = base.policy, None
    if group_col is not None:
        policy, grouped = groups.thresholds_per_group(table, index, error_rate, method,
                                                      confidence_level, group_col, min_group)
    policy = _policy_of_column(table, index, policy)
    report = base.report
    summary = table.summary(index)
    bootstrap = None
    if replicates:
        bootstrap = intervals.bootstrap(table, index, report.threshold, replicates, seed,
                                        progress)
    report = replace(report, aurc=summary.aurc, eaurc=summary.eaurc,
                     augrc=summary.augrc,
                     risk_wilson_interval=intervals.wilson(report.accepted, report.errors),
                     intervals=bootstrap, groups=grouped)
    return Calibration(policy, report, base.curve, _provenance(table, report, policy))
