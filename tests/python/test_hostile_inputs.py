"""Hostile inputs: each gives a clean error or a correct result, quickly."""
import gzip
import json
import os
import shutil
import subprocess
import sys
import time

import pytest

import ferolin
from conftest import candidate, many_queries, memory_cap, run_capped, table_text

POLICY = {"version": "0.1.0", "scoring_method": "margin", "threshold": 0.1,
          "target_error_rate": 0.05, "calibration_method": "empirical",
          "confidence_level": None, "created_by": "ferolin"}
POLICY_TEXT = ('{"version": "0.1.0", "scoring_method": "margin", "threshold": 0.1, '
               '"target_error_rate": 0.05, "calibration_method": "empirical", '
               '"confidence_level": null, "created_by": "ferolin"}')
COLUMNS = ["query_id", "candidate_id", "rank", "score", "probability", "smiles", "inchikey",
           "formula", "target_inchikey", "is_correct", "notes"]
ROW = ["q1", "c1", "1", "0.5", "0.75", "CCO", "KEY", "C2H6O", "TKEY", "true", "n"]
CONVERSION_ERRORS = {
    "rank": "invalid digit found in string",
    "score": "invalid float literal",
    "probability": "invalid float literal",
    "is_correct": "provided string was not `true` or `false`",
}


def rows_text(rows, columns=COLUMNS):
    return b"".join(b",".join(row) + b"\n" for row in [[c.encode() for c in columns], *rows])


def row_with(column, suffix):
    """ROW as bytes with `suffix` appended to the cell of `column`."""
    cells = [cell.encode() for cell in ROW]
    cells[COLUMNS.index(column)] += suffix
    return cells


def labelled_table(rows=20):
    return table_text([candidate(f"q{i}", rank, 2.0 - rank + i / 100, 0.9 - rank / 3, rank == 1)
                       for i in range(rows) for rank in (1, 2)])


@pytest.mark.parametrize("column", COLUMNS)
def test_nul_byte_in_each_column(write_file, column):
    path = write_file("t.csv", rows_text([row_with(column, b"\x00x")]))
    if column in CONVERSION_ERRORS:
        with pytest.raises(RuntimeError) as caught:
            ferolin.apply_policy(path, POLICY)
        field = COLUMNS.index(column)
        assert str(caught.value) == (
            f"CSV error: CSV deserialize error: record 1 (line: 2, byte: {len(','.join(COLUMNS)) + 1}"
            f"): field {field}: {CONVERSION_ERRORS[column]}")
        return
    [decision] = ferolin.apply_policy(path, dict(POLICY, scoring_method="candidate_count"))
    assert decision["query_id"] == ("q1\x00x" if column == "query_id" else "q1")
    assert decision["candidate_id"] == ("c1\x00x" if column == "candidate_id" else "c1")
    assert decision["confidence"] == 1.0


@pytest.mark.parametrize("column", COLUMNS)
def test_invalid_utf8_in_each_column(write_file, column):
    path = write_file("t.csv", rows_text([row_with(column, b"\xff")]))
    field = COLUMNS.index(column)
    with pytest.raises(RuntimeError) as caught:
        ferolin.compute_curve(path, "margin")
    assert str(caught.value).endswith(
        f"field: {field}, byte: {len(','.join(COLUMNS)) + 1}): invalid utf-8: invalid UTF-8 in "
        f"field {field} near byte index {len(ROW[field])}")


@pytest.mark.parametrize("header_cell, message", [
    (b"query_id\x00", "Missing required column: query_id"),
    (b"query_id\xc3", "invalid UTF-8 in field 0 near byte index 8"),
])
def test_nul_and_invalid_utf8_in_the_header(write_file, header_cell, message):
    path = write_file("t.csv", header_cell + b",candidate_id,rank,score\nq,c,1,1\n")
    with pytest.raises(RuntimeError, match=message):
        ferolin.compute_curve(path, "margin")


@pytest.mark.parametrize("required_last", [False, True])
def test_hundred_thousand_columns(write_file, required_last):
    extra = [f"x{i}" for i in range(99_996)]
    required = ["query_id", "candidate_id", "rank", "score"]
    header = extra + required if required_last else required + extra
    values = {"query_id": "q", "candidate_id": "c", "rank": "1", "score": "0.5"}
    row = [values.get(name, "v") for name in header]
    path = write_file("wide.csv", ",".join(header) + "\n" + ",".join(row) + "\n")
    start = time.monotonic()
    [decision] = ferolin.apply_policy(path, dict(POLICY, scoring_method="candidate_count"))
    assert (decision["query_id"], decision["candidate_id"]) == ("q", "c")
    assert time.monotonic() - start < 2.0


def test_hundred_thousand_columns_with_a_short_row(write_file):
    header = ["query_id", "candidate_id", "rank", "score"] + [f"x{i}" for i in range(99_996)]
    path = write_file("wide.csv", ",".join(header) + "\nq,c,1,1\n")
    with pytest.raises(RuntimeError, match="found record with 4 fields, but the previous record "
                                           "has 100000 fields"):
        ferolin.compute_curve(path, "margin")


def test_hundred_thousand_repeats_of_a_known_column(write_file):
    header = ["query_id", "candidate_id", "rank"] + ["score"] * 99_997
    path = write_file("wide.csv", ",".join(header) + "\n" + ",".join(["1"] * 100_000) + "\n")
    with pytest.raises(RuntimeError, match="duplicate field `score`"):
        ferolin.compute_curve(path, "margin")


DEPTH = 1_000_000


@pytest.mark.parametrize("opening, closing", [("[", "]"), ('{"a":', "}")])
def test_policy_nested_a_million_levels_inside_an_unknown_key(write_file, opening, closing):
    nested = opening * DEPTH + "1" + closing * DEPTH
    path = write_file("p.json", '{"extra": ' + nested + ", " + POLICY_TEXT[1:])
    assert ferolin.load_policy(path) == POLICY


def test_policy_nested_a_million_levels_inside_a_known_key(write_file):
    path = write_file("p.json", '{"threshold": ' + "[" * DEPTH + "]" * DEPTH + "}")
    with pytest.raises(RuntimeError, match=r"invalid type: sequence, expected f64 at line 1 "):
        ferolin.load_policy(path)


def test_policy_nested_a_million_levels_unclosed(write_file):
    path = write_file("p.json", '{"extra": ' + "[" * DEPTH)
    with pytest.raises(RuntimeError, match=r"^JSON error: .* at line 1 column 1000010$"):
        ferolin.load_policy(path)


def run_child(code, timeout=20):
    """Runs `code` in a fresh interpreter, so that a hang cannot stop the suite."""
    return subprocess.run([sys.executable, "-c", "import ferolin\n" + code], capture_output=True,
                          text=True, timeout=timeout)


def test_dev_zero_as_a_policy_fails_at_once():
    result = run_child(
        "import time\nstart = time.monotonic()\n"
        "try:\n    ferolin.load_policy('/dev/zero')\nexcept RuntimeError as e:\n    print(e)\n"
        "print(time.monotonic() - start)")
    message, seconds = result.stdout.splitlines()
    assert message.startswith("JSON error: ") and "NUL byte" in message, result.stderr
    assert float(seconds) < 1.0


@pytest.mark.parametrize("path, message", [
    ("/dev/null", "Missing required column: query_id"),
])
def test_device_as_a_table(path, message):
    with pytest.raises(RuntimeError, match=message):
        ferolin.compute_curve(path, "margin")


def test_dev_null_as_a_policy():
    with pytest.raises(RuntimeError, match="^JSON error: .* at line 1 column 0$"):
        ferolin.load_policy("/dev/null")


@pytest.mark.parametrize("call, message", [
    (lambda d: ferolin.compute_curve(d, "margin"), "CSV error: Is a directory (os error 21)"),
    (lambda d: ferolin.calibrate(d, "margin", 0.1), "CSV error: Is a directory (os error 21)"),
    (lambda d: ferolin.apply_policy(d, POLICY), "CSV error: Is a directory (os error 21)"),
    (lambda d: ferolin.load_policy(d), "JSON error: Is a directory (os error 21)"),
    (lambda d: ferolin.save_policy(d, POLICY), "IO error: Is a directory (os error 21)"),
])
def test_directory_as_a_path(tmp_path, call, message):
    folder = tmp_path / "folder"
    folder.mkdir()
    (folder / "inside").write_text("kept")
    with pytest.raises(RuntimeError) as caught:
        call(str(folder))
    assert str(caught.value) == message
    assert [p.name for p in tmp_path.iterdir()] == ["folder"]
    assert (folder / "inside").read_text() == "kept"


@pytest.fixture
def pipe_of(write_file):
    """Returns '/dev/fd/N', a pipe that `cat` fills with the given bytes."""
    children = []

    def pipe(content):
        source = write_file(f"source{len(children)}", content)
        child = subprocess.Popen(["cat", source], stdout=subprocess.PIPE)
        children.append(child)
        return f"/dev/fd/{child.stdout.fileno()}"

    yield pipe
    for child in children:
        child.stdout.close()
        child.wait(timeout=10)


def test_tables_and_policies_read_through_pipes(write_file, pipe_of):
    text = labelled_table(5000)  # far more than a pipe's buffer
    path = write_file("t.csv", text)
    assert ferolin.compute_curve(pipe_of(text), "margin") == ferolin.compute_curve(path, "margin")
    assert (ferolin.calibrate(pipe_of(text), "score_gap", 0.2, "binomial", 0.95)
            == ferolin.calibrate(path, "score_gap", 0.2, "binomial", 0.95))
    assert ferolin.apply_policy(pipe_of(text), POLICY) == ferolin.apply_policy(path, POLICY)
    assert ferolin.load_policy(pipe_of(POLICY_TEXT)) == POLICY


def cli(command, cwd):
    return subprocess.run(["bash", "-c", "set -euo pipefail; " + command], cwd=cwd,
                          capture_output=True, text=True, timeout=60,
                          env=dict(os.environ, PY=sys.executable))


def test_command_line_reads_compressed_tables_through_process_substitution(tmp_path):
    (tmp_path / "t.csv").write_text(labelled_table(500))
    with open(tmp_path / "t.csv", "rb") as plain, gzip.open(tmp_path / "t.csv.gz", "wb") as packed:
        shutil.copyfileobj(plain, packed)
    steps = [
        ('"$PY" -m ferolin_tools curve {} --score margin --score entropy --format json', "curve"),
        ('"$PY" -m ferolin_tools calibrate {} --score margin --error-rate 0.2 -o {policy}', None),
        ('"$PY" -m ferolin_tools apply {} {policy}', "decisions"),
    ]
    for step, name in steps:
        results = []
        for table, policy in (("t.csv", "p1.json"), ("<(gzip -dc t.csv.gz)", "p2.json")):
            result = cli(step.format(table, policy=policy), tmp_path)
            assert result.returncode == 0, result.stderr
            results.append(result.stdout)
        assert results[0] == results[1], name
    # The same policy, resting on the same bytes (the pipe carries the
    # decompressed table); only the table's name differs.
    written = [json.loads((tmp_path / name).read_text()) for name in ("p1.json", "p2.json")]
    names = [w["calibration"].pop("table") for w in written]
    assert names[0] == "t.csv" and names[1].startswith("/dev/fd/")
    assert written[0] == written[1]


@pytest.mark.parametrize("cut", [1, 5, 12])
def test_table_truncated_inside_a_quoted_field(write_file, cut):
    text = 'query_id,candidate_id,rank,score\nq0,c0,1,1\nq1,"c1, a long\n quoted id",1,1\n'
    start = text.index('"c1')
    path = write_file("t.csv", text[:start + cut])
    with pytest.raises(RuntimeError) as caught:
        ferolin.compute_curve(path, "margin")
    assert str(caught.value) == ("CSV error: CSV parse error: record 2 (line 3, field: 1, byte: "
                                 "43): quoted field not closed before end of file")


def test_table_truncated_inside_a_utf8_sequence(write_file):
    path = write_file("t.csv",
                      "query_id,candidate_id,rank,score,smiles\nq,c,1,1,\u00e9".encode()[:-1])
    with pytest.raises(RuntimeError, match="invalid UTF-8 in field 4 near byte index 0"):
        ferolin.compute_curve(path, "margin")


@pytest.mark.parametrize("cut", [10, 40, len(POLICY_TEXT) - 1])
def test_policy_truncated(write_file, cut):
    path = write_file("p.json", POLICY_TEXT[:cut])
    with pytest.raises(RuntimeError, match=r"^JSON error: .* at line 1 column \d+$"):
        ferolin.load_policy(path)


@memory_cap
def test_running_out_of_memory_raises_memory_error(tmp_path):
    # Many queries need memory in the core (a million need about 60 MB);
    # under a tight address-space limit its allocation fails, which must
    # reach Python as MemoryError and leave the interpreter running.
    table = many_queries(tmp_path / "many.csv", 1_000_000)
    script = f"""
import ferolin
cap_memory(40 * 2**20)
for call in (lambda: ferolin.compute_curve({str(table)!r}, "margin"),
             lambda: ferolin.apply_policy({str(table)!r}, {POLICY!r})):
    try:
        call()
        print("completed")
    except MemoryError:
        print("MemoryError")
print("alive")
"""
    result = run_capped(script)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["MemoryError", "MemoryError", "alive"]
