"""How far to trust the top-ranked candidate annotation of each query."""
from typing import Literal, TypedDict, type_check_only

__all__ = [
    "compute_curve",
    "aurc",
    "eaurc",
    "calibrate",
    "apply_policy",
    "load_policy",
    "save_policy",
]

_ScoreName = Literal[
    "max-prob", "max_prob", "score-gap", "score_gap", "margin", "entropy", "score-ratio",
    "score_ratio", "topk-gap", "topk_gap", "effective-k", "effective_k", "candidate-count",
    "candidate_count",
]
_PolicyScoringName = Literal[
    "max_prob", "score_gap", "margin", "entropy", "score_ratio", "top_k_gap", "effective_k",
    "candidate_count",
]
_CalibrationName = Literal["empirical", "binomial", "crc"]

@type_check_only
class _CurveRow(TypedDict):
    threshold: float
    accepted: int
    total: int
    coverage: float
    errors: int
    risk: float | None

@type_check_only
class _Policy(TypedDict):
    version: str
    scoring_method: _PolicyScoringName
    threshold: float
    target_error_rate: float
    calibration_method: _CalibrationName
    confidence_level: float | None
    created_by: str

@type_check_only
class _Decision(TypedDict):
    query_id: str
    candidate_id: str
    confidence: float
    accepted: bool
    threshold: float
    method: str

def compute_curve(csv_path: str, score: _ScoreName | str) -> list[_CurveRow]:
    """Compute the risk-coverage curve from a labeled candidates CSV.
    Returns a list of dicts: threshold, accepted, total, coverage, errors, risk.

    One row per distinct confidence of the labelled queries (those whose top
    candidate has a label), from the highest threshold down: the queries a
    threshold accepts, the errors among them and their share (risk). A query
    the method cannot score counts in total but is never accepted.

    Args:
        csv_path: A candidates table, CSV with a header row and the columns
            query_id, candidate_id, rank and score (probability, is_correct and
            others optional). A name ending in .parquet is refused.
        score: The scoring method: "max-prob", "score-gap", "margin",
            "entropy", "score-ratio", "topk-gap", "effective-k" or
            "candidate-count" (or with underscores: "max_prob", ...).

    Returns:
        A list of dicts with the keys threshold, accepted, total, coverage,
        errors and risk, one per row.

    Raises:
        TypeError: An argument of the wrong type.
        ValueError: An unknown score method.
        RuntimeError: A table that cannot be read."""

def aurc(curve: list[_CurveRow]) -> float:
    """Compute AURC for a risk-coverage curve (list of dicts from compute_curve).

    The area under risk against coverage by the trapezoid rule, starting
    from (coverage 0, risk 0) and ending at the last row; a missing risk
    counts as 0. Lower is better.

    Args:
        curve: A list of curve dicts, as compute_curve returns them.

    Returns:
        The area as a float; NaN for an empty curve.

    Raises:
        TypeError: A curve that is not a list of dicts.
        KeyError: A dict without one of the six keys."""

def eaurc(curve: list[_CurveRow]) -> float:
    """Compute E-AURC for a risk-coverage curve.

    AURC minus the area of a perfect confidence on the same labels, in
    closed form: e + (1 - e) * ln(1 - e), with e the error rate of all
    labelled queries (the last row).

    Args:
        curve: A list of curve dicts, as compute_curve returns them.

    Returns:
        The excess area as a float; NaN for an empty curve, a curve that does
        not reach full coverage (a query without a confidence), or one with
        no errors or no correct answers.

    Raises:
        TypeError: A curve that is not a list of dicts.
        KeyError: A dict without one of the six keys."""

def calibrate(
    csv_path: str,
    score: _ScoreName | str,
    error_rate: float,
    method: _CalibrationName | str = "empirical",
    confidence_level: float | None = None,
) -> _Policy:
    """Calibrate a trust threshold and return a policy dict.

    The widest threshold whose curve row passes the method's test wins; when
    none passes, the threshold is the largest float and the policy rejects
    every query.

    Args:
        csv_path: A candidates table, as for compute_curve.
        score: The scoring method, as for compute_curve.
        error_rate: The target error rate among accepted queries, e.g. 0.05.
        method: "empirical" (observed risk <= error_rate), "binomial" (the
            Wilson upper bound of the risk at confidence_level <= error_rate)
            or "crc" (observed risk <= error_rate - 1/(n + 1)).
        confidence_level: For "binomial": 0.90, 0.95, 0.975 or 0.99.

    Returns:
        A policy dict with the keys version, scoring_method, threshold,
        target_error_rate, calibration_method, confidence_level and created_by.

    Raises:
        TypeError: An argument of the wrong type.
        ValueError: An unknown method, or binomial without confidence_level.
        RuntimeError: A table that cannot be read, or an unsupported
            confidence level."""

def apply_policy(csv_path: str, policy_dict: _Policy) -> list[_Decision]:
    """Apply a policy dict to a candidates CSV. Returns a list of decision dicts.

    A query is accepted when its confidence is finite and at least the
    policy's threshold.

    Args:
        csv_path: A candidates table, as for compute_curve; labels are not read.
        policy_dict: A policy as calibrate or load_policy returns it.

    Returns:
        One dict per query, in the order of their ids, with the keys query_id,
        candidate_id (the top candidate), confidence (NaN where the method
        gives none), accepted, threshold and method.

    Raises:
        TypeError: An argument of the wrong type.
        KeyError: A policy without a required key.
        RuntimeError: An unknown method in the policy, or a table that cannot
            be read."""

def load_policy(path: str) -> _Policy:
    """Load a policy JSON file. Returns a policy dict.

    The file must hold version "0.1.0" and the keys scoring_method,
    threshold, target_error_rate, calibration_method and created_by
    (confidence_level may be missing); keys it does not know are skipped.

    Args:
        path: The policy file.

    Returns:
        The dict that calibrate returns.

    Raises:
        TypeError: A path that is not a str.
        RuntimeError: A file that cannot be read, is not such JSON, or has
            another version."""

def save_policy(path: str, policy_dict: _Policy) -> None:
    """Save a policy dict to a JSON file.

    Writes where open(path, "w") would: an ordinary file is replaced whole
    (written beside it, then renamed over it with its owner and mode), so a
    failed save never leaves half a policy.

    Args:
        path: Where to write.
        policy_dict: A policy as calibrate or load_policy returns it.

    Returns:
        None.

    Raises:
        TypeError: An argument of the wrong type.
        KeyError: A policy without a required key.
        RuntimeError: An unknown method in the policy, or a file that cannot
            be written."""
