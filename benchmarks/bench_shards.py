"""Scoring a result written as shards: one after the other, or in a pool.

Measures the time from the shard paths to the risk-coverage curve of all
their queries (margin), each run in a fresh process, the runs interleaved:

- ferolin-sequential: ferolin_tools.score_shard on each shard in turn, then
  merge_shards and the curve;
- ferolin-pool: a pool of --threads threads scoring the shards, as
  ferolin_tools.score_shards does (the core reads without the GIL), then
  merge_shards and the curve; "reads in flight" is the sum of the reads'
  own wall times over the whole wall time: 1 when they never overlap
  (as with the GIL held), up to the number of threads;
- ferolin-from-scores: the curve from the shards' per-query tables
  (`ferolin scores` output, gzip), as --from-scores reads them;
- pandas (read_csv of each shard, concatenated), polars (scan_csv of all
  shards), DuckDB (read_csv of all shards): the computation of
  bench_curve.py, with --threads threads.

Every curve is checked against ferolin-sequential's, bit for bit.

--pairs-memory N writes a per-query table of N labelled queries (14-byte
ids) and measures, in a fresh process, the memory of merging it
(read_scores, one method): the peak while the ids are checked, and what the
merged pairs keep.

    python3 benchmarks/generate_table.py /tmp/candidates.csv --rows 4000000
    python3 benchmarks/bench_shards.py --split /tmp/candidates.csv /tmp/shards --shards 8
    python3 benchmarks/bench_shards.py /tmp/shards --runs 5
    python3 benchmarks/bench_shards.py /tmp/pairs --pairs-memory 10000000
"""
import argparse
import glob
import gzip
import json
import os
import pathlib
import resource
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import bench_curve  # noqa: E402
from bench_common import medians, peak_kib, run, run_interleaved  # noqa: E402

METHOD = "margin"


def split(table, folder, shards):
    """Cuts a generated table (each query's rows together, ids unquoted at
    the start of the line) into `shards` files of consecutive queries."""
    folder.mkdir(parents=True, exist_ok=True)
    with open(table, encoding="utf-8") as source:
        header = source.readline()
        lines = source.readlines()
    queries = []
    for line in lines:
        query = line[:line.index(",")]
        if not queries or queries[-1][0] != query:
            queries.append((query, []))
        queries[-1][1].append(line)
    per_shard = -(-len(queries) // shards)
    for k in range(shards):
        with open(folder / f"part-{k:03d}.csv", "w", encoding="utf-8") as out:
            out.write(header)
            for _, rows in queries[k * per_shard:(k + 1) * per_shard]:
                out.writelines(rows)


def write_scores(paths, folder):
    """The per-query table of each shard, gzip-compressed."""
    import ferolin_tools
    from ferolin_tools import output

    written = []
    for path in paths:
        target = folder / (pathlib.Path(path).stem + ".scores.tsv.gz")
        columns = ferolin_tools.scores(path, [METHOD], numpy=False)
        with gzip.open(target, "wt", newline="", compresslevel=1) as stream:
            output.write_columns(stream, columns, cell=output.present_text)
        written.append(str(target))
    return written


def pairs_memory(folder, queries):
    """Writes a per-query table of `queries` queries and the same queries
    packed (as score_shard packs them), then measures merging each in a
    fresh process."""
    import pickle
    import random

    import ferolin_tools

    folder.mkdir(parents=True, exist_ok=True)
    path = folder / f"pairs-{queries}.tsv"
    packed = folder / f"pairs-{queries}.pickle"
    if not path.exists():
        rng = random.Random(queries)
        with open(path, "w", encoding="utf-8") as out:
            out.write("query_id\tcandidate_id\tscore\tis_correct\tcandidates\tmargin\n")
            for q in range(queries):
                confidence = rng.random()
                label = "true" if rng.random() < confidence else "false"
                out.write(f"spec_{q:09d}\tc\t1.0\t{label}\t2\t{confidence!r}\n")
    if not packed.exists():
        table = folder / f"candidates-{queries}.csv"
        with open(path, encoding="utf-8") as source, open(table, "w", encoding="utf-8") as out:
            source.readline()
            out.write("query_id,candidate_id,rank,score,probability,is_correct\n")
            for line in source:
                query, _, _, label, _, confidence = line.rstrip("\n").split("\t")
                out.write(f"{query},c,1,1.0,{confidence},{label}\n")
        shard = ferolin_tools.score_shard(str(table), ["max-prob"])
        with open(packed, "wb") as out:
            pickle.dump(shard, out)
        table.unlink()
    # The packed shard is loaded before the measurement starts: it is what
    # the client holds anyway once the workers' results arrive.
    merges = {
        "per-query table (read_scores)":
            ("None", f"ferolin_tools.read_scores([{str(path)!r}], ['margin'])"),
        "packed shard (merge_shards)":
            (f"pickle.load(open({str(packed)!r}, 'rb'))", "ferolin_tools.merge_shards([held])"),
    }
    for what, (held, merge) in merges.items():
        code = (
            "import json, pickle, ferolin_tools, sys; sys.path.insert(0, %r)\n"
            "from bench_common import status_kib\n"
            "held = %s\n"
            "with open('/proc/self/clear_refs', 'w') as reset:\n"
            "    reset.write('5')  # the peak starts again from here\n"
            "base = status_kib('VmRSS')\n"
            "merged = %s\n"
            "print(json.dumps({'base_kib': base, 'peak_kib': status_kib('VmHWM'),\n"
            "                  'after_kib': status_kib('VmRSS')}))"
            % (str(pathlib.Path(__file__).resolve().parent), held, merge))
        result = run([sys.executable, "-c", code])
        per_query = lambda kib: (kib - result["base_kib"]) * 1024 / queries  # noqa: E731
        print(f"{queries} queries, ids of 14 bytes, {what}: peak "
              f"{per_query(result['peak_kib']):.1f} bytes a query while merging, "
              f"{per_query(result['after_kib']):.1f} kept by the merged pairs")


def curve_rows(curve):
    return [(r["threshold"], r["accepted"], r["total"], r["coverage"], r["errors"], r["risk"])
            for r in curve]


def pandas_shards(paths, threads):
    import pandas as pd

    # bench_curve's pandas computation over the shards read one by one.
    table = pd.concat([bench_curve.pandas_read(path, threads) for path in paths],
                      ignore_index=True)
    return bench_curve.pandas_curve_of(table, METHOD)


def measure(name, folder, threads):
    import ferolin_tools

    paths = sorted(glob.glob(str(folder / "part-*.csv")))
    if name == "ferolin-from-scores":
        scores = sorted(glob.glob(str(folder / "scores" / "*.scores.tsv.gz")))
    spans = []
    start = time.perf_counter()
    cpu = resource.getrusage(resource.RUSAGE_SELF)
    if name == "ferolin-sequential":
        merged = ferolin_tools.merge_shards([ferolin_tools.score_shard(p, [METHOD])
                                             for p in paths])
        rows = curve_rows(ferolin_tools.curve(merged, [METHOD])[METHOD].curve)
    elif name == "ferolin-pool":
        def timed(path):
            began = time.perf_counter()
            shard = ferolin_tools.score_shard(path, [METHOD])
            spans.append(time.perf_counter() - began)
            return shard

        with ThreadPoolExecutor(max_workers=threads) as pool:
            merged = ferolin_tools.merge_shards(list(pool.map(timed, paths)))
        rows = curve_rows(ferolin_tools.curve(merged, [METHOD])[METHOD].curve)
    elif name == "ferolin-from-scores":
        merged = ferolin_tools.read_scores(scores, [METHOD])
        rows = curve_rows(ferolin_tools.curve(merged, [METHOD])[METHOD].curve)
    elif name == "pandas":
        rows = pandas_shards(paths, threads)
    elif name == "polars":
        rows = bench_curve.polars_curve(str(folder / "part-*.csv"), METHOD)
    else:
        rows = bench_curve.duckdb_curve(str(folder / "part-*.csv"), METHOD, threads)
    seconds = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_SELF)
    cpu_seconds = (after.ru_utime - cpu.ru_utime) + (after.ru_stime - cpu.ru_stime)
    in_flight = sum(spans) / seconds if spans else 1.0
    return {"seconds": seconds, "cpu_seconds": cpu_seconds, "peak_kib": peak_kib(),
            "in_flight": in_flight}, rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", type=pathlib.Path)
    parser.add_argument("--split", type=pathlib.Path, metavar="TABLE",
                        help="cut TABLE into shards in FOLDER, then stop")
    parser.add_argument("--shards", type=int, default=8)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--threads", type=int, default=os.cpu_count())
    parser.add_argument("--only", type=lambda text: text.split(","),
                        default=["ferolin-sequential", "ferolin-pool", "ferolin-from-scores",
                                 "pandas", "polars", "duckdb"])
    parser.add_argument("--pairs-memory", type=int, metavar="N")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    parser.add_argument("--rows-out", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.split:
        split(args.split, args.folder, args.shards)
        return
    if args.pairs_memory:
        pairs_memory(args.folder, args.pairs_memory)
        return
    if args.child:
        result, rows = measure(args.child, args.folder, args.threads)
        with open(args.rows_out, "w", encoding="utf-8") as out:
            json.dump(rows, out)
        print(json.dumps(result))
        return
    paths = sorted(glob.glob(str(args.folder / "part-*.csv")))
    scores_folder = args.folder / "scores"
    if "ferolin-from-scores" in args.only and not scores_folder.is_dir():
        scores_folder.mkdir()
        write_scores(paths, scores_folder)
    names = bench_curve.available([n for n in args.only if n in bench_curve.IMPLEMENTATIONS]
                                  + ["ferolin"])
    names = [n for n in args.only if n in names or n.startswith("ferolin")]
    size = sum(os.path.getsize(p) for p in paths)
    print(f"{len(paths)} shards, {size / 1e6:.0f} MB; {args.threads} threads; "
          f"{bench_curve.versions([n for n in names if not n.startswith('ferolin')])}; "
          f"load average before: {os.getloadavg()}", flush=True)
    with tempfile.TemporaryDirectory() as directory:
        plan = [(name, [sys.executable, __file__, str(args.folder), "--child", name,
                        "--threads", str(args.threads),
                        "--rows-out", os.path.join(directory, name + ".json")], args.runs)
                for name in names]
        results = run_interleaved(plan, bench_curve.child_env(args.threads))
        reference = json.load(open(os.path.join(directory, "ferolin-sequential.json")))
        same = {name: bench_curve.compare(reference, json.load(
            open(os.path.join(directory, name + ".json")))) for name in names}
    print(f"\nmedians of {args.runs} runs; load average after: {os.getloadavg()}\n")
    print("| measurement | seconds | CPU seconds | CPU / wall | reads in flight | MB/s | "
          "peak RSS (MB) | same curve |")
    print("|---|---:|---:|---:|---:|---:|---:|---|")
    summary = {name: medians(results[name], ("seconds", "cpu_seconds", "peak_kib", "in_flight"))
               for name in names}
    for name in names:
        s = summary[name]
        print(f"| {name} | {s['seconds']:.2f} | {s['cpu_seconds']:.2f} | "
              f"{s['cpu_seconds'] / s['seconds']:.2f} | {s['in_flight']:.2f} | "
              f"{size / 1e6 / s['seconds']:.0f} | "
              f"{s['peak_kib'] * 1024 / 1e6:.0f} | {'yes' if same[name] is None else same[name]} |")
    base = summary["ferolin-sequential"]["seconds"]
    print()
    for name in names:
        if name != "ferolin-sequential":
            print(f"- ferolin-sequential / {name}: {base / summary[name]['seconds']:.2f} "
                  f"(above 1: {name} is faster)")


if __name__ == "__main__":
    main()
