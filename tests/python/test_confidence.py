"""A table's own confidence (--confidence-col, confidence=) and the check of
the probability column: the top-score curve against pandas on the real data,
policies on a column through calibrate, save, apply and ferolin.load_policy,
and the probability warnings of the command and the API."""
import json
import math
import pathlib
import struct
import subprocess
import sys
import warnings

import pytest

import ferolin
import ferolin_tools
from ferolin_tools.confidence import ProbabilityWarning
from conftest import candidate, table_text

REAL = pathlib.Path("/work/shared/data/real/impact_iokr/impact_iokr_top100.csv")


def run(*args):
    return subprocess.run([sys.executable, "-m", "ferolin_tools", *map(str, args)],
                          capture_output=True, text=True)


def bits(value):
    return struct.pack("<d", value)


def pandas_top_score_curve(path, lower_is_better=False):
    """The risk-coverage curve of the top candidate's score, by pandas alone:
    the top candidate is the first of the smallest rank in file order."""
    pandas = pytest.importorskip("pandas")
    rows = pandas.read_csv(path, dtype={"query_id": str, "is_correct": "boolean"})
    top = rows.sort_values("rank", kind="stable").groupby("query_id", sort=False).head(1)
    top = top[top["is_correct"].notna()]
    confidence = -top["score"] if lower_is_better else top["score"]
    total = len(top)
    by_value = (pandas.DataFrame({"c": confidence, "wrong": ~top["is_correct"].astype(bool)})
                .dropna().groupby("c").agg(n=("wrong", "size"), wrong=("wrong", "sum"))
                .sort_index(ascending=False))
    accepted, errors = by_value["n"].cumsum(), by_value["wrong"].cumsum()
    return [{"threshold": float(t), "accepted": int(a), "total": total,
             "coverage": float(a / total), "errors": int(e), "risk": float(e / a)}
            for t, a, e in zip(by_value.index, accepted, errors)]


def same_rows(ours, theirs):
    assert len(ours) == len(theirs)
    for mine, other in zip(ours, theirs):
        assert mine.keys() == other.keys()
        for key, value in mine.items():
            assert bits(float(value)) == bits(float(other[key])), (key, mine, other)


@pytest.mark.skipif(not REAL.exists(), reason="the real data are not on this machine")
@pytest.mark.parametrize("lower_is_better", [False, True])
def test_top_score_curve_on_real_data_equals_pandas(lower_is_better):
    name = "column:-score" if lower_is_better else "top-score"
    result = ferolin_tools.curve(REAL, [], confidence="score", lower_is_better=lower_is_better)
    same_rows(result[name].curve, pandas_top_score_curve(REAL, lower_is_better))
    if not lower_is_better:  # compare lists it beside the methods, from the same read
        entries = {e.score: e for e in ferolin_tools.compare(REAL, bootstrap=0)}
        assert entries["top-score"].aurc == result[name].aurc == ferolin.aurc(result[name].curve)


# A per-query table, as a search tool exports its top hits: one candidate per
# query, its own e-value (lower is better), some queries without one.
EVALUES = [1e-9, 3e-7, 2e-6, 5e-5, 1e-4, 3e-3, 0.02, 0.4, None, 2.5]


def per_query_table(write_file, group=False):
    rows = []
    for q, evalue in enumerate(EVALUES * 8):
        row = candidate(f"q{q:03d}", 1, score=float(q % 7), is_correct=(q * 7) % 10 < 7 - q % 3)
        row.update(evalue=evalue, mode="neg" if q % 2 else "pos")
        rows.append(row)
    columns = ["query_id", "candidate_id", "rank", "score", "evalue", "mode", "is_correct"]
    return write_file("hits.csv", table_text(rows, columns)), rows


def test_policy_on_a_column_is_applied_by_the_tools_and_refused_by_the_module(write_file,
                                                                              tmp_path):
    path, rows = per_query_table(write_file)
    result = ferolin_tools.calibrate(path, None, 0.3, confidence="evalue", lower_is_better=True,
                                     bootstrap=0)
    policy = result.policy
    assert (policy["scoring_method"], policy["confidence_col"], policy["lower_is_better"]) == (
        "confidence_column", "evalue", True)
    saved = tmp_path / "policy.json"
    result.save(saved)
    assert json.loads(saved.read_text())["scoring_method"] == "confidence_column"
    with pytest.raises(RuntimeError, match="unknown variant `confidence_column`"):
        ferolin.load_policy(str(saved))
    with pytest.raises(RuntimeError, match="unknown variant `confidence_column`"):
        ferolin.apply_policy(path, policy)
    # Accepted: the e-value is present and at most the negated threshold.
    expected = [row["evalue"] is not None and -row["evalue"] >= policy["threshold"]
                for row in rows]
    assert 0 < sum(expected) < len(expected)
    for source in (policy, saved):
        decisions = ferolin_tools.apply(path, source, numpy=False)
        assert decisions["accepted"] == expected
    command = run("apply", path, saved)
    assert command.returncode == 0, command.stderr
    accepted = [line.split("\t")[3] == "true" for line in command.stdout.splitlines()[1:]]
    assert accepted == expected
    # The command's policy equals the API's; another header name for the column.
    written = run("calibrate", path, "--confidence-col", "evalue", "--lower-is-better",
                  "--error-rate", "0.3", "--bootstrap", "0", "-q")
    assert {k: v for k, v in json.loads(written.stdout).items() if k != "calibration"} == policy
    renamed = write_file("renamed.csv", pathlib.Path(path).read_text().replace("evalue", "E"))
    assert ferolin_tools.apply(renamed, saved, confidence="E", numpy=False)["accepted"] == expected


@pytest.mark.parametrize("args, message", [
    (["calibrate", "--error-rate", "0.1"], "give --score or --confidence-col"),
    (["calibrate", "--error-rate", "0.1", "--score", "margin", "--confidence-col", "evalue"],
     "not both"),
    (["curve", "--lower-is-better"], "--lower-is-better needs --confidence-col"),
    (["curve"], "give --score"),
])
def test_confidence_options_are_checked(write_file, args, message):
    path, _ = per_query_table(write_file)
    result = run(args[0], path, *args[1:])
    assert result.returncode == 2 and message in result.stderr


def test_a_cell_that_is_no_number_names_the_column(write_file):
    path = write_file("t.csv", table_text(
        [{**candidate("q1", 1, is_correct=True), "evalue": "high"}],
        ["query_id", "candidate_id", "rank", "score", "evalue", "is_correct"]))
    with pytest.raises(ferolin_tools.TableError, match="column 'evalue'.*'high'"):
        ferolin_tools.curve(path, [], confidence="evalue")


def test_probabilities_that_are_none_warn_once_per_table(write_file):
    rows = [candidate("a", 1, 2.0, 0.7, True), candidate("a", 2, 1.0, 0.6, False),  # sum 1.3
            candidate("b", 1, 2.0, -0.2, False), candidate("b", 2, 1.0, 1.5, True),
            candidate("c", 1, 2.0, 0.5004, True), candidate("c", 2, 1.0, 0.5004, False)]
    path = write_file("p.csv", table_text(rows))
    with pytest.warns(ProbabilityWarning) as caught:
        ferolin_tools.curve(path, ["max-prob", "entropy"])
    assert len(caught) == 1
    assert str(caught[0].message).endswith(
        "column 'probability' holds 2 values outside [0, 1] and 2 queries whose candidates' "
        "probabilities sum above 1; the methods that read probabilities score them as they are")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        ferolin_tools.curve(path, ["topk-gap"])  # reads no probability
        ferolin.compute_curve(path, "max-prob")  # the module's functions stay as they were
    result = run("curve", path, "--score", "margin")
    assert result.returncode == 0
    assert result.stderr.count("warning: ") == 1 and "2 values outside [0, 1]" in result.stderr
    # A frame of the same table is checked as the file is.
    frame = pytest.importorskip("polars").read_csv(path)
    with pytest.warns(ProbabilityWarning) as caught:
        ferolin_tools.curve(frame, ["entropy"])
    assert len(caught) == 1 and str(caught[0].message).startswith(
        "<polars DataFrame>: column 'probability' holds 2 values outside [0, 1] and 2 queries")
