"""calibrate(...) from Python: a policy dictionary from a labelled table."""
import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import ferolin
import reference
from conftest import candidate, table_text

NO_THRESHOLD = 1.7976931348623157e308
POLICY_KEYS = ["version", "scoring_method", "threshold", "target_error_rate",
               "calibration_method", "confidence_level", "created_by"]


@pytest.fixture
def four_rows(make_table):
    """A table whose max-prob curve has thresholds 0.9, 0.8, 0.5, 0.3 with
    accepted 1, 3, 4, 5 and errors 0, 1, 1, 2 out of 5."""
    return make_table([
        candidate("q1", 1, probability=0.9, is_correct=True),
        candidate("q2", 1, probability=0.8, is_correct=False),
        candidate("q3", 1, probability=0.8, is_correct=True),
        candidate("q4", 1, probability=0.5, is_correct=True),
        candidate("q5", 1, probability=0.3, is_correct=False),
    ])


@pytest.mark.parametrize(
    "method, target, level, threshold",
    [
        ("empirical", 0.3, None, 0.5),
        ("empirical", 0.25, None, 0.5),
        ("empirical", 0.2, None, 0.9),
        ("empirical", 0.4, None, 0.3),
        ("empirical", 0.0, None, 0.9),
        ("empirical", -0.1, None, NO_THRESHOLD),
        ("empirical", math.nan, None, NO_THRESHOLD),
        ("crc", 0.3, None, 0.9),
        ("crc", 0.5, None, 0.5),
        ("crc", 0.15, None, NO_THRESHOLD),
        ("crc", 1 / 6, None, NO_THRESHOLD),
        ("binomial", 0.3, 0.90, NO_THRESHOLD),
        ("binomial", 0.8, 0.90, 0.3),
        ("binomial", 0.8, 0.95, 0.3),
        ("binomial", 0.8, 0.975, 0.3),
        ("binomial", 0.8, 0.99, 0.5),
        ("binomial", 0.75, 0.95, 0.3),
        ("binomial", 0.75, 0.975, 0.5),
        ("binomial", 0.75, 0.99, NO_THRESHOLD),
        ("binomial", 0.8, 0.8995, 0.3),
    ],
)
def test_worked_examples(four_rows, method, target, level, threshold):
    policy = ferolin.calibrate(four_rows, "max-prob", target, method, level)
    assert list(policy) == POLICY_KEYS
    assert policy["threshold"] == threshold
    assert policy["calibration_method"] == method
    assert policy["version"] == "0.1.0" and policy["created_by"] == "ferolin"
    assert policy["confidence_level"] == level
    if math.isnan(target):
        assert math.isnan(policy["target_error_rate"])
    else:
        assert policy["target_error_rate"] == target


@pytest.mark.parametrize("level", [0.8, 0.85, 0.5, 0.9005, -1.0, math.nan, 1e300])
def test_unsupported_level(four_rows, level):
    with pytest.raises(RuntimeError) as caught:
        ferolin.calibrate(four_rows, "max-prob", 0.1, "binomial", level)
    shown = {0.8: "0.8", 0.85: "0.85", 0.5: "0.5", 0.9005: "0.9005", -1.0: "-1",
             1e300: "1" + "0" * 300}.get(level, "NaN")
    assert str(caught.value) == (f"Unsupported confidence level: {shown}. "
                                 "Supported: 0.90, 0.95, 0.975, 0.99")


def test_level_kept_whatever_the_method(four_rows):
    assert ferolin.calibrate(four_rows, "max-prob", 0.3, confidence_level=0.95)[
        "confidence_level"] == 0.95
    assert ferolin.calibrate(four_rows, "max-prob", 0.3, "crc", 1)["confidence_level"] == 1.0
    assert ferolin.calibrate(four_rows, "max-prob", 0.3)["confidence_level"] is None


def test_score_name_becomes_policy_name(four_rows):
    assert ferolin.calibrate(four_rows, "topk-gap", 0.3)["scoring_method"] == "top_k_gap"
    assert ferolin.calibrate(four_rows, "max-prob", 0.3)["scoring_method"] == "max_prob"


def test_error_rate_int_is_stored_as_float(four_rows):
    policy = ferolin.calibrate(four_rows, "max-prob", 0)
    assert type(policy["target_error_rate"]) is float and policy["target_error_rate"] == 0.0
    assert policy["threshold"] == 0.9


def test_order_of_checks(tmp_path, four_rows):
    missing = str(tmp_path / "missing.csv")
    with pytest.raises(ValueError, match=r"^Unknown score method 'nope'"):
        ferolin.calibrate(missing, "nope", 0.1, "Nope")
    with pytest.raises(ValueError) as caught:
        ferolin.calibrate(missing, "margin", 0.1, "Empirical")
    assert str(caught.value) == ("Unknown calibration method 'Empirical'. "
                                 "Valid: empirical, binomial, crc")
    # The missing level is noticed only after the table was read.
    with pytest.raises(RuntimeError, match="No such file or directory"):
        ferolin.calibrate(missing, "margin", 0.1, "binomial")
    with pytest.raises(ValueError) as caught:
        ferolin.calibrate(four_rows, "margin", 0.1, "binomial")
    assert str(caught.value) == "confidence_level required for binomial method"
    with pytest.raises(ValueError):
        ferolin.calibrate(four_rows, "margin", 0.1, "binomial", None)


def test_bad_table_cell_in_last_row_is_reported_before_level_check(make_table):
    path = make_table([candidate("q", 1, probability=0.5, is_correct=True)])
    with open(path, "a") as handle:
        handle.write("q,x,1,0.5,,True\n")
    with pytest.raises(RuntimeError, match="provided string was not `true` or `false`"):
        ferolin.calibrate(path, "max-prob", 0.1, "binomial", 0.8)


def test_no_labelled_queries_gives_no_threshold(make_table):
    path = make_table([candidate("q", 1, probability=0.5)])
    assert ferolin.calibrate(path, "max-prob", 0.5)["threshold"] == NO_THRESHOLD


values = st.one_of(st.floats(0, 1), st.sampled_from([0.0, 1.0, math.nan, math.inf]))
rows_strategy = st.lists(st.fixed_dictionaries({
    "query_id": st.sampled_from([f"q{i}" for i in range(12)]),
    "rank": st.integers(1, 3),
    "score": values,
    "probability": st.one_of(st.none(), values),
    "is_correct": st.one_of(st.none(), st.booleans()),
}), max_size=30)


@settings(max_examples=100, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(rows=rows_strategy, target=st.floats(0, 0.6),
       method=st.sampled_from(["empirical", "crc"]), score=st.sampled_from(["max-prob", "margin"]))
def test_threshold_is_the_widest_qualifying_row(tmp_path, rows, target, method, score):
    for i, row in enumerate(rows):
        row["candidate_id"] = f"c{i}"
    path = tmp_path / "t.csv"
    path.write_text(table_text(rows))
    curve = reference.curve(rows, {"max-prob": "max_prob", "margin": "margin"}[score])
    limit = target
    if method == "crc" and curve:
        limit = target - 1 / (curve[-1]["total"] + 1)
    passing = [r for r in curve if r["risk"] <= limit] if limit > 0 or method != "crc" else []
    expected = passing[-1]["threshold"] if passing else NO_THRESHOLD
    assert ferolin.calibrate(str(path), score, target, method)["threshold"] == expected
