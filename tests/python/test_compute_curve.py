"""compute_curve(csv_path, score) from Python."""
import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import ferolin
import reference
from conftest import COLUMNS, candidate, table_text

SCORE_NAMES = {
    "max-prob": "max_prob", "max_prob": "max_prob", "score-gap": "score_gap",
    "score_gap": "score_gap", "margin": "margin", "entropy": "entropy",
    "score-ratio": "score_ratio", "score_ratio": "score_ratio", "topk-gap": "top_k_gap",
    "topk_gap": "top_k_gap", "effective-k": "effective_k", "effective_k": "effective_k",
    "candidate-count": "candidate_count", "candidate_count": "candidate_count",
}
UNKNOWN = ("Unknown score method '{}'. Valid: max-prob, score-gap, margin, entropy, "
           "score-ratio, topk-gap, effective-k, candidate-count")
KEYS = ["threshold", "accepted", "total", "coverage", "errors", "risk"]


def five_queries(fifth_probability=None):
    # max-prob reads the top candidate's probability as the confidence.
    return [
        candidate("q1", 1, probability=0.9, is_correct=True),
        candidate("q2", 1, probability=0.8, is_correct=False),
        candidate("q3", 1, probability=0.8, is_correct=True),
        candidate("q4", 1, probability=0.5, is_correct=True),
        candidate("q5", 1, probability=fifth_probability, is_correct=False),
    ]


def test_worked_example_three_rows(make_table):
    curve = ferolin.compute_curve(make_table(five_queries()), "max-prob")
    assert curve == [
        {"threshold": 0.9, "accepted": 1, "total": 5, "coverage": 0.2, "errors": 0, "risk": 0.0},
        {"threshold": 0.8, "accepted": 3, "total": 5, "coverage": 0.6, "errors": 1,
         "risk": 0.3333333333333333},
        {"threshold": 0.5, "accepted": 4, "total": 5, "coverage": 0.8, "errors": 1, "risk": 0.25},
    ]
    assert all(list(row) == KEYS for row in curve)
    assert all(type(row[k]) is int for row in curve for k in ("accepted", "total", "errors"))
    assert ferolin.aurc(curve) == 0.125
    assert math.isnan(ferolin.eaurc(curve))


def test_worked_example_four_rows_and_ignored_queries(make_table):
    rows = five_queries(0.3) + [
        # Unlabelled top candidate, although a lower candidate is labelled.
        candidate("q6", 1, probability=0.95), candidate("q6", 2, probability=0.01,
                                                        is_correct=True),
    ]
    curve = ferolin.compute_curve(make_table(rows), "max_prob")
    assert [r["threshold"] for r in curve] == [0.9, 0.8, 0.5, 0.3]
    assert curve[-1] == {"threshold": 0.3, "accepted": 5, "total": 5, "coverage": 1.0,
                         "errors": 2, "risk": 0.4}
    assert ferolin.aurc(curve) == 0.19
    assert ferolin.eaurc(curve) == 0.09649537425959442


def test_label_comes_from_top_candidate_by_rank_then_list_order(make_table):
    rows = [
        candidate("a", 2, probability=0.1, is_correct=True, candidate_id="low"),
        candidate("a", 1, probability=0.7, is_correct=False, candidate_id="top"),
        candidate("b", 1, probability=0.6, is_correct=True, candidate_id="first"),
        candidate("b", 1, probability=0.9, is_correct=False, candidate_id="second"),
    ]
    curve = ferolin.compute_curve(make_table(rows), "max-prob")
    assert [(r["threshold"], r["errors"]) for r in curve] == [(0.7, 1), (0.6, 1)]


def test_signed_zeros_share_a_row_and_infinity_leads(make_table):
    rows = [candidate("a", 1, probability=0.0, is_correct=True),
            candidate("b", 1, probability=-0.0, is_correct=False),
            candidate("c", 1, probability=math.inf, is_correct=True)]
    curve = ferolin.compute_curve(make_table(rows), "max-prob")
    assert [r["threshold"] for r in curve] == [math.inf, 0.0]
    assert math.copysign(1.0, curve[1]["threshold"]) == 1.0
    assert curve[1]["accepted"] == 3


def test_cancelling_infinities_count_in_total_but_are_never_accepted(make_table):
    rows = [candidate("a", 1, score=math.inf, is_correct=True), candidate("a", 2, score=math.inf),
            candidate("b", 1, score=2.0, is_correct=True), candidate("b", 2, score=1.0)]
    curve = ferolin.compute_curve(make_table(rows), "score-gap")
    assert curve == [{"threshold": 1.0, "accepted": 1, "total": 2, "coverage": 0.5,
                      "errors": 0, "risk": 0.0}]


@pytest.mark.parametrize("rows", [[], [candidate("a", 1, probability=0.5)]])
def test_no_labelled_query_gives_empty_curve(make_table, rows):
    curve = ferolin.compute_curve(make_table(rows), "max-prob")
    assert curve == []
    assert math.isnan(ferolin.aurc(curve))


@pytest.mark.parametrize("name", ["Max-Prob", " margin", "top_k_gap", "", "MARGIN"])
def test_unknown_score_is_refused_before_the_file(tmp_path, name):
    with pytest.raises(ValueError) as caught:
        ferolin.compute_curve(str(tmp_path / "does-not-exist.csv"), name)
    assert str(caught.value) == UNKNOWN.format(name)


@pytest.mark.parametrize(
    "name, content, message",
    [
        ("missing.csv", None, "CSV error: No such file or directory (os error 2)"),
        ("data.parquet", None,
         "Parquet input detected but ferolin was compiled without the 'parquet' feature; "
         "recompile with --features parquet"),
        ("empty.csv", "", "Missing required column: query_id"),
        ("bad.csv", "query_id,candidate_id,rank,score\nq,c,-1,0.5\n",
         "CSV error: CSV deserialize error: record 1 (line: 2, byte: 33): field 2: "
         "invalid digit found in string"),
    ],
)
def test_table_errors_become_runtime_errors(tmp_path, name, content, message):
    path = tmp_path / name
    if content is not None:
        path.write_text(content)
    with pytest.raises(RuntimeError) as caught:
        ferolin.compute_curve(str(path), "margin")
    assert str(caught.value) == message


def test_nul_in_path_is_refused(tmp_path):
    (tmp_path / "a").write_text(table_text([candidate("q", 1, probability=0.5, is_correct=True)]))
    with pytest.raises(RuntimeError) as caught:
        ferolin.compute_curve(str(tmp_path / "a") + "\0.csv", "max-prob")
    assert str(caught.value) == "CSV error: path contains a NUL byte"


def test_every_cell_is_checked_whatever_the_method_reads(make_table):
    rows = [candidate("q", 1, probability=0.5, is_correct=True)]
    path = make_table(rows)
    with open(path, "a") as handle:
        handle.write("q,c2,2,1.0,not-a-number,false\n")
    with pytest.raises(RuntimeError, match="invalid float literal"):
        ferolin.compute_curve(path, "candidate-count")


# ---- property tests against the plain arithmetic -------------------------

finite = st.floats(allow_nan=False, allow_infinity=False, width=64)
special = st.sampled_from([0.0, -0.0, 1.0, 0.5, math.inf, -math.inf, math.nan, 1e-300, 1e300])
values = st.one_of(finite, special, st.floats(0, 1))
row_strategy = st.fixed_dictionaries({
    "query_id": st.sampled_from(["q1", "q2", "Q1", "10", "2", "", "é"]),
    "candidate_id": st.text(st.characters(blacklist_categories=("Cs",)), max_size=3),
    "rank": st.integers(0, 4),
    "score": values,
    "probability": st.one_of(st.none(), values),
    "is_correct": st.one_of(st.none(), st.booleans()),
})


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(rows=st.lists(row_strategy, max_size=25), name=st.sampled_from(sorted(SCORE_NAMES)))
def test_curve_matches_plain_arithmetic(tmp_path, rows, name):
    path = tmp_path / "random.csv"
    path.write_text(table_text(rows, COLUMNS), encoding="utf-8")
    got = ferolin.compute_curve(str(path), name)
    expected = reference.curve(rows, SCORE_NAMES[name])
    assert len(got) == len(expected)
    for g, e in zip(got, expected):
        assert list(g) == KEYS
        for key in KEYS:
            assert reference.same_float(float(g[key]), float(e[key])), (key, g, e)
    # The invariants of every curve.
    for before, after in zip(got, got[1:]):
        assert before["threshold"] > after["threshold"]
        assert before["accepted"] < after["accepted"]
        assert before["coverage"] < after["coverage"]
        assert before["errors"] <= after["errors"]
    assert len({row["total"] for row in got}) <= 1
    assert all(row["coverage"] <= 1.0 for row in got)
