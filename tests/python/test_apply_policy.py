"""apply_policy(csv_path, policy_dict) from Python."""
import math
import types

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import ferolin
import reference
from conftest import candidate, table_text

DECISION_KEYS = ["query_id", "candidate_id", "confidence", "accepted", "threshold", "method"]
DISPLAY = {"max_prob": "MaxProb", "score_gap": "ScoreGap", "margin": "Margin",
           "entropy": "Entropy", "score_ratio": "ScoreRatio", "top_k_gap": "TopKGap",
           "effective_k": "EffectiveK", "candidate_count": "CandidateCount"}


def policy(method="max_prob", threshold=0.5, **extra):
    return {"version": "0.1.0", "scoring_method": method, "threshold": threshold,
            "target_error_rate": 0.05, "calibration_method": "empirical",
            "confidence_level": None, "created_by": "ferolin", **extra}


def test_decisions(make_table):
    path = make_table([
        candidate("b", 1, probability=0.5),
        candidate("a", 2, probability=0.9, candidate_id="second"),
        candidate("a", 1, probability=0.7, candidate_id="top"),
        candidate("c", 1),
        candidate("d", 1, probability=math.inf),
    ])
    decisions = ferolin.apply_policy(path, policy())
    assert [list(d) for d in decisions] == [DECISION_KEYS] * 4
    assert [(d["query_id"], d["candidate_id"], d["accepted"]) for d in decisions] == [
        ("a", "top", True), ("b", "b-c1", True), ("c", "c-c1", False), ("d", "d-c1", False)]
    assert all(d["accepted"] is True or d["accepted"] is False for d in decisions)
    assert math.isnan(decisions[2]["confidence"])
    assert decisions[3]["confidence"] == math.inf
    assert {d["method"] for d in decisions} == {"MaxProb"}
    assert {d["threshold"] for d in decisions} == {0.5}


@pytest.mark.parametrize(
    "threshold, accepted",
    [(-math.inf, [True, True]), (math.nan, [False, False]), (0.7, [True, False]),
     (1.7976931348623157e308, [False, False])],
)
def test_thresholds(make_table, threshold, accepted):
    path = make_table([candidate("a", 1, probability=0.7), candidate("b", 1, probability=0.2)])
    assert [d["accepted"] for d in ferolin.apply_policy(path, policy(threshold=threshold))] == \
        accepted


def test_group_thresholds_in_the_dict_change_nothing(make_table):
    path = make_table([candidate("a", 1, probability=0.7)])
    plain = ferolin.apply_policy(path, policy(threshold=0.8))
    grouped = ferolin.apply_policy(path, policy(threshold=0.8, group_col="g",
                                                group_thresholds={"": 0.1, "a": 0.1}))
    assert plain == grouped and plain[0]["accepted"] is False


def test_accepted_policy_forms(make_table, tmp_path):
    path = make_table([candidate("a", 1, probability=0.7, is_correct=True),
                       candidate("a", 2, probability=0.2, is_correct=False)])

    class Sub(dict):
        pass

    calibrated = ferolin.calibrate(path, "margin", 0.1)
    ferolin.save_policy(str(tmp_path / "p.json"), calibrated)
    loaded = ferolin.load_policy(str(tmp_path / "p.json"))
    for form in (calibrated, loaded, Sub(calibrated)):
        decisions = ferolin.apply_policy(path, form)
        assert decisions[0]["method"] == "Margin" and decisions[0]["accepted"] is True
    with pytest.raises(TypeError) as caught:
        ferolin.apply_policy(path, types.MappingProxyType(calibrated))
    assert str(caught.value) == "'mappingproxy' object is not an instance of 'dict'"


def test_empty_table_and_table_errors(make_table, tmp_path):
    assert ferolin.apply_policy(make_table([]), policy()) == []
    with pytest.raises(RuntimeError, match="^Missing required column: rank$"):
        ferolin.apply_policy(make_table([candidate("a", 1)], ["query_id", "candidate_id",
                                                              "score"]), policy())
    # Labels are not needed, but they are still checked.
    bad = make_table([candidate("a", 1)])
    with open(bad, "a") as handle:
        handle.write("a,x,2,1.0,,True\n")
    with pytest.raises(RuntimeError, match="provided string was not `true` or `false`"):
        ferolin.apply_policy(bad, policy())


values = st.one_of(st.floats(-2, 2), st.sampled_from([0.0, -0.0, math.nan, math.inf, -math.inf]))


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(rows=st.lists(st.fixed_dictionaries({
    "query_id": st.sampled_from(["q1", "q2", "q10", "Q", ""]),
    "candidate_id": st.sampled_from(["x", "y", "z"]),
    "rank": st.integers(0, 3), "score": values,
    "probability": st.one_of(st.none(), values),
}), max_size=20), method=st.sampled_from(sorted(DISPLAY)), threshold=values)
def test_decisions_match_plain_arithmetic(tmp_path, rows, method, threshold):
    path = tmp_path / "t.csv"
    path.write_text(table_text(rows))
    got = ferolin.apply_policy(str(path), policy(method, threshold))
    expected = reference.decisions(rows, method, threshold)
    assert len(got) == len(expected)
    for g, e in zip(got, expected):
        assert (g["query_id"], g["candidate_id"], g["accepted"]) == \
            (e["query_id"], e["candidate_id"], e["accepted"])
        assert reference.same_float(g["confidence"], e["confidence"])
        assert g["method"] == DISPLAY[method]
        assert reference.same_float(g["threshold"], threshold)
