"""Helpers shared by the benchmark scripts: a child process's own peak
memory, running one measurement in a fresh process, interleaving the runs of
several measurements and taking medians.

Peak RSS is read from VmHWM in /proc/self/status by the measured process
itself: getrusage's ru_maxrss of a child would also count the pages of the
Python process that forked it.
"""
import argparse
import json
import pathlib
import statistics
import subprocess
import sys


def status_kib(field):
    """Returns a field of /proc/self/status in KiB (VmHWM, VmRSS), or -1."""
    with open("/proc/self/status", encoding="ascii") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return -1


def peak_kib():
    """Returns this process's peak resident memory in KiB."""
    return status_kib("VmHWM")


def run(command, env=None):
    """Runs one measurement in a fresh process; returns its JSON line."""
    result = subprocess.run(command, stdout=subprocess.PIPE, check=False, env=env)
    if result.returncode != 0:
        sys.exit(f"failed: {' '.join(map(str, command))}")
    return json.loads(result.stdout)


def run_interleaved(plan, env=None):
    """Runs every (label, command, runs) of `plan` in rounds, one run of each
    measurement per round, so that the drift of a shared machine spreads over
    all of them. Returns {label: [JSON results]}."""
    results = {label: [] for label, _, _ in plan}
    for round_number in range(max(runs for _, _, runs in plan)):
        for label, command, runs in plan:
            if round_number < runs:
                results[label].append(run(command, env))
                print(f"round {round_number + 1}: {label}", file=sys.stderr, flush=True)
    return results


def medians(results, keys):
    """Returns the median of each of `keys` present in the results."""
    return {key: statistics.median(r[key] for r in results) for key in keys if key in results[0]}


def table_parser(doc, default_exe=None):
    """Returns an argument parser for a benchmark over one table, described
    by the first line of `doc`, with --runs and, when the benchmark runs a
    C++ program, --exe."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("table", type=pathlib.Path)
    if default_exe is not None:
        parser.add_argument("--exe", type=pathlib.Path, default=default_exe)
    parser.add_argument("--runs", type=int, default=5)
    return parser


def check_exe(exe):
    """Ends the process unless the benchmark program `exe` was built."""
    if not exe.is_file():
        sys.exit(f"{exe} not found: build with -DFEROLIN_BUILD_BENCHMARKS=ON")
