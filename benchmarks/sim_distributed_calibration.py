"""Exact calibration when the query pairs outgrow one machine: a simulation.

The pairs (confidence, top candidate wrong) of N labelled queries live in P
partitions of a Dask DataFrame on a LocalCluster. The calibration runs as it
would on a cluster, moving only small things to the client:

1. sort the pairs by confidence, highest first (Dask DataFrame
   sort_values: a sample for the quantile divisions, then a shuffle);
2. per partition, group equal confidences into rows (count, errors) and
   total them: P pairs of counts go to the client;
3. on the client, the exclusive prefix sums of the totals: each partition's
   offset, the accepted queries and errors above its first row; with the
   first and last confidence of each partition, so that a confidence that
   straddles two partitions makes one row, not two;
4. per partition, the walk: cumulative counts (offset + running sums), the
   calibration rule on every row, and the partition's last passing row;
   the client keeps the last of those, the widest passing row.

With --check, the pairs are also written as one per-query table and
calibrated by ferolin_tools on one machine; the thresholds must be equal.
Time and peak memory (the client's and each worker's) go to standard output
as JSON, one line per run.

    python3 benchmarks/sim_distributed_calibration.py --queries 1000000 --check
    python3 benchmarks/sim_distributed_calibration.py --queries 10000000
"""
import argparse
import json
import math
import os
import resource
import sys
import tempfile
import time

import numpy as np

Z = {0.90: 1.282, 0.95: 1.645, 0.975: 1.96, 0.99: 2.326}


def make_partition(seed, size, decimals):
    """One partition of pairs: confidences uniform in [0, 1) rounded to
    `decimals` (ties, as probabilities written with 4 digits have), wrong
    with probability 1 - confidence, and 1% without a confidence."""
    import pandas as pd

    rng = np.random.default_rng(seed)
    confidence = np.round(rng.random(size), decimals)
    wrong = rng.random(size) >= confidence
    confidence[rng.random(size) < 0.01] = np.nan
    return pd.DataFrame({"confidence": confidence, "wrong": wrong})


def passes(accepted, errors, total, rule, target, level):
    """The calibration rule on arrays of cumulative counts, in the core's
    order of operations (so the float results are the core's, bit for bit)."""
    n = accepted.astype(np.float64)
    e = errors.astype(np.float64)
    if rule == "binomial":
        z = Z[level]
        z2 = z * z
        p = e / n
        upper = (np.sqrt(z2 / ((n * 4) * n) + (1 - p) * p / n) * z + (p + z2 / (n * 2))) / (
            1 + z2 / n)
        return upper <= target
    risk = e / n
    if rule == "crc":
        adjusted = target - 1 / (float(total) + 1)
        return risk <= adjusted if adjusted > 0 else np.zeros(len(n), dtype=bool)
    return risk <= target


def partition_rows(frame):
    """Equal confidences of a sorted partition as rows, highest first."""
    import pandas as pd

    grouped = frame.groupby("confidence", sort=True).agg(n=("wrong", "size"),
                                                          e=("wrong", "sum"))
    grouped = grouped.iloc[::-1]
    return pd.DataFrame({"confidence": grouped.index.to_numpy(),
                         "n": grouped["n"].to_numpy(np.int64),
                         "e": grouped["e"].to_numpy(np.int64)})


def partition_summary(rows):
    import pandas as pd

    if len(rows) == 0:
        return pd.DataFrame({"n": [0], "e": [0], "first": [np.nan], "last": [np.nan]})
    return pd.DataFrame({"n": [int(rows["n"].sum())], "e": [int(rows["e"].sum())],
                         "first": [rows["confidence"].iloc[0]],
                         "last": [rows["confidence"].iloc[-1]]})


def last_passing(rows, offset_n, offset_e, next_first, total, rule, target, level):
    """The partition's last passing row: (threshold, accepted, errors), or
    nothing. A last row whose confidence goes on in the next partition is
    not a whole row here: the partition that ends it walks it."""
    import pandas as pd

    empty = pd.DataFrame({"threshold": [], "accepted": [], "errors": []})
    if len(rows) == 0:
        return empty
    accepted = offset_n + np.cumsum(rows["n"].to_numpy())
    errors = offset_e + np.cumsum(rows["e"].to_numpy())
    ok = passes(accepted, errors, total, rule, target, level)
    if rows["confidence"].iloc[-1] == next_first:
        ok[-1] = False
    hits = np.flatnonzero(ok)
    if len(hits) == 0:
        return empty
    i = hits[-1]
    return pd.DataFrame({"threshold": [rows["confidence"].iloc[i]], "accepted": [accepted[i]],
                         "errors": [errors[i]]})


def distributed_calibration(pairs, rule, target, level):
    """The four steps; returns the threshold (None when no row passes) and
    the seconds of each step."""
    import dask

    seconds = {}
    start = time.perf_counter()
    total = int(pairs.shape[0].compute())
    scored = pairs.dropna(subset=["confidence"])
    ordered = scored.sort_values("confidence", ascending=False).persist()
    dask.distributed.wait(ordered)
    seconds["sort"] = time.perf_counter() - start

    start = time.perf_counter()
    rows = ordered.map_partitions(partition_rows,
                                  meta={"confidence": "f8", "n": "i8", "e": "i8"}).persist()
    summaries = rows.map_partitions(partition_summary, meta={"n": "i8", "e": "i8",
                                                             "first": "f8",
                                                             "last": "f8"}).compute()
    seconds["rows and totals"] = time.perf_counter() - start

    start = time.perf_counter()
    counts_n = summaries["n"].to_numpy()
    counts_e = summaries["e"].to_numpy()
    offsets_n = np.concatenate([[0], np.cumsum(counts_n)[:-1]])
    offsets_e = np.concatenate([[0], np.cumsum(counts_e)[:-1]])
    firsts = summaries["first"].to_numpy()
    next_first = np.full(len(firsts), np.nan)
    following = np.nan
    for p in range(len(firsts) - 1, -1, -1):  # the next non-empty partition's first
        next_first[p] = following
        if counts_n[p] > 0:
            following = firsts[p]
    parts = rows.to_delayed()
    found = [dask.delayed(last_passing)(part, int(offsets_n[p]), int(offsets_e[p]),
                                        next_first[p], total, rule, target, level)
             for p, part in enumerate(parts)]
    candidates = [c for c in dask.compute(*found) if len(c)]
    seconds["prefix sums and walk"] = time.perf_counter() - start
    if not candidates:
        return None, seconds, total
    return float(candidates[-1]["threshold"].iloc[0]), seconds, total


def one_machine_threshold(pairs, rule, target, level):
    """ferolin_tools on one machine over the same pairs, written as a
    per-query table (as `ferolin scores` writes it)."""
    import ferolin_tools

    frame = pairs.compute()
    with tempfile.NamedTemporaryFile("w", suffix=".tsv", delete=False) as out:
        out.write("query_id\tcandidate_id\tscore\tis_correct\tcandidates\tmax-prob\n")
        labels = np.where(frame["wrong"].to_numpy(), "false", "true")
        cells = ["" if math.isnan(c) else repr(c) for c in frame["confidence"].tolist()]
        out.writelines(f"q{i}\tc\t0.0\t{label}\t2\t{cell}\n"
                       for i, (label, cell) in enumerate(zip(labels, cells)))
        path = out.name
    try:
        merged = ferolin_tools.read_scores([path])
        calibration = ferolin_tools.calibrate(merged, "max-prob", target, method=rule,
                                              confidence_level=level)
        return calibration.report.threshold
    finally:
        os.unlink(path)


def peak_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--queries", type=int, default=1_000_000)
    parser.add_argument("--partitions", type=int, default=16)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--decimals", type=int, default=4)
    parser.add_argument("--rule", default="binomial", choices=["empirical", "binomial", "crc"])
    parser.add_argument("--target", type=float, default=0.05)
    parser.add_argument("--level", type=float, default=0.95)
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--check", action="store_true",
                        help="also calibrate on one machine and compare")
    args = parser.parse_args()
    import dask.dataframe as dd
    from dask.distributed import Client, LocalCluster

    level = args.level if args.rule == "binomial" else None
    size = -(-args.queries // args.partitions)
    sizes = [min(size, args.queries - p * size) for p in range(args.partitions)]
    with LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                      dashboard_address=None, memory_limit=0) as cluster, \
            Client(cluster) as client:
        pairs = dd.from_map(make_partition, range(args.partitions), sizes,
                            [args.decimals] * args.partitions).persist()
        dask.distributed.wait(pairs)
        for run in range(args.runs):
            start = time.perf_counter()
            threshold, seconds, total = distributed_calibration(pairs, args.rule, args.target,
                                                                level)
            elapsed = time.perf_counter() - start
            workers = client.run(peak_mib)
            result = {"queries": total, "partitions": args.partitions, "workers": args.workers,
                      "rule": args.rule, "threshold": threshold, "seconds": elapsed,
                      "steps": seconds, "client_peak_mib": peak_mib(),
                      "worker_peak_mib": sorted(workers.values()),
                      "load": os.getloadavg()}
            if args.check and run == 0:
                expected = one_machine_threshold(pairs, args.rule, args.target, level)
                result["one_machine_threshold"] = expected
                result["equal"] = expected == threshold
            print(json.dumps(result), flush=True)
            if args.check and not result["equal"]:
                sys.exit("the distributed threshold differs from the one-machine threshold")


if __name__ == "__main__":
    import dask.distributed  # noqa: F401  (dask.distributed.wait above)

    main()
