"""The whole job on the bundled example tables: calibrate, save, load, apply."""
import math
import pathlib

import pytest

import ferolin

DATA = pathlib.Path(__file__).resolve().parents[2] / "examples" / "data"
LABELLED = str(DATA / "labelled_candidates.csv")
NEW = str(DATA / "new_candidates.csv")
SCORES = ["max-prob", "score-gap", "margin", "entropy", "score-ratio", "topk-gap",
          "effective-k", "candidate-count"]
NO_THRESHOLD = 1.7976931348623157e308


@pytest.mark.parametrize("score", SCORES)
@pytest.mark.parametrize("method, level", [("empirical", None), ("binomial", 0.95), ("crc", None)])
def test_calibrated_policy_accepts_the_chosen_rows_coverage(tmp_path, score, method, level):
    curve = ferolin.compute_curve(LABELLED, score)
    policy = ferolin.calibrate(LABELLED, score, 0.05, method, level)
    path = str(tmp_path / "policy.json")
    ferolin.save_policy(path, policy)
    loaded = ferolin.load_policy(path)
    assert loaded == policy

    decisions = ferolin.apply_policy(LABELLED, loaded)
    total = curve[-1]["total"] if curve else 0
    assert len(decisions) == total  # every query of the labelled table is labelled
    accepted = sum(d["accepted"] for d in decisions)
    if policy["threshold"] == NO_THRESHOLD:
        assert accepted == 0
    else:
        (row,) = [r for r in curve if r["threshold"] == policy["threshold"]]
        assert accepted / total == row["coverage"]
        assert row["risk"] <= 0.05
    new = ferolin.apply_policy(NEW, loaded)
    assert len({d["query_id"] for d in new}) == len(new) > 0
    assert all(d["accepted"] == (math.isfinite(d["confidence"])
                                 and d["confidence"] >= policy["threshold"]) for d in new)


def test_no_threshold_policy_rejects_everything_below_it(tmp_path):
    policy = ferolin.calibrate(LABELLED, "margin", -1.0)
    assert policy["threshold"] == NO_THRESHOLD
    assert not any(d["accepted"] for d in ferolin.apply_policy(NEW, policy))


def test_curve_summaries_on_example_data():
    for score in SCORES:
        curve = ferolin.compute_curve(LABELLED, score)
        assert curve, score
        assert ferolin.aurc(curve) > 0
    # Probability-based scores reach full coverage except where probabilities are missing.
    assert ferolin.compute_curve(LABELLED, "candidate-count")[-1]["coverage"] == 1.0
