"""Runs ferolin.compute_curve and ferolin.calibrate end to end against pandas,
polars, DuckDB and plain Python, and checks that all give the same results.

Each implementation reads the candidates table, finds each query's top
candidate (the smallest rank; the first in the file among equal ranks) and
runner-up (the next in that stable rank order), scores the labelled queries
and builds the risk-coverage curve: one row per distinct confidence in
descending order, with accepted, total, coverage, errors and risk. A
confidence that is missing or NaN counts in total but is never accepted.
Scores: "margin" (p1 - p2 of the first two in rank order; absent with fewer
than two candidates or a missing probability) and "max-prob" (p1).
Calibrate ("empirical", error rate 0.05) is the same curve and then the
threshold of its widest row whose risk is at most the rate (the largest
finite double when there is none); the threshold is compared.

Every run is a fresh process (this script as a child) that reports the
seconds from the start of reading to the finished Python list of curve rows
(wall and processor time: the processor time of a thread moves less on a
shared machine, while threaded readers take more of it than of the wall),
its own peak RSS (VmHWM) and its RSS after the imports. Runs are interleaved
and the medians reported. pandas (its parallel reader, new in 3.1), polars
and DuckDB are limited to --threads threads (default: the machine's cores);
"pandas-1-thread" is pandas held to one thread, as ferolin runs. Before the timed runs, every implementation also runs on a small
table of edge cases (ties, missing and NaN probabilities, signed zeros,
infinities, unlabelled and scattered queries) and must give ferolin's curve
there too. Implementations whose package is missing are skipped.

Usage: python bench_curve.py TABLE [TABLE ...] [--runs N] [--python-runs N]
                             [--methods margin,max-prob] [--operations curve,calibrate]
                             [--only ferolin,pandas,...] [--threads N] [--per-query]
"""
import argparse
import csv
import importlib.util
import json
import math
import os
import pathlib
import platform
import sys
import tempfile
import time
import warnings

from bench_common import medians, peak_kib, run, run_interleaved, status_kib

COLUMNS = ("query_id", "rank", "probability", "is_correct")
METHODS = ("margin", "max-prob")
OPERATIONS = ("curve", "calibrate")
ERROR_RATE = 0.05
# The threshold of a calibration that finds no row: the largest finite double.
NO_THRESHOLD = sys.float_info.max


def zero_threshold(has_positive_zero):
    """The threshold of the row of zero confidences: +0.0 sorts before -0.0
    in the total order, so it names the row whenever it occurs."""
    return 0.0 if has_positive_zero else -0.0


# ---- ferolin -----------------------------------------------------------------

def compressed(path):
    """Whether the table is gzip-compressed: the module functions read plain
    CSV only, ferolin_tools reads both."""
    return str(path).endswith(".gz")


def ferolin_curve(path, method):
    if compressed(path):
        import ferolin_tools

        (result,) = ferolin_tools.curve(path, [method]).values()
        return result.curve
    import ferolin

    return ferolin.compute_curve(path, method)


def ferolin_rows(curve):
    keys = ("threshold", "accepted", "total", "coverage", "errors", "risk")
    return [tuple(row[key] for key in keys) for row in curve]


def ferolin_threshold(path, method):
    if compressed(path):
        import ferolin_tools

        calibration = ferolin_tools.calibrate(path, method, ERROR_RATE, bootstrap=0)
        return calibration.policy["threshold"]
    import ferolin

    return ferolin.calibrate(path, method, ERROR_RATE, "empirical")["threshold"]


def empirical_threshold(rows):
    """The threshold of the widest row whose risk is within ERROR_RATE;
    coverage grows down the curve, so that is the last such row."""
    for row in reversed(rows):
        if row[5] <= ERROR_RATE:
            return row[0]
    return NO_THRESHOLD


# ---- plain Python with the csv module ----------------------------------------

def python_curve(path, method):
    # Per query: [top rank, top probability, top label, second rank,
    # second probability, count].
    queries = {}
    labels = {"": None, "true": True, "false": False}
    with open(path, newline="", encoding="utf-8") as handle:
        reader = csv.reader(handle)
        header = next(reader)
        q, r, p, k = (header.index(name) for name in COLUMNS)
        for row in reader:
            text = row[r]
            rank = int(text[2:], 16) if text.startswith("0x") else int(text)
            probability = float(row[p]) if row[p] else None
            query = queries.get(row[q])
            if query is None:
                queries[row[q]] = [rank, probability, labels[row[k]], None, None, 1]
                continue
            query[5] += 1
            if rank < query[0]:
                query[3], query[4] = query[0], query[1]
                query[0], query[1], query[2] = rank, probability, labels[row[k]]
            elif query[3] is None or rank < query[3]:
                query[3], query[4] = rank, probability
    pairs = [(python_confidence(query, method), query[2]) for query in queries.values()
             if query[2] is not None]
    return python_walk(pairs)


def python_confidence(query, method):
    p1, p2 = query[1], query[4]
    if method == "max-prob":
        value = p1
    else:
        value = p1 - p2 if p1 is not None and p2 is not None else None
    return None if value is None or math.isnan(value) else value


def python_walk(pairs):
    groups = {}
    positive_zero = False
    for confidence, correct in pairs:
        if confidence is None:
            continue
        group = groups.setdefault(confidence, [0, 0])
        group[0] += 1
        group[1] += not correct
        positive_zero |= confidence == 0 and math.copysign(1.0, confidence) > 0
    rows, accepted, errors, total = [], 0, 0, len(pairs)
    for confidence in sorted(groups, reverse=True):
        accepted += groups[confidence][0]
        errors += groups[confidence][1]
        threshold = zero_threshold(positive_zero) if confidence == 0 else confidence
        rows.append((threshold, accepted, total, accepted / total, errors, errors / accepted))
    return rows


# ---- pandas ----------------------------------------------------------------

def pandas_read(path, threads):
    import pandas as pd

    # pandas 3.1 reads a large file with one thread per core by default.
    pd.set_option("mode.max_threads", threads)
    with warnings.catch_warnings():
        # pandas 3.1 deprecates the argument because every mode is now exact.
        warnings.simplefilter("ignore")
        return pd.read_csv(path, usecols=list(COLUMNS), float_precision="round_trip",
                           dtype={"query_id": str, "rank": "uint64", "probability": "float64",
                                  "is_correct": "boolean"})


def pandas_curve(path, method, threads):
    return pandas_curve_of(pandas_read(path, threads), method)


def pandas_curve_of(table, method):
    import numpy as np
    import pandas as pd

    table = table.sort_values("rank", kind="stable")
    position = table.groupby("query_id", sort=False).cumcount().to_numpy()
    top = table[position == 0].set_index("query_id")
    top = top[top["is_correct"].notna()]
    confidence = top["probability"]
    if method == "margin":
        second = table[position == 1].set_index("query_id")["probability"]
        confidence = confidence - second.reindex(top.index)
    confidence = confidence.to_numpy(dtype="float64", na_value=np.nan)
    wrong = ~top["is_correct"].to_numpy(dtype=bool)
    present = ~np.isnan(confidence)
    pairs = pd.DataFrame({"confidence": confidence[present], "wrong": wrong[present]})
    groups = pairs.groupby("confidence").agg(n=("wrong", "size"), e=("wrong", "sum"))
    groups = groups.sort_index(ascending=False)
    accepted = groups["n"].cumsum().to_numpy()
    errors = groups["e"].cumsum().to_numpy()
    thresholds = groups.index.to_numpy(dtype="float64", copy=True)
    zeros = pairs["confidence"].to_numpy()
    thresholds[thresholds == 0] = zero_threshold(bool(np.any((zeros == 0) & ~np.signbit(zeros))))
    total = len(top)
    return list(zip(thresholds.tolist(), accepted.tolist(), [total] * len(accepted),
                    (accepted / total).tolist(), errors.tolist(), (errors / accepted).tolist()))


# ---- polars ----------------------------------------------------------------

def polars_curve(path, method):
    import polars as pl

    return polars_curve_of(
        pl.scan_csv(path, schema_overrides={"query_id": pl.String, "rank": pl.UInt64,
                                            "probability": pl.Float64,
                                            "is_correct": pl.Boolean}), method)


def polars_curve_of(candidates, method):
    """The curve from a polars LazyFrame of the candidates (a scan of a file,
    or frame.lazy() of a DataFrame in memory)."""
    import polars as pl

    probability = pl.col("probability")
    tops = (
        candidates
        .select(COLUMNS)
        .sort("rank", maintain_order=True)
        # Within each group, rows keep their order: the stable rank order.
        .group_by("query_id")
        .agg(p1=probability.first(), p2=probability.slice(1, 1).first(),
             correct=pl.col("is_correct").first())
        .filter(pl.col("correct").is_not_null())
        .collect()
    )
    confidence = pl.col("p1") - pl.col("p2") if method == "margin" else pl.col("p1")
    total = tops.height
    groups = (
        tops.select(confidence=confidence, wrong=~pl.col("correct"))
        .filter(pl.col("confidence").is_not_null() & pl.col("confidence").is_not_nan())
        .group_by("confidence")
        .agg(n=pl.len(), e=pl.col("wrong").sum(),
             positive_zero=((1.0 / pl.col("confidence")) > 0).any())
        .sort("confidence", descending=True)
        .select(
            threshold=pl.when(pl.col("confidence") == 0)
            .then(pl.when(pl.col("positive_zero")).then(0.0).otherwise(-0.0))
            .otherwise(pl.col("confidence")),
            accepted=pl.col("n").cast(pl.Int64).cum_sum(),
            errors=pl.col("e").cast(pl.Int64).cum_sum())
    )
    # A full column, not a literal: polars divides by a scalar by multiplying
    # with its reciprocal, which can differ from the quotient in the last bit.
    groups = (
        groups.with_columns(pl.Series("total", [total] * groups.height, pl.Int64))
        .with_columns(coverage=pl.col("accepted") / pl.col("total"),
                      risk=pl.col("errors") / pl.col("accepted"))
    )
    return groups.select("threshold", "accepted", "total", "coverage", "errors",
                         "risk").rows()


# ---- DuckDB ----------------------------------------------------------------

DUCKDB_QUERY = """
WITH candidates AS (
  -- DuckDB keeps the insertion order, so row_number() OVER () numbers the
  -- rows in file order: the tie-break among equal ranks.
  SELECT query_id, rank, probability, is_correct, row_number() OVER () AS position
  FROM read_csv($path, header = true,
                types = {'query_id': 'VARCHAR', 'rank': 'UBIGINT',
                         'probability': 'DOUBLE', 'is_correct': 'BOOLEAN'})
),
tops AS (
  -- arg_min hands back -0.0 in a struct as +0.0: the sign travels apart.
  SELECT arg_min({'p': probability, 'negative': signbit(probability), 'correct': is_correct},
                 {'rank': rank, 'position': position}, 2) AS top
  FROM candidates GROUP BY query_id
),
signed AS (
  SELECT list_transform(top, lambda t: {'p': CASE WHEN t.negative THEN -abs(t.p) ELSE t.p END,
                                         'correct': t.correct}) AS top
  FROM tops
),
labelled AS (
  SELECT NOT top[1].correct AS wrong, CONFIDENCE AS confidence
  FROM signed WHERE top[1].correct IS NOT NULL
),
grouped AS (
  SELECT confidence, count(*) AS n, count(*) FILTER (WHERE wrong) AS e,
         bool_or(NOT signbit(confidence)) AS positive_zero
  FROM labelled WHERE confidence IS NOT NULL AND NOT isnan(confidence)
  GROUP BY confidence
),
walked AS (
  SELECT CASE WHEN confidence = 0
              THEN CASE WHEN positive_zero THEN 0.0::DOUBLE ELSE -(0.0::DOUBLE) END
              ELSE confidence END AS threshold,
         (sum(n) OVER w)::BIGINT AS accepted, (sum(e) OVER w)::BIGINT AS errors,
         (SELECT count(*) FROM labelled) AS total, confidence
  FROM grouped WINDOW w AS (ORDER BY confidence DESC ROWS UNBOUNDED PRECEDING)
)
SELECT threshold, accepted, total, accepted::DOUBLE / total::DOUBLE AS coverage, errors,
       errors::DOUBLE / accepted::DOUBLE AS risk
FROM walked ORDER BY confidence DESC
"""
DUCKDB_CONFIDENCE = {
    "margin": "CASE WHEN len(top) >= 2 THEN top[1].p - top[2].p END",
    "max-prob": "top[1].p",
}


def duckdb_curve(path, method, threads):
    import duckdb

    connection = duckdb.connect()
    connection.execute(f"SET threads = {int(threads)}")
    query = DUCKDB_QUERY.replace("CONFIDENCE", DUCKDB_CONFIDENCE[method])
    return connection.execute(query, {"path": str(path)}).fetchall()


# ---- the child ---------------------------------------------------------------

IMPLEMENTATIONS = {
    # name: (package it needs, function)
    "ferolin": ("ferolin", lambda path, method, threads: ferolin_curve(path, method)),
    "pandas": ("pandas", pandas_curve),
    # The parallel reader of pandas 3.1 held to one thread, as ferolin runs.
    "pandas-1-thread": ("pandas", lambda path, method, threads: pandas_curve(path, method, 1)),
    "polars": ("polars", lambda path, method, threads: polars_curve(path, method)),
    "duckdb": ("duckdb", duckdb_curve),
    "python": (None, lambda path, method, threads: python_curve(path, method)),
}


def child(name, operation, method, path, threads, curve_out):
    package, function = IMPLEMENTATIONS[name]
    start = time.perf_counter()
    if package:
        importlib.import_module(package)
    if name == "ferolin" and compressed(path):
        importlib.import_module("ferolin_tools")
    import_seconds = time.perf_counter() - start
    base_kib = status_kib("VmRSS")
    start = time.perf_counter()
    cpu_start = time.process_time()
    if operation == "calibrate" and name == "ferolin":
        rows = [ferolin_threshold(path, method)]
    elif operation == "calibrate":
        rows = [empirical_threshold(function(path, method, threads))]
    else:
        curve = function(path, method, threads)
        rows = ferolin_rows(curve) if name == "ferolin" else curve
    seconds = time.perf_counter() - start
    cpu_seconds = time.process_time() - cpu_start
    peak = peak_kib()
    if curve_out:
        with open(curve_out, "w", encoding="utf-8") as out:
            json.dump(rows, out)
    print(json.dumps({"seconds": seconds, "cpu_seconds": cpu_seconds, "peak_kib": peak,
                      "base_kib": base_kib, "import_seconds": import_seconds,
                      "rows": len(rows)}))


# ---- checking the curves -------------------------------------------------------

def exact(row):
    """The row (or threshold) with every float as its exact bits (float.hex),
    so that -0.0 and 0.0 differ and nothing is compared with a tolerance."""
    if isinstance(row, float):
        return row.hex()
    return tuple(value.hex() if isinstance(value, float) else value for value in row)


def compare(reference, other):
    """Returns None when the curves are the same row for row, else a note."""
    if len(reference) != len(other):
        return f"{len(other)} rows instead of {len(reference)}"
    for index, (a, b) in enumerate(zip(reference, other)):
        if exact(a) != exact(b):
            return f"row {index}: {b} instead of {a}"
    return None


EDGE_ROWS = [
    # query, rank, probability, label
    ("a", "2", "0.3", "false"), ("a", "1", "0.6", "true"),       # rank order not list order
    ("b", "1", "0.5", "true"), ("b", "1", "0.7", "false"),       # equal ranks: first on top
    ("c", "1", "0.9", "false"),                                  # one candidate
    ("d", "1", "0.8", "true"), ("d", "2", "", "false"),          # missing runner-up probability
    ("e", "1", "nan", "true"), ("e", "2", "0.1", "false"),       # NaN top probability
    ("f", "1", "0.4", ""), ("f", "2", "0.2", "true"),            # unlabelled top
    ("g", "1", "-0.0", "true"), ("g", "2", "0.0", "false"),      # margin -0.0, max-prob -0.0
    ("h", "1", "0.5", "false"), ("h", "2", "0.5", "false"),      # margin +0.0
    ("i", "1", "inf", "true"), ("i", "2", "inf", "false"),       # margin NaN, max-prob inf
    ("j", "3", "0.1", "false"), ("k", "1", "0.6", "true"),       # scattered rows
    ("j", "1", "0.6", "true"), ("k", "2", "0.3", "false"), ("j", "2", "0.2", "false"),
    ("l", "1", "0.5", "true"), ("l", "3", "0.2", "false"), ("l", "3", "0.1", "true"),
    ("m", "1", "0.30000000000000004", "false"), ("m", "2", "0.1", "true"),
    ("n", "1", "1e-320", "true"), ("n", "2", "0", "false"),
]


def write_edge_table(path):
    with open(path, "w", encoding="utf-8", newline="") as out:
        out.write("query_id,candidate_id,rank,score,probability,is_correct\n")
        for number, (query, rank, probability, label) in enumerate(EDGE_ROWS):
            out.write(f"{query},c{number},{rank},1.0,{probability},{label}\n")


def child_command(name, operation, method, table, args, curve_out):
    return [sys.executable, __file__, str(table), "--child", name, operation, method,
            "--threads", str(args.threads), "--curve-out", str(curve_out)]


def curve_file(directory, table_number, name, operation, method):
    return pathlib.Path(directory) / f"{table_number}-{name}-{operation}-{method}.json"


def compare_all(names, cases, directory, table_number):
    """Returns {(name, operation, method): None or a note} for the results
    in `directory`, each compared with ferolin's."""
    notes = {}
    for operation, method in cases:
        reference = json.loads(
            curve_file(directory, table_number, "ferolin", operation, method).read_text())
        for name in names:
            result = json.loads(
                curve_file(directory, table_number, name, operation, method).read_text())
            notes[(name, operation, method)] = compare(reference, result)
    return notes


def check_edges(args, cases, directory):
    """Runs every implementation on the table of edge cases; returns the
    notes of compare_all."""
    table = pathlib.Path(directory) / "edges.csv"
    write_edge_table(table)
    for operation, method in cases:
        for name in args.only:
            out = curve_file(directory, "edges", name, operation, method)
            run(child_command(name, operation, method, table, args, out), child_env(args.threads))
    return compare_all(args.only, cases, directory, "edges")


def queries_and_id_bytes(table):
    """Returns the number of distinct query ids of a table and their bytes."""
    ids = set()
    with open(table, newline="", encoding="utf-8") as handle:
        reader = csv.reader(handle)
        column = next(reader).index("query_id")
        for row in reader:
            ids.add(row[column])
    return len(ids), sum(len(i.encode("utf-8")) for i in ids)


# ---- the parent ----------------------------------------------------------------

def child_env(threads):
    return os.environ | {"POLARS_MAX_THREADS": str(threads)}


def available(names):
    out = []
    for name in names:
        package = IMPLEMENTATIONS[name][0]
        if package is None or importlib.util.find_spec(package) is not None:
            out.append(name)
        else:
            print(f"skipped {name}: the package {package} is not installed", file=sys.stderr)
    if "ferolin" not in out:
        sys.exit("ferolin is not installed in this interpreter")
    return out


def versions(names):
    packages = dict.fromkeys(IMPLEMENTATIONS[name][0] for name in names)
    out = [f"Python {platform.python_version()}"]
    for package in packages:
        if package and package != "ferolin":
            out.append(f"{package} {importlib.import_module(package).__version__}")
    return ", ".join(out)


def report(summaries, notes, table, args, cases, per_query):
    table_bytes = table.stat().st_size
    mb = table_bytes / 1e6
    print(f"\n## {table} ({mb:.0f} MB)")
    for operation, method in cases:
        print(f"\n### {operation} {method}\n")
        print("| implementation | seconds | MB/s | CPU seconds | peak RSS (MB) | peak / file |"
              " RSS after imports (MB) | result rows | same result as ferolin |")
        print("|---|---:|---:|---:|---:|---:|---:|---:|---|")
        for name in args.only:
            s = summaries[(name, operation, method)]
            peak = s["peak_kib"] * 1024 / 1e6
            note = notes.get((name, operation, method))
            same = "(reference)" if name == "ferolin" else ("yes" if note is None else note)
            print(f"| {name} | {s['seconds']:.2f} | {mb / s['seconds']:.0f} | "
                  f"{s['cpu_seconds']:.2f} | {peak:.0f} | {peak / mb:.3f} | "
                  f"{s['base_kib'] * 1024 / 1e6:.0f} | {s['rows']} | {same} |")
        ours = summaries[("ferolin", operation, method)]
        print()
        for name in args.only:
            if name == "ferolin":
                continue
            s = summaries[(name, operation, method)]
            print(f"- ferolin vs {name}: {s['seconds'] / ours['seconds']:.2f} x the speed, "
                  f"{ours['peak_kib'] / s['peak_kib']:.2f} x the peak memory")
        aims = [("polars", 2.0), ("pandas", 3.0)]
        for name, factor in aims:
            if name in args.only:
                ratio = summaries[(name, operation, method)]["seconds"] / ours["seconds"]
                print(f"- aim, at least {factor:.0f} x as fast as {name}: {ratio:.2f}, "
                      f"{'met' if ratio >= factor else 'NOT met'}")
        print(f"- ferolin's speed: {mb / ours['seconds']:.0f} MB/s (aim: 1000)")
        peak_share = ours["peak_kib"] * 1024 / table_bytes
        print(f"- aim, peak below 0.1 of the file: {peak_share:.3f} of the file, "
              f"{'met' if peak_share < 0.1 else 'NOT met'}")
        if per_query:
            queries, id_bytes = per_query
            grown = (ours["peak_kib"] - ours["base_kib"]) * 1024
            print(f"- ferolin's peak above its RSS after imports: {grown / queries:.0f} bytes a "
                  f"query ({queries} queries; their ids take {id_bytes / queries:.1f} bytes a "
                  f"query), {(grown - id_bytes) / queries:.0f} beyond the ids (aim: 100)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tables", type=pathlib.Path, nargs="+")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--python-runs", type=int, default=3)
    parser.add_argument("--methods", type=lambda text: text.split(","), default=list(METHODS))
    parser.add_argument("--operations", type=lambda text: text.split(","),
                        default=list(OPERATIONS))
    parser.add_argument("--only", type=lambda text: text.split(","), default=list(IMPLEMENTATIONS))
    parser.add_argument("--threads", type=int, default=os.cpu_count())
    parser.add_argument("--per-query", action="store_true",
                        help="also report ferolin's memory per query (reads the query ids once)")
    parser.add_argument("--child", nargs=3, help=argparse.SUPPRESS)
    parser.add_argument("--curve-out", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(*args.child, str(args.tables[0]), args.threads, args.curve_out)
        return
    args.only = available(args.only)
    cases = [(operation, method) for operation in args.operations for method in args.methods]
    print(f"{versions(args.only)}; {args.threads} threads for pandas, polars and DuckDB; "
          f"load average before: {os.getloadavg()}", flush=True)
    with tempfile.TemporaryDirectory() as directory:
        for (name, operation, method), note in check_edges(args, cases, directory).items():
            if name != "ferolin":
                print(f"edge table, {operation} {method}, {name}: "
                      f"{'same' if note is None else note}")
        # Every run writes its result after its clock has stopped; the last
        # run's result of each implementation is compared. The runs of all
        # tables are interleaved.
        plan = []
        for number, table in enumerate(args.tables):
            for operation, method in cases:
                for name in args.only:
                    runs = args.python_runs if name == "python" else args.runs
                    command = child_command(name, operation, method, table, args,
                                            curve_file(directory, number, name, operation, method))
                    plan.append(((number, name, operation, method), command, runs))
        results = run_interleaved(plan, child_env(args.threads))
        notes = {number: compare_all(args.only, cases, directory, number)
                 for number in range(len(args.tables))}
    print(f"\nmedians of {args.runs} runs ({args.python_runs} for plain Python); "
          f"load average after: {os.getloadavg()}")
    for number, table in enumerate(args.tables):
        summaries = {key[1:]: medians(r, ("seconds", "cpu_seconds", "peak_kib", "base_kib"))
                     | {"rows": r[0]["rows"]}
                     for key, r in results.items() if key[0] == number}
        per_query = queries_and_id_bytes(table) if args.per_query else None
        report(summaries, notes[number], table, args, cases, per_query)


if __name__ == "__main__":
    main()
