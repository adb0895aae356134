"""Runs the tokenizer benchmark and reports medians of several runs.

For each table: reading the file alone (floor), ferolin's CsvTokenizer with
every scan variant this processor runs, and the libcsv reference tokenizer,
each run in a fresh process of bench_tokenizer, the runs of the modes
interleaved to spread the drift of a shared machine over all of them.
Reported: median wall and processor (user + system) seconds, MB/s (10^6
bytes of the file per second) by both, and the speed of each variant
relative to libcsv in the same runs. Every mode must find the same records,
fields, field bytes and last line. Builds nothing: configure with
-DFEROLIN_BUILD_BENCHMARKS=ON first.

Tables smaller than --pass-bytes (default 1 GB) are read several times in
each process, so that every run takes long enough to time.

Usage: python3 bench_tokenizer.py TABLE [TABLE ...] [--exe PATH] [--runs N]
                                  [--libcsv-runs N] [--chunk BYTES] [--pass-bytes N]
"""
import argparse
import json
import pathlib
import subprocess
import sys

from bench_common import check_exe, medians, run_interleaved

REPO = pathlib.Path(__file__).resolve().parent.parent
DEFAULT_EXE = REPO / "build" / "dev" / "bench_tokenizer"
COUNTS = ("records", "fields", "field_bytes", "last_line")


def variants(exe):
    """Returns the scan variants this processor runs, as bench_tokenizer names them."""
    result = subprocess.run([str(exe), "variants", "-"], stdout=subprocess.PIPE, check=True)
    return json.loads(result.stdout)


def report(table, exe, modes, args):
    size = table.stat().st_size
    passes = max(1, args.pass_bytes // max(size, 1))
    options = ["--passes", str(passes)] + (["--chunk", str(args.chunk)] if args.chunk else [])
    plan = [(mode, [str(exe), mode, str(table), *options],
             args.libcsv_runs if mode == "libcsv" else args.runs) for mode in modes]
    results = run_interleaved(plan)
    summary = {mode: medians(results[mode], ("seconds", "cpu_seconds")) for mode in modes}
    first = results[modes[1]][0]
    for mode in modes[1:]:
        for result in results[mode]:
            if any(result[key] != first[key] for key in COUNTS):
                sys.exit(f"{mode} disagrees with {modes[1]}: {result} against {first}")

    print(f"\n{table} ({size / 1e6:,.0f} MB, {first['records']:,} records, "
          f"{first['fields']:,} fields), read {passes} times a run; medians of {args.runs} runs, "
          f"{args.libcsv_runs} for libcsv")
    size *= passes
    print("| mode | seconds | CPU seconds | MB/s | MB/s by CPU | speed / libcsv (by CPU) |")
    print("|---|---:|---:|---:|---:|---:|")
    libcsv = summary["libcsv"]
    for mode in modes:
        s = summary[mode]
        ratio = "" if mode == "floor" else (
            f"{libcsv['seconds'] / s['seconds']:.1f} ({libcsv['cpu_seconds'] / s['cpu_seconds']:.1f})")
        print(f"| {mode} | {s['seconds']:.2f} | {s['cpu_seconds']:.2f} | "
              f"{size / 1e6 / s['seconds']:,.0f} | {size / 1e6 / s['cpu_seconds']:,.0f} | {ratio} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tables", type=pathlib.Path, nargs="+")
    parser.add_argument("--exe", type=pathlib.Path, default=DEFAULT_EXE)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--libcsv-runs", type=int, default=3)
    parser.add_argument("--chunk", type=int, help="bytes per read (default: the reader's)")
    parser.add_argument("--pass-bytes", type=int, default=10**9)
    args = parser.parse_args()
    check_exe(args.exe)
    modes = ["floor", *variants(args.exe), "libcsv"]
    for table in args.tables:
        report(table, args.exe, modes, args)


if __name__ == "__main__":
    main()
