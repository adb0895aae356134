"""The warning for infinite confidences: a policy accepts only finite ones,
so the command holds them as no confidence, in curves, calibrations and
decisions alike, and says so."""
from __future__ import annotations

from typing import Optional

from ferolin_tools.tables import QueryPass


def infinite_warning(table: QueryPass, index: int) -> Optional[str]:
    """The warning for method column `index`, or None without infinities."""
    count = table.summary(index).infinite
    if not count:
        return None
    return (f"{table.scores[index]} gives {count} of the {table.counts.queries} queries an "
            f"infinite confidence; a policy never accepts an infinite confidence, so they count "
            f"as having none here (in the curve, the threshold's evidence and the decisions)")
