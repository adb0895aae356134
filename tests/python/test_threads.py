"""A plain table file read by several threads gives what one thread gives.

The fuzz target parallel_pass_fuzzer checks the parts' merge on tiny parts;
here a table of a few parts (more than 8 MiB) goes through the module
functions and ferolin_tools, with FEROLIN_NUM_THREADS and threads=.
"""
import hashlib
import random
import subprocess
import sys

import pytest

import ferolin
import ferolin_tools

METHODS = ["max-prob", "score-gap", "margin", "entropy", "score-ratio", "topk-gap",
           "effective-k", "candidate-count"]


def big_table(path, rows=150_000, bad_row=None):
    """Queries scattered over the whole file (their entropy sums then span
    parts), quoted fields with line breaks, some missing probabilities."""
    rng = random.Random(23)
    lines = ["query_id,candidate_id,rank,score,probability,name,is_correct"]
    for row in range(rows):
        query = f"q{rng.randrange(rows // 8):06d}"
        probability = "" if rng.random() < 0.01 else repr(rng.random() / 3)
        name = '"a, ""b""\nc"' if rng.random() < 0.05 else "plain name of some length"
        label = rng.choice(["true", "false", ""])
        rank = "x" if row == bad_row else str(rng.randrange(1, 6))
        lines.append(f"{query},c{row},{rank},{rng.uniform(-9, 9)!r},{probability},{name},{label}")
    path.write_text("\n".join(lines) + "\n")
    assert path.stat().st_size > 9 << 20
    return str(path)


@pytest.fixture(scope="module")
def table(tmp_path_factory):
    return big_table(tmp_path_factory.mktemp("threads") / "big.csv")


def same(a, b):
    """Equal, NaNs included (confidences come as floats, NaN where absent)."""
    return repr(a) == repr(b)


def test_module_functions_give_the_same_results_on_any_number_of_threads(table, monkeypatch):
    results = {}
    for threads in ("1", "2", "3"):
        monkeypatch.setenv("FEROLIN_NUM_THREADS", threads)
        results[threads] = [ferolin.compute_curve(table, method) for method in METHODS]
    assert same(results["1"], results["2"]) and same(results["1"], results["3"])


def test_tools_give_the_same_results_and_fingerprint_on_any_number_of_threads(table):
    one = ferolin_tools.scores(table, METHODS, numpy=False, threads=1)
    two = ferolin_tools.scores(table, METHODS, numpy=False, threads=2)
    assert same(one, two)
    calibration = ferolin_tools.calibrate(table, "entropy", 0.3, bootstrap=0, threads=2)
    with open(table, "rb") as file:
        data = file.read()
    provenance = calibration.provenance
    assert provenance["table_sha256"] == hashlib.sha256(data).hexdigest()
    assert provenance["table_bytes"] == len(data)


def test_a_failure_late_in_the_table_is_named_as_one_thread_names_it(tmp_path, monkeypatch):
    table = big_table(tmp_path / "bad.csv", bad_row=140_000)
    messages = set()
    for threads in ("1", "2"):
        monkeypatch.setenv("FEROLIN_NUM_THREADS", threads)
        with pytest.raises(RuntimeError) as raised:
            ferolin.compute_curve(table, "margin")
        messages.add(str(raised.value))
    assert len(messages) == 1 and "field 2" in messages.pop()


def test_threads_must_be_at_least_one(table):
    with pytest.raises(ValueError, match="at least 1"):
        ferolin_tools.scores(table, ["margin"], threads=0)


def test_the_command_takes_threads(table):
    def curve(*options):
        return subprocess.run([sys.executable, "-m", "ferolin_tools", "curve", table, "--score",
                               "entropy", *options], capture_output=True, text=True, timeout=120)

    one, two = curve("--threads", "1"), curve("--threads", "2")
    assert one.returncode == 0 and one.stdout == two.stdout
    refused = curve("--threads", "0")
    assert refused.returncode == 2 and "at least 1" in refused.stderr
