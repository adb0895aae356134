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


def main(argv: Optional[list[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("shards", nargs="+", help="candidates tables, one per shard")
    parser.add_argument("--score", required=True)
    parser.add_argument("--error-rate", type=float, required=True)
    parser.add_argument("--method", default="empirical")
    parser.add_argument("--confidence-level", type=float)
    parser.add_argument("--decisions", required=True, help="folder for the decisions files")
    parser.add_argument("--policy", help="write the policy file here (default: the policy "
                                         "as JSON on standard output)")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    args = parser.parse_args(argv)

    from dask.distributed import Client, LocalCluster

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
