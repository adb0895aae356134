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
from ferolin_tools import TableError, _native
from ferolin_tools.confidence import OwnConfidence, ProbabilityWarning
from ferolin_tools.tables import read_table

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
    # The table's probabilities sum above 1 for many queries, over candidates
    # that different threads read: the warning counts them the same way.
    def scores(threads):
        with pytest.warns(ProbabilityWarning) as caught:
            result = ferolin_tools.scores(table, METHODS, numpy=False, threads=threads)
        return result, [str(warning.message) for warning in caught]

    one, one_warnings = scores(1)
    two, two_warnings = scores(2)
    assert same(one, two)
    assert one_warnings == two_warnings
    with pytest.warns(ProbabilityWarning):
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


def spelled_table(path, rows=3000, bad=None):
    """A table in a European spelling (';', decimal commas, '-' for missing)
    with an own confidence column, group labels, tied top ranks, quoted
    cells across lines, probabilities outside [0, 1] and sums above 1 over
    rows of scattered queries; `bad` puts a cell into the last rows."""
    rng = random.Random(25)
    lines = ["query_id;candidate_id;rank;score;probability;evalue;grp;is_correct"]
    for row in range(rows):
        query = f"q{rng.randrange(rows // 10):04d}"
        candidate = f'"c;\n{row}"' if rng.random() < 0.05 else f"c{row}"
        score = "-" if rng.random() < 0.03 else f"{rng.uniform(-9, 9):.5f}".replace(".", ",")
        probability = ("-" if rng.random() < 0.02 else "1,25" if rng.random() < 0.01
                       else f"{rng.random() / 4:.4f}".replace(".", ","))
        evalue = "" if rng.random() < 0.05 else f"{rng.random():.3e}".replace(".", ",")
        group = rng.choice(["g1", "g2", ""])
        label = rng.choice(["true", "false", ""])
        if bad is not None and row == rows - 5:
            score = bad
        lines.append(f"{query};{candidate};{rng.randrange(1, 4)};{score};{probability};{evalue};"
                     f"{group};{label}")
    path.write_text("\n".join(lines) + "\n")
    return str(path)


def test_tiny_parts_read_every_feature_as_one_thread_does(tmp_path, monkeypatch):
    # Parts of about 200 bytes: queries, tied tops and probability sums span
    # many parts, and the parts' merge must give what one stream gives.
    monkeypatch.setenv("FEROLIN_TEST_PART_BYTES", "211")
    path = spelled_table(tmp_path / "spelled.csv")
    own = OwnConfidence("evalue", lower_is_better=True)
    options = dict(keep_ids=True, delimiter=";", group_column="grp", own=own, decimal=",",
                   na_values=["-"], max_field_bytes=64)

    def read(threads):
        with pytest.warns(ProbabilityWarning) as caught:
            table = read_table(path, ["max-prob", "entropy", "margin"], threads=threads, **options)
        columns = table.columns()
        assert len(columns.confidences) == 4  # the methods' and the own column
        return repr([table.counts, table.tied_tops, columns, table.native.groups(),
                     [str(w.message) for w in caught]])

    one = read(1)
    assert "'g2'" in one and "sum above 1" in one
    assert read(2) == one and read(3) == one
    # A failure late in the table, a cell that is no number and one longer
    # than the limit, is the one that one thread reports, naming the column.
    for bad, expected in (("x1", "score"), ("9" * 80, "64")):
        bad_path = spelled_table(tmp_path / "bad.csv", bad=bad)
        messages = set()
        for threads in (1, 2, 3):
            with pytest.raises(TableError) as raised:
                read_table(bad_path, ["max-prob"], threads=threads, **options)
            messages.add(str(raised.value))
        assert len(messages) == 1 and expected in messages.pop()
