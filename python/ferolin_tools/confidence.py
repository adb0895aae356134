"""A query's own confidence: the top candidate's value in a column of the
table (its score, or a confidence the search tool gave its top hit),
calibrated and applied as a scoring method's confidence is.

The pass reads it as one more column after the methods' (negated when lower
is better, so that higher always means more trusted); a policy calibrated on
it names the column instead of a method, with scoring_method
"confidence_column", which ferolin.load_policy refuses as an unknown method.
This module also turns the read's check of the probability column into the
warnings of the methods that read probabilities."""
from __future__ import annotations

import warnings
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Mapping, Optional


if TYPE_CHECKING:
    from ferolin_tools.tables import QueryPass

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


def of_policy(policy: Mapping[str, Any]) -> Optional[OwnConfidence]:
    """The column a policy on a confidence column reads; None for a policy
    on one of the eight methods."""
    if policy.get("scoring_method") != COLUMN_METHOD:
        return None
    return OwnConfidence(policy["confidence_col"], bool(policy.get("lower_is_better", False)))


def policy_for(table: "QueryPass", index: int, policy: dict[str, Any]) -> dict[str, Any]:
    """The policy of method column `index`: for the own column, one that
    names the column and its direction instead of the pass's stand-in method."""
    own = table.own
    if own is None or index != len(table.scores) - 1:
        return policy
    policy = dict(policy)
    policy["scoring_method"] = COLUMN_METHOD
    policy["confidence_col"] = own.column
    policy["lower_is_better"] = own.lower_is_better
    return policy


def probability_problems(table: "QueryPass") -> Optional[str]:
    """What is wrong with the probability column that the read's methods
    read, in one sentence; None when nothing is (or none read it)."""
    check = table.native.probability_check()
    if check is None:
        return None
    name = table.layout.header_name("probability")
    problems = []
    if check.outside:
        problems.append(f"{check.outside} values outside [0, 1]")
    if check.above_one:
        problems.append(f"{check.above_one} queries whose candidates' probabilities sum "
                        f"above 1")
    if not problems:
        return None
    return (f"{table.path}: column {name!r} holds {' and '.join(problems)}; the methods that "
            f"read probabilities score them as they are")


class ProbabilityWarning(UserWarning):
    """The probability column holds values that are not probabilities."""


def warn_probabilities(table: "QueryPass") -> None:
    """Warns once for the table (a ProbabilityWarning) when its probability
    column holds values that are not probabilities."""
    problem = probability_problems(table)
    if problem is not None:
        warnings.warn(problem, ProbabilityWarning, stacklevel=3)
