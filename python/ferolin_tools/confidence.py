"""A query's own confidence: the top candidate's value in a column of the
table (its score, or a confidence the search tool gave its top hit),
calibrated and applied as a scoring method's confidence is.

The pass reads it as one more column after the methods' (negated when lower
is better, so that higher always means more trusted); a policy calibrated on
it names the column instead of a method, with scoring_method
"confidence_column", which ferolin.load_policy refuses as an unknown method.
ProbabilityWarning, which a read gives when the methods it ran read a
probability column that holds no probabilities, is declared here too."""
from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Mapping, Optional

#: The scoring_method of a policy on a confidence column.
COLUMN_METHOD = "confidence_column"
#: The name of the own column when it is the score itself, higher better.
TOP_SCORE = "top-score"


@dataclass(frozen=True)
class OwnConfidence:
    """The column whose top-candidate value is a query's confidence."""

    column: str
    lower_is_better: bool = False

    def name(self, score_header: str = "score") -> str:
        """How results name the column: top-score for the score, otherwise
        column:NAME, column:-NAME when lower is better (the confidence is
        then the negated value)."""
        if self.column == score_header and not self.lower_is_better:
            return TOP_SCORE
        return f"column:{'-' if self.lower_is_better else ''}{self.column}"


def pass_arguments(own: Optional[OwnConfidence]) -> dict[str, Any]:
    """The arguments that ask a pass (_native.run_pass or run_arrow_pass)
    for the own column, or for none."""
    if own is None:
        return {"confidence_column": None, "lower_is_better": False}
    return {"confidence_column": own.column, "lower_is_better": own.lower_is_better}


def own_confidence(confidence: Optional[str], lower_is_better: bool) -> Optional[OwnConfidence]:
    """The own confidence asked for, or None; ValueError for lower_is_better
    without a column or a column that is not a non-empty string."""
    if confidence is None:
        if lower_is_better:
            raise ValueError("lower_is_better needs a confidence column")
        return None
    if not isinstance(confidence, str) or not confidence:
        raise ValueError(f"the confidence column must be a column name, not {confidence!r}")
    return OwnConfidence(confidence, bool(lower_is_better))


def top_score(columns: Optional[Mapping[str, str]] = None) -> OwnConfidence:
    """The score column as a confidence of its own, under the table's name for it."""
    return OwnConfidence(dict(columns or {}).get("score", "score"))


def of_policy(policy: Mapping[str, Any]) -> Optional[OwnConfidence]:
    """The column a policy on a confidence column reads; None for a policy
    on one of the eight methods."""
    if policy.get("scoring_method") != COLUMN_METHOD:
        return None
    return OwnConfidence(policy["confidence_col"], bool(policy.get("lower_is_better", False)))


def applied_column(policy: Mapping[str, Any],
                   column: Optional[str] = None) -> Optional[OwnConfidence]:
    """The column a policy reads when applied: its own confidence column,
    under `column` when the table names it otherwise; None for a policy on
    a method. ValueError for `column` with a policy on a method."""
    own = of_policy(policy)
    if column is None:
        return own
    if own is None:
        raise ValueError("the policy is calibrated on a scoring method, not on a confidence "
                         "column")
    return OwnConfidence(column, own.lower_is_better)


class ProbabilityWarning(UserWarning):
    """The probability column holds values that are not probabilities."""
