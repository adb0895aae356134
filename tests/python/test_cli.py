"""The `ferolin` command end to end, through subprocess."""
import csv
import io
import json
import math
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import ferolin

ROOT = pathlib.Path(__file__).resolve().parents[2]
LABELLED = str(ROOT / "examples" / "data" / "labelled_candidates.csv")
NEW = str(ROOT / "examples" / "data" / "new_candidates.csv")


def ferolin_cli(*args, stdin=None, check_rc=None):
    result = subprocess.run([sys.executable, "-m", "ferolin_tools", *map(str, args)],
                            capture_output=True, text=True, input=stdin)
    if check_rc is not None:
        assert result.returncode == check_rc, result.stderr
    return result


def floats_equal(text, value):
    if value is None:
        return text == ""
    if text == "":  # a missing number: no confidence
        return math.isnan(value)
    return float(text) == value or (math.isnan(value) and math.isnan(float(text)))


def test_console_script_is_installed():
    assert shutil.which("ferolin") is not None
    result = subprocess.run(["ferolin", "--version"], capture_output=True, text=True)
    assert result.returncode == 0
    assert result.stdout.strip() == __import__("importlib.metadata").metadata.version("ferolin")


def test_curve_tsv_reads_back_to_the_module_result():
    result = ferolin_cli("curve", LABELLED, "--score", "margin", check_rc=0)
    rows = list(csv.DictReader(io.StringIO(result.stdout), dialect="excel-tab"))
    expected = ferolin.compute_curve(LABELLED, "margin")
    assert len(rows) == len(expected) > 0
    for row, want in zip(rows, expected):
        assert all(floats_equal(row[key], want[key]) for key in want)
    assert f"AURC {ferolin.aurc(expected)!r}" in result.stderr


def test_several_scores_and_json():
    result = ferolin_cli("curve", LABELLED, "--score", "margin", "--score", "topk-gap",
                         check_rc=0)
    header = result.stdout.splitlines()[0].split("\t")
    assert header[0] == "score"
    assert {line.split("\t")[0] for line in result.stdout.splitlines()[1:]} == \
        {"margin", "topk-gap"}
    result = ferolin_cli("curve", LABELLED, "--score", "entropy", "--format", "json",
                         check_rc=0)
    (document,) = json.loads(result.stdout)
    assert document["curve"] == ferolin.compute_curve(LABELLED, "entropy")
    assert document["aurc"] == ferolin.aurc(document["curve"])
    # E-AURC is NaN here (some queries lack probabilities): JSON says null.
    assert math.isnan(ferolin.eaurc(document["curve"])) and document["eaurc"] is None


@pytest.mark.parametrize("command", ["compare", "calibrate", "apply", "curve", "scores"])
def test_every_subcommand_has_help_with_an_example(command):
    result = ferolin_cli(command, "--help", check_rc=0)
    assert f"example: ferolin {command} " in result.stdout


def test_calibrate_then_apply(tmp_path):
    policy = tmp_path / "policy.json"
    result = ferolin_cli("calibrate", LABELLED, "--score", "margin", "--error-rate", "0.05",
                         "--method", "binomial", "--confidence-level", "0.95", "-o", policy,
                         check_rc=0)
    assert "threshold" in result.stderr and "coverage" in result.stderr
    assert ferolin.load_policy(str(policy)) == ferolin.calibrate(LABELLED, "margin", 0.05,
                                                                  "binomial", 0.95)
    to_stdout = ferolin_cli("calibrate", LABELLED, "--score", "margin", "--error-rate", "0.05",
                            "--method", "binomial", "--confidence-level", "0.95", check_rc=0)
    assert json.loads(to_stdout.stdout) == json.loads(policy.read_text())

    applied = ferolin_cli("apply", NEW, policy, check_rc=0)
    rows = list(csv.DictReader(io.StringIO(applied.stdout), dialect="excel-tab"))
    decisions = ferolin.apply_policy(NEW, ferolin.load_policy(str(policy)))
    assert [r["query_id"] for r in rows] == [d["query_id"] for d in decisions]
    assert [r["accepted"] == "true" for r in rows] == [d["accepted"] for d in decisions]
    assert all(floats_equal(r["confidence"], d["confidence"]) for r, d in zip(rows, decisions))
    accepted = sum(d["accepted"] for d in decisions)
    assert f"queries {len(decisions)}, accepted {accepted}" in applied.stderr


def test_calibrate_warns_when_nothing_qualifies():
    # Even a perfect prefix of 2000 queries has a 95% upper bound above 0.001.
    result = ferolin_cli("calibrate", LABELLED, "--score", "margin", "--error-rate", "0.001",
                         "--method", "binomial", "--confidence-level", "0.95", check_rc=0)
    assert "rejects every query" in result.stderr
    assert json.loads(result.stdout)["threshold"] == 1.7976931348623157e308


@pytest.mark.parametrize(
    "args, rc, message",
    [
        (["curve", "missing.csv", "--score", "margin"], 1,
         "cannot read table missing.csv: no such file or directory"),
        (["curve", LABELLED, "--score", "nope"], 2, "'nope' is not a scoring method"),
        (["calibrate", "missing.csv", "--score", "margin", "--error-rate", "0.1",
          "--method", "binomial"], 2, "--confidence-level"),
        (["calibrate", LABELLED, "--score", "margin", "--score", "entropy",
          "--error-rate", "0.1"], 2, "only once"),
        (["calibrate", LABELLED, "--score", "margin", "--error-rate", "0.1",
          "--method", "Empirical"], 2, "invalid choice"),
        (["calibrate", LABELLED, "--score", "margin", "--error-rate", "0.1",
          "--method", "binomial", "--confidence-level", "0.8"], 2,
         "Unsupported confidence level: 0.8."),
        (["apply", NEW, "missing.json"], 1, "cannot read policy missing.json: no such file"),
        ([], 2, "usage"),
    ],
)
def test_exit_codes(tmp_path, args, rc, message):
    result = subprocess.run([sys.executable, "-m", "ferolin_tools", *args], capture_output=True,
                            text=True, cwd=tmp_path)
    assert result.returncode == rc
    assert message in result.stderr
    assert "Traceback" not in result.stderr


def test_malformed_table_is_a_data_error(tmp_path):
    table = tmp_path / "bad.csv"
    table.write_text("query_id,candidate_id,rank,score,is_correct\nq,c,1,x,true\n")
    result = ferolin_cli("curve", table, "--score", "margin", check_rc=1)
    assert result.stderr.startswith(f"{table}, line 2, column 'score': 'x' is not a number.")
    assert "Traceback" not in result.stderr


def test_broken_pipe_ends_quietly(tmp_path):
    path = tmp_path / "policy.json"
    ferolin.save_policy(str(path), ferolin.calibrate(LABELLED, "margin", 0.05))
    command = f"{sys.executable} -m ferolin_tools apply {NEW} {path} | head -n 2"
    result = subprocess.run(["bash", "-c", "set -o pipefail; " + command], capture_output=True,
                            text=True)
    assert len(result.stdout.splitlines()) == 2
    assert "Traceback" not in result.stderr and "BrokenPipe" not in result.stderr
    assert result.returncode == 0


def test_tsv_quotes_fields_with_tabs_and_newlines(tmp_path):
    table = tmp_path / "t.csv"
    table.write_text('query_id,candidate_id,rank,score,probability\n'
                     '"q\t1","c\n1",1,1.0,0.9\n')
    policy = tmp_path / "p.json"
    ferolin.save_policy(str(policy), ferolin.calibrate(LABELLED, "max-prob", 0.05))
    result = ferolin_cli("apply", table, policy, check_rc=0)
    (row,) = list(csv.DictReader(io.StringIO(result.stdout), dialect="excel-tab"))
    assert (row["query_id"], row["candidate_id"]) == ("q\t1", "c\n1")


# ---- plots and type stubs ----------------------------------------------

def test_plot_files(tmp_path):
    pytest.importorskip("matplotlib")
    png = tmp_path / "rc.png"
    ferolin_cli("calibrate", LABELLED, "--score", "margin", "--error-rate", "0.05",
                "-o", tmp_path / "p.json", "--plot", png, check_rc=0)
    data = png.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    width, height = int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")
    # 300 dpi: wide enough for print, the legend beside the axes included.
    assert 1800 <= width <= 4000 and 1000 <= height <= 2000
    ferolin_cli("curve", LABELLED, "--score", "margin", "--score", "entropy", "--plot",
                tmp_path / "two.png", check_rc=0)
    assert (tmp_path / "two.png").stat().st_size > 1000


def test_plot_marks_the_calibrated_threshold():
    pytest.importorskip("matplotlib")
    from ferolin_tools import plot_risk_coverage

    curve = ferolin.compute_curve(LABELLED, "margin")
    policy = ferolin.calibrate(LABELLED, "margin", 0.05)
    ax = plot_risk_coverage(curve, target=0.05, threshold=policy["threshold"])
    (marker,) = [line for line in ax.get_lines() if line.get_gid() == "chosen-threshold"]
    (row,) = [r for r in curve if r["threshold"] == policy["threshold"]]
    assert list(marker.get_xdata()) == [row["coverage"]]
    assert list(marker.get_ydata()) == [row["risk"]]
    assert any(list(line.get_ydata()) == [0.05, 0.05] for line in ax.get_lines())


def test_plot_without_matplotlib_names_the_extra(tmp_path):
    blocker = tmp_path / "sitecustomize.py"
    blocker.write_text("import sys\nsys.modules['matplotlib'] = None\n")
    result = subprocess.run(
        [sys.executable, "-m", "ferolin_tools", "curve", LABELLED, "--score", "margin", "--plot",
         str(tmp_path / "x.png")], capture_output=True, text=True,
        env={**os.environ, "PYTHONPATH": str(tmp_path)})
    assert result.returncode == 1
    assert "pip install 'ferolin[plot]'" in result.stderr
    assert not (tmp_path / "x.png").exists()


def test_type_stubs_match_the_modules():
    pytest.importorskip("mypy")
    stubtest = subprocess.run([sys.executable, "-m", "mypy.stubtest", "ferolin",
                               "ferolin_tools._native"], capture_output=True, text=True)
    assert stubtest.returncode == 0, stubtest.stdout
    # The companion package is typed throughout (it ships py.typed).
    for target in ([str(ROOT / "examples" / "demo.py")], ["-p", "ferolin_tools"]):
        strict = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                                 *target], capture_output=True, text=True)
        assert strict.returncode == 0, strict.stdout
