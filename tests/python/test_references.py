"""Reference counts and allocations stay flat over many calls, good and bad."""
import gc
import sys

import pytest

import ferolin
from conftest import candidate, table_text

ROW = {"threshold": 0.5, "accepted": 4, "total": 4, "coverage": 1.0, "errors": 1, "risk": 0.25}
POLICY = {"version": "0.1.0", "scoring_method": "margin", "threshold": 0.1,
          "target_error_rate": 0.05, "calibration_method": "empirical",
          "confidence_level": None, "created_by": "ferolin"}


@pytest.fixture
def calls(tmp_path):
    """(function, args, kwargs) for every module function, succeeding and failing."""
    table = tmp_path / "t.csv"
    table.write_text(table_text([candidate("q1", 1, 2.0, 0.7, True), candidate("q1", 2, 1.0, 0.2),
                                 candidate("q2", 1, 1.0, 0.4, False)]))
    bad_table = tmp_path / "bad.csv"
    bad_table.write_text("query_id,candidate_id,rank,score\nq,c,x,1\n")
    policy = tmp_path / "p.json"
    ferolin.save_policy(str(policy), POLICY)
    bad_policy = tmp_path / "bad.json"
    bad_policy.write_text('{"version": "0.1.0", "threshold": true}')
    table, bad_table, policy = str(table), str(bad_table), str(policy)
    # Fresh objects, so that no other holder of a shared constant moves its count.
    rate, level, unsupported = float("0.1"), float("0.95"), float("0.8")
    return [
        (ferolin.aurc, ([ROW, dict(ROW, risk=None)],), {}),
        (ferolin.eaurc, (), {"curve": [ROW]}),
        (ferolin.aurc, ([ROW, {"threshold": 0.5}],), {}),
        (ferolin.eaurc, ((ROW,),), {}),
        (ferolin.aurc, ([ROW], [ROW]), {}),
        (ferolin.compute_curve, (table, "margin"), {}),
        (ferolin.compute_curve, (bad_table, "margin"), {}),
        (ferolin.compute_curve, (table, "Margin"), {}),
        (ferolin.calibrate, (table, "margin", rate), {"method": "binomial",
                                                       "confidence_level": level}),
        (ferolin.calibrate, (table, "margin", rate, "binomial"), {}),
        (ferolin.calibrate, (table, "margin", rate, "binomial", unsupported), {}),
        (ferolin.calibrate, (table, "margin", None), {}),
        (ferolin.apply_policy, (table, POLICY), {}),
        (ferolin.apply_policy, (bad_table, POLICY), {}),
        (ferolin.apply_policy, (table, {"scoring_method": "max-prob"}), {}),
        (ferolin.load_policy, (policy,), {}),
        (ferolin.load_policy, (str(bad_policy),), {}),
        (ferolin.load_policy, (table + ".missing",), {}),
        (ferolin.save_policy, (policy, POLICY), {}),
        (ferolin.save_policy, (policy, {"scoring_method": 1}), {}),
        (ferolin.save_policy, (str(tmp_path / "no" / "p.json"), POLICY), {}),
    ]


def run(function, args, kwargs):
    try:
        function(*args, **kwargs)
    except (TypeError, ValueError, KeyError, RuntimeError):
        pass


def test_arguments_keep_their_reference_counts(calls):
    for function, args, kwargs in calls:
        arguments = list(args) + list(kwargs.values())
        before = [sys.getrefcount(a) for a in arguments]
        for _ in range(200):
            run(function, args, kwargs)
        assert [sys.getrefcount(a) for a in arguments] == before, function.__name__


def test_allocated_blocks_stay_flat(calls):
    for _ in range(20):  # warm up the interpreter's caches
        for call in calls:
            run(*call)
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(500):
        for call in calls:
            run(*call)
    gc.collect()
    # A leak of one block per call would show as thousands of blocks.
    assert sys.getallocatedblocks() - before < 200
