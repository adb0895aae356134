"""Writes the bundled example tables: a labelled structure-search result and an
unlabelled one, generated with a fixed seed (standard library only), and a
labelled result measured in two ionisation modes whose search scores run on
different scales.

Each query stands for one measured MS/MS spectrum; its candidates are
structures of the same molecular formula, ranked by a search score. As in real
structure search, the correct structure is usually, but not always, among the
candidates; it wins more often when it stands out from the runner-up, so the
top-1 correctness depends on the margin between the first two candidates.

    python examples/generate_examples.py [--out examples/data]
"""
import argparse
import csv
import math
import pathlib
import random

SEED = 20261207
LABELLED_QUERIES = 2000
UNLABELLED_QUERIES = 1000
# The two-mode table: its own seed, so the other two tables stay as they are.
MODES_SEED = SEED + 1
MODES_QUERIES = 1000
# Negative-mode scores run on a wider scale: the same gap between the first
# two candidates says less there than in positive mode.
MODE_SCALES = {"positive": 1.0, "negative": 2.0}

ATOMS = ["C", "C", "C", "C", "N", "O", "c1ccccc1", "C(=O)O", "O", "N", "Cl", "F", "S"]
UPPER = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"


def random_smiles(rng):
    """A plausible-looking SMILES string of 15 to 40 characters."""
    parts = []
    length = rng.randint(15, 40)
    while sum(map(len, parts)) < length:
        atom = rng.choice(ATOMS)
        if rng.random() < 0.15:
            atom = f"[C@@H]({atom})" if rng.random() < 0.5 else f"({atom})"
        parts.append(atom)
    return "".join(parts)[:40]


def random_inchikey(rng):
    first = "".join(rng.choice(UPPER) for _ in range(14))
    second = "".join(rng.choice(UPPER) for _ in range(8))
    return f"{first}-{second}SA-N"


def random_formula(rng):
    formula = f"C{rng.randint(5, 40)}H{rng.randint(4, 70)}"
    for element, most in (("N", 5), ("O", 10), ("S", 2), ("Cl", 2)):
        count = rng.randint(0, most)
        if count:
            formula += element + (str(count) if count > 1 else "")
    return formula


def candidate_count(rng):
    """5 to 50 candidates, most lists short, as for formulas with few isomers."""
    return min(50, 5 + int(rng.expovariate(1 / 8)))


def softmax(scores, temperature):
    top = max(scores)
    weights = [math.exp((s - top) / temperature) for s in scores]
    total = sum(weights)
    return [w / total for w in weights]


def make_query(rng, index, scale=1.0):
    """Returns the candidate rows of one query, best score first; `scale`
    stretches its scores (and so sharpens its probabilities)."""
    query_id = f"CCMSLIB{index:011d}"
    formula = random_formula(rng)
    n = candidate_count(rng)
    # How well the search separates the true structure from decoys varies by
    # spectrum: informative spectra lift the true structure far ahead.
    separation = rng.gauss(1.6, 1.0)
    has_true = rng.random() < 0.9
    true_index = rng.randrange(n) if has_true else -1
    scores = []
    for i in range(n):
        score = rng.gauss(0.0, 1.0)
        if i == true_index:
            score += separation
        scores.append(round(score * scale, 6))
    probabilities = softmax(scores, temperature=0.7)
    with_probabilities = rng.random() >= 0.03
    target = random_inchikey(rng)
    rows = []
    for i, (score, probability) in enumerate(zip(scores, probabilities)):
        rows.append({
            "query_id": query_id,
            "candidate_id": f"PubChem:{rng.randint(1000, 170000000)}",
            "score": score,
            "probability": f"{probability:.6g}" if with_probabilities else "",
            "smiles": random_smiles(rng),
            "inchikey": target if i == true_index else random_inchikey(rng),
            "formula": formula,
            "target_inchikey": target,
            "is_correct": "true" if i == true_index else "false",
        })
    rows.sort(key=lambda row: -row["score"])
    for rank, row in enumerate(rows, start=1):
        row["rank"] = rank
    return rows


def write_table(path, rows, columns):
    with open(path, "w", newline="", encoding="utf-8") as handle:
        writer = csv.DictWriter(handle, fieldnames=columns, extrasaction="ignore",
                                lineterminator="\n")
        writer.writeheader()
        writer.writerows(rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=pathlib.Path(__file__).parent / "data", type=pathlib.Path)
    args = parser.parse_args()
    args.out.mkdir(parents=True, exist_ok=True)
    rng = random.Random(SEED)
    labelled = [row for q in range(LABELLED_QUERIES) for row in make_query(rng, q)]
    unlabelled = [row for q in range(LABELLED_QUERIES, LABELLED_QUERIES + UNLABELLED_QUERIES)
                  for row in make_query(rng, q)]
    common = ["query_id", "candidate_id", "rank", "score", "probability", "smiles", "inchikey",
              "formula"]
    write_table(args.out / "labelled_candidates.csv", labelled,
                common + ["target_inchikey", "is_correct"])
    write_table(args.out / "new_candidates.csv", unlabelled, common)
    write_table(args.out / "two_modes_candidates.csv", two_modes(),
                ["query_id", "candidate_id", "rank", "score", "probability", "ion_mode",
                 "is_correct"])


def two_modes():
    """The rows of the two-mode table: 60% of its queries in positive mode."""
    rng = random.Random(MODES_SEED)
    rows = []
    for q in range(MODES_QUERIES):
        mode = "positive" if rng.random() < 0.6 else "negative"
        for row in make_query(rng, 3000 + q, MODE_SCALES[mode]):
            rows.append({**row, "ion_mode": mode})
    return rows


if __name__ == "__main__":
    main()
