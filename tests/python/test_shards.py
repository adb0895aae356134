"""Results in many shards: per-query tables read back (--from-scores),
candidates tables scored in a thread pool, packed pairs merged, and the Dask
recipe on a LocalCluster. Every path gives bit for bit what one table gives;
a query id in two shards is an error naming it and both files."""
import csv
import gzip
import importlib.util
import json
import math
import os
import pathlib
import pickle
import struct
import subprocess
import sys

import pytest

import ferolin
import ferolin_tools
from ferolin_tools.tables import read_table
from conftest import candidate, many_queries, memory_cap, run_capped, table_text

ROOT = pathlib.Path(__file__).resolve().parents[2]
LABELLED = str(ROOT / "examples" / "data" / "labelled_candidates.csv")
SHARDS = 8


def run(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "ferolin_tools", *map(str, args)],
                          capture_output=True, text=True, cwd=cwd, timeout=120)


def cut(table, folder, shards=SHARDS):
    """Cuts a candidates table into shards, every query's rows in one shard
    (queries dealt out in turn), and returns their paths."""
    with open(table, newline="") as handle:
        header, *rows = list(csv.reader(handle))
    queries = sorted({row[0] for row in rows})
    shard_of = {query: i % shards for i, query in enumerate(queries)}
    paths = []
    for k in range(shards):
        path = folder / f"part-{k}.csv"
        with open(path, "w", newline="") as handle:
            writer = csv.writer(handle, lineterminator="\n")
            writer.writerow(header)
            writer.writerows(row for row in rows if shard_of[row[0]] == k)
        paths.append(str(path))
    return paths


def per_query_tables(shards, methods, folder, compress):
    """Writes each shard's per-query table as `ferolin scores` does."""
    paths = []
    for k, shard in enumerate(shards):
        path = folder / (f"scores-{k}.tsv" + (".gz" if compress else ""))
        result = run("scores", shard, *[f"--score={m}" for m in methods], "-o", path)
        assert result.returncode == 0, result.stderr
        if compress:
            path.write_bytes(gzip.compress(path.read_bytes()))
        paths.append(str(path))
    return paths


def without_source(policy_text):
    """A policy file's JSON without what names the data it came from."""
    policy = json.loads(policy_text)
    for key in ("table", "table_bytes", "table_sha256", "shards"):
        policy["calibration"].pop(key, None)
    return policy


@pytest.fixture(scope="module")
def shards(tmp_path_factory):
    return cut(LABELLED, tmp_path_factory.mktemp("shards"))


@pytest.mark.parametrize("compress", [False, True], ids=["tsv", "gzip"])
def test_commands_from_scores_equal_the_whole_table(tmp_path, shards, compress):
    tables = per_query_tables(shards, ["topk-gap", "margin"], tmp_path, compress)
    for command in (["calibrate", "--score", "topk-gap", "--error-rate", "0.05",
                     "--method", "binomial", "--confidence-level", "0.95"],
                    ["calibrate", "--score", "margin", "--error-rate", "0.1", "--method", "crc"],
                    ["curve", "--score", "margin", "--score", "topk-gap"],
                    ["compare", "--error-rate", "0.1", "--format", "json"]):
        whole = run(command[0], LABELLED, *command[1:])
        merged = run(command[0], "--from-scores", *tables, *command[1:])
        assert whole.returncode == merged.returncode == 0, merged.stderr
        if command[0] == "calibrate":  # the same policy, the same figures; other sources
            assert without_source(merged.stdout) == without_source(whole.stdout), command
            assert json.loads(merged.stdout)["calibration"]["shards"] == tables
        elif command[0] == "curve":  # compare: the files hold two methods, not eight
            assert merged.stdout == whole.stdout, command
    entries = ferolin_tools.compare(ferolin_tools.read_scores(tables))
    assert [(e.score, e.aurc, e.threshold) for e in entries] == [
        (e.score, e.aurc, e.threshold)
        for e in ferolin_tools.compare(LABELLED, methods=["topk-gap", "margin"])]


def test_thread_pool_and_packed_shards_equal_the_whole_table(shards):
    methods = ["margin", "topk-gap", "score-ratio"]
    pooled = ferolin_tools.score_shards(shards, methods, workers=2)
    packed = [pickle.loads(pickle.dumps(ferolin_tools.score_shard(s, methods))) for s in shards]
    merged = ferolin_tools.merge_shards(packed, ["topk-gap"])
    # Merged shards keep one row a query: their tied tops (the last count) are unknown.
    assert pooled.counts[:-1] == read_table(LABELLED, methods).counts[:-1]
    for score in methods:
        for method, level in (("empirical", None), ("binomial", 0.95), ("crc", None)):
            expected = ferolin.calibrate(LABELLED, score, 0.05, method, level)
            assert ferolin_tools.calibrate(pooled, score, 0.05, method=method,
                                           confidence_level=level).policy == expected
        assert ferolin_tools.curve(pooled, [score])[score].curve == \
            ferolin.compute_curve(LABELLED, score)
    assert ferolin_tools.calibrate(merged, "topk-gap", 0.05).policy == \
        ferolin.calibrate(LABELLED, "topk-gap", 0.05)
    with pytest.raises(ValueError, match="holds no confidences by margin"):
        ferolin_tools.calibrate(merged, "margin", 0.05)
    # Functions that read per-query columns refuse merged pairs, which have none.
    with pytest.raises(TypeError, match="keep no per-query columns"):
        merged.columns()


def bits(value):
    return struct.pack("<d", value)


def test_awkward_ids_and_values_read_back_bit_for_bit(tmp_path):
    # Ids that TSV must quote; confidences NaN (inf - inf), infinite,
    # subnormal, -0.0 and long decimals; unlabelled and single-candidate queries.
    rows = []
    odd = ["tab\there", 'quote"d', "line\nbreak", "carriage\rreturn", " space ", "ünï"]
    values = [(math.inf, math.inf), (math.inf, 1.0), (5e-324, 0.0), (-0.0, 0.0),
              (0.1 + 0.2, 0.1), (1e300, -1e300)]
    for i, (query, (top, second)) in enumerate(zip(odd, values)):
        rows.append(candidate(query, 1, score=top, is_correct=i % 2 == 0))
        rows.append(candidate(query, 2, score=second, is_correct=False))
    rows.append(candidate("single", 1, score=2.0, is_correct=True))
    rows.append(candidate("unlabelled", 1, score=2.0))
    rows.append(candidate("unlabelled", 2, score=1.0))
    table = tmp_path / "t.csv"
    table.write_text(table_text(rows))
    scores = tmp_path / "s.tsv"
    assert run("scores", table, "--score", "score-gap", "--score", "score-ratio",
               "-o", scores).returncode == 0
    merged = ferolin_tools.read_scores([scores])
    fresh = read_table(str(table), ["score-gap", "score-ratio"])
    assert merged.counts[:-1] == fresh.counts[:-1]
    for index in range(2):
        assert [[bits(v) if isinstance(v, float) else v for v in row.values()]
                for row in merged.curve(index)] == \
            [[bits(v) if isinstance(v, float) else v for v in row.values()]
             for row in fresh.curve(index)]
        assert merged.summary(index).scored_all == fresh.summary(index).scored_all


def write(path, text):
    path.write_text(text)
    return str(path)


HEADER = "query_id\tcandidate_id\tscore\tis_correct\tcandidates\tmargin\n"


@pytest.mark.parametrize("files, message", [
    ({"a.tsv": HEADER + "q1\tc\t1\ttrue\t2\t0.5\n", "b.tsv": HEADER + "q1\tc\t1\tfalse\t2\t0.4\n"},
     "query id 'q1' is in both {a} and {b}"),
    ({"a.tsv": HEADER + "q1\tc\t1\ttrue\t2\t0.5\nq1\tc\t1\ttrue\t2\t0.5\n"},
     "query id 'q1' appears twice in {a}"),
    ({"a.tsv": HEADER + "q1\tc\t1\ttrue\t2\t0.5\nq2\tc\t1\ttrue\ttwo\t0.5\n"},
     "{a}, line 3, column 'candidates': 'two' is not a count (a whole number, 0 or more)."),
    ({"a.tsv": HEADER + "q1\tc\t1\tmaybe\t2\t0.5\n"},
     "{a}, line 2, column 'is_correct': 'maybe' is not a label"),
    ({"a.tsv": HEADER + "q1\tc\t1\ttrue\t2\t" + "0," * 30 + "\n"},
     "{a}, line 2, column 'margin': '" + "0," * 18 + "0...' is not a number.\n"),
    ({"a.tsv": HEADER.replace("margin", "entropy") + "q1\tc\t1\ttrue\t2\t0.5\n"},
     "{a}: Missing required column: margin. The header has 6 columns"),
    ({"a.csv": table_text([candidate("q", 1, 1.0)])},
     "It looks like a candidates table: score it with `ferolin scores` first"),
], ids=["two-files", "one-file", "bad-count", "bad-label", "bad-confidence", "no-method",
        "candidates-table"])
def test_shards_that_cannot_be_merged_are_named(tmp_path, files, message):
    paths = {name: write(tmp_path / name, text) for name, text in files.items()}
    result = run("calibrate", "--from-scores", *paths.values(), "--score", "margin",
                 "--error-rate", "0.05")
    assert result.returncode == 1 and result.stdout == ""
    expected = message.format(**{name.split(".")[0]: path for name, path in paths.items()})
    assert expected in result.stderr, result.stderr
    assert "Traceback" not in result.stderr and "deserialize" not in result.stderr


def test_packed_pairs_refuse_corrupt_bytes(shards):
    shard = ferolin_tools.score_shard(shards[0], ["margin"])
    good = shard.packed
    # Every cut, and a flipped byte in the header, the flags and the id ends.
    for packed in [good[:n] for n in range(0, len(good), 97)] + [
            good[:8] + bytes([good[8] ^ 1]) + good[9:], good[:-1] + b"x" + b"y"]:
        with pytest.raises(ferolin_tools.TableError, match="not whole packed query pairs"):
            ferolin_tools.merge_shards([ferolin_tools.ShardPairs("s", ("margin",), packed)])


@memory_cap
def test_one_shard_listed_many_times_takes_room_for_what_is_merged(tmp_path):
    # 400,000 queries pack into about 9 MiB; listed 100 times they claim 40
    # million queries, over 1 GB if room were made for every listing first.
    table = many_queries(tmp_path / "many.csv", 400_000)
    script = f"""
import ferolin_tools
shard = ferolin_tools.score_shard({str(table)!r}, ["margin"])
cap_memory(256 * 2**20)
try:
    ferolin_tools.merge_shards([shard] * 100)
except ferolin_tools.TableError as error:
    print(len(shard.packed) >> 20, "MiB:", error)
"""
    result = run_capped(script)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("9 MiB: query id 'q0' is in both "), result.stdout


def load_recipe():
    spec = importlib.util.spec_from_file_location("dask_shards",
                                                  ROOT / "examples" / "dask_shards.py")
    recipe = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(recipe)
    return recipe


@pytest.mark.skipif(bool(os.environ.get("FEROLIN_SANITIZED")),
                    reason="worker processes would each load the ASan runtime")
def test_dask_recipe_on_a_local_cluster_equals_one_machine(tmp_path, shards):
    distributed = pytest.importorskip("distributed")
    recipe = load_recipe()
    decisions = tmp_path / "decisions"
    decisions.mkdir()
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        calibration, summaries = recipe.calibrate_on_dask(
            client, shards, "topk-gap", 0.05, str(decisions), "binomial", 0.95)
    policy = ferolin.calibrate(LABELLED, "topk-gap", 0.05, "binomial", 0.95)
    assert calibration.policy == policy
    expected = {d["query_id"]: d for d in ferolin.apply_policy(LABELLED, policy)}
    seen = 0
    for shard, summary in zip(shards, summaries):
        with open(summary["decisions"], newline="") as handle:
            rows = list(csv.DictReader(handle, dialect="excel-tab"))
        assert summary["table"] == shard and summary["queries"] == len(rows) > 0
        for row in rows:
            want = expected[row["query_id"]]
            assert row["candidate_id"] == want["candidate_id"]
            assert bits(float(row["confidence"])) == bits(want["confidence"])
            assert row["accepted"] == ("true" if want["accepted"] else "false")
            assert float(row["threshold"]) == want["threshold"] and row["method"] == "topk-gap"
        seen += len(rows)
    assert seen == len(expected)


@pytest.mark.skipif(bool(os.environ.get("FEROLIN_SANITIZED")),
                    reason="worker processes would each load the ASan runtime")
def test_dask_dataframe_partitions_on_a_local_cluster_equal_one_machine():
    distributed = pytest.importorskip("distributed")
    dd = pytest.importorskip("dask.dataframe")
    pd = pytest.importorskip("pandas")
    recipe = load_recipe()
    frame = pd.read_csv(LABELLED, dtype={"query_id": str, "candidate_id": str})
    # Indexed by query, so that no query is cut between two partitions.
    by_query = frame.set_index(pd.Index(pd.factorize(frame["query_id"])[0], name="q"))
    whole = dd.from_pandas(by_query, npartitions=3)
    cut_rows = dd.from_pandas(frame, npartitions=3, sort=False)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        calibration = recipe.calibrate_dask_frame(client, whole, "topk-gap", 0.05, "binomial",
                                                  0.95)
        with pytest.raises(ferolin_tools.TableError, match="partition 0.*partition 1"):
            recipe.calibrate_dask_frame(client, cut_rows, "topk-gap", 0.05)
    assert whole.npartitions > 1
    assert calibration.policy == ferolin.calibrate(LABELLED, "topk-gap", 0.05, "binomial", 0.95)
