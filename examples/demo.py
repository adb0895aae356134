"""The main job on the bundled example data.

Scores the labelled example table with a few methods (risk-coverage curve,
AURC, E-AURC), calibrates a policy for a 5% error rate with each calibration
method, saves it, applies it to the unlabelled table and prints a summary.
"""
import math
import pathlib
import tempfile

import ferolin

DATA = pathlib.Path(__file__).resolve().parent / "data"
LABELLED = str(DATA / "labelled_candidates.csv")
NEW = str(DATA / "new_candidates.csv")
TARGET = 0.05
NO_THRESHOLD = 1.7976931348623157e308


def show_curves() -> str:
    """Prints AURC and E-AURC per scoring method; returns the best method's name."""
    print(f"Labelled table: {LABELLED}")
    print(f"{'score':<16}{'AURC':>8}{'E-AURC':>9}{'labelled queries':>18}{'scored':>8}")
    best, best_aurc = "", math.inf
    for score in ["max-prob", "margin", "score-gap", "topk-gap", "entropy", "candidate-count"]:
        curve = ferolin.compute_curve(LABELLED, score)
        aurc, eaurc = ferolin.aurc(curve), ferolin.eaurc(curve)
        last = curve[-1]
        print(f"{score:<16}{aurc:>8.4f}{eaurc:>9.4f}{last['total']:>18}{last['coverage']:>8.1%}")
        if aurc < best_aurc:
            best, best_aurc = score, aurc
    print("(E-AURC is nan where some queries cannot be scored: a few lack probabilities)")
    return best


def calibrate_and_apply(score: str, folder: pathlib.Path) -> None:
    print(f"\nPolicies for a {TARGET:.0%} error rate, scored by {score}, applied to {NEW}:")
    print(f"{'method':<11}{'threshold':>11}{'labelled coverage':>19}{'new accepted':>14}")
    for method, level in [("empirical", None), ("binomial", 0.95), ("crc", None)]:
        policy = ferolin.calibrate(LABELLED, score, TARGET, method, level)
        path = folder / f"policy-{method}.json"
        ferolin.save_policy(str(path), policy)
        decisions = ferolin.apply_policy(NEW, ferolin.load_policy(str(path)))
        accepted = sum(decision["accepted"] for decision in decisions)
        threshold = policy["threshold"]
        curve = ferolin.compute_curve(LABELLED, score)
        coverage = next((row["coverage"] for row in curve if row["threshold"] == threshold), 0.0)
        shown = "none" if threshold == NO_THRESHOLD else f"{threshold:.4f}"
        print(f"{method:<11}{shown:>11}{coverage:>19.1%}"
              f"{f'{accepted}/{len(decisions)}':>9} {accepted / len(decisions):>4.0%}")


def main() -> None:
    best = show_curves()
    with tempfile.TemporaryDirectory(prefix="ferolin-demo-") as folder:
        calibrate_and_apply(best, pathlib.Path(folder))


if __name__ == "__main__":
    main()
