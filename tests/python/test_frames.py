"""Frames in: objects with __arrow_c_stream__ and Parquet / Arrow IPC files
give the results of the same table written as CSV, bit for bit."""
import hashlib
import math
import random
import subprocess
import sys

import pytest

import ferolin
import ferolin_tools as ft
from ferolin_tools import frames
from ferolin_tools.errors import TableError

pl = pytest.importorskip("polars")
pa = pytest.importorskip("pyarrow")


def rows(seed=7, queries=60):
    """Candidates of queries in scattered order: ties of rank (the first row
    wins), missing probabilities and labels, a null query id, 'q10' < 'q2';
    an e-value of the search tool's, as a confidence column of its own."""
    rng = random.Random(seed)
    out = []
    for q in range(queries):
        count = rng.randint(1, 6)
        correct = rng.randint(0, count) if rng.random() < 0.8 else None
        for c in range(count):
            out.append({
                "query_id": None if q == 5 else f"q{q}",
                "candidate_id": f"c{q}-{c}",
                "rank": rng.randint(1, 4),
                "score": round(rng.uniform(-3, 30), rng.choice([1, 3, 17])),
                "probability": None if rng.random() < 0.1 else rng.random() / count,
                "is_correct": None if correct is None else (c == correct),
                "formula": "C6H6",
                "evalue": None if rng.random() < 0.1 else rng.random() * 10.0**-rng.randint(0, 40),
            })
    rng.shuffle(out)
    return out


@pytest.fixture(scope="module")
def frame():
    return pl.DataFrame(rows(), schema_overrides={"rank": pl.Int64})


@pytest.fixture(scope="module")
def csv_path(frame, tmp_path_factory):
    path = tmp_path_factory.mktemp("frames") / "table.csv"
    frame.write_csv(path)
    return str(path)


def as_kind(frame, kind):
    table = frame.to_arrow()
    if kind == "polars":
        return frame
    if kind == "pandas":
        return frame.to_pandas()
    if kind == "pyarrow":
        return table
    if kind == "reader":  # small batches, sliced (array offsets)
        return pa.RecordBatchReader.from_batches(table.schema, chunked(table).to_batches())
    if kind == "duckdb":
        duckdb = pytest.importorskip("duckdb")
        return duckdb.connect().from_arrow(table)
    raise AssertionError(kind)


def chunked(table):
    """The table in chunks of 1 to 40 rows, each a slice of a larger array."""
    pieces, start, rng = [], 0, random.Random(3)
    while start < table.num_rows:
        size = rng.randint(1, 40)
        pieces.append(table.slice(start, size))
        start += size
    return pa.concat_tables(pieces)


def same(a, b):
    """Equal, NaN equal to NaN and the bits of every float compared."""
    if isinstance(a, float) and isinstance(b, float):
        return math.isnan(a) and math.isnan(b) or a.hex() == b.hex()
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if hasattr(a, "__dataclass_fields__"):
        return type(a) is type(b) and same(vars(a), vars(b))
    return a == b


POLICY = {"version": "0.1.0", "scoring_method": "margin", "threshold": 0.2,
          "target_error_rate": 0.1, "calibration_method": "empirical",
          "confidence_level": None, "created_by": "ferolin"}

COLUMN_POLICY = {**POLICY, "scoring_method": "confidence_column", "confidence_col": "rank",
                 "lower_is_better": False, "threshold": 2.0}

CALLS = {
    "scores": lambda t: ft.scores(t, ["margin", "entropy", "topk-gap"], numpy=False),
    "curve": lambda t: ft.curve(t, ["max-prob", "score-gap"]),
    # The eight methods alone (the top score is compared below).
    "compare": lambda t: ft.compare(t, bootstrap=40, methods=list(ft.SCORE_METHODS)),
    "calibrate": lambda t: (lambda c: (c.policy, c.curve, {  # all but the table's name
        k: v for k, v in vars(c.report).items() if k != "table"}))(
        ft.calibrate(t, "topk-gap", 0.2, bootstrap=40)),
    "calibrate-grouped": lambda t: ft.calibrate(t, "margin", 0.3, group_col="formula",
                                                min_group=2, bootstrap=0).policy,
    "apply": lambda t: ft.apply(t, POLICY, numpy=False),
    "score_shard": lambda t: ft.score_shard(t, ["margin", "entropy"]).packed,
    "score_shards": lambda t: ft.curve(ft.score_shards([t], ["effective-k"]), ["effective-k"]),
    # Own confidence columns: floats with nulls, lower better; the integer
    # ranks, higher better, in a policy on that column.
    "confidence": lambda t: (lambda c: (c.policy, c.curve))(
        ft.calibrate(t, None, 0.4, confidence="evalue", lower_is_better=True, bootstrap=0)),
    "confidence-apply": lambda t: ft.apply(t, COLUMN_POLICY, numpy=False),
}


@pytest.mark.parametrize("kind", ["polars", "pandas", "pyarrow", "reader", "duckdb"])
@pytest.mark.parametrize("call", sorted(CALLS))
def test_frame_equals_csv(frame, csv_path, kind, call):
    assert same(CALLS[call](as_kind(frame, kind)), CALLS[call](csv_path))


def test_compare_of_a_frame_lists_the_top_score_too(frame, csv_path):
    compared = {entry.score for entry in ft.compare(frame, bootstrap=0)}
    assert "top-score" in compared
    assert compared == {entry.score for entry in ft.compare(csv_path, bootstrap=0)}


def test_column_kinds_equal_csv(frame, csv_path):
    """Dictionaries, string views, narrow ranks, float32 scores, 0/1 and
    spelled labels, an own confidence column of strings; the columns in
    another order among others."""
    table = frame.to_arrow()
    labels = table["is_correct"].to_pylist()
    columns = {
        "extra": pa.array(range(table.num_rows)),
        "is_correct": pa.array([None if v is None else ("TRUE" if v else "0") for v in labels]),
        "score": table["score"].cast(pa.float32()),
        "rank": table["rank"].cast(pa.uint8()),
        "candidate_id": table["candidate_id"].cast(pa.string_view()),
        "query_id": table["query_id"].dictionary_encode(),
        "probability": table["probability"],
        "formula": table["formula"].cast(pa.large_string()),
        "evalue": table["evalue"].cast(pa.string()),
    }
    other = pa.table(columns)
    # The CSV that a writer gives for the float32 scores.
    expected_csv = csv_path.replace(".csv", "-f32.csv")
    pl.from_arrow(other).write_csv(expected_csv)
    for call in ("scores", "calibrate", "calibrate-grouped", "confidence"):
        assert same(CALLS[call](other), CALLS[call](expected_csv)), call
    columns["is_correct"] = pa.array([None if v is None else int(v) for v in labels], pa.int16())
    assert same(CALLS["scores"](pa.table(columns)), CALLS["scores"](expected_csv))


def test_renamed_columns_and_nulls(tmp_path):
    table = pa.table({"Query": ["a", "a", None, "b"], "candidate_id": ["x", "y", "z", "w"],
                      "rank": [2, 1, 1, 1], "score": [1.0, 2.0, 3.0, 4.0],
                      "Is_Correct": pa.array([None, True, False, None], pa.bool_())})
    path = tmp_path / "t.csv"
    pl.from_arrow(table).write_csv(path)
    columns = {"query_id": "Query", "is_correct": "Is_Correct"}
    assert same(ft.scores(table, ["score-gap"], columns=columns, numpy=False),
                ft.scores(path, ["score-gap"], columns=columns, numpy=False))


def base_table():
    return pa.table({"query_id": ["a"], "candidate_id": ["x"], "rank": [1], "score": [1.0],
                     "probability": [0.5], "is_correct": [True], "group": ["g"]})


@pytest.mark.parametrize("column, array, type_name", [
    ("query_id", pa.array([1.5]), "double"),
    ("candidate_id", pa.array([[1]]), "list"),
    ("rank", pa.array([1.0]), "double"),
    ("score", pa.array(["1.0"]), "string"),
    ("probability", pa.array([b"x"]), "binary"),
    ("is_correct", pa.array([1.0]), "double"),
    ("group", pa.array([1.0], pa.float32()), "float"),
])
def test_wrong_type_names_column_and_type(column, array, type_name):
    table = base_table()
    table = table.set_column(table.column_names.index(column), column, array)
    with pytest.raises(TableError, match=f"column '{column}' has the Arrow type {type_name}"):
        ft.calibrate(table, "margin", 0.1, group_col="group", bootstrap=0)


@pytest.mark.parametrize("column, array, message", [
    ("rank", pa.array([None], pa.int32()), "row 1, column 'rank' \\(int32\\) is null"),
    ("rank", pa.array([-2], pa.int8()), "holds -2"),
    ("score", pa.array([None], pa.float64()), "column 'score' \\(double\\) is null"),
    ("is_correct", pa.array([2], pa.int64()), "holds 2; an integer label is 0 or 1"),
    ("is_correct", pa.array(["maybe"]), "holds 'maybe'"),
])
def test_bad_cells(column, array, message):
    table = base_table()
    table = table.set_column(table.column_names.index(column), column, array)
    with pytest.raises(TableError, match=message):
        ft.scores(table, ["margin"])


def test_producer_error_and_capsule_taken_once():
    def batches():
        yield base_table().to_batches()[0]
        raise ValueError("the producer broke")

    reader = pa.RecordBatchReader.from_batches(base_table().schema, batches())
    with pytest.raises(TableError, match="the producer broke"):
        ft.scores(reader, ["margin"])
    from ferolin_tools import _native

    capsule = base_table().__arrow_c_stream__()
    assert _native.run_arrow_pass(capsule, ["margin"]).query_pass is not None
    with pytest.raises(ValueError, match="read already"):
        _native.run_arrow_pass(capsule, ["margin"])
    with pytest.raises(TypeError):
        _native.run_arrow_pass(object(), ["margin"])


@pytest.mark.parametrize("suffix", [".parquet", ".arrow", ".feather"])
def test_files_equal_csv(frame, csv_path, tmp_path, suffix):
    path = str(tmp_path / f"table{suffix}")
    if suffix == ".parquet":
        frame.write_parquet(path, row_group_size=50)
    else:
        frame.write_ipc(path)
    for call in ("compare", "calibrate", "apply", "confidence", "confidence-apply"):
        assert same(CALLS[call](path), CALLS[call](csv_path)), call
    calibration = ft.calibrate(path, "margin", 0.2)
    assert calibration.provenance["table"] == path
    with open(path, "rb") as handle:
        assert calibration.provenance["table_sha256"] == hashlib.sha256(handle.read()).hexdigest()
    command = subprocess.run([sys.executable, "-m", "ferolin_tools", "curve", path, "--score",
                              "margin"], capture_output=True, text=True)
    expected = subprocess.run([sys.executable, "-m", "ferolin_tools", "curve", csv_path,
                               "--score", "margin"], capture_output=True, text=True)
    assert command.returncode == 0 and command.stdout == expected.stdout


def test_failed_parquet_read_stops_its_hash(frame, tmp_path, monkeypatch):
    """The file's hash, taken on a thread beside the read, is told to stop
    when the read fails rather than waited for to the end of the file."""
    path = str(tmp_path / "table.parquet")
    frame.with_columns(pl.col("rank").cast(pl.String)).write_parquet(path)
    stopped = []

    def hash_until_stopped(_, stop):
        stopped.append(stop.wait(timeout=60))

    monkeypatch.setattr(frames, "file_sha256", hash_until_stopped)
    with pytest.raises(TableError, match="rank"):
        ft.calibrate(path, "margin", 0.2)
    assert stopped == [True]


def test_parquet_without_pyarrow(frame, tmp_path, monkeypatch):
    path = str(tmp_path / "table.parquet")
    frame.write_parquet(path)
    monkeypatch.setitem(sys.modules, "pyarrow.dataset", None)  # import fails
    with pytest.raises(TableError, match=r"needs pyarrow.*pip install 'ferolin\[parquet\]'"):
        ft.calibrate(path, "margin", 0.1)
    # The module ferolin refuses Parquet, as always.
    with pytest.raises(RuntimeError, match="compiled without the 'parquet' feature"):
        ferolin.compute_curve(path, "margin")


def test_progress_and_interrupt_between_batches():
    """The read checks in between batches: progress sees rows, and an
    exception raised there (Ctrl-C) ends the read."""
    rows_seen = []
    big = pa.table({"query_id": pa.array([str(i // 3) for i in range(600_000)]),
                    "candidate_id": pa.array(["c"] * 600_000), "rank": pa.array([1] * 600_000),
                    "score": pa.array([0.5] * 600_000)})
    ft.scores(big, ["margin"], progress=lambda _, rows: rows_seen.append(rows))
    assert rows_seen[-1] == 600_000 and len(rows_seen) >= 2

    def interrupt(_, rows):
        raise KeyboardInterrupt

    reader = pa.RecordBatchReader.from_batches(big.schema, big.to_batches(50_000))
    with pytest.raises(KeyboardInterrupt):
        ft.scores(reader, ["margin"], progress=interrupt)
