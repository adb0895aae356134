"""How often a calibrated threshold's true risk exceeds the target: a simulation.

Each run draws n labelled queries whose confidence c is uniform on [0, 1] and
whose top candidate is wrong with probability f(c), for a known risk shape f;
the true risk of accepting every query with c >= t is then the mean of f over
[t, 1], known in closed form. The table is calibrated for a target error rate
by each calibration method, and the run counts as a miss when the true risk
at the chosen threshold exceeds the target. A run where no threshold meets
the target accepts nothing and is no miss.

The binomial method's Wilson bound holds for a threshold fixed in advance;
the calibrated threshold is the widest of many that pass, so its misses can
exceed 1 - level. The table printed (Markdown) is the one in the README.

    python3 benchmarks/sim_bound_coverage.py            # about a minute
    python3 benchmarks/sim_bound_coverage.py --runs 1000
"""
import argparse
import os
import sys
import tempfile

import numpy as np

from ferolin_tools.methods import NO_THRESHOLD
from ferolin_tools.tables import read_table

# name: (P(error | c), true risk of accepting c >= t)
SHAPES = {
    "1 - c": (lambda c: 1 - c, lambda t: (1 - t) / 2),
    "(1 - c)^2": (lambda c: (1 - c) ** 2, lambda t: (1 - t) ** 2 / 3),
    "(1 - c)^4": (lambda c: (1 - c) ** 4, lambda t: (1 - t) ** 4 / 5),
}
METHODS = (("empirical", None), ("binomial", 0.95), ("crc", None))


def write_table(path, confidences, wrong):
    """One candidate per query, its probability the confidence (max-prob)."""
    lines = ["query_id,candidate_id,rank,score,probability,is_correct"]
    lines += [f"q{i},c{i},1,{c!r},{c!r},{'false' if w else 'true'}"
              for i, (c, w) in enumerate(zip(confidences.tolist(), wrong.tolist()))]
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n")


def misses(shape, n, runs, target, seed, folder):
    """The share of runs, per method, whose true risk exceeds the target."""
    chance, true_risk = SHAPES[shape]
    rng = np.random.default_rng(seed)
    counts = dict.fromkeys((name for name, _ in METHODS), 0)
    path = os.path.join(folder, "run.csv")
    for _ in range(runs):
        confidences = rng.uniform(0.0, 1.0, n)
        write_table(path, confidences, rng.uniform(0.0, 1.0, n) < chance(confidences))
        table = read_table(path, ["max-prob"])
        for name, level in METHODS:
            threshold = table.choose_threshold(0, target, name, level).threshold
            if threshold not in (None, NO_THRESHOLD) and true_risk(max(threshold, 0.0)) > target:
                counts[name] += 1
    return {name: count / runs for name, count in counts.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("--sizes", type=int, nargs="+", default=[200, 500, 1000, 5000])
    parser.add_argument("--target", type=float, default=0.05)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    print(f"Share of {args.runs} runs whose true risk at the calibrated threshold exceeds "
          f"the target {args.target:g} (binomial at level 0.95):\n")
    print("| P(error given c) | n | empirical | binomial 0.95 | crc |")
    print("|---|---:|---:|---:|---:|")
    with tempfile.TemporaryDirectory() as folder:
        for s, shape in enumerate(SHAPES):
            for n in args.sizes:
                share = misses(shape, n, args.runs, args.target, args.seed + 1000 * s + n,
                               folder)
                print(f"| {shape} | {n:,} | " + " | ".join(
                    f"{share[name]:.0%}" for name, _ in METHODS) + " |")
                sys.stdout.flush()


if __name__ == "__main__":
    main()
