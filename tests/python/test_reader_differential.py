"""Differential tests of the candidates-table reader.

Random tables are written with Python's csv module (random quoting, line
ends, blank lines, a byte-order mark, embedded line breaks, non-ASCII and
NUL characters, ignored columns in any order) and read back through the
test-only program dump_candidates, which prints what read_candidates
returns. Every cell must come back as written; numbers are compared by
their exact float value (Python's float() is correctly rounded too). A
table may carry one bad cell, whose error text and position are predicted
here. The module functions, which convert only the cells they read, must
fail the same way and decide as the plain arithmetic on Python's values.
"""
import csv
import io
import json
import math
import pathlib
import re
import subprocess
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import ferolin
import reference

REQUIRED = ["query_id", "candidate_id", "rank", "score"]
OPTIONAL = ["probability", "smiles", "inchikey", "formula", "target_inchikey", "is_correct"]
DETAILS = ["smiles", "inchikey", "formula", "target_inchikey"]
# Header names that must be ignored: near misses of the known ones.
IGNORED = ["notes", "Score", " rank", "query_id ", "RANK", "group", ""]
LINE_BREAK = re.compile(rb"\r\n|\r|\n")
BAD_CELLS = {
    "rank": ("-1", "invalid digit found in string"),
    "score": ("1e", "invalid float literal"),
    "probability": ("0x1p3", "invalid float literal"),
    "is_correct": ("True", "provided string was not `true` or `false`"),
}
# Policy methods that read the table in each of its ways: probabilities on
# demand, scores on demand, every probability at once.
MODULE_METHODS = ["max_prob", "score_gap", "entropy"]
REAL_TABLE = pathlib.Path("/work/shared/data/real/impact_iokr/impact_iokr_top100.csv")


def dump(programs_dir, path, *options):
    """Returns the records (or the error text) that read_candidates gives for path."""
    program = programs_dir / "dump_candidates"
    result = subprocess.run([str(program), str(path), *options], capture_output=True, check=False)
    text = result.stdout.decode("utf-8")
    # Split at LF only: splitlines() would also split at U+0085 and U+2028 in cells.
    lines = [json.loads(line) for line in text.split("\n") if line]
    if result.returncode != 0:
        assert len(lines) == 1 and "error" in lines[0], result
        return lines[0]["error"]
    return lines


def same_float(dumped, expected):
    value = float(dumped)
    if math.isnan(expected):
        return math.isnan(value)
    return value == expected and math.copysign(1, value) == math.copysign(1, expected)


def check_record(record, cells, keep_details):
    assert record["query_id"] == cells["query_id"]
    assert record["candidate_id"] == cells["candidate_id"]
    rank = cells["rank"]
    assert record["rank"] == (int(rank[2:], 16) if rank.startswith("0x") else int(rank))
    assert same_float(record["score"], float(cells["score"])), (record, cells)
    probability = cells.get("probability", "")
    if probability:
        assert same_float(record["probability"], float(probability)), (record, cells)
    else:
        assert record["probability"] is None
    assert record["is_correct"] == {"": None, "true": True, "false": False}[
        cells.get("is_correct", "")]
    details = {name: (cells.get(name) or None) if keep_details else None for name in DETAILS}
    for name, value in details.items():
        assert record[name] == value, name
    assert record["details_boxed"] == any(value is not None for value in details.values())
    assert record["group"] is None


# ---- random tables -------------------------------------------------------

text = st.text(max_size=12)
if sys.version_info < (3, 11):
    # The csv module writes NUL characters only from 3.11 ("need to escape").
    text = text.filter(lambda cell: "\x00" not in cell)
rank_cells = st.integers(0, 2**64 - 1).flatmap(lambda n: st.sampled_from([
    str(n), "+" + str(n), "0x" + format(n, "x"), "0x" + format(n, "X"), "00" + str(n)]))
finite_floats = st.floats(allow_nan=False, allow_infinity=False)
float_cells = st.one_of(
    finite_floats.map(repr),
    st.tuples(finite_floats, st.integers(0, 20)).map(lambda t: f"{t[0]:.{t[1]}e}"),
    st.tuples(st.floats(-1e6, 1e6), st.integers(0, 30)).map(lambda t: f"{t[0]:.{t[1]}f}"),
    st.sampled_from(["inf", "-Infinity", "+INF", "NaN", "-nan", "+nan", ".5", "-5.", "1e400",
                     "-1e-400", "2.4703282292062328e-324", "1.7976931348623159e308",
                     "0.1000000000000000055511151231257827021181583404541015625"]),
    st.text("0123456789", min_size=1, max_size=40).map(lambda d: d + "e-20"),
)
CELLS = {
    "query_id": text,
    "candidate_id": text,
    "rank": rank_cells,
    "score": float_cells,
    "probability": st.one_of(st.just(""), float_cells),
    "is_correct": st.sampled_from(["", "true", "false"]),
    **{name: st.one_of(st.just(""), text) for name in DETAILS},
}


@st.composite
def tables(draw):
    columns = REQUIRED + draw(st.lists(st.sampled_from(OPTIONAL), unique=True))
    columns += draw(st.lists(st.sampled_from(IGNORED), max_size=3))
    columns = draw(st.permutations(columns))
    rows = draw(st.lists(st.fixed_dictionaries(
        {name: CELLS.get(name, text) for name in set(columns)}), max_size=8))
    bad = None
    typed = [name for name in BAD_CELLS if name in columns]
    if rows and typed and draw(st.booleans()):
        bad = (draw(st.integers(0, len(rows) - 1)), draw(st.sampled_from(typed)))
        rows[bad[0]][bad[1]] = BAD_CELLS[bad[1]][0]
    return {
        "columns": columns,
        "rows": rows,
        "bad": bad,
        "quoting": draw(st.sampled_from([csv.QUOTE_MINIMAL, csv.QUOTE_ALL])),
        "terminator": draw(st.sampled_from(["\n", "\r\n", "\r"])),
        "bom": draw(st.booleans()),
        "blank_lines": draw(st.lists(st.booleans(), min_size=len(rows) + 1,
                                     max_size=len(rows) + 1)),
    }


def csv_line(cells, quoting, terminator):
    """One record as bytes. The writer ends it with CRLF, which makes it quote
    every cell holding a CR or an LF, then the chosen line end replaces it."""
    buffer = io.StringIO()
    csv.writer(buffer, quoting=quoting, lineterminator="\r\n").writerow(cells)
    return (buffer.getvalue()[:-2] + terminator).encode("utf-8")


def write_table(table):
    """Returns the file's bytes and the byte offset at which each row starts."""
    out = bytearray(b"\xef\xbb\xbf" if table["bom"] else b"")
    out += csv_line(table["columns"], table["quoting"], table["terminator"])
    starts = []
    for index, row in enumerate(table["rows"]):
        if table["blank_lines"][index]:
            out += table["terminator"].encode()
        starts.append(len(out))
        out += csv_line([row[name] for name in table["columns"]], table["quoting"],
                        table["terminator"])
    if table["blank_lines"][-1]:
        out += table["terminator"].encode()
    return bytes(out), starts


def expected_error(table, data, starts):
    row, column = table["bad"]
    at = starts[row]
    line = 1 + len(LINE_BREAK.findall(data[:at]))
    field = table["columns"].index(column)
    return (f"CSV error: CSV deserialize error: record {row + 1} (line: {line}, byte: {at}): "
            f"field {field}: {BAD_CELLS[column][1]}")


def python_values(cells):
    """A row as the plain arithmetic of reference.py reads it."""
    rank = cells["rank"]
    probability = cells.get("probability", "")
    return {"query_id": cells["query_id"], "candidate_id": cells["candidate_id"],
            "rank": int(rank[2:], 16) if rank.startswith("0x") else int(rank),
            "score": float(cells["score"]),
            "probability": float(probability) if probability else None,
            "is_correct": {"": None, "true": True, "false": False}[cells.get("is_correct", "")]}


def check_module(path, table, error):
    for method in MODULE_METHODS:
        policy = {"version": "0.1.0", "scoring_method": method, "threshold": 0.5,
                  "target_error_rate": 0.05, "calibration_method": "empirical",
                  "confidence_level": None, "created_by": "ferolin"}
        if error is not None:
            with pytest.raises(RuntimeError) as caught:
                ferolin.apply_policy(str(path), policy)
            assert str(caught.value) == error, method
            continue
        got = ferolin.apply_policy(str(path), policy)
        expected = reference.decisions([python_values(row) for row in table["rows"]], method, 0.5)
        assert [(d["query_id"], d["candidate_id"]) for d in got] == \
            [(d["query_id"], d["candidate_id"]) for d in expected], method
        for g, e in zip(got, expected):
            assert reference.same_float(g["confidence"], e["confidence"]), (method, g, e)


@settings(max_examples=300, deadline=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(table=tables())
def test_tables_written_by_csv_module_read_back_cell_for_cell(programs_dir, tmp_path, table):
    data, starts = write_table(table)
    path = tmp_path / "table.csv"
    path.write_bytes(data)
    error = expected_error(table, data, starts) if table["bad"] is not None else None
    check_module(path, table, error)
    for keep_details, options in ((True, ()), (False, ("--no-details",))):
        result = dump(programs_dir, path, *options)
        if error is not None:
            assert result == error
            continue
        assert isinstance(result, list), result
        assert len(result) == len(table["rows"])
        for record, cells in zip(result, table["rows"]):
            check_record(record, cells, keep_details)


@pytest.mark.skipif(not REAL_TABLE.is_file(), reason="real data not present")
def test_real_table_reads_like_python_csv(programs_dir):
    with REAL_TABLE.open(newline="", encoding="utf-8") as handle:
        rows = list(csv.DictReader(handle))
    result = dump(programs_dir, REAL_TABLE)
    assert len(result) == len(rows) > 0
    for record, cells in zip(result, rows):
        check_record(record, cells, keep_details=True)
