"""Times two Python threads computing the curves of two tables at once against
one thread computing one: ferolin reads and computes without the
interpreter's lock, so two of its calls overlap.

For each implementation of bench_curve.py (ferolin, and pandas, polars and
DuckDB where installed, each building the same risk-coverage curve), a fresh
process times, as wall-clock seconds:

- one: the curve of TABLE_A on the main thread;
- two threads: the curves of TABLE_A and TABLE_B at once, one thread each;
- one after the other: TABLE_A, then TABLE_B, on the main thread;
- two processes (ferolin only, the control): TABLE_A and TABLE_B at once in
  two forked processes, which share no lock at all: what the machine allows.

After the clock stops, each process checks that every curve of the threads
equals the one computed alone. Runs are interleaved and the medians reported
with the ratio of two threads to one: 1.0 means the second table came free
(two idle cores), 2.0 means the threads took turns. On a machine shared with
other jobs a second core may not be free: the control shows how close two
threads come to what two processes get. polars and DuckDB already spread one
call over --threads threads, so a second Python thread has less to gain
there. The load average before and after is printed with the results.

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
CONTROL = "two processes"
# Plain Python holds the lock throughout: nothing to measure.
DEFAULT_ONLY = [name for name in IMPLEMENTATIONS if name != "python"]


def timed(mode, curve, tables):
    """Returns the wall seconds that `mode` takes, the processor seconds of
    this process (its threads') meanwhile, and the curves it computed."""
    start, processor = time.perf_counter(), time.process_time()
    if mode == "one":
        curves = [curve(tables[0])]
    elif mode == "one after the other":
        curves = [curve(table) for table in tables]
    elif mode == CONTROL:
        pids = []
        for table in tables:
            pid = os.fork()
            if pid == 0:
                curve(table)
                os._exit(0)
            pids.append(pid)
        for pid in pids:
            os.waitpid(pid, 0)
        curves = []
    else:
        curves = [None] * len(tables)

        def work(i):
            curves[i] = curve(tables[i])

        threads = [threading.Thread(target=work, args=(i,)) for i in range(len(tables))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    return time.perf_counter() - start, time.process_time() - processor, curves


def child(name, mode, tables, args):
    function = IMPLEMENTATIONS[name][1]
    seconds, processor, curves = timed(
        mode, lambda table: function(table, args.method, args.threads), tables)
    for table, curve in zip(tables, curves):
        if curve != function(table, args.method, args.threads):
            sys.exit(f"{name}, {mode}: a curve differs from the one computed alone")
    print(json.dumps({"seconds": seconds, "processor": processor}))


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
            for name in args.only for mode in MODES + ((CONTROL,) if name == "ferolin" else ())]
    results = run_interleaved(plan, child_env(args.threads))
    summaries = {key: medians(r, ("seconds", "processor")) for key, r in results.items()}
    seconds = {key: summary["seconds"] for key, summary in summaries.items()}
    sizes = " and ".join(f"{os.path.getsize(table) / 1e6:.0f} MB" for table in tables)
    print(f"\nmedians of {args.runs} runs, tables of {sizes}, {args.method}; "
          f"load average after: {os.getloadavg()}\n")
    # Processor seconds per wall second: how many cores the threads had.
    print("| implementation | one (s) | two threads (s) | one after the other (s) "
          "| two threads / one | cores used by two threads | two processes (s) "
          "| two processes / one |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for name in args.only:
        one, two, serial = (seconds[(name, mode)] for mode in MODES)
        cores = summaries[(name, "two threads")]["processor"] / two
        control = seconds.get((name, CONTROL))
        columns = ("", "") if control is None else (f"{control:.2f}", f"{control / one:.2f}")
        print(f"| {name} | {one:.2f} | {two:.2f} | {serial:.2f} | {two / one:.2f} | "
              f"{cores:.2f} | {columns[0]} | {columns[1]} |")


if __name__ == "__main__":
    main()
