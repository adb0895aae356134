"""Failures found in a table or a policy file reach the caller as kinds of
DataError that carry their facts, whatever path the read took; the facts
survive pickling (a Dask worker's failure), and the delimiters the package
accepts are exactly those the core reads."""
import contextlib
import pickle

import pytest

import ferolin_tools
from ferolin_tools import _native, policies
from ferolin_tools.layout import parse_delimiter
from ferolin_tools.tables import read_table

HEADER = "query_id,candidate_id,rank,score"


def read_scores_table(path):
    return ferolin_tools.read_scores([path])


@pytest.mark.parametrize("name, text, read, kind, facts", [
    ("no_score.csv", "query_id,candidate_id,rank\nq,c,1\n", read_table,
     ferolin_tools.MissingColumn,
     {"column": "score", "header": ["query_id", "candidate_id", "rank"]}),
    ("bad_rank.csv", f"{HEADER}\nq,c,1,0.5\nq,d,x2,0.1\n", read_table,
     ferolin_tools.CellError,
     {"column": "rank", "line": 3, "value": "x2", "reason": "invalid_digit"}),
    ("bad_label.csv", f"{HEADER},is_correct\nq,c,1,0.5,maybe\n", read_table,
     ferolin_tools.CellError,
     {"column": "is_correct", "line": 2, "value": "maybe", "reason": "invalid_bool"}),
    ("long.csv", f"{HEADER}\n{'q' * 40},c,1,0.5\n", read_table, ferolin_tools.FieldTooLong,
     {"line": 2, "column": "query_id", "limit": 12, "whole_record": False}),
    ("long_header.csv", f"{'h' * 40},{HEADER}\n", read_table, ferolin_tools.FieldTooLong,
     {"line": 1, "column": None, "limit": 12, "whole_record": False}),
    ("scores.tsv", "query_id\tcandidates\tmargin\nq\t1\t0.5\n", read_scores_table,
     ferolin_tools.MissingColumn,
     {"column": "is_correct", "header": ["query_id", "candidates", "margin"]}),
    ("scores_cell.tsv", "query_id\tis_correct\tcandidates\tmargin\nq\ttrue\t1\tnope\n",
     read_scores_table, ferolin_tools.CellError,
     {"column": "margin", "line": 2, "value": "nope", "reason": "invalid_float"}),
])
def test_table_failures_carry_their_facts(write_file, name, text, read, kind, facts):
    path = write_file(name, text)
    with pytest.raises(kind) as raised:
        if read is read_table:
            read(path, ["margin"], max_field_bytes=12)
        else:
            read(path)
    assert isinstance(raised.value, ferolin_tools.TableError)
    assert {key: getattr(raised.value, key) for key in facts} == facts
    assert str(raised.value).startswith(path)
    again = pickle.loads(pickle.dumps(raised.value))
    assert (type(again), again.args, again.__dict__) == (kind, raised.value.args,
                                                          raised.value.__dict__)


def test_a_policy_value_of_the_wrong_type_carries_its_facts(write_file):
    path = write_file("policy.json", '{"version": "0.1.0", "scoring_method": "margin",\n'
                                     ' "threshold": "0.5", "target_error_rate": 0.05,\n'
                                     ' "calibration_method": "empirical"}')
    with pytest.raises(ferolin_tools.PolicyTypeError) as raised:
        policies.read(path)
    error = raised.value
    assert (error.key, error.expected, error.found, error.value, error.line) == (
        "threshold", "f64", "string", '"0.5"', 2)
    assert str(error).startswith("'threshold' must be a number, found the string \"0.5\"")


@pytest.mark.parametrize("target, kind, message", [
    ("/dev/full", "write", "JSON error: No space left on device (os error 28)"),
    ("missing/policy.json", "io", "IO error: No such file or directory (os error 2)"),
])
def test_failed_writes_name_the_file(tmp_path, target, kind, message):
    path = str(tmp_path / target) if not target.startswith("/") else target
    policy = {"version": "0.1.0", "scoring_method": "margin", "threshold": 0.5,
              "target_error_rate": 0.05, "calibration_method": "empirical",
              "confidence_level": None, "created_by": "ferolin"}
    with pytest.raises(_native.CoreError) as raised:
        _native.write_policy(path, policy)
    assert (raised.value.kind, raised.value.path, str(raised.value)) == (kind, path, message)


def test_the_package_takes_the_delimiters_the_core_reads(write_file):
    path = write_file("t.csv", f"{HEADER}\nq,c,1,0.5\n")
    for text in [chr(code) for code in range(130)] + ["tab", "\\t", ";;", "é"]:
        try:
            taken = parse_delimiter(text)
        except ValueError as refused:
            with pytest.raises(ValueError) as raised:
                _native.run_pass(path, ["margin"], delimiter=text)
            assert str(raised.value) == str(refused)
            continue
        # Taken by the core too: read, if perhaps not split into the columns.
        with contextlib.suppress(_native.CoreError):
            _native.run_pass(path, ["margin"], delimiter=taken)
