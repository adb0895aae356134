"""Calibrate over a result written as many shards, on Dask.

Each shard (a candidates table: CSV or TSV, gzip or not) is scored on a Dask
worker, where it lies; only its per-query pairs (the id, the label and the
confidence of each query: about 10 bytes a query beside the ids) travel to
the client, which merges them and calibrates one policy over all of them;
the workers then apply the policy to their shards and write one decisions
file per shard. The policy is the one `ferolin calibrate` gives on all the
shards' rows in one table, bit for bit, provided that every query has all
its rows in one shard (a query id found in two shards is an error).

    pip install '.[dask]'
    python examples/dask_shards.py --score topk-gap --error-rate 0.05 \\
        --decisions decisions/ shards/part-*.csv.gz
    # on a running cluster: --scheduler tcp://scheduler:8786 (the workers
    # need ferolin installed, and the shards at the same paths)

Without --scheduler it starts a LocalCluster of one worker process per core.

A result already held as a Dask DataFrame (for example a Parquet dataset read
on the cluster with dask.dataframe.read_parquet) is scored the same way,
partition by partition where each lies: `score_shard` on every partition
(a pandas DataFrame, read through the Arrow C stream interface), then one
merge and one calibration on the client (calibrate_dask_frame). Every query
must have its rows in one partition: a query whose rows span two partitions
is the error of a query found in two shards.

    python examples/dask_shards.py --score topk-gap --error-rate 0.05 \
        --parquet 'result/*.parquet'
"""
from __future__ import annotations

import argparse
import json
import os
import sys
from typing import Any, Optional, Sequence

import ferolin_tools


def decisions_path(shard: str, folder: str) -> str:
    """decisions/part-003.decisions.tsv for shards/part-003.csv.gz."""
    name = os.path.basename(shard)
    for suffix in (".gz", ".gzip", ".csv", ".tsv", ".tab", ".txt"):
        if name.lower().endswith(suffix):
            name = name[: -len(suffix)]
    return os.path.join(folder, f"{name}.decisions.tsv")


def calibrate_on_dask(client: Any, shards: Sequence[str], score: str, error_rate: float,
                      decisions: str, method: str = "empirical",
                      confidence_level: Optional[float] = None
                      ) -> tuple[ferolin_tools.Calibration, list[dict[str, Any]]]:
    """Scores `shards` on the workers of `client`, calibrates on the client,
    applies the policy on the workers (one decisions file per shard in the
    folder `decisions`). Returns the calibration and one summary per shard."""
    # Shard paths are unique; pure=False keeps Dask from merging equal calls.
    pairs = client.gather(client.map(ferolin_tools.score_shard, shards, methods=[score],
                                     pure=False))
    merged = ferolin_tools.merge_shards(pairs)
    calibration = ferolin_tools.calibrate(merged, score, error_rate, method=method,
                                          confidence_level=confidence_level)
    outputs = [decisions_path(shard, decisions) for shard in shards]
    if len(set(outputs)) != len(outputs):
        raise ValueError("two shards would write the same decisions file; rename the shards")
    # Every shard's old decisions go before any new ones are written: a run
    # whose workers die leaves no earlier run's decisions in their place.
    client.gather(client.map(ferolin_tools.shards.remove_stale, outputs, pure=False))
    policies = [calibration.policy] * len(shards)
    summaries = client.gather(client.map(ferolin_tools.apply_shard, shards, policies, outputs,
                                         pure=False))
    return calibration, summaries


def score_partition(partition: Any, score: str, name: str) -> ferolin_tools.ShardPairs:
    """One partition's queries, packed (on the worker that holds it)."""
    if not hasattr(partition, "__arrow_c_stream__"):  # pandas before 2.2
        import pyarrow

        partition = pyarrow.Table.from_pandas(partition, preserve_index=False)
    return ferolin_tools.score_shard(partition, [score], name=name)


def calibrate_dask_frame(client: Any, frame: Any, score: str, error_rate: float,
                         method: str = "empirical", confidence_level: Optional[float] = None
                         ) -> ferolin_tools.Calibration:
    """Scores every partition of the Dask DataFrame `frame` on the worker
    that holds it, merges the packed queries on the client and calibrates one
    policy over all of them; TableError for a query in two partitions."""
    import dask

    tasks = [dask.delayed(score_partition)(part, score, f"partition {number}")
             for number, part in enumerate(frame.to_delayed())]
    pairs = client.gather(client.compute(tasks))
    merged = ferolin_tools.merge_shards(pairs)
    return ferolin_tools.calibrate(merged, score, error_rate, method=method,
                                   confidence_level=confidence_level)


def main(argv: Optional[list[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("shards", nargs="*", help="candidates tables, one per shard")
    parser.add_argument("--parquet", help="instead of shards: a Parquet dataset (a path or "
                                          "glob) read as one Dask DataFrame, scored "
                                          "partition by partition (no decisions files)")
    parser.add_argument("--score", required=True)
    parser.add_argument("--error-rate", type=float, required=True)
    parser.add_argument("--method", default="empirical")
    parser.add_argument("--confidence-level", type=float)
    parser.add_argument("--decisions", help="folder for the decisions files")
    parser.add_argument("--policy", help="write the policy file here (default: the policy "
                                         "as JSON on standard output)")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    args = parser.parse_args(argv)
    if not args.parquet and not (args.shards and args.decisions):
        parser.error("give shards and --decisions, or --parquet")

    from dask.distributed import Client, LocalCluster

    if args.parquet:
        import dask.dataframe

        client = (Client(args.scheduler) if args.scheduler else
                  Client(LocalCluster(threads_per_worker=1, dashboard_address=None)))
        with client:
            calibration = calibrate_dask_frame(
                client, dask.dataframe.read_parquet(args.parquet), args.score, args.error_rate,
                args.method, args.confidence_level)
        print("\n".join(calibration.report.lines() + calibration.report.warnings()),
              file=sys.stderr)
        json.dump(calibration.policy, sys.stdout, indent=2)
        print()
        return 0
    os.makedirs(args.decisions, exist_ok=True)
    shards = [os.path.abspath(shard) for shard in args.shards]
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        client = Client(LocalCluster(threads_per_worker=1, dashboard_address=None))
    with client:
        calibration, summaries = calibrate_on_dask(
            client, shards, args.score, args.error_rate, args.decisions, args.method,
            args.confidence_level)
    print("\n".join(calibration.report.lines() + calibration.report.warnings()), file=sys.stderr)
    for summary in summaries:
        print(f"{summary['decisions']}: {summary['accepted']} of {summary['queries']} accepted",
              file=sys.stderr)
    if args.policy:
        calibration.save(args.policy)  # with the record of what it rests on, the shards named
    else:
        json.dump(calibration.policy, sys.stdout, indent=2)
        print()
    return 0


if __name__ == "__main__":
    sys.exit(main())
