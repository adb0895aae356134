"""Shows where compute_curve's time goes, in two ways.

1. Stages: the C++ program bench_curve runs each stage of the curve alone
   (read the file; our tokenizer; the checks of the cells; query lookup and
   summaries; the whole curve), each in a fresh process, interleaved; the
   differences of the medians are the cost of each step.
2. Samples (when `perf` is installed): `perf record -e cpu-clock` over one
   run of the whole curve, the samples of each function grouped into the
   same steps.
3. Instructions (with --callgrind ROWS, when valgrind is installed): the
   whole curve over the first ROWS rows under callgrind, which counts the
   instructions of each function exactly and repeatably, however loaded the
   machine; grouped by step, per row.

Builds nothing: configure with -DFEROLIN_BUILD_BENCHMARKS=ON first (and with
-DCMAKE_CXX_FLAGS=-g for instruction counts that tell inlined code apart).

Usage: python3 bench_curve_profile.py TABLE [--exe PATH] [--runs N] [--method margin]
                                     [--callgrind ROWS] [--no-stages]
"""
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

from bench_common import check_exe, medians, run_interleaved, table_parser

REPO = pathlib.Path(__file__).resolve().parent.parent
DEFAULT_EXE = REPO / "build" / "dev" / "bench_curve"

STAGES = [
    # mode, what the difference to the previous mode costs
    ("floor", "reading the file (read(2) into 1 MiB chunks)"),
    ("tokenizer", "our tokenizer (structural scan, record walker, checks)"),
    ("checked", "checks of the cells (converting only the rank and label)"),
    ("summaries", "query lookup (keyed hash) and per-query summaries"),
    ("curve", "scoring and the curve"),
]

# Steps of the profiles: patterns of a source file (callgrind names code
# inlined elsewhere by the file it comes from), then of a function (perf
# names only the function); the first step that matches wins.
STEPS = [
    ("tokenizer", r"csv_tokenizer|structural_scan|table_records|CsvTokenizer|TableRecords"
                  r"|scan::"),
    ("checks and conversion of the cells", r"cell_parsing|decimal_words|checked_row_source"
                                           r"|from_chars|parse_float|CheckedRowSource"),
    ("query lookup (keyed hash, id store)", r"query_index|keyed_hash|sip_hash|text_arena|memcmp"
                                            r"|QueryIndex"),
    ("per-query summaries", r"summary_record|query_summar|table_summaries|chunked_vector"
                            r"|text_slots|QuerySummaries|summarize_rows"),
    ("scoring and the curve", r"risk_coverage|total_order|stl_algo|metrics::|scoring::"),
    ("reading the file", r"file_reader|FileReader|\[k\]"),
]


def step_of(function, source=""):
    """The step of a function, given where its code comes from if known. The
    parameter types are left out: they name other steps' classes."""
    function = function.split("(")[0]
    for text in (source, function):
        for name, pattern in STEPS:
            if text and re.search(pattern, text):
                return name
    return "other"


def stage_table(args):
    exe, table = str(args.exe), str(args.table)
    plan = [(mode, [exe, mode, table, args.method], args.runs) for mode, _ in STAGES]
    results = run_interleaved(plan)
    seconds = {mode: medians(r, ("seconds",))["seconds"] for mode, r in results.items()}
    print(f"\n### Stages, medians of {args.runs} runs ({args.method})\n")
    print("| stage | seconds | step | step seconds | share of the curve |")
    print("|---|---:|---|---:|---:|")
    total = seconds["curve"]
    previous = 0.0
    for mode, step in STAGES:
        cost = seconds[mode] - previous
        print(f"| {mode} | {seconds[mode]:.2f} | {step} | {cost:.2f} | {cost / total:.1%} |")
        previous = seconds[mode]


def perf_table(args):
    if shutil.which("perf") is None:
        print("\nperf is not installed: no sampled profile", file=sys.stderr)
        return
    with tempfile.TemporaryDirectory() as directory:
        data = pathlib.Path(directory) / "perf.data"
        subprocess.run(["perf", "record", "-q", "-e", "cpu-clock", "-F", "2000", "-o", str(data),
                        str(args.exe), "curve", str(args.table), args.method],
                       check=True, stdout=subprocess.DEVNULL)
        report = subprocess.run(["perf", "report", "-i", str(data), "--stdio", "--no-children",
                                 "--sort", "sym"], check=True, capture_output=True, text=True)
    shares = {step: 0.0 for step, _ in STEPS} | {"other": 0.0}
    top = []
    for line in report.stdout.splitlines():
        match = re.match(r"\s+([\d.]+)%\s+(.*)$", line)
        if not match:
            continue
        share, symbol = float(match.group(1)), match.group(2).replace("[.] ", "").strip()
        step = step_of(symbol)
        shares[step] += share
        if len(top) < 12:
            top.append((share, symbol[:90], step))
    print(f"\n### Samples of one run of the whole curve ({args.method})\n")
    print("| step | share of the samples |\n|---|---:|")
    for step, share in sorted(shares.items(), key=lambda item: -item[1]):
        print(f"| {step} | {share:.1f}% |")
    print("\n| function | share | step |\n|---|---:|---|")
    for share, symbol, step in top:
        print(f"| `{symbol}` | {share:.2f}% | {step} |")


def callgrind_table(args):
    if shutil.which("valgrind") is None:
        print("\nvalgrind is not installed: no instruction counts", file=sys.stderr)
        return
    with tempfile.TemporaryDirectory() as directory:
        head = pathlib.Path(directory) / "head.csv"
        with open(args.table, "rb") as source, open(head, "wb") as out:
            for _ in range(args.callgrind + 1):
                line = source.readline()
                if not line:
                    break
                out.write(line)
        data = pathlib.Path(directory) / "callgrind.out"
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={data}",
                        str(args.exe), "curve", str(head), args.method],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        report = subprocess.run(["callgrind_annotate", "--inclusive=no", "--auto=no",
                                 "--threshold=100", str(data)], check=True,
                                capture_output=True, text=True)
    counts = {step: 0 for step, _ in STEPS} | {"other": 0}
    total = 0
    for line in report.stdout.splitlines():
        match = re.match(r"\s*([\d,]+) \([\s\d.]+%\)\s+(\S.*)$", line)
        if not match:
            continue
        count, where = int(match.group(1).replace(",", "")), match.group(2)
        if "PROGRAM TOTALS" in where:
            total = count
            continue
        # "file:function [object]"; a path holds no colon.
        source, _, function = where.partition(":")
        counts[step_of(function, source)] += count
    rows = args.callgrind
    print(f"\n### Instructions of the whole curve ({args.method}), first {rows} rows, callgrind\n")
    print("| step | instructions a row | share |\n|---|---:|---:|")
    for step, count in sorted(counts.items(), key=lambda item: -item[1]):
        print(f"| {step} | {count / rows:.0f} | {count / total:.1%} |")
    print(f"| all | {total / rows:.0f} | 100% |")


def main():
    parser = table_parser(__doc__, DEFAULT_EXE)
    parser.add_argument("--method", default="margin", help="policy name: margin, max_prob, ...")
    parser.add_argument("--callgrind", type=int, metavar="ROWS",
                        help="count instructions under callgrind over the first ROWS rows")
    parser.add_argument("--no-stages", action="store_true",
                        help="skip the timed stages and the sampled profile")
    args = parser.parse_args()
    check_exe(args.exe)
    if not args.no_stages:
        stage_table(args)
        perf_table(args)
    if args.callgrind:
        callgrind_table(args)


if __name__ == "__main__":
    main()
