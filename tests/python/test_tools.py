"""The companion package ferolin_tools: each fault a new user met on the
`ferolin` command (run as a real process) now gives the right exit status and
a message that names the cause; one read serves several methods, bit for bit
equal to the module; and the Python API beside the command line."""
import csv
import gzip
import json
import math
import os
import pathlib
import struct
import subprocess
import sys
import threading

import pytest

import ferolin
import ferolin_tools
from conftest import candidate, table_text

ROOT = pathlib.Path(__file__).resolve().parents[2]
LABELLED = str(ROOT / "examples" / "data" / "labelled_candidates.csv")
NEW = str(ROOT / "examples" / "data" / "new_candidates.csv")
REAL = pathlib.Path("/work/shared/data/real/impact_iokr/impact_iokr_top100.csv")


def run(*args, cwd=None, env=None, timeout=60):
    return subprocess.run([sys.executable, "-m", "ferolin_tools", *map(str, args)],
                          capture_output=True, text=True, cwd=cwd, env=env, timeout=timeout)


def bits(value):
    return struct.pack("<d", value)


def scored_table(queries=40, probabilities=True, correct_first=1):
    """Labelled queries with two candidates each: score gaps fall with the
    query number, and only the first `correct_first` top candidates are right."""
    rows = []
    for q in range(queries):
        gap = 1.0 - q / queries
        p = 0.5 + gap / 2 if probabilities else None
        rows.append(candidate(f"q{q:03}", 1, score=1.0 + gap, probability=p,
                              is_correct=q < correct_first))
        rows.append(candidate(f"q{q:03}", 2, score=1.0, probability=(1 - p) if p else None,
                              is_correct=False))
    return table_text(rows)


# ---- the eight findings ---------------------------------------------------------

@pytest.mark.parametrize("header, hint", [
    ("Is_Correct", "--column is_correct=Is_Correct"),
    ("verified", None),
])
def test_labels_that_cannot_be_seen_are_a_data_error(tmp_path, header, hint):
    table = tmp_path / "t.csv"
    table.write_text(scored_table().replace("is_correct", header))
    policy = tmp_path / "p.json"
    result = run("calibrate", table, "--score", "score-gap", "--error-rate", "0.05", "-o", policy)
    assert result.returncode == 1
    assert f"{table}: no labelled query" in result.stderr
    assert f"The header has 6 columns: query_id, candidate_id, rank, score, probability, " \
           f"{header}." in result.stderr
    assert (hint in result.stderr) if hint else "--column" not in result.stderr
    assert not policy.exists()
    mapped = run("calibrate", table, "--score", "score-gap", "--error-rate", "0.5",
                 "--column", f"is_correct={header}")
    assert mapped.returncode == 0, mapped.stderr


@pytest.mark.parametrize("args, message", [
    (["--error-rate", "5"], "not 5; for 5% write 0.05"),
    (["--error-rate", "-0.1"], "between 0 and 1 (exclusive), not -0.1"),
    (["--error-rate", "nan"], "not nan"),
    (["--error-rate", "0.05", "--method", "binomial", "--confidence-level", "1.5"], "not 1.5"),
])
def test_rates_outside_zero_one_are_usage_errors(args, message):
    result = run("calibrate", LABELLED, "--score", "margin", *args)
    assert result.returncode == 2 and message in result.stderr
    assert "Traceback" not in result.stderr


def test_a_method_that_scores_nothing_is_a_data_error(tmp_path):
    table = tmp_path / "t.csv"
    table.write_text(scored_table(probabilities=False))
    policy = tmp_path / "p.json"
    ferolin.save_policy(str(policy), ferolin.calibrate(LABELLED, "max-prob", 0.05))
    why = "max-prob needs probabilities; 0 of 40 top candidates have one"
    for args in (["curve", table, "--score", "max-prob"],
                 ["calibrate", table, "--score", "max-prob", "--error-rate", "0.05"],
                 ["apply", table, policy]):
        result = run(*args)
        assert result.returncode == 1, args
        assert why in result.stderr and result.stdout == "", args


def test_every_calibration_reports_its_evidence_and_warns_when_thin(tmp_path):
    table = tmp_path / "t.csv"
    table.write_text(scored_table(queries=40, correct_first=1))
    result = run("calibrate", table, "--score", "score-gap", "--error-rate", "0.05")
    assert result.returncode == 0
    assert "40 queries, 40 labelled, 40 of them scored by score-gap" in result.stderr
    assert "accepts 1 of 40 labelled queries (coverage 2.5%), 0 wrong: observed risk 0, " \
           "95% upper bound 0.7302" in result.stderr
    assert "warning: the threshold rests on only 1 accepted labelled query (fewer than 30)" \
        in result.stderr
    quiet = run("calibrate", table, "--score", "score-gap", "--error-rate", "0.05", "--quiet")
    assert quiet.returncode == 0 and quiet.stderr == "" and quiet.stdout == result.stdout


@pytest.mark.skipif(not REAL.exists(), reason="the real structure-search result is absent")
def test_real_result_threshold_backed_by_one_query_is_flagged():
    for method in ("empirical", "crc"):
        result = run("calibrate", REAL, "--score", "topk-gap", "--error-rate", "0.05",
                     "--method", method)
        assert result.returncode == 0
        assert "accepts 1 of 118 labelled queries" in result.stderr
        assert "rests on only 1 accepted labelled query" in result.stderr


def without_table(policy_text):
    """A written policy without what names its table: its path, size and hash."""
    policy = json.loads(policy_text)
    for key in ("table", "table_bytes", "table_sha256"):
        del policy["calibration"][key]
    return policy


def test_tables_as_other_tools_write_them(tmp_path):
    text = scored_table(queries=60, correct_first=20)
    plain = tmp_path / "t.csv"
    plain.write_text(text)
    expected = without_table(run("calibrate", plain, "--score", "score-gap", "--error-rate",
                                 "0.2").stdout)
    tab = text.replace(",", "\t")
    (tmp_path / "t.tsv").write_text(tab)
    (tmp_path / "t.txt").write_text(tab)
    with gzip.open(tmp_path / "t.csv.gz", "wt") as packed:
        packed.write(text)
    (tmp_path / "pandas.csv").write_text(text.replace(",true", ",True").replace(",false", ",0"))
    for args in (["t.tsv"], ["t.txt", "--delimiter", "tab"], ["t.csv.gz"], ["pandas.csv"]):
        result = run("calibrate", *args, "--score", "score-gap", "--error-rate", "0.2",
                     cwd=tmp_path)
        assert result.returncode == 0, (args, result.stderr)
        assert without_table(result.stdout) == expected, args
    unsplit = run("calibrate", "t.txt", "--score", "score-gap", "--error-rate", "0.2",
                  cwd=tmp_path)
    assert unsplit.returncode == 1
    assert "t.txt: Missing required column: query_id. The header has 1 column" in unsplit.stderr
    assert "It looks tab-separated: read it with --delimiter tab." in unsplit.stderr


@pytest.mark.parametrize("name, content, hint", [
    ("semi.csv", "query_id;candidate_id;rank;score\nq;c;1;1\n",
     "It looks ;-separated: read it with --delimiter ';'."),
    ("renamed.csv", "Query_ID,candidate_id,rank,score\nq,c,1,1\n",
     "If 'Query_ID' is query_id, map it with --column query_id=Query_ID."),
    ("cut.csv.gz", gzip.compress(scored_table(500).encode())[:-20],
     "IO error: gzip: the data end inside a member (truncated file?)"),
], ids=["semicolons", "renamed", "truncated-gzip"])
def test_unreadable_tables_say_what_to_try(tmp_path, name, content, hint):
    (tmp_path / name).write_bytes(content if isinstance(content, bytes) else content.encode())
    result = run("scores", name, "--score", "score-gap", cwd=tmp_path)
    assert result.returncode == 1 and result.stderr.startswith(f"{name}: ")
    assert hint in result.stderr and result.stdout == ""


@pytest.mark.parametrize("args, rc, message", [
    (["curve", "gone.csv", "--score", "margin"], 1, "cannot read table gone.csv: no such file"),
    (["apply", LABELLED, "gone.json"], 1, "cannot read policy gone.json: no such file"),
    (["curve", ".", "--score", "margin"], 1, "cannot read table .: it is a directory"),
    (["scores", LABELLED, "--score", "margin", "-o", "no/such/dir/t.tsv"], 2,
     "cannot write table no/such/dir/t.tsv: the folder no/such/dir does not exist"),
])
def test_paths_are_named_and_outputs_checked_first(tmp_path, args, rc, message):
    result = run(*args, cwd=tmp_path)
    assert result.returncode == rc and message in result.stderr
    assert "Traceback" not in result.stderr


def test_a_fifo_table_is_read_once_without_a_copy(tmp_path):
    fifo = tmp_path / "table.csv"
    os.mkfifo(fifo)
    (tmp_path / "sitecustomize.py").write_text(
        "import tempfile\n"
        "def refuse(*args, **kwargs):\n    raise AssertionError('a temporary copy')\n"
        "tempfile.mkstemp = tempfile.mkdtemp = refuse\n")
    env = {**os.environ, "PYTHONPATH": os.pathsep.join([str(tmp_path), *sys.path])}
    text = pathlib.Path(LABELLED).read_text()
    policy = tmp_path / "p.json"
    writer = threading.Thread(target=lambda: fifo.write_text(text))
    writer.start()
    # A second open of the FIFO would wait for a writer that never comes.
    result = run("calibrate", fifo, "--score", "margin", "--error-rate", "0.05", "-o", policy,
                 env=env, timeout=30)
    writer.join()
    assert result.returncode == 0, result.stderr
    assert ferolin.load_policy(str(policy)) == ferolin.calibrate(LABELLED, "margin", 0.05)


def test_plot_path_that_cannot_be_written_stops_before_any_work(tmp_path):
    pytest.importorskip("matplotlib")
    policy = tmp_path / "p.json"
    for plot, message in ((tmp_path / "none" / "rc.png", "the folder"),
                          (tmp_path / "rc.xyz", "the file type '.xyz'")):
        result = run("calibrate", "gone.csv", "--score", "margin", "--error-rate", "0.05",
                     "-o", policy, "--plot", plot)
        assert result.returncode == 2 and message in result.stderr
        assert "Traceback" not in result.stderr and not policy.exists()


# ---- one read, bit for bit ---------------------------------------------------------

def test_scores_table_holds_apply_policys_confidences(tmp_path):
    methods = ["max-prob", "margin", "topk-gap", "entropy"]
    result = run("scores", LABELLED, *[f"--score={m}" for m in methods], "-o", tmp_path / "s.tsv")
    assert result.returncode == 0, result.stderr
    with open(tmp_path / "s.tsv", newline="") as handle:
        rows = list(csv.DictReader(handle, dialect="excel-tab"))
    assert list(rows[0]) == ["query_id", "candidate_id", "score", "is_correct", "candidates",
                             *methods]
    for method in methods:
        policy = ferolin.calibrate(LABELLED, method, 0.05)
        decisions = ferolin.apply_policy(LABELLED, policy)
        assert [r["query_id"] for r in rows] == [d["query_id"] for d in decisions]
        assert [r["candidate_id"] for r in rows] == [d["candidate_id"] for d in decisions]
        for row, decision in zip(rows, decisions):
            cell = row[method]
            assert bits(float(cell) if cell else math.nan) == bits(decision["confidence"])
        api = ferolin_tools.scores(pathlib.Path(LABELLED), [method], numpy=False)
        assert [bits(c) for c in api[method]] == [bits(d["confidence"]) for d in decisions]


def test_compare_and_curve_come_from_one_read_equal_to_the_module():
    result = run("compare", LABELLED, "--format", "json")
    assert result.returncode == 0
    entries = json.loads(result.stdout)
    # The top candidate's own score is one more candidate (tested in test_confidence.py).
    assert sorted(e["score"] for e in entries) == sorted(ferolin_tools.SCORE_METHODS
                                                         + ("top-score",))
    complete = [e for e in entries if e["scored"] == e["labelled"]]
    assert entries[:len(complete)] == complete  # methods that score all come first
    assert [e["aurc"] for e in complete] == sorted(e["aurc"] for e in complete)
    for entry in (e for e in entries if e["score"] != "top-score"):
        curve = ferolin.compute_curve(LABELLED, entry["score"])
        assert entry["aurc"] == ferolin.aurc(curve) and entry["scored"] == curve[-1]["accepted"]
        policy = ferolin.calibrate(LABELLED, entry["score"], 0.05)
        assert entry["threshold"] == (None if policy["threshold"] == ferolin_tools.methods
                                      .NO_THRESHOLD else policy["threshold"])
    curves = ferolin_tools.curve(LABELLED, ["margin", "topk-gap"])
    assert curves["margin"].curve == ferolin.compute_curve(LABELLED, "margin")
    assert curves["topk-gap"].curve == ferolin.compute_curve(LABELLED, "topk-gap")


# ---- the Python API ----------------------------------------------------------------

def test_columns_go_straight_into_data_frames():
    columns = ferolin_tools.scores(LABELLED, ["margin", "candidate-count"])
    for library in ("pandas", "polars"):
        frames = pytest.importorskip(library)
        frame = frames.DataFrame(columns)
        assert frame.shape == (2000, 7)
        assert list(frame.columns)[-2:] == ["margin", "candidate-count"]


def test_api_calibration_equals_the_module_and_reports():
    calibration = ferolin_tools.calibrate(LABELLED, "margin", 0.05, method="binomial",
                                          confidence_level=0.95)
    assert calibration.policy == ferolin.calibrate(LABELLED, "margin", 0.05, "binomial", 0.95)
    report = calibration.report
    row = next(r for r in calibration.curve if r["threshold"] == report.threshold)
    assert (report.accepted, report.errors, report.labelled) == (row["accepted"], row["errors"],
                                                                 2000)
    assert report.risk_upper_bound <= 0.05  # the binomial method guarantees it
    with pytest.raises(ValueError, match="for 5% write 0.05"):
        ferolin_tools.calibrate(LABELLED, "margin", 5)


def test_progress_is_reported_and_an_exception_there_ends_the_read():
    seen = []
    ferolin_tools.scores(LABELLED, ["margin"], progress=lambda done, rows: seen.append(done))
    assert seen[-1] == os.path.getsize(LABELLED)

    def stop(done, rows):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        ferolin_tools.compare(LABELLED, progress=stop)


def test_the_read_runs_without_the_gil(tmp_path):
    # The reader opens a FIFO and waits for its writer, a thread of the same
    # process: were the lock held meanwhile, the writer could never run.
    script = f"""
import os, threading, ferolin_tools
fifo = {str(tmp_path / "t.csv")!r}
os.mkfifo(fifo)
result = {{}}
reader = threading.Thread(target=lambda: result.update(ferolin_tools.scores(fifo, ["margin"])))
reader.start()
with open(fifo, "w") as handle, open({LABELLED!r}) as table:
    handle.write(table.read())
reader.join()
print(len(result["query_id"]))
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=30)
    assert done.stdout.strip() == "2000", done.stderr


def test_native_module_exports_one_symbol():
    from ferolin_tools import _native

    listing = subprocess.run(["nm", "-D", "--defined-only", _native.__file__],
                             capture_output=True, text=True, check=True).stdout
    assert [line.split()[-1] for line in listing.splitlines()] == ["PyInit__native"]
    assert not hasattr(ferolin, "run_pass")
