"""Times two Python threads computing the curves of two tables at once against
one thread computing one: ferolin reads and computes without the
interpreter's lock, so two of its calls overlap.

For each implementation of bench_curve.py (ferolin, and pandas, polars and
DuckDB where installed, each building the same risk-coverage curve), a fresh
process times, as wall-clock seconds:

- one: the curve of TABLE_A on the main thread;
- two threads: the curves of TABLE_A and TABLE_B at once, one thread each;
- one after the other: TABLE_A, then TABLE_B, on the main thread.

After the clock stops, each process checks that every curve of the threads
equals the one computed alone. Runs are interleaved and the medians reported
with the ratio of two threads to one: 1.0 means the second table came free
(two idle cores), 2.0 means the threads took turns. polars and DuckDB
already spread one call over --threads threads, so a second Python thread
has less to gain there. The machine may be shared with other jobs: the load
average before and after is printed with the results.

Usage: python bench_threads.py TABLE_A TABLE_B [--runs N] [--method margin]
                               [--only ferolin,pandas,...] [--threads N]
"""
import argparse
import json
import os
import pathlib
import sys
import threading
import time

from bench_common import medians, run_interleaved
from bench_curve import IMPLEMENTATIONS, available, child_env, versions

MODES = ("one", "two threads", "one after the other")
# Plain Python holds the lock throughout: nothing to measure.
DEFAULT_ONLY = [name for name in IMPLEMENTATIONS if name != "python"]


def timed(mode, curve, tables):
    """Returns the seconds that `mode` takes and the curves it computed."""
    start = time.perf_counter()
    if mode == "one":
        curves = [curve(tables[0])]
    elif mode == "one after the other":
        curves = [curve(table) for table in tables]
    else:
        curves = [None] * len(tables)

        def work(i):
            curves[i] = curve(tables[i])

        threads = [threading.Thread(target=work, args=(i,)) for i in range(len(tables))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    return time.perf_counter() - start, curves


def child(name, mode, tables, args):
    function = IMPLEMENTATIONS[name][1]
    seconds, curves = timed(mode, lambda table: function(table, args.method, args.threads),
                            tables)
    for table, curve in zip(tables, curves):
        if curve != function(table, args.method, args.threads):
            sys.exit(f"{name}, {mode}: a curve differs from the one computed alone")
    print(json.dumps({"seconds": seconds}))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tables", type=pathlib.Path, nargs=2)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--method", default="margin")
    parser.add_argument("--only", type=lambda text: text.split(","), default=DEFAULT_ONLY)
    parser.add_argument("--threads", type=int, default=os.cpu_count())
    parser.add_argument("--child", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    tables = [str(table) for table in args.tables]
    if args.child:
        child(args.child[0], args.child[1], tables, args)
        return
    args.only = available(args.only)
    print(f"{versions(args.only)}; {os.cpu_count()} cores; {args.threads} threads for pandas, "
          f"polars and DuckDB; load average before: {os.getloadavg()}", flush=True)
    plan = [((name, mode), [sys.executable, __file__, *tables, "--method", args.method,
                            "--threads", str(args.threads), "--child", name, mode], args.runs)
            for name in args.only for mode in MODES]
    results = run_interleaved(plan, child_env(args.threads))
    seconds = {key: medians(r, ("seconds",))["seconds"] for key, r in results.items()}
    sizes = " and ".join(f"{os.path.getsize(table) / 1e6:.0f} MB" for table in tables)
    print(f"\nmedians of {args.runs} runs, tables of {sizes}, {args.method}; "
          f"load average after: {os.getloadavg()}\n")
    print("| implementation | one (s) | two threads (s) | one after the other (s) "
          "| two threads / one |")
    print("|---|---:|---:|---:|---:|")
    for name in args.only:
        one, two, serial = (seconds[(name, mode)] for mode in MODES)
        print(f"| {name} | {one:.2f} | {two:.2f} | {serial:.2f} | {two / one:.2f} |")


if __name__ == "__main__":
    main()
