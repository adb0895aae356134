"""Frames and Parquet in: ferolin_tools.calibrate from an in-memory polars
DataFrame and from a Parquet file, against ferolin reading the same table
from CSV and against polars computing the same curve (its own group-by
pipeline of bench_curve.py) from the same frame and the same file.

The aims of issue #22: from the frame, at least 3 times as fast as ferolin
from CSV and as polars from the frame (its read not timed: the frame is
built before the clock starts); from a Parquet file (snappy, pyarrow's
default row groups), at least 2 times as fast as polars reading the same
file and computing the curve, with a peak RSS below 0.3 of the CSV's size.

Every run is a fresh process that reports its wall seconds, its processor
seconds (all threads: polars and pyarrow's Parquet decoding use several),
its peak RSS (VmHWM) and its RSS before the timed work. Runs are
interleaved and medians reported. ferolin calibrates with bootstrap=0 (no
intervals), so that reading and the curve are what is timed; every run
checks that its threshold equals ferolin's from CSV.

Usage: python bench_frames.py TABLE.csv [--rows N] [--runs N] [--method margin]
                              [--threads N] [--work DIR]
"""
import argparse
import json
import os
import pathlib
import sys
import tempfile
import time

from bench_common import medians, peak_kib, run_interleaved, status_kib

ERROR_RATE = 0.05
NEEDED = ("query_id", "candidate_id", "rank", "score", "probability", "is_correct")


def load_frame(csv):
    """The whole table as a polars DataFrame, its columns typed as in the file."""
    import polars as pl

    return pl.read_csv(csv, schema_overrides={"query_id": pl.String, "candidate_id": pl.String,
                                              "rank": pl.UInt64, "probability": pl.Float64,
                                              "is_correct": pl.Boolean})


def child(name, table, method):
    import ferolin_tools

    frame = None
    if name in ("ferolin-frame", "polars-frame"):
        frame = load_frame(table)
    if name.startswith("polars"):
        import polars as pl

        import bench_curve
    if name == "ferolin-parquet":
        import pyarrow.dataset  # noqa: F401  imported before the clock, as polars is
    before = status_kib("VmRSS")
    wall, cpu = time.perf_counter(), time.process_time()
    if name.startswith("ferolin"):
        source = frame if frame is not None else table
        threshold = ferolin_tools.calibrate(source, method, ERROR_RATE,
                                            bootstrap=0).policy["threshold"]
    else:
        lazy = frame.lazy() if frame is not None else pl.scan_parquet(table)
        threshold = bench_curve.empirical_threshold(bench_curve.polars_curve_of(lazy, method))
    result = {"seconds": time.perf_counter() - wall, "cpu": time.process_time() - cpu,
              "peak_kib": peak_kib(), "before_kib": before, "threshold": threshold}
    print(json.dumps(result))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("table", type=pathlib.Path, nargs="?")
    parser.add_argument("--rows", type=int, help="use the first N rows only")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--method", default="margin")
    parser.add_argument("--threads", type=int, default=os.cpu_count())
    parser.add_argument("--work", type=pathlib.Path, help="folder for the tables written")
    parser.add_argument("--child", nargs=3, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(*args.child)
        return
    import pyarrow.parquet as pq
    import polars as pl

    work = args.work or pathlib.Path(tempfile.mkdtemp(prefix="bench_frames_"))
    work.mkdir(parents=True, exist_ok=True)
    csv = args.table
    if args.rows:
        csv = work / f"first_{args.rows}.csv"
        if not csv.exists():
            load_frame(args.table).head(args.rows).write_csv(csv)
    parquet = work / (csv.stem + ".parquet")
    if not parquet.exists():  # snappy and pyarrow's default row groups
        pq.write_table(load_frame(csv).to_arrow(), parquet, compression="snappy")
    csv_bytes = csv.stat().st_size
    print(f"{csv}: {csv_bytes / 1e6:.0f} MB; {parquet}: {parquet.stat().st_size / 1e6:.0f} MB, "
          f"{pq.ParquetFile(parquet).metadata.num_row_groups} row groups", file=sys.stderr)
    env = dict(os.environ, POLARS_MAX_THREADS=str(args.threads))
    script = pathlib.Path(__file__).resolve()
    plan = [(name, [sys.executable, str(script), "--child", name, str(source), args.method],
             args.runs)
            for name, source in (("ferolin-csv", csv), ("ferolin-frame", csv),
                                 ("polars-frame", csv), ("ferolin-parquet", parquet),
                                 ("polars-parquet", parquet))]
    results = run_interleaved(plan, env)
    reference = results["ferolin-csv"][0]["threshold"]
    for name, runs in results.items():
        if any(run["threshold"] != reference for run in runs):
            sys.exit(f"{name}: threshold {runs[0]['threshold']!r}, not {reference!r}")
    summary = {name: medians(runs, ("seconds", "cpu", "peak_kib", "before_kib"))
               for name, runs in results.items()}
    print("| run | wall s | CPU s | peak RSS MB | RSS before MB | peak / CSV | (peak - before) / CSV |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for name, m in summary.items():
        print(f"| {name} | {m['seconds']:.3f} | {m['cpu']:.3f} | {m['peak_kib'] / 1024:.0f} | "
              f"{m['before_kib'] / 1024:.0f} | {m['peak_kib'] * 1024 / csv_bytes:.3f} | "
              f"{(m['peak_kib'] - m['before_kib']) * 1024 / csv_bytes:.3f} |")
    def ratio(a, b, key):
        return summary[b][key] / summary[a][key]

    for key in ("seconds", "cpu"):
        print(f"{key}: frame vs CSV {ratio('ferolin-frame', 'ferolin-csv', key):.2f}x, "
              f"vs polars from the frame {ratio('ferolin-frame', 'polars-frame', key):.2f}x; "
              f"Parquet vs polars {ratio('ferolin-parquet', 'polars-parquet', key):.2f}x")


if __name__ == "__main__":
    main()
