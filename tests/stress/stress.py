"""Heavy inputs, run on demand (`make stress`), never in CI: a 1 GB quoted field
and ten million one-candidate queries. Each call runs in a child interpreter
whose wall time and peak resident memory are reported; a wrong result or a
failed call exits non-zero.

    python3 tests/stress/stress.py [--rows N] [--field-mib M] [--keep DIR]
"""
import argparse
import os
import subprocess
import sys
import tempfile
import textwrap
import time

HEADER = "query_id,candidate_id,rank,score,probability,is_correct,notes\n"
# 1 MiB of awkward field content: commas, doubled quotes, both line breaks;
# the cut at 1 MiB falls after a CR, not inside a doubled quote.
PIECE = ('a,b ""quoted"" \r\n' * 65536)[: 1 << 20]


def write_huge_field_table(path, mib, column):
    """One data row whose `column` (candidate_id or notes) is a quoted field of
    `mib` MiB; the other cells are plain."""
    with open(path, "w", newline="") as out:
        out.write(HEADER)
        cells = {"query_id": "q1", "candidate_id": "c1", "rank": "1", "score": "0.5",
                 "probability": "0.9", "is_correct": "true", "notes": ""}
        for name in HEADER.strip().split(","):
            if name != "query_id":
                out.write(",")
            if name == column:
                out.write('"')
                for _ in range(mib):
                    out.write(PIECE)
                out.write('"')
            else:
                out.write(cells[name])
        out.write("\n")


def write_many_queries_table(path, rows):
    """`rows` queries of one candidate each; probability (i % 1000) / 1000,
    correct for even i."""
    with open(path, "w", newline="") as out:
        out.write(HEADER)
        block = []
        for i in range(rows):
            block.append(f"q{i:08d},c{i},1,{i % 997},{(i % 1000) / 1000},"
                         f"{'true' if i % 2 == 0 else 'false'},\n")
            if len(block) == 100_000:
                out.write("".join(block))
                block.clear()
        out.write("".join(block))


def run_child(code):
    """Runs `code` in a fresh interpreter; returns (seconds, peak MiB, stdout)."""
    start = time.monotonic()
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True)
    stdout = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    seconds = time.monotonic() - start
    if child.returncode != 0:
        raise SystemExit(f"child failed with status {child.returncode}:\n{code}")
    return seconds, usage.ru_maxrss / 1024, stdout.strip()


def check(name, code, expected, results):
    seconds, peak, got = run_child(textwrap.dedent(code))
    ok = got == expected
    results.append((name, seconds, peak, ok))
    print(f"{name:58} {seconds:7.1f} s {peak:9.0f} MiB  {'ok' if ok else 'WRONG: ' + got}",
          flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=10_000_000)
    parser.add_argument("--field-mib", type=int, default=1024)
    parser.add_argument("--keep", help="folder for the generated tables (default: a temporary one)")
    args = parser.parse_args()
    folder = args.keep or tempfile.mkdtemp(prefix="ferolin-stress-")
    results = []
    # Each doubled quote in the file is one character of the value.
    size = len(PIECE.replace('""', '"')) * args.field_mib

    baseline = run_child("import ferolin")[1]
    print(f"{'interpreter with ferolin imported':58} {'':9} {baseline:9.0f} MiB", flush=True)

    for column in ("notes", "candidate_id"):
        path = os.path.join(folder, f"field_{column}.csv")
        write_huge_field_table(path, args.field_mib, column)
        check(f"{args.field_mib} MiB quoted {column}: apply_policy", f"""
            import ferolin
            [d] = ferolin.apply_policy({path!r}, {{"version": "0.1.0",
                "scoring_method": "max_prob", "threshold": 0.5, "target_error_rate": 0.05,
                "calibration_method": "empirical", "confidence_level": None,
                "created_by": "ferolin"}})
            print(d["query_id"], len(d["candidate_id"]), d["accepted"])
            """, f"q1 {size if column == 'candidate_id' else 2} True", results)
        os.remove(path)

    path = os.path.join(folder, "many_queries.csv")
    write_many_queries_table(path, args.rows)
    rows = args.rows
    check(f"{rows} one-candidate queries: compute_curve max-prob", f"""
        import ferolin
        curve = ferolin.compute_curve({path!r}, "max-prob")
        print(len(curve), curve[-1]["accepted"], curve[-1]["total"], curve[-1]["errors"])
        """, f"{min(rows, 1000)} {rows} {rows} {rows // 2}", results)
    check(f"{rows} one-candidate queries: calibrate candidate-count", f"""
        import ferolin
        policy = ferolin.calibrate({path!r}, "candidate-count", 0.5)
        print(policy["threshold"])
        """, "1.0", results)
    check(f"{rows} one-candidate queries: apply_policy", f"""
        import ferolin
        decisions = ferolin.apply_policy({path!r}, {{"version": "0.1.0",
            "scoring_method": "max_prob", "threshold": 0.5, "target_error_rate": 0.05,
            "calibration_method": "empirical", "confidence_level": None,
            "created_by": "ferolin"}})
        ids = [d["query_id"] for d in decisions]
        print(len(decisions), ids == sorted(ids), sum(d["accepted"] for d in decisions))
        """, f"{rows} True {sum(1 for i in range(rows) if i % 1000 >= 500)}", results)
    if not args.keep:
        os.remove(path)
        os.rmdir(folder)
    failed = [name for name, *_, ok in results if not ok]
    print(f"{len(results) - len(failed)} passed, {len(failed)} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
