"""Tables as R, Excel, pandas and polars write them, and the messages for the
cells and columns that cannot be read."""
import math
import subprocess
import sys

import pytest

import ferolin_tools

METHODS = ["margin", "max-prob", "score-gap", "entropy"]


def queries():
    """40 queries of three candidates; some probabilities and labels missing;
    each query's probabilities sum to less than 1."""
    rows = []
    for q in range(40):
        for rank in (1, 2, 3):
            missing = q % 7 == 3 and rank == 2
            # Each query's probabilities sum below 1, as probabilities do.
            probability = None if missing else round(0.5 - 0.15 * rank + q / 400, 4)
            label = None if q % 9 == 4 else (rank == 1 and q % 4 != 1)
            rows.append({"query_id": f"q{q:02}", "candidate_id": f"c{q}-{rank}", "rank": rank,
                         "score": round(10.5 - rank * (1 + q / 40), 3),
                         "probability": probability, "is_correct": label})
    return rows


COLUMNS = ["query_id", "candidate_id", "rank", "score", "probability", "is_correct"]


def written(rows, *, delimiter=",", decimal=".", missing="", labels=("true", "false"),
            quote_text=False, row_names=False):
    """A table written by hand the way a tool writes it."""
    def cell(column, value):
        if value is None:
            return missing
        if isinstance(value, bool):
            return labels[0] if value else labels[1]
        if isinstance(value, float):
            return repr(value).replace(".", decimal)
        text = str(value)
        return f'"{text}"' if quote_text else text

    header = ([('""' if quote_text else "")] if row_names else []) + [
        f'"{c}"' if quote_text else c for c in COLUMNS]
    lines = [delimiter.join(header)]
    for n, row in enumerate(rows, 1):
        name = [f'"{n}"'] if row_names else []
        lines.append(delimiter.join(name + [cell(c, row[c]) for c in COLUMNS]))
    return "\n".join(lines) + "\n"


def r_write_csv(rows, path):
    # write.csv: row names, quoted strings and header, NA, TRUE/FALSE.
    path.write_text(written(rows, missing="NA", labels=("TRUE", "FALSE"), quote_text=True,
                            row_names=True))
    return {}


def excel_european(rows, path):
    # "CSV (semicolon)" from a German or French Excel: decimal commas.
    path.write_text(written(rows, delimiter=";", decimal=",", labels=("TRUE", "FALSE")))
    return {"delimiter": ";", "decimal": ","}


def pandas_to_csv(rows, path):
    pandas = pytest.importorskip("pandas")
    frame = pandas.DataFrame(rows)
    # A label column that holds a missing value is a float column: 1.0, 0.0, NaN.
    frame["is_correct"] = frame["is_correct"].map({True: 1.0, False: 0.0, None: math.nan})
    frame.to_csv(path, index=False)
    return {}


def pandas_na_rep(rows, path):
    pandas = pytest.importorskip("pandas")
    pandas.DataFrame(rows).to_csv(path, index=True, na_rep="NaN")
    return {}


def polars_write_csv(rows, path):
    polars = pytest.importorskip("polars")
    polars.DataFrame(rows).write_csv(path, null_value="null")
    return {}


def own_spelling(rows, path):
    path.write_text(written(rows, missing="n/a"))
    return {"na_values": ["n/a"]}


@pytest.mark.parametrize("writer", [r_write_csv, excel_european, pandas_to_csv, pandas_na_rep,
                                    polars_write_csv, own_spelling],
                         ids=lambda writer: writer.__name__)
def test_exports_of_the_same_data_give_the_same_result(tmp_path, writer):
    rows = queries()
    plain = tmp_path / "plain.csv"
    plain.write_text(written(rows))
    exported = tmp_path / "exported.csv"
    options = writer(rows, exported)
    expected = ferolin_tools.scores(str(plain), METHODS, numpy=False)
    found = ferolin_tools.scores(str(exported), METHODS, numpy=False, **options)
    assert found["is_correct"] == expected["is_correct"]
    assert expected["is_correct"].count(None) > 0  # the missing labels are read as missing
    for column in ["score", *METHODS]:
        assert list(map(repr, found[column])) == list(map(repr, expected[column])), column
    calibrated = ferolin_tools.calibrate(str(exported), "margin", 0.3, bootstrap=0, **options)
    assert calibrated.policy == ferolin_tools.calibrate(str(plain), "margin", 0.3,
                                                        bootstrap=0).policy


def run(*args, cwd):
    return subprocess.run([sys.executable, "-m", "ferolin_tools", *map(str, args)],
                          capture_output=True, text=True, cwd=cwd, timeout=60)


HEADER = "query_id;candidate_id;rank;score;probability;is_correct\n"


@pytest.mark.parametrize("content, options, status, expected", [
    (HEADER + "q1;c1;1;0,5;0,25;true\n", ["--delimiter", ";"], 1,
     "t.csv, line 2, column 'score': '0,5' is not a number. It looks like a number with a "
     "decimal comma: read the table with --decimal ,."),
    ("query_id,candidate_id,rank,score,probability\nq1,c1,1,0.5,missing\n", [], 1,
     "column 'probability': 'missing' is not a number. If it marks a missing value, read it "
     "as one with --na-values 'missing'."),
    ("query_id,candidate_id,rank,score,is_correct\nq1,c1,1,0.5,true\nq1,c2,1.0,0.5,yes\n",
     [], 1, "t.csv, line 3, column 'rank': '1.0' is not a rank (a whole number, 0 or more)."),
    ("query_id,candidate_id,rank,score,is_correct\nq1,c1,1,0.5,yes\n", [], 1,
     "column 'is_correct': 'yes' is not a label"),
    ("query_id,candidate_id,rank,score\nq1,c1,1," + "9" * 60 + "x\n", [], 1,
     "'" + "9" * 37 + "...' is not a number."),
    ("Query,candidate,Rank,score\nq1,c1,1,0.5\n", [], 1,
     "Missing required columns: query_id, candidate_id, rank. The header has 4 columns: "
     "Query, candidate, Rank, score. If 'Query' is query_id, map it with --column "
     "query_id=Query. If 'candidate' is candidate_id, map it with --column "
     "candidate_id=candidate. If 'Rank' is rank, map it with --column rank=Rank."),
    ("query_id,candidate_id,rank,score\nq1,c1,1,0.5\n", ["--column", "probability=prob"], 1,
     "Missing required column: prob (named by --column probability=prob)."),
    ("query_id,candidate_id,rank,score\nq1,c1,1,0.5\n", ["--column", "probability=score"], 2,
     "--column probability=score reads 'score' as probability, but 'score' is already read "
     "as score"),
    ("query_id,candidate_id,rank,score\nq1,c1,1,0.5\n", ["--decimal", ","], 2,
     "--decimal , needs another field delimiter"),
], ids=["decimal-comma", "own-missing-word", "float-rank", "label", "long-cell",
        "missing-columns", "mapped-column-absent", "column-read-twice", "comma-twice"])
def test_unreadable_cells_and_columns_are_named(tmp_path, content, options, status, expected):
    (tmp_path / "t.csv").write_text(content)
    result = run("curve", "t.csv", "--score", "score-gap", *options, cwd=tmp_path)
    assert result.returncode == status, result.stderr
    assert expected in result.stderr
    assert "Traceback" not in result.stderr and "field 3" not in result.stderr
