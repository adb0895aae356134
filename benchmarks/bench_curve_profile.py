"""Shows where compute_curve's time goes, in two ways.

1. Stages: the C++ program bench_curve runs each stage of the curve alone
   (read the file; our tokenizer; conversion; query lookup and summaries;
   the whole curve), each in a fresh process, interleaved; the
   differences of the medians are the cost of each step.
2. Samples (when `perf` is installed): `perf record -e cpu-clock` over one
   run of the whole curve, the samples of each function grouped into the
   same steps.

Builds nothing: configure with -DFEROLIN_BUILD_BENCHMARKS=ON first.

Usage: python3 bench_curve_profile.py TABLE [--exe PATH] [--runs N] [--method margin]
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
    ("count", "conversion and checks of the cells"),
    ("summaries", "query lookup (hash map) and per-query summaries"),
    ("curve", "scoring and the curve"),
]

# Function name patterns of each step, tried in order; the first match wins.
STEPS = [
    ("reading the file (kernel)", r"\[k\]"),
    ("hashing and the map", r"_Hashtable|_Hash_bytes|summary_for|memcmp|_Prime_rehash"),
    ("per-query summary", r"add_candidate|view_of|QuerySummaries::add|summarize_table|log"
                          r"|take_unordered|malloc|free|_int_|unlink_chunk"),
    ("scoring and curve", r"risk_coverage|metrics::|introsort|insertion_sort|scoring::"),
    ("conversion", r"from_chars|parse_float|parse_rank|parse_bool|CandidateRowSource"
                   r"|convert_record|set_cell"),
    ("our tokenizer", r"CsvTokenizer|scan_window|read_exactly|next_record|utf8|memmove|memcpy"),
]


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
        step = next((name for name, pattern in STEPS if re.search(pattern, symbol)), "other")
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


def main():
    parser = table_parser(__doc__, DEFAULT_EXE)
    parser.add_argument("--method", default="margin", help="policy name: margin, max_prob, ...")
    args = parser.parse_args()
    check_exe(args.exe)
    stage_table(args)
    perf_table(args)


if __name__ == "__main__":
    main()
