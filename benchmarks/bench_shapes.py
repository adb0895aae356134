"""Times ferolin against pandas, polars and DuckDB on every shape of table
in one run, and prints one table of ratios (their seconds / ferolin's).

The shapes:

- plain, 1 thread and plain, 2 threads: the generated table
  (generate_table.py, --rows rows, queries of 1 to 100 candidates), ferolin
  with FEROLIN_NUM_THREADS=1 and =2 against the same runs of the others;
- gzip: the same table compressed with gzip -1; every implementation reads
  the .gz (ferolin through ferolin_tools, which reads gzip), ferolin with the
  default threads and with FEROLIN_NUM_THREADS=4 (the parallel inflate);
- one candidate, ascending: --one-rows queries of one candidate each, ids in
  ascending order (narrow: only the columns the curve reads and a few more);
- one candidate, shuffled: the same rows in a random order.

The tables are written to --dir on the first run and kept for the next
(named by their row counts). Each measurement is bench_curve.py's child: a
fresh process timing one call from the start of reading to the finished
Python result, runs interleaved, medians taken; every result (the curve or
the threshold) is compared with ferolin's, bit for bit. pandas, polars and
DuckDB get --threads threads. The load average before and after is printed:
on a shared machine, quote ratios from one run only.

Usage: python bench_shapes.py [--dir DIR] [--rows N] [--one-rows N] [--runs N]
                              [--operation calibrate|curve] [--method max-prob]
                              [--only ferolin,pandas,polars,duckdb] [--threads N]
                              [--shapes plain,gzip,ascending,shuffled] [--baseline PYTHON]

--baseline PYTHON adds a row per shape for the ferolin that another
interpreter imports (an installed release, a build of the main branch),
timed in the same rounds: before and after a change under the same load.
"""
import argparse
import gzip
import json
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile

from bench_common import run_interleaved
from bench_curve import available, child_env, compare, curve_file, versions

HERE = pathlib.Path(__file__).resolve().parent
PEERS = ("pandas", "polars", "duckdb")
# FEROLIN_NUM_THREADS of each ferolin measurement of a table.
# gzip with 4 threads: the parallel inflate (three decoding threads), which
# the default thread count of a 2-core machine does not use.
FEROLIN_THREADS = {"plain": ("1", "2"), "gzip": (None, "4"), "ascending": (None,),
                   "shuffled": (None,)}


def generate(path, *options):
    if path.exists():
        return
    print(f"writing {path}", file=sys.stderr, flush=True)
    partial = path.with_suffix(".partial")
    subprocess.run([sys.executable, str(HERE / "generate_table.py"), str(partial), *options],
                   check=True, stdout=subprocess.DEVNULL)
    partial.rename(path)


def compress(plain, path):
    if path.exists():
        return
    print(f"writing {path}", file=sys.stderr, flush=True)
    partial = path.with_suffix(".partial")
    with open(plain, "rb") as source, gzip.open(partial, "wb", compresslevel=1) as out:
        shutil.copyfileobj(source, out, 1 << 20)
    partial.rename(path)


def tables(args):
    """Returns {shape: path}, writing the tables that are missing."""
    directory = args.dir
    directory.mkdir(parents=True, exist_ok=True)
    plain = directory / f"plain_{args.rows}.csv"
    ascending = directory / f"one_ascending_{args.one_rows}.csv"
    shuffled = directory / f"one_shuffled_{args.one_rows}.csv"
    paths = {"plain": plain, "gzip": directory / f"plain_{args.rows}.csv.gz",
             "ascending": ascending, "shuffled": shuffled}
    wanted = {shape: paths[shape] for shape in args.shapes}
    if "plain" in wanted or "gzip" in wanted:
        generate(plain, "--rows", str(args.rows))
    if "gzip" in wanted:
        compress(plain, paths["gzip"])
    one = ("--rows", str(args.one_rows), "--max-candidates", "1", "--narrow", "--id-digits",
           str(max(6, len(str(args.one_rows - 1)))))
    if "ascending" in wanted:
        generate(ascending, *one)
    if "shuffled" in wanted:
        generate(shuffled, *one, "--shuffle")
    return wanted


def measurements(args, paths, directory):
    """Returns the plan for run_interleaved: (label, command, runs), where a
    label is (shape, name, FEROLIN_NUM_THREADS or None)."""
    plan = []
    for shape, path in paths.items():
        for name in args.only:
            for threads in FEROLIN_THREADS[shape] if name == "ferolin" else (None,):
                out = curve_file(directory, shape, f"{name}-{threads}", args.operation,
                                 args.method)
                command = [sys.executable, str(HERE / "bench_curve.py"), str(path), "--child",
                           name, args.operation, args.method, "--threads", str(args.threads),
                           "--curve-out", str(out)]
                if threads is not None:
                    command = ["env", f"FEROLIN_NUM_THREADS={threads}", *command]
                plan.append(((shape, name, threads), command, args.runs))
        if args.baseline:
            # Another build of ferolin, in the interpreter given, on the same
            # table: before and after a change in one run.
            out = curve_file(directory, shape, "baseline-None", args.operation, args.method)
            command = [str(args.baseline), str(HERE / "bench_curve.py"), str(path), "--child",
                       "ferolin", args.operation, args.method, "--threads", str(args.threads),
                       "--curve-out", str(out)]
            plan.append(((shape, "baseline", None), command, args.runs))
    return plan


def differences(plan, directory, args):
    """Returns the notes of results that differ from ferolin's on their table."""
    notes = []
    for shape, name, threads in (label for label, _, _ in plan):
        reference = curve_file(directory, shape, f"ferolin-{FEROLIN_THREADS[shape][0]}",
                               args.operation, args.method).read_text()
        result = curve_file(directory, shape, f"{name}-{threads}", args.operation,
                            args.method).read_text()
        note = compare(json.loads(reference), json.loads(result))
        if note is not None:
            notes.append(f"{shape}, {name}: {note}")
    return notes


def report(seconds, paths, args):
    print("| shape | table (MB) | ferolin (s) | " +
          " | ".join(f"{name} (s) | {name} / ferolin" for name in args.only if name in PEERS) +
          " |")
    print("|---|---:|---:|" + "---:|---:|" * sum(name in PEERS for name in args.only))
    for shape, path in paths.items():
        mb = path.stat().st_size / 1e6
        rows = [("ferolin", threads) for threads in FEROLIN_THREADS[shape]]
        if args.baseline:
            rows.append(("baseline", None))
        for name, threads in rows:
            ours = seconds[(shape, name, threads)]
            label = shape
            if threads is not None:
                label += f", {threads} thread{'s' * (threads != '1')}"
            if name == "baseline":
                reference = seconds[(shape, "ferolin", FEROLIN_THREADS[shape][0])]
                label += f", baseline ({ours / reference:.2f} x ferolin's time)"
            cells = []
            for name in args.only:
                if name in PEERS:
                    theirs = seconds[(shape, name, None)]
                    cells.append(f"{theirs:.2f} | {theirs / ours:.2f}")
            print(f"| {label} | {mb:.0f} | {ours:.2f} | " + " | ".join(cells) + " |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dir", type=pathlib.Path,
                        default=pathlib.Path(tempfile.gettempdir()) / "ferolin-shapes")
    parser.add_argument("--rows", type=int, default=2_000_000,
                        help="rows of the plain and gzip tables (default 2 million)")
    parser.add_argument("--one-rows", type=int, default=2_000_000,
                        help="queries of the one-candidate tables (default 2 million)")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--operation", default="calibrate", choices=("calibrate", "curve"))
    parser.add_argument("--method", default="max-prob")
    parser.add_argument("--only", type=lambda text: text.split(","),
                        default=["ferolin", *PEERS])
    parser.add_argument("--threads", type=int, default=os.cpu_count())
    parser.add_argument("--baseline", type=pathlib.Path,
                        help="also time the ferolin that this Python interpreter imports")
    parser.add_argument("--shapes", type=lambda text: text.split(","),
                        default=list(FEROLIN_THREADS))
    args = parser.parse_args()
    args.only = available(args.only)
    paths = tables(args)
    print(f"{versions(args.only)}; {os.cpu_count()} cores; {args.threads} threads for "
          f"pandas, polars and DuckDB; {args.operation} {args.method}; "
          f"load average before: {os.getloadavg()}", flush=True)
    with tempfile.TemporaryDirectory() as directory:
        plan = measurements(args, paths, directory)
        results = run_interleaved(plan, child_env(args.threads))
        notes = differences(plan, directory, args)
    seconds = {label: statistics.median(r["seconds"] for r in runs)
               for label, runs in results.items()}
    print(f"\nmedians of {args.runs} runs (wall seconds); load average after: "
          f"{os.getloadavg()}\n")
    report(seconds, paths, args)
    print("\nevery result the same as ferolin's" if not notes else "\n" + "\n".join(notes))


if __name__ == "__main__":
    main()
