"""What the command's reports and machine outputs say: the figure at the
calibration's own level, one bound everywhere, thin evidence in the files,
policies that reject everything or were edited, and tables whose top rank
is tied."""
import contextlib
import csv
import io
import json
import re
import subprocess
import sys

import pytest

import ferolin_tools

from conftest import candidate, table_text


def run(*args, cwd):
    return subprocess.run([sys.executable, "-m", "ferolin_tools", *map(str, args)],
                          capture_output=True, text=True, cwd=cwd, timeout=120)


def thin_table(queries=40, tied=0):
    """Gaps fall with the query number; only the first top candidate is
    right, so a 5% target accepts one query. The first `tied` queries hold
    a second row at rank 1."""
    rows = []
    for q in range(queries):
        gap = 1.0 - q / queries
        rows.append(candidate(f"q{q:03}", 1, score=1.0 + gap, is_correct=q < 1))
        rows.append(candidate(f"q{q:03}", 1 if q < tied else 2, score=1.0, is_correct=False))
    return table_text(rows)


def grouped_table():
    text = thin_table(120)
    lines = text.splitlines()
    return "\n".join([lines[0] + ",mode"] + [
        line + ("," + ("a" if int(line[1:4]) % 2 else "b")) for line in lines[1:]]) + "\n"


CALIBRATE = ["calibrate", "t.csv", "--score", "score-gap", "--error-rate", "0.05",
             "--bootstrap", "0"]


def policy_file(tmp_path, options=(), **changes):
    """A calibrated policy file, with `changes` written over its fields."""
    result = run(*CALIBRATE, *options, "-o", "p.json", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    policy = json.loads((tmp_path / "p.json").read_text())
    policy.update(changes)
    (tmp_path / "p.json").write_text(json.dumps(policy))
    return policy


def stderr_of(tmp_path, args):
    return run(*args, cwd=tmp_path).stderr


@pytest.mark.parametrize("table, args, says, never", [
    # The binomial method's bound at its own level, with advice that fits it.
    (thin_table(), CALIBRATE[:-2] + ["--method", "binomial", "--confidence-level", "0.9",
                                     "--error-rate", "0.7"],
     ["90% upper bound 0.", "Label more queries."], ["95% upper bound", "binomial method."]),
    # One bound, one-sided at 95%, in the global and the group warnings.
    (grouped_table(), CALIBRATE + ["--group-col", "mode", "--min-group", "20"],
     ["rests on only 1 accepted labelled query (fewer than 30)",
      "as high as its 95% upper bound 0.7302", "Label more queries, or calibrate with the "
      "binomial method.", "group b: its threshold rests on only 1 accepted labelled query",
      "could be as high as its 95% upper bound 0.7302"],
     ["Wilson interval)", "1 accepted labelled queries"]),
    # A policy that no threshold backs says so, not "by ... >= 1.79e+308".
    (thin_table(), ["apply", "t.csv", "p.json"],
     ["accepted 0 (0.0%): this policy rejects every query: no threshold met the target"],
     ["e+308", "calibration record"]),
    # Queries with two rows at their smallest rank are counted.
    (thin_table(tied=3), ["scores", "t.csv", "--score", "score-gap"],
     ["3 of the 40 queries hold two or more rows at their smallest rank"], []),
], ids=["binomial-level", "one-bound", "rejects-all", "tied-tops"])
def test_reports_state_the_right_figure(tmp_path, table, args, says, never):
    (tmp_path / "t.csv").write_text(table)
    if "p.json" in args:
        # The binomial bound of one accepted query exceeds 5%: no threshold.
        policy_file(tmp_path, ["--method", "binomial", "--confidence-level", "0.95"])
    stderr = stderr_of(tmp_path, args)
    for text in says:
        assert text in stderr, (text, stderr)
    for text in never:
        assert text not in stderr, (text, stderr)


def test_thin_evidence_reaches_the_machine_outputs(tmp_path):
    (tmp_path / "t.csv").write_text(thin_table())
    record = policy_file(tmp_path)["calibration"]
    assert (record["thin_evidence"], record["accepted"], record["min_accepted"]) == (True, 1, 30)
    compared = run("compare", "t.csv", "--format", "json", "--bootstrap", "200", cwd=tmp_path)
    entry = {e["score"]: e for e in json.loads(compared.stdout)}["score-gap"]
    assert entry["thin_evidence"] is True and entry["accepted"] == 1
    assert entry["risk_interval"] == [None, None] and entry["aurc_interval"][0] is not None
    # Missing numbers are empty cells in TSV, never "nan".
    table = run("compare", "t.csv", "--bootstrap", "200", cwd=tmp_path).stdout
    cells = [cell for row in csv.reader(io.StringIO(table), delimiter="\t") for cell in row]
    assert "nan" not in cells and "" in cells


@pytest.mark.parametrize("changes, status, expected", [
    ({"threshold": 0.01}, 0, "p.json is not the policy its calibration record describes: "
                             "threshold 0.01 (calibrated: "),
    ({"scoring_method": "margin"}, 1, None),  # margin scores nothing here: refused anyway
    ({"target_error_rate": 5}, 1, "p.json: its target_error_rate must be a number between 0 "
                                  "and 1 (exclusive), not 5; for 5% write 0.05"),
    ({"threshold": "0.05"}, 1, "p.json: 'threshold' must be a number, found the string "
                               "\"0.05\" (line 1, column "),
    ({"scoring_method": "confidence_column", "confidence_col": 37}, 1,
     "p.json: 'confidence_col' must be a string, found a number (line 1, column "),
    ({}, 0, None),
], ids=["edited-threshold", "edited-method", "target-outside", "json-type", "json-type-own",
        "untouched"])
def test_a_policy_applied_is_the_policy_calibrated(tmp_path, changes, status, expected):
    (tmp_path / "t.csv").write_text(thin_table())
    policy_file(tmp_path, **changes)
    result = run("apply", "t.csv", "p.json", cwd=tmp_path)
    assert result.returncode == status, result.stderr
    if expected is not None:
        assert expected in result.stderr
    if status == 0:  # the API warns where the command does, which says it once
        assert result.stderr.count("calibration record") == (expected is not None)
        edited = expected is not None
        with (pytest.warns(ferolin_tools.EditedPolicyWarning,
                                  match=re.escape(expected[len("p.json "):])) if edited
              else contextlib.nullcontext()):
            ferolin_tools.apply(str(tmp_path / "t.csv"), str(tmp_path / "p.json"))


def test_the_api_refuses_a_target_error_rate_outside_0_1_as_the_command_does(tmp_path,
                                                                           monkeypatch):
    (tmp_path / "t.csv").write_text(thin_table())
    policy = policy_file(tmp_path, target_error_rate=5)
    monkeypatch.chdir(tmp_path)
    with pytest.raises(ValueError) as raised:
        ferolin_tools.apply("t.csv", "p.json")
    assert str(raised.value) in run("apply", "t.csv", "p.json", cwd=tmp_path).stderr
    for rate in (0, 1.0, -0.1, float("nan")):
        with pytest.raises(ValueError, match=r"^the policy: its target_error_rate must be a "
                                             r"number between 0 and 1 \(exclusive\)"):
            ferolin_tools.apply("t.csv", {**policy, "target_error_rate": rate})


@pytest.mark.parametrize("spelling", ["topk-gap", "topk_gap", "top_k_gap", "TopKGap"])
def test_every_spelling_of_a_method_is_accepted_and_printed_one_way(tmp_path, spelling):
    (tmp_path / "t.csv").write_text(thin_table())
    result = run("scores", "t.csv", "--score", spelling, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[0].endswith("\ttopk-gap")
    assert list(ferolin_tools.scores(str(tmp_path / "t.csv"), [spelling], numpy=False))[-1] \
        == "topk-gap"
