"""Times calibrate on a gzip-compressed table: ferolin_tools against pandas,
polars and DuckDB reading the same .gz, and the inflaters alone.

Each implementation, in a fresh process, reads the .gz, finds each query's
top candidate, builds the max-prob risk-coverage curve and picks the
empirical threshold for a 5% error rate (bench_curve.py's "calibrate"); the
thresholds must agree. ferolin_tools runs with its default reading threads
and held to one (FEROLIN_NUM_THREADS=1: inflating and parsing on one
thread). Runs are interleaved and medians reported, with the load average
before and after. When bench_inflate was built (FEROLIN_BUILD_BENCHMARKS),
it also reports the inflated MB/s of zlib, ISA-L and libdeflate on the file.

Usage: python bench_gzip.py TABLE.csv.gz [--runs N] [--threads N] [--exe PATH]
"""
import argparse
import importlib.util
import json
import os
import pathlib
import subprocess
import sys
import time

from bench_common import medians, peak_kib, run_interleaved
from bench_curve import IMPLEMENTATIONS, child_env, empirical_threshold, versions

METHOD = "max-prob"
ERROR_RATE = 0.05
PEERS = ("polars", "pandas", "duckdb")
FEROLIN = {"ferolin_tools": None, "ferolin_tools-1-thread": "1"}


def ferolin_threshold(path):
    import ferolin_tools

    return ferolin_tools.calibrate(path, METHOD, ERROR_RATE, bootstrap=0).policy["threshold"]


def child(name, path, threads):
    start = time.perf_counter()
    if FEROLIN.get(name):
        os.environ["FEROLIN_NUM_THREADS"] = FEROLIN[name]
    if name in FEROLIN:
        threshold = ferolin_threshold(path)
    else:
        threshold = empirical_threshold(IMPLEMENTATIONS[name][1](path, METHOD, threads))
    print(json.dumps({"seconds": time.perf_counter() - start, "peak_kib": peak_kib(),
                      "threshold": threshold.hex()}))


def inflaters(exe, path):
    if not exe.exists():
        return "bench_inflate not built"
    result = subprocess.run([str(exe), str(path), "--runs", "3"], stdout=subprocess.PIPE,
                            check=True, text=True)
    return ", ".join(f"{name} {figures['mb_per_s']:.0f} MB/s"
                     for name, figures in json.loads(result.stdout).items())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("table", type=pathlib.Path)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--threads", type=int, default=os.cpu_count())
    parser.add_argument("--exe", type=pathlib.Path,
                        default=pathlib.Path(__file__).parent.parent / "build" / "bench_inflate")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.child, str(args.table), args.threads)
        return
    peers = [name for name in PEERS if importlib.util.find_spec(name)]
    print(f"{versions(peers)}; {os.cpu_count()} cores; load average before: "
          f"{os.getloadavg()}", flush=True)
    print(f"inflaters (output MB/s, best of 3): {inflaters(args.exe, args.table)}", flush=True)
    plan = []
    for name in (*FEROLIN, *peers):
        command = [sys.executable, __file__, str(args.table), "--threads", str(args.threads),
                   "--child", name]
        plan.append((name, command, args.runs))
    results = run_interleaved(plan, child_env(args.threads))
    thresholds = {name: {r["threshold"] for r in rs} for name, rs in results.items()}
    if len(set().union(*thresholds.values())) != 1:
        sys.exit(f"thresholds differ: {thresholds}")
    summaries = {name: medians(rs, ("seconds", "peak_kib")) for name, rs in results.items()}
    ours = summaries["ferolin_tools"]["seconds"]
    print(f"\nmedians of {args.runs} runs, {args.table.stat().st_size / 1e6:.0f} MB compressed; "
          f"load average after: {os.getloadavg()}\n")
    print("| implementation | seconds | its time / ferolin_tools' | peak RSS (MB) |")
    print("|---|---:|---:|---:|")
    for name, summary in summaries.items():
        print(f"| {name} | {summary['seconds']:.2f} | {summary['seconds'] / ours:.2f} "
              f"| {summary['peak_kib'] / 1024:.0f} |")


if __name__ == "__main__":
    main()
