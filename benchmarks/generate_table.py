"""Writes a realistic candidates table for the reader benchmark.

The default table has about 10 million rows in 200,000 queries (1 to 100
candidates each) and takes about 1.6 GB: SMILES of 20 to 60 characters,
27-character InChIKeys, formulas, probabilities, labels, and a few quoted
fields (candidate names with commas or quotes). The output depends only on
the seed. Standard library only.

--max-candidates 1 --narrow writes a table of one-candidate queries with
only the columns the curve reads (2 million rows take about 90 MB), where
the memory kept per query, not per row, dominates. Query ids are "spec_"
and the query's number in --id-digits digits (6 by default): 7 keep 2
million ids in ascending order. --shuffle writes the same rows in a random
order (a query's rows scattered, the ids in no order).

Usage: python3 generate_table.py OUT.csv [--rows N] [--seed S]
                                 [--max-candidates N] [--narrow]
                                 [--id-digits N] [--shuffle]
"""
import argparse
import random
import string

HEADER = ("query_id,candidate_id,rank,score,probability,smiles,inchikey,"
          "formula,target_inchikey,is_correct\n")
NARROW_HEADER = "query_id,candidate_id,rank,score,probability,is_correct\n"
SMILES_ALPHABET = "CCCCCCccccNNOOS()=#123[]@H+-/\\lBrF"
UPPER = string.ascii_uppercase
POOL_SIZE = 300_000


def inchikey(rng):
    return ("".join(rng.choices(UPPER, k=14)) + "-" + "".join(rng.choices(UPPER, k=8))
            + "SA-" + rng.choice("NMO"))


def formula(rng):
    parts = [f"C{rng.randint(2, 60)}", f"H{rng.randint(2, 90)}"]
    for element in ("N", "O", "S", "Cl"):
        if rng.random() < 0.5:
            parts.append(f"{element}{rng.randint(1, 9)}")
    return "".join(parts)


def structure(rng):
    """One candidate structure: its id, SMILES, InChIKey and formula cells."""
    smiles = "".join(rng.choices(SMILES_ALPHABET, k=rng.randint(20, 60)))
    cid = f"CID{rng.randint(1, 170_000_000)}"
    roll = rng.random()
    if roll < 0.01:
        cid = f'"{cid}, isomer {rng.randint(1, 9)}"'
    elif roll < 0.015:
        cid = f'"{cid} ""trans"""'
    if rng.random() < 0.05:
        smiles = f'"{smiles}"'
    return f"{cid},", f",{smiles},{inchikey(rng)},{formula(rng)},"


def query_rows(rng, query_id, count, pool, narrow):
    target = inchikey(rng)
    labelled = rng.random() < 0.9
    correct = rng.randint(1, count)
    scores = sorted((rng.random() for _ in range(count)), reverse=True)
    total = sum(scores)
    rows = []
    for rank, score in enumerate(scores, start=1):
        head, tail = pool[rng.randrange(len(pool))]
        label = ("true" if rank == correct else "false") if labelled else ""
        probability = score / total
        if narrow:
            tail, target = "", ""
            if count == 1:
                # A lone candidate is right as often as its probability says.
                probability = score
                label = ("true" if rng.random() < score else "false") if labelled else ""
        rows.append(f"{query_id},{head}{rank},{score:.6f},{probability:.4g}"
                    f"{tail}{target},{label}\n")
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--rows", type=int, default=10_100_000,
                        help="stop after this many rows (default about 10 million)")
    parser.add_argument("--seed", type=int, default=20240601)
    parser.add_argument("--max-candidates", type=int, default=100,
                        help="candidates of a query: 1 to this many (default 100)")
    parser.add_argument("--narrow", action="store_true",
                        help="only query_id, candidate_id, rank, score, probability, is_correct")
    parser.add_argument("--id-digits", type=int, default=6,
                        help="digits of the query numbers in the ids (default 6)")
    parser.add_argument("--shuffle", action="store_true",
                        help="write the rows in a random order")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    pool = [structure(rng) for _ in range(min(POOL_SIZE, max(args.rows, 1)))]
    written = 0
    query_number = 0
    with open(args.out, "w", encoding="utf-8", newline="") as out:
        out.write(NARROW_HEADER if args.narrow else HEADER)
        # Shuffled rows are all held, then written at once.
        held = []
        while written < args.rows:
            count = min(rng.randint(1, args.max_candidates), args.rows - written)
            query_id = f"spec_{query_number:0{args.id_digits}d}"
            rows = query_rows(rng, query_id, count, pool, args.narrow)
            if args.shuffle:
                held.extend(rows)
            else:
                out.writelines(rows)
            written += count
            query_number += 1
        rng.shuffle(held)
        out.writelines(held)
    print(f"{args.out}: {written} rows, {query_number} queries")


if __name__ == "__main__":
    main()
