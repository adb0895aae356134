"""Messages that say what is wrong with a table that was read and how to
fix it: why no query counts as labelled, why a method scores nothing, which
queries have tied tops."""
from __future__ import annotations

from typing import Optional

from ferolin_tools.read_errors import column_hint, header_text, near_match
from ferolin_tools.tables import QueryPass


def no_labels(table: QueryPass) -> str:
    """Why no query of the table counts as labelled, and what to do."""
    layout = table.layout
    name = layout.header_name("is_correct")
    message = f"{table.path}: no labelled query, so nothing can be measured or calibrated:"
    if name not in table.header:
        message += (f" the table has no {name!r} column to tell right from wrong answers. "
                    + header_text(table.header))
        match = near_match(name, table.header)
        if match is not None:
            message += (f" If {match!r} holds the labels, map it with "
                        f"{column_hint('is_correct', match, layout.hint_style)}.")
        return message
    return message + (f" the {name!r} cell is empty for the top candidate (smallest rank) of "
                      f"every one of its {table.counts.queries} queries; only the top "
                      f"candidate's label is read.")


def _probability_note(table: QueryPass) -> str:
    name = table.layout.header_name("probability")
    return f" (the table has no {name!r} column)" if name not in table.header else ""


def why_unscored(table: QueryPass, score: str, labelled: bool) -> str:
    """Why `score` gives none of the table's queries (or of its labelled
    queries) a confidence."""
    counts = table.counts
    considered = counts.labelled if labelled else counts.queries
    single = counts.labelled_single_candidate if labelled else counts.single_candidate
    what = "labelled queries" if labelled else "queries"
    if table.own is not None and score == table.scores[-1]:
        return (f"{score} is the top candidates' cells of column {table.own.column!r}; none of "
                f"the {considered} {what} has a number there")
    probabilities = _probability_note(table)
    if score == "max-prob":
        return f"max-prob needs probabilities; 0 of {considered} top candidates have one" + \
            probabilities
    if score == "margin":
        return ("margin needs the probabilities of the top two candidates; none of the "
                f"{considered} {what} has both{probabilities}")
    if score in ("entropy", "effective-k"):
        return (f"{score} needs a probability for every candidate; none of the {considered} "
                f"{what} has them all{probabilities}")
    if single == considered:
        return f"{score} needs at least two candidates; each of the {considered} {what} has one"
    if score == "score-ratio":
        return (f"score-ratio needs a positive, finite runner-up score; none of the {considered} "
                f"{what} has one")
    return f"{score} found no finite confidence among the {considered} {what}"


def nothing_scored(table: QueryPass, score: str) -> str:
    """The message for a method that scores none of the labelled queries."""
    hint = (f"`ferolin compare {table.path}` shows which methods can"
            if table.layout.hint_style == "cli" else
            "ferolin_tools.compare() shows which methods can")
    return (f"{table.path}: {score} scores none of the {table.counts.labelled} labelled "
            f"queries: {why_unscored(table, score, labelled=True)}. {hint}.")


def nothing_decided(table: QueryPass) -> str:
    """The message for a policy whose method scores none of the queries."""
    score = table.scores[0]
    return (f"{table.path}: the policy's method, {score}, scores none of the "
            f"{table.counts.queries} queries, so it would reject them all: "
            f"{why_unscored(table, score, labelled=False)}.")


def tied_tops(table: QueryPass) -> Optional[str]:
    """A note on queries whose top candidate the order of rows decides."""
    tied = table.tied_tops
    if not tied:
        return None
    return (f"{tied} of the {table.counts.queries} queries hold two or more rows at their "
            f"smallest rank (a tied top, or two candidate lists under one query id); the first "
            f"such row in the file is taken as the top candidate, so the label and confidence "
            f"of these queries depend on the order of the rows")
