"""Runs the reader benchmark and reports medians of several runs.

Every measurement runs in a fresh process (the C++ program bench_reader, or
this script as a Python child) that reports its own peak RSS, read from
VmHWM in /proc/self/status: getrusage's ru_maxrss of a child would also
count the pages of this Python process that forked it. Runs of
the different modes are interleaved to spread the drift of a shared
machine over all of them. Reported: median seconds, MB/s (10^6 bytes of
the file per second), rows/s and peak RSS, plus the ratios the reader aims
at. Builds nothing: configure with -DFEROLIN_BUILD_BENCHMARKS=ON first.

Usage: python3 bench_reader.py TABLE [--exe PATH] [--runs N] [--python-runs N]
                               [--chunk-sizes 8192,65536,...] [--no-python]
"""
import argparse
import csv
import json
import pathlib
import sys
import time

from bench_common import check_exe, medians, peak_kib, run_interleaved, table_parser

REPO = pathlib.Path(__file__).resolve().parent.parent
DEFAULT_EXE = REPO / "build" / "dev" / "bench_reader"


# ---- Python's csv module doing the same conversion (child process) -------

def python_rows(path):
    """Yields (query_id, candidate_id, rank, score, probability, is_correct)."""
    with open(path, newline="", encoding="utf-8") as handle:
        reader = csv.reader(handle)
        header = next(reader)
        q, c, r, s = (header.index(name) for name in ("query_id", "candidate_id", "rank", "score"))
        p = header.index("probability") if "probability" in header else None
        k = header.index("is_correct") if "is_correct" in header else None
        labels = {"": None, "true": True, "false": False}
        for row in reader:
            rank = row[r]
            yield (row[q], row[c], int(rank[2:], 16) if rank.startswith("0x") else int(rank),
                   float(row[s]), float(row[p]) if p is not None and row[p] else None,
                   labels[row[k]] if k is not None else None)


def python_child(mode, path):
    start = time.perf_counter()
    if mode == "count":
        rows = sum(1 for _ in python_rows(path))
        print(json.dumps({"mode": "python-count", "rows": rows,
                          "seconds": time.perf_counter() - start, "peak_kib": peak_kib()}))
        return
    candidates = list(python_rows(path))
    read_seconds = time.perf_counter() - start
    read_peak = peak_kib()
    group_start = time.perf_counter()
    groups = {}
    for candidate in candidates:
        groups.setdefault(candidate[0], []).append(candidate)
    del candidates
    rankings = [(query, groups.pop(query)) for query in sorted(groups)]
    print(json.dumps({"mode": "python-group", "rows": sum(len(c) for _, c in rankings),
                      "queries": len(rankings), "read_seconds": read_seconds,
                      "group_seconds": time.perf_counter() - group_start,
                      "read_peak_kib": read_peak, "peak_kib": peak_kib()}))


# ---- the parent ------------------------------------------------------------

def measurements(args):
    """(label, command, runs) for every measurement."""
    exe, table = str(args.exe), str(args.table)
    cpp = [
        ("floor (read the file)", [exe, "floor", table]),
        ("libcsv tokenize only", [exe, "tokenize", table]),
        ("row source, counting consumer", [exe, "count", table]),
        ("read_candidates + group_by_query, details dropped", [exe, "group", table, "--no-details"]),
        ("read_candidates + group_by_query, details kept", [exe, "group", table]),
    ]
    cpp += [(f"row source, counting, {size}-byte chunks", [exe, "count", table, "--chunk", size])
            for size in args.chunk_sizes]
    out = [(label, command, args.runs) for label, command in cpp]
    if args.python_runs > 0:
        me = [sys.executable, __file__]
        out += [("Python csv, counting", me + ["--python-child", "count", table], args.python_runs),
                ("Python csv, list + group", me + ["--python-child", "group", table],
                 args.python_runs)]
    return out


def summarize(results):
    keys = ("seconds", "read_seconds", "group_seconds", "read_peak_kib", "peak_kib")
    return medians(results, keys) | {"rows": results[0]["rows"]}


def report(summaries, table_bytes, runs):
    mb = table_bytes / 1e6
    rows = next(s["rows"] for s in summaries.values() if s["rows"])
    print(f"table: {mb:.0f} MB, {rows} rows; medians of {runs} runs\n")
    print("| measurement | seconds | MB/s | rows/s | peak RSS (MB) | peak / file |")
    print("|---|---:|---:|---:|---:|---:|")
    for label, s in summaries.items():
        seconds = s.get("seconds", s.get("read_seconds", 0) + s.get("group_seconds", 0))
        peak = s["peak_kib"] * 1024 / 1e6
        print(f"| {label} | {seconds:.2f} | {mb / seconds:.0f} | {rows / seconds:,.0f} | "
              f"{peak:.0f} | {peak / mb:.2f} |")
        if "read_seconds" in s:
            read_peak = s["read_peak_kib"] * 1024 / 1e6
            print(f"| {label}: reading | {s['read_seconds']:.2f} | {mb / s['read_seconds']:.0f} | "
                  f"{rows / s['read_seconds']:,.0f} | {read_peak:.0f} | {read_peak / mb:.2f} |")
            print(f"| {label}: grouping | {s['group_seconds']:.2f} | | | {peak:.0f} | "
                  f"{peak / mb:.2f} |")
    tokenize = summaries["libcsv tokenize only"]["seconds"]
    count = summaries["row source, counting consumer"]["seconds"]
    print(f"\nrow source speed / libcsv tokenize-only speed: {tokenize / count:.2f} (aim >= 0.80)")
    for label, s in summaries.items():
        if "group_seconds" not in s or label.startswith("Python"):
            continue
        seconds = s["read_seconds"] + s["group_seconds"]
        print(f"{label}: {mb / seconds:.0f} MB/s (aim >= 100), peak "
              f"{s['peak_kib'] * 1024 / 1e6 / mb:.2f} x file (aim < 2)")
    python = summaries.get("Python csv, list + group")
    if python:
        ours = summaries["read_candidates + group_by_query, details dropped"]
        speedup = ((python["read_seconds"] + python["group_seconds"])
                   / (ours["read_seconds"] + ours["group_seconds"]))
        print(f"read_candidates + group_by_query (details dropped) / Python csv speed: {speedup:.1f}")


def main():
    parser = table_parser(__doc__, DEFAULT_EXE)
    parser.add_argument("--python-runs", type=int, default=3)
    parser.add_argument("--no-python", dest="python_runs", action="store_const", const=0)
    parser.add_argument("--chunk-sizes", type=lambda text: text.split(","), default=[])
    parser.add_argument("--python-child", nargs=1, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.python_child:
        python_child(args.python_child[0], args.table)
        return
    check_exe(args.exe)
    results = run_interleaved(measurements(args))
    report({label: summarize(r) for label, r in results.items()}, args.table.stat().st_size,
           args.runs)


if __name__ == "__main__":
    main()
