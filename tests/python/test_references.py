"""Reference counts and allocations stay flat over many calls, good and bad."""
import gc
import sys

import pytest

import ferolin

ROW = {"threshold": 0.5, "accepted": 4, "total": 4, "coverage": 1.0, "errors": 1, "risk": 0.25}
CURVE = [ROW, dict(ROW, risk=None)]
BAD_CURVE = [ROW, {"threshold": 0.5}]


def calls(tables):
    """(function, args, kwargs) for every module function, good and failing."""
    return [
        (ferolin.aurc, (CURVE,), {}),
        (ferolin.eaurc, (), {"curve": CURVE}),
        (ferolin.aurc, (BAD_CURVE,), {}),
        (ferolin.eaurc, ((ROW,),), {}),
        (ferolin.aurc, (CURVE, CURVE), {}),
        (ferolin.aurc, (), {"curves": CURVE}),
        (ferolin.calibrate, ("x.csv", "nope", 0.1), {}),
        (ferolin.calibrate, ("x.csv", "margin", None), {}),
        (ferolin.compute_curve, ("x.csv", "Margin"), {}),
        (ferolin.apply_policy, ("x.csv", {}), {}),
        (ferolin.save_policy, ("x.json", {"scoring_method": "max-prob"}), {}),
    ] + tables


def run(function, args, kwargs):
    try:
        function(*args, **kwargs)
    except (TypeError, ValueError, KeyError, RuntimeError, NotImplementedError):
        pass


@pytest.fixture
def extra_calls():
    """Calls that later tests of the table functions add through this hook."""
    return []


def test_arguments_keep_their_reference_counts(extra_calls):
    for function, args, kwargs in calls(extra_calls):
        before = [sys.getrefcount(a) for a in args] + [sys.getrefcount(v) for v in kwargs.values()]
        for _ in range(200):
            run(function, args, kwargs)
        after = [sys.getrefcount(a) for a in args] + [sys.getrefcount(v) for v in kwargs.values()]
        assert before == after, function.__name__


def test_allocated_blocks_stay_flat(extra_calls):
    all_calls = calls(extra_calls)
    for _ in range(50):  # warm up caches of the interpreter
        for call in all_calls:
            run(*call)
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(2000):
        for call in all_calls:
            run(*call)
    gc.collect()
    # A leak of one block per call would show as thousands of blocks.
    assert sys.getallocatedblocks() - before < 200
