"""Times the core's percentile bootstrap against the same bootstrap written
with numpy, and against the long way in C++ (each replicate written out and
run through compute_curve), on the same synthetic per-query data.

Measurements, each run in a fresh process, interleaved, medians reported:
- "ferolin walk": bench_bootstrap walk (the queries sorted once, then per
  replicate n bounded draws and one weighted linear walk);
- "C++ explicit": bench_bootstrap explicit (fewer replicates, per replicate);
- "numpy": per replicate rng.integers, np.bincount, cumulative sums at the
  ends of the curve's rows and the trapezoid sums, vectorised (fewer
  replicates, per replicate). Before timing, its estimates on the data as
  given must match ferolin's (relative 1e-12).

The machine may be shared: times are the processes' CPU seconds, wall
seconds beside them.

Usage: python bench_bootstrap.py [--queries N] [--replicates B] [--ties none,4,mixed]
                                 [--runs R] [--numpy-replicates B] [--explicit-replicates B]
"""
import argparse
import json
import pathlib
import sys
import tempfile
import time

from bench_common import check_exe, medians, run, run_interleaved

HERE = pathlib.Path(__file__).resolve().parent
DEFAULT_EXE = HERE.parent / "build" / "bench" / "bench_bootstrap"
THRESHOLD = 0.5


def numpy_estimates(np, confidences, wrong, replicates, rng):
    """Returns (estimates, per-replicate AURCs) of the numpy bootstrap."""
    n = len(confidences)
    order = np.argsort(-confidences, kind="stable")
    sorted_conf = confidences[order]
    sorted_wrong = wrong[order].astype(np.int64)
    row_end = np.flatnonzero(np.append(sorted_conf[1:] != sorted_conf[:-1], True))
    accepted_end = np.searchsorted(-sorted_conf, -THRESHOLD, side="right")

    def figures(counts):
        accepted_run = np.cumsum(counts)
        errors_run = np.cumsum(counts * sorted_wrong)
        accepted = accepted_run[row_end]
        errors = errors_run[row_end]
        coverage = accepted / n
        risk = errors / np.maximum(accepted, 1)
        general = errors / n
        width = np.diff(coverage, prepend=0.0)
        aurc = np.sum((np.append(0.0, risk[:-1]) + risk) * width * 0.5)
        augrc = np.sum((np.append(0.0, general[:-1]) + general) * width * 0.5)
        a = (accepted[-1] - errors[-1]) / n
        eaurc = aurc - (np.log(a) * a + (1 - a)) if 0 < a < 1 else float("nan")
        acc_t = accepted_run[accepted_end - 1] if accepted_end else 0
        err_t = errors_run[accepted_end - 1] if accepted_end else 0
        return aurc, eaurc, augrc, acc_t / n, err_t / acc_t if acc_t else float("nan")

    estimates = figures(np.ones(n, dtype=np.int64))
    values = []
    for _ in range(replicates):
        counts = np.bincount(rng.integers(0, n, n), minlength=n)
        values.append(figures(counts))
    aurcs = [v[0] for v in values]
    interval = [float(np.percentile(aurcs, q)) for q in (2.5, 97.5)] if aurcs else []
    return estimates, interval


def numpy_child(path, n, replicates):
    """Runs in a child process: the numpy bootstrap on the dumped data."""
    import numpy as np

    raw = pathlib.Path(path).read_bytes()
    confidences = np.frombuffer(raw[: 8 * n], dtype=np.float64)
    wrong = np.frombuffer(raw[8 * n :], dtype=np.uint8) == 0
    start, cpu_start = time.perf_counter(), time.process_time()
    estimates, interval = numpy_estimates(np, confidences, wrong, replicates, np.random.default_rng(1))
    seconds, cpu = time.perf_counter() - start, time.process_time() - cpu_start
    print(json.dumps({"seconds": seconds, "cpu_seconds": cpu,
                      "cpu_ms_per_replicate": 1000 * cpu / max(replicates, 1),
                      "estimates": list(map(float, estimates)), "aurc_interval": interval}))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", type=pathlib.Path, default=DEFAULT_EXE)
    parser.add_argument("--queries", type=int, default=1_000_000)
    parser.add_argument("--replicates", type=int, default=1000)
    parser.add_argument("--numpy-replicates", type=int, default=20)
    parser.add_argument("--explicit-replicates", type=int, default=10)
    parser.add_argument("--ties", default="none,4,mixed")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--numpy-child", nargs=3, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.numpy_child:
        numpy_child(args.numpy_child[0], int(args.numpy_child[1]), int(args.numpy_child[2]))
        return
    check_exe(args.exe)
    try:
        import numpy  # noqa: F401
        have_numpy = True
    except ImportError:
        have_numpy = False
        print("numpy not installed: its measurement is skipped", file=sys.stderr)

    n = str(args.queries)
    with tempfile.TemporaryDirectory() as tmp:
        plan = []
        for ties in args.ties.split(","):
            plan.append((f"ferolin walk, ties {ties}",
                         [args.exe, "walk", n, str(args.replicates), ties], args.runs))
            plan.append((f"C++ explicit, ties {ties}",
                         [args.exe, "explicit", n, str(args.explicit_replicates), ties], args.runs))
            if not have_numpy:
                continue
            data = pathlib.Path(tmp) / f"data_{ties}.bin"
            expected = run([args.exe, "dump", n, ties, data])
            got = run([sys.executable, __file__, "--numpy-child", data, n, "0"])["estimates"]
            for name, want, value in zip(("aurc", "eaurc", "augrc", "coverage", "risk"),
                                         (expected[k] for k in ("aurc", "eaurc", "augrc",
                                                                "coverage", "risk")), got):
                if abs(value - want) > 1e-12 * max(1.0, abs(want)):
                    sys.exit(f"numpy {name} {value} differs from ferolin's {want} (ties {ties})")
            plan.append((f"numpy, ties {ties}",
                         [sys.executable, __file__, "--numpy-child", data, n,
                          str(args.numpy_replicates)], args.runs))
        results = run_interleaved(plan)

    keys = ("cpu_ms_per_replicate", "cpu_seconds", "seconds")
    table = {label: medians(runs, keys) for label, runs in results.items()}
    print(f"{args.queries:,} labelled queries; medians of {args.runs} runs")
    print(f"{'measurement':32} {'CPU ms/replicate':>17} {'CPU s':>8} {'wall s':>8}")
    for label, m in table.items():
        print(f"{label:32} {m['cpu_ms_per_replicate']:17.2f} {m['cpu_seconds']:8.2f} "
              f"{m['seconds']:8.2f}")
    for ties in args.ties.split(","):
        walk = table[f"ferolin walk, ties {ties}"]["cpu_ms_per_replicate"]
        for other in ("C++ explicit", "numpy"):
            label = f"{other}, ties {ties}"
            if label in table:
                ratio = table[label]["cpu_ms_per_replicate"] / walk
                print(f"ties {ties}: {other} / ferolin walk, CPU per replicate: {ratio:.1f}x")


if __name__ == "__main__":
    main()
