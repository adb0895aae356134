"""The `ferolin` command: curve, calibrate and apply for pipelines.

Results go to standard output, diagnostics to standard error. Exit status: 0
on success, 2 on a usage error, 1 on a data error (an unreadable table or
policy), whose message is ferolin's own text.
"""
import argparse
import contextlib
import os
import shutil
import stat
import sys
import tempfile
from importlib import metadata

import ferolin
from ferolin_tools import output

SCORE_NAMES = ["max-prob", "max_prob", "score-gap", "score_gap", "margin", "entropy",
               "score-ratio", "score_ratio", "topk-gap", "topk_gap", "effective-k",
               "effective_k", "candidate-count", "candidate_count"]
HYPHEN_NAMES = [name for name in SCORE_NAMES if "_" not in name]
METHODS = ["empirical", "binomial", "crc"]
NO_THRESHOLD = 1.7976931348623157e308


class StoreOnce(argparse.Action):
    """Stores an option's value and refuses a second one."""

    def __call__(self, parser, namespace, values, option_string=None):
        if getattr(namespace, self.dest, None) is not None:
            parser.error(f"{option_string} may be given only once here")
        setattr(namespace, self.dest, values)


class DataError(Exception):
    """A failure of the data, reported with exit status 1."""


def add_curve_parser(subparsers):
    parser = subparsers.add_parser(
        "curve", help="risk-coverage curve of a labelled table",
        description="Print the risk-coverage curve of a labelled candidates table as TSV "
                    "(or JSON); AURC and E-AURC go to standard error (or into the JSON).",
        epilog="example: ferolin curve labelled.csv --score margin --score max-prob > curve.tsv",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("table", help="candidates table (CSV) with an is_correct column")
    parser.add_argument("--score", action="append", required=True, choices=SCORE_NAMES,
                        metavar="NAME",
                        help="scoring method (" + ", ".join(HYPHEN_NAMES) + "); repeat for "
                             "several curves")
    parser.add_argument("--format", choices=["tsv", "json"], default="tsv")
    parser.add_argument("--plot", metavar="PNG", help="also draw the curves into a PNG file")
    parser.set_defaults(run=run_curve)


def add_calibrate_parser(subparsers):
    parser = subparsers.add_parser(
        "calibrate", help="calibrate a policy for a target error rate",
        description="Choose the confidence threshold that keeps the error rate of accepted "
                    "queries within the target, and write it as a JSON policy.",
        epilog="example: ferolin calibrate labelled.csv --score margin --error-rate 0.05 "
               "--method binomial --confidence-level 0.95 -o policy.json",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("table", help="candidates table (CSV) with an is_correct column")
    parser.add_argument("--score", required=True, choices=SCORE_NAMES, metavar="NAME",
                        action=StoreOnce, help="scoring method: " + ", ".join(HYPHEN_NAMES))
    parser.add_argument("--error-rate", required=True, type=float, metavar="X",
                        help="target error rate among accepted queries, e.g. 0.05")
    parser.add_argument("--method", choices=METHODS, default="empirical")
    parser.add_argument("--confidence-level", type=float, metavar="L",
                        help="confidence level of the binomial method: 0.90, 0.95, 0.975 or 0.99")
    parser.add_argument("-o", "--output", metavar="POLICY.json",
                        help="policy file to write (default: standard output)")
    parser.add_argument("--plot", metavar="PNG", help="also draw the curve and threshold")
    parser.set_defaults(run=run_calibrate, parser=parser)


def add_apply_parser(subparsers):
    parser = subparsers.add_parser(
        "apply", help="accept or reject each query of a new table",
        description="Apply a policy to a candidates table: one TSV row per query with its "
                    "top candidate, confidence and decision; a summary on standard error.",
        epilog="example: ferolin apply new.csv policy.json | awk -F'\\t' '$4 == \"true\"'",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("table", help="candidates table (CSV); labels are not needed")
    parser.add_argument("policy", help="policy file written by `ferolin calibrate`")
    parser.add_argument("-o", "--output", metavar="DECISIONS.tsv",
                        help="decisions file to write (default: standard output)")
    parser.set_defaults(run=run_apply)


def build_parser():
    parser = argparse.ArgumentParser(
        prog="ferolin",
        description="How far to trust the top-ranked candidate annotation of each query.",
        epilog="example: ferolin calibrate labelled.csv --score margin --error-rate 0.05 "
               "-o policy.json && ferolin apply new.csv policy.json > decisions.tsv",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action="version", version=metadata.version("ferolin"))
    subparsers = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    add_curve_parser(subparsers)
    add_calibrate_parser(subparsers)
    add_apply_parser(subparsers)
    return parser


def call(function, *args):
    """Calls a module function; its data errors become DataError."""
    try:
        return function(*args)
    except (RuntimeError, ValueError) as error:
        raise DataError(str(error)) from error


def load_plot():
    from ferolin_tools import plot

    try:
        plot._pyplot()
    except plot.PlotUnavailable as error:
        raise DataError(str(error)) from error
    return plot


@contextlib.contextmanager
def readable_again(path, reads):
    """Yields a path that can be read `reads` times. A pipe (a process
    substitution such as <(zcat table.csv.gz), /dev/stdin) can be read only
    once: the second read would find it empty. It is copied into a temporary
    file of the same name; any other path is yielded as it is."""
    try:
        is_pipe = stat.S_ISFIFO(os.stat(path).st_mode)
    except OSError:
        is_pipe = False  # ferolin reports the error with its own text
    if reads < 2 or not is_pipe:
        yield path
        return
    with tempfile.TemporaryDirectory(prefix="ferolin-") as folder:
        copy = os.path.join(folder, os.path.basename(path) or "table")
        try:
            with open(path, "rb") as source, open(copy, "wb") as target:
                shutil.copyfileobj(source, target)
        except OSError as error:
            raise DataError(f"cannot read {path}: {error.strerror}") from error
        yield copy


def run_curve(args):
    with readable_again(args.table, len(args.score)) as table:
        print_curves(args, table)


def print_curves(args, table):
    plot = load_plot() if args.plot else None
    curves = [(score, call(ferolin.compute_curve, table, score)) for score in args.score]
    summaries = [(score, ferolin.aurc(curve), ferolin.eaurc(curve)) for score, curve in curves]
    if args.format == "json":
        output.write_json(sys.stdout, [
            {"score": score, "aurc": aurc, "eaurc": eaurc, "curve": curve}
            for (score, curve), (_, aurc, eaurc) in zip(curves, summaries)])
    else:
        output.write_curve_tsv(sys.stdout, curves)
        for score, aurc, eaurc in summaries:
            print(f"{score}: AURC {output.number_text(aurc)}  "
                  f"E-AURC {output.number_text(eaurc)}", file=sys.stderr)
    if plot:
        ax = None
        for (score, curve), (_, aurc, _) in zip(curves, summaries):
            ax = plot.plot_risk_coverage(curve, ax, label=f"{score} (AURC {aurc:.4f})")
        plot.save_figure(ax, args.plot)


def run_calibrate(args):
    plot = load_plot() if args.plot else None
    with readable_again(args.table, 2) as table:
        policy = call(ferolin.calibrate, table, args.score, args.error_rate, args.method,
                      args.confidence_level)
        curve = call(ferolin.compute_curve, table, args.score)
    if args.output:
        call(ferolin.save_policy, args.output, policy)
    else:
        write_policy_to_stdout(policy)
    report_calibration(policy, curve)
    if plot:
        ax = plot.plot_risk_coverage(curve, label=args.score, target=args.error_rate,
                                     threshold=policy["threshold"])
        plot.save_figure(ax, args.plot)


def write_policy_to_stdout(policy):
    # save_policy replaces its target by renaming a new file over it, so it is
    # never given /dev/stdout: that would replace whatever stdout points to.
    with tempfile.TemporaryDirectory(prefix="ferolin-") as folder:
        path = os.path.join(folder, "policy.json")
        call(ferolin.save_policy, path, policy)
        with open(path, "rb") as handle:
            shutil.copyfileobj(handle, sys.stdout.buffer)
    sys.stdout.buffer.write(b"\n")
    sys.stdout.flush()


def report_calibration(policy, curve):
    threshold = policy["threshold"]
    chosen = [row for row in curve if row["threshold"] == threshold]
    if threshold == NO_THRESHOLD or not chosen:
        print("warning: no threshold meets the target error rate; the policy rejects every "
              "query", file=sys.stderr)
        return
    row = chosen[-1]
    print(f"threshold {output.number_text(threshold)}: accepts {row['accepted']} of "
          f"{row['total']} labelled queries (coverage {row['coverage']:.4f}), observed risk "
          f"{row['risk']:.4f}", file=sys.stderr)


def run_apply(args):
    policy = call(ferolin.load_policy, args.policy)
    decisions = call(ferolin.apply_policy, args.table, policy)
    if args.output:
        try:
            with open(args.output, "w", newline="", encoding="utf-8") as handle:
                output.write_decisions_tsv(handle, decisions)
        except OSError as error:
            raise DataError(f"cannot write {args.output}: {error.strerror}") from error
    else:
        output.write_decisions_tsv(sys.stdout, decisions)
    accepted = sum(decision["accepted"] for decision in decisions)
    share = accepted / len(decisions) if decisions else 0.0
    print(f"queries {len(decisions)}, accepted {accepted} ({share:.1%})", file=sys.stderr)


def main(argv=None):
    args = build_parser().parse_args(argv)
    if getattr(args, "method", None) == "binomial" and args.confidence_level is None:
        args.parser.error("--method binomial needs --confidence-level")  # exits with 2
    try:
        args.run(args)
        sys.stdout.flush()
    except DataError as error:
        print(error, file=sys.stderr)
        return 1
    except BrokenPipeError:
        # The reader went away (`| head`): end quietly, without a traceback.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return 0
    return 0
