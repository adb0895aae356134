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
    Returns a list of dicts: threshold, accepted, total, coverage, errors, risk."""

def aurc(curve: list[_CurveRow]) -> float:
    """Compute AURC for a risk-coverage curve (list of dicts from compute_curve)."""

def eaurc(curve: list[_CurveRow]) -> float:
    """Compute E-AURC for a risk-coverage curve."""

def calibrate(
    csv_path: str,
    score: _ScoreName | str,
    error_rate: float,
    method: _CalibrationName | str = "empirical",
    confidence_level: float | None = None,
) -> _Policy:
    """Calibrate a trust threshold and return a policy dict."""

def apply_policy(csv_path: str, policy_dict: _Policy) -> list[_Decision]:
    """Apply a policy dict to a candidates CSV. Returns a list of decision dicts."""

def load_policy(path: str) -> _Policy:
    """Load a policy JSON file. Returns a policy dict."""

def save_policy(path: str, policy_dict: _Policy) -> None:
    """Save a policy dict to a JSON file."""
