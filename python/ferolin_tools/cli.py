"""The `ferolin` command: compare, calibrate, apply, curve and scores.

Results go to standard output (or -o), diagnostics to standard error. Exit
status: 0 on success, 2 on a usage error (bad arguments, an output path
that cannot be written), 1 on a data error (a table or policy that cannot
be read or used as asked), with a message that names the file and the cause.
"""
from __future__ import annotations

import argparse
import os
import signal
import sys
from importlib import metadata
from types import ModuleType
from typing import Any, Callable, Optional, Sequence

from ferolin_tools import (analysis, api, batches, diagnostics, groups, intervals, output,
                           policies, shards, wording)
from ferolin_tools import confidence as own_column
from ferolin_tools.api import (check_calibration_method, check_coverages, check_policy_rate,
                                check_rate)
from ferolin_tools.errors import DataError
from ferolin_tools.infinite import infinite_warning
from ferolin_tools.layout import delimiter_for, parse_delimiter
from ferolin_tools.methods import CALIBRATION_METHODS, COLUMNS, SCORE_METHODS, score_name
from ferolin_tools.output_files import check_distinct, output_file
from ferolin_tools.paths import PathProblem, as_text, check_readable, check_writable, is_special
from ferolin_tools.progress import ProgressDisplay, StepDisplay
from ferolin_tools.tables import (DEFAULT_MAX_FIELD_BYTES, QueryPass, check_columns,
                                  check_group_column, probability_problems, read_table)

STDIN_NAME = "-"


# ---- argument types: each refuses a bad value with exit status 2 ------------

def rate_argument(name: str) -> Callable[[str], float]:
    def parse(text: str) -> float:
        try:
            return check_rate(float(text), name)
        except ValueError as error:
            raise argparse.ArgumentTypeError(str(error)) from None
    return parse


def score_argument(text: str) -> str:
    try:
        return score_name(text)
    except ValueError:
        raise argparse.ArgumentTypeError(
            f"'{text}' is not a scoring method; valid: {', '.join(SCORE_METHODS)}") from None


def column_argument(text: str) -> tuple[str, str]:
    known, separator, header = text.partition("=")
    if not separator or not header:
        raise argparse.ArgumentTypeError(
            f"'{text}' is not KNOWN=HEADER, e.g. is_correct=Is_Correct")
    if known not in COLUMNS:
        raise argparse.ArgumentTypeError(
            f"'{known}' is not a known column; known: {', '.join(COLUMNS)}")
    return known, header


def delimiter_argument(text: str) -> str:
    try:
        return parse_delimiter(text)
    except ValueError:
        raise argparse.ArgumentTypeError(
            f"'{text}' is not a delimiter: give one character, or 'tab'") from None


def count_argument(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = -1
    if value < 0:
        raise argparse.ArgumentTypeError(f"'{text}' is not a count (0, 1, 2, ...)")
    return value


def threads_argument(text: str) -> int:
    value = count_argument(text)
    if value == 0:
        raise argparse.ArgumentTypeError("the number of threads must be at least 1")
    return value


def replicates_argument(text: str) -> int:
    try:
        return intervals.check_replicates(int(text))
    except ValueError:
        raise argparse.ArgumentTypeError(
            f"'{text}' is not a number of replicates: 0 (no intervals) or "
            f"{intervals.MIN_REPLICATES} to {intervals.MAX_REPLICATES}") from None


def seed_argument(text: str) -> int:
    try:
        return intervals.check_seed(int(text))
    except ValueError:
        raise argparse.ArgumentTypeError(
            f"'{text}' is not a seed: an integer from 0 to 2**64 - 1") from None


def coverages_argument(text: str) -> tuple[float, ...]:
    try:
        return check_coverages([float(part) for part in text.split(",")])
    except ValueError as error:
        raise argparse.ArgumentTypeError(
            f"'{text}' is not a comma-separated list of coverages above 0 and at most 1 "
            f"({error})") from None


class StoreOnce(argparse.Action):
    """Stores an option's value and refuses a second one."""

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace,
                 values: Any, option_string: Optional[str] = None) -> None:
        if getattr(namespace, self.dest, None) is not None:
            parser.error(f"{option_string} may be given only once here")
        setattr(namespace, self.dest, values)


# ---- the parser ----------------------------------------------------------------

SCORE_HELP = "scoring method: " + ", ".join(SCORE_METHODS)
# Each method's confidence from the top candidates in rank order: s1, s2, ...
# their scores, p1, p2, ... their probabilities, n the query's candidates.
METHOD_FORMULAS = (
    "with s1, s2, ... the scores and p1, p2, ... the probabilities of a query's candidates in "
    "rank order and n their number: max-prob p1; score-gap s1 - s2; margin p1 - p2; entropy 1 - H/ln(n) with "
    "H = -sum(p ln p) over all n candidates (1 when n = 1); score-ratio s1 / s2 (s2 > 0); "
    "topk-gap s1 - mean(s2..sm), m = min(n, 5); effective-k exp(-H); candidate-count 1/n; "
    "top-score s1 (the top candidate's own score)")


def add_confidence_options(parser: argparse.ArgumentParser, apply: bool = False) -> None:
    group = parser.add_argument_group("own confidence")
    if apply:
        group.add_argument("--confidence-col", metavar="COLUMN",
                           help="the table's name for the column a policy on a confidence "
                                "column reads (default: the name the policy records)")
        return
    group.add_argument("--confidence-col", metavar="COLUMN",
                       help="a query's confidence is its top candidate's value in COLUMN (a "
                            "search tool's own confidence; `score` for the top score), higher "
                            "meaning more confident")
    group.add_argument("--lower-is-better", action="store_true",
                       help="lower values of --confidence-col mean more confident (e-values, "
                            "ranks): the confidence is the negated value")


def subcommand(subparsers: "argparse._SubParsersAction[argparse.ArgumentParser]", name: str,
               summary: str, description: str, example: str) -> argparse.ArgumentParser:
    return subparsers.add_parser(name, help=summary, description=description,
                                 epilog=f"example: {example}",
                                 formatter_class=argparse.RawDescriptionHelpFormatter)


def add_table_options(parser: argparse.ArgumentParser, labels: str,
                      from_scores: bool = False) -> None:
    parser.add_argument("table", nargs="?" if from_scores else None,
                        help=f"candidates table: CSV, TSV, or either gzip-compressed; "
                             f"Parquet or Arrow IPC (.parquet, .arrow, .feather, .ipc; "
                             f"needs pyarrow); '-' for standard input ({labels})")
    if from_scores:
        parser.add_argument("--from-scores", nargs="+", metavar="SHARD",
                            help="instead of a table, per-query tables written by `ferolin "
                                 "scores` (any number, plain or gzip-compressed), one per shard "
                                 "of a result; no query may be in two of them")
    group = parser.add_argument_group("table layout")
    group.add_argument("--delimiter", type=delimiter_argument, metavar="D",
                       help="field delimiter: ',' (the default), 'tab' (the default for .tsv "
                            "and .tab names), or another character")
    group.add_argument("--column", type=column_argument, action="append", default=[],
                       metavar="KNOWN=HEADER",
                       help="read a known column under another header name, e.g. "
                            "is_correct=Is_Correct; repeatable")
    group.add_argument("--decimal", choices=[".", ","], default=".",
                       help="decimal separator of the score and probability cells: '.' (the "
                            "default) or ',' (European spreadsheets, with --delimiter ';')")
    group.add_argument("--na-values", action="append", default=[], metavar="WORD",
                       help="a further spelling of a missing score or probability, beside NA, "
                            "NaN, nan, null, None and an empty cell; repeatable")
    group.add_argument("--threads", type=threads_argument, metavar="N",
                       help="threads that read a plain table file (default: the "
                            "FEROLIN_NUM_THREADS environment variable, else one per processor)")
    group.add_argument("--max-field-size", type=count_argument, metavar="BYTES",
                       default=DEFAULT_MAX_FIELD_BYTES,
                       help="the longest cell a table may hold; a longer one is an error "
                            "(default: 1048576, 1 MiB)")
    group = parser.add_argument_group("diagnostics")
    shown = group.add_mutually_exclusive_group()
    shown.add_argument("--progress", action="store_true",
                       help="show the progress of the read even when standard error is not "
                            "a terminal")
    shown.add_argument("-q", "--quiet", action="store_true",
                       help="print no reports, notes or warnings; only errors")


def add_calibration_options(parser: argparse.ArgumentParser, required: bool) -> None:
    parser.add_argument("--error-rate", required=required, default=None if required else 0.05,
                        type=rate_argument("the rate"), metavar="X",
                        help="target error rate among accepted queries, between 0 and 1: "
                             "0.05 for 5%%" + ("" if required else " (the default)"))
    parser.add_argument("--method", choices=CALIBRATION_METHODS, default="empirical",
                        help="calibration method (default: empirical)")
    parser.add_argument("--confidence-level", type=rate_argument("the level"),
                        metavar="L", help="confidence level of the binomial method: 0.90, "
                                          "0.95, 0.975 or 0.99")


def add_min_accepted_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--min-accepted", type=count_argument, default=30, metavar="N",
                        help="warn when a threshold accepts fewer labelled queries than N "
                             "(default: 30)")


def add_bootstrap_options(parser: argparse.ArgumentParser, default: str) -> None:
    group = parser.add_argument_group("intervals")
    group.add_argument("--bootstrap", type=replicates_argument, metavar="B",
                       help=f"95%% percentile-bootstrap intervals from B resamples of the "
                            f"labelled queries; 0 switches them off (default: {default})")
    group.add_argument("--seed", type=seed_argument, default=intervals.DEFAULT_SEED,
                       metavar="S", help="seed of the resamples: the same seed gives the same "
                                         "intervals everywhere (default: 0)")


def add_output_option(parser: argparse.ArgumentParser, metavar: str, what: str) -> None:
    parser.add_argument("-o", "--output", metavar=metavar,
                        help=f"{what} file to write (default: standard output)")


def add_compare_parser(subparsers: Any) -> None:
    parser = subcommand(
        subparsers, "compare", "rank every scoring method on a labelled table",
        "Score a labelled table by every method in one read and rank the methods: labelled "
        "and scored queries, AURC, E-AURC and AUGRC (lower is better), the risk at chosen "
        "coverages and the coverage at the target error rate, and the threshold, coverage "
        "and observed risk (with its Wilson interval) at the target; with bootstrap "
        "intervals. Methods that score only some labelled queries are ranked after those "
        "that score all. Besides the methods, top-score (the top candidate's own score) is "
        "listed, or with --confidence-col that column. Formulas: " + METHOD_FORMULAS + ".",
        "ferolin compare labelled.csv --error-rate 0.05 | column -t")
    add_table_options(parser, "with an is_correct column", from_scores=True)
    add_calibration_options(parser, required=False)
    add_min_accepted_option(parser)
    parser.add_argument("--at-coverage", type=coverages_argument,
                        default=analysis.DEFAULT_COVERAGES, metavar="C,C,...",
                        help="coverages at which to report the risk (default: "
                             + ",".join(f"{c:g}" for c in analysis.DEFAULT_COVERAGES) + ")")
    add_bootstrap_options(parser, f"{intervals.DEFAULT_REPLICATES}, or 0 when the labelled "
                                  f"queries times the methods exceed "
                                  f"{intervals.COMPARE_BUDGET:,}")
    parser.add_argument("--format", choices=["tsv", "json"], default="tsv")
    add_confidence_options(parser)
    add_output_option(parser, "FILE", "comparison")
    parser.set_defaults(run=run_compare, parser=parser, outputs=[("output", "comparison")])


def add_calibrate_parser(subparsers: Any) -> None:
    parser = subcommand(
        subparsers, "calibrate", "calibrate a policy for a target error rate",
        "Choose the confidence threshold that keeps the error rate of accepted queries within "
        "the target, and write it as a JSON policy. A report on standard error says what the "
        "threshold rests on: labelled, scored and accepted queries, the observed risk with its "
        "95% upper bound and intervals, per group with --group-col; the policy file keeps it "
        "under its \"calibration\" key, with the table's size and SHA-256.",
        "ferolin calibrate labelled.csv --score margin --error-rate 0.05 --method binomial "
        "--confidence-level 0.95 -o policy.json")
    add_table_options(parser, "with an is_correct column", from_scores=True)
    parser.add_argument("--score", type=score_argument, metavar="NAME",
                        action=StoreOnce, help=SCORE_HELP + " (or --confidence-col)")
    add_confidence_options(parser)
    add_calibration_options(parser, required=True)
    add_min_accepted_option(parser)
    group = parser.add_argument_group("groups")
    group.add_argument("--group-col", metavar="COLUMN",
                       help="calibrate one threshold per group: a query's group is its top "
                            "candidate's cell in COLUMN (e.g. ionisation mode, instrument)")
    group.add_argument("--min-group", type=count_argument, default=groups.DEFAULT_MIN_GROUP,
                       metavar="N", help="groups with fewer labelled queries than N keep the "
                                         f"global threshold (default: {groups.DEFAULT_MIN_GROUP})")
    add_bootstrap_options(parser, str(intervals.DEFAULT_REPLICATES))
    parser.add_argument("-o", "--output", metavar="POLICY.json",
                        help="policy file to write (default: standard output)")
    parser.add_argument("--plot", metavar="PNG",
                        help="also draw the curve and the threshold: a 300 dpi PNG, or a "
                             "vector drawing for a name ending in .pdf or .svg")
    parser.set_defaults(run=run_calibrate, parser=parser, outputs=[("output", "policy"), ("plot", "plot")])


def add_apply_parser(subparsers: Any) -> None:
    parser = subcommand(
        subparsers, "apply", "accept or reject each query of a new table",
        "Apply a policy to a candidates table: one TSV row per query with its top candidate, "
        "confidence and decision; a summary on standard error.",
        "ferolin apply new.csv policy.json | awk -F'\\t' '$4 == \"true\"'")
    add_table_options(parser, "labels are not needed")
    parser.add_argument("policy", help="policy file written by `ferolin calibrate`")
    parser.add_argument("-o", "--output", metavar="DECISIONS.tsv",
                        help="decisions file to write (default: standard output)")
    add_confidence_options(parser, apply=True)
    parser.set_defaults(run=run_apply, parser=parser, outputs=[("output", "decisions")])


def add_curve_parser(subparsers: Any) -> None:
    parser = subcommand(
        subparsers, "curve", "risk-coverage curve of a labelled table",
        "Print the risk-coverage curve of a labelled candidates table as TSV (or JSON); AURC "
        "and E-AURC go to standard error (or into the JSON). The table is read once for all "
        "methods.",
        "ferolin curve labelled.csv --score margin --score max-prob > curve.tsv")
    add_table_options(parser, "with an is_correct column", from_scores=True)
    parser.add_argument("--score", action="append", default=[], type=score_argument,
                        metavar="NAME", help=SCORE_HELP + "; repeat for several curves")
    add_confidence_options(parser)
    parser.add_argument("--format", choices=["tsv", "json"], default="tsv")
    parser.add_argument("--plot", metavar="PNG",
                        help="also draw the curves: a 300 dpi PNG, or a vector drawing for a "
                             "name ending in .pdf or .svg")
    add_output_option(parser, "FILE", "curve")
    parser.set_defaults(run=run_curve, parser=parser, outputs=[("output", "curve"),
                                                               ("plot", "plot")])


def add_scores_parser(subparsers: Any) -> None:
    parser = subcommand(
        subparsers, "scores", "one row per query with each method's confidence",
        "Write the per-query table as TSV: query_id, candidate_id and score of the top "
        "candidate, is_correct, the number of candidates, then one confidence column per "
        "method (empty where a method gives none). pandas, polars and R read it as it is.",
        "ferolin scores result.tsv --score score-gap --score topk-gap -o per_query.tsv")
    add_table_options(parser, "labels are optional")
    parser.add_argument("--score", action="append", required=True, type=score_argument,
                        metavar="NAME", help=SCORE_HELP + "; repeat for several columns")
    parser.add_argument("-o", "--output", metavar="FILE.tsv",
                        help="file to write (default: standard output)")
    parser.set_defaults(run=run_scores, parser=parser, outputs=[("output", "table")])


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="ferolin",
        description="How far to trust the top-ranked candidate annotation of each query.",
        epilog="example: ferolin compare labelled.csv && ferolin calibrate labelled.csv "
               "--score margin --error-rate 0.05 -o policy.json && ferolin apply new.csv "
               "policy.json > decisions.tsv",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action="version", version=metadata.version("ferolin"))
    subparsers = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for add in (add_compare_parser, add_calibrate_parser, add_apply_parser, add_curve_parser,
                add_scores_parser):
        add(subparsers)
    return parser


# ---- running a subcommand -----------------------------------------------------

class Reporter:
    """Diagnostics on standard error; --quiet leaves only errors."""

    def __init__(self, args: argparse.Namespace):
        self.quiet = args.quiet
        self.forced = args.progress
        self.shown: list[StepDisplay] = []

    def info(self, text: str) -> None:
        if not self.quiet:
            # A progress line of counted work gives way to the report.
            for display in self.shown:
                display.close()
            self.shown.clear()
            print(text, file=sys.stderr)

    def warn(self, text: str) -> None:
        self.info("warning: " + text)

    def note(self, text: str) -> None:
        self.info("note: " + text)

    def progress(self, path: str) -> Optional[ProgressDisplay]:
        if self.quiet or not (self.forced or sys.stderr.isatty()):
            return None
        try:
            size = os.stat(path).st_size if os.path.isfile(path) else None
        except OSError:
            size = None
        return ProgressDisplay(path, size)

    def bootstrap_steps(self, score: str) -> Optional[StepDisplay]:
        """The progress display of one method's bootstrap."""
        return self.steps(f"bootstrap of {score}")

    def steps(self, what: str) -> Optional[StepDisplay]:
        """A progress display for counted work, where reads get one."""
        if self.quiet or not (self.forced or sys.stderr.isatty()):
            return None
        self.shown.append(StepDisplay(what))
        return self.shown[-1]


def table_path(args: argparse.Namespace) -> str:
    return "/dev/stdin" if args.table == STDIN_NAME else args.table


def read(args: argparse.Namespace, reporter: Reporter, scores: Optional[Sequence[str]],
         keep_ids: bool = False, **options: Any) -> QueryPass:
    """Reads the table once for `scores` (None: every method), with
    progress where wanted; `options` go to read_table (group_column,
    group_policy, fingerprint). Or merges the per-query tables of
    --from-scores (None: every method they hold)."""
    if getattr(args, "from_scores", None):
        return shards.read_scores(args.from_scores, scores, hint_style="cli")
    path = table_path(args)
    methods = SCORE_METHODS if scores is None else scores
    display = reporter.progress(path)
    try:
        table = read_table(path, methods, keep_ids=keep_ids, delimiter=args.delimiter,
                           columns=dict(args.column), progress=display, hint_style="cli",
                           decimal=args.decimal, na_values=args.na_values,
                           threads=getattr(args, "threads", None),
                           max_field_bytes=args.max_field_size, **options)
    finally:
        if display is not None:
            display.close()
    problem = probability_problems(table)
    if problem is not None:
        reporter.warn(problem)
    tied = diagnostics.tied_tops(table)
    if tied:
        reporter.note(tied)
    return table


def own_option(args: argparse.Namespace) -> Optional[own_column.OwnConfidence]:
    """The own confidence of --confidence-col and --lower-is-better."""
    return own_column.own_confidence(args.confidence_col, args.lower_is_better)


def load_plot() -> ModuleType:
    from ferolin_tools import plot

    try:
        plot.pyplot()
    except plot.PlotUnavailable as error:
        raise DataError(str(error)) from error
    return plot


def run_compare(args: argparse.Namespace, reporter: Reporter) -> None:
    own = own_option(args)
    if own is None and not args.from_scores:
        own = own_column.top_score(dict(args.column))
    table = read(args, reporter, None, own=own)
    entries = api.compare(
        table, error_rate=args.error_rate, method=args.method,
        confidence_level=args.confidence_level, at_coverage=args.at_coverage,
        bootstrap=args.bootstrap, seed=args.seed, min_accepted=args.min_accepted,
        bootstrap_progress=reporter.bootstrap_steps)
    counts = table.counts
    replicates = next((e.intervals.replicates for e in entries if e.intervals), 0)
    with output.output_stream(args.output) as stream:
        if args.format == "json":
            output.write_json(stream, [entry.as_dict() for entry in entries])
        else:
            header, rows = output.flat_columns([entry.as_dict() for entry in entries],
                                               {"risk_at_coverage": "risk_at"})
            output.write_table(stream, header, rows)
    reporter.info(f"{table.path}: {counts.queries} queries, {counts.labelled} labelled; "
                  f"thresholds for a target error rate of {args.error_rate:g} "
                  f"({analysis.rule_text(args.method, args.confidence_level)})")
    if replicates:
        reporter.info(f"95% bootstrap intervals from {replicates} resamples of the labelled "
                      f"queries, seed {args.seed}")
    elif args.bootstrap is None:
        reporter.note(f"no bootstrap intervals by default for {counts.labelled:,} labelled "
                      f"queries and {len(entries)} methods (more than "
                      f"{intervals.COMPARE_BUDGET:,} together); ask for them with --bootstrap "
                      f"{intervals.DEFAULT_REPLICATES}")
    for entry in entries:
        if entry.scored == 0:
            reporter.note(diagnostics.why_unscored(table, entry.score, labelled=True))
    warn_infinite(table, reporter)
    partial = [f"{e.score} ({e.scored})" for e in entries if 0 < e.scored < e.labelled]
    if partial:
        reporter.note(f"some methods score only some of the {counts.labelled} labelled "
                      f"queries: {', '.join(partial)}. Their AURC covers only those, so they "
                      f"rank after the methods that score all.")
    thin = [f"{e.score} ({e.accepted})" for e in entries if 0 < e.accepted < args.min_accepted]
    if thin:
        reporter.note(f"thresholds that rest on fewer than {args.min_accepted} accepted labelled "
                      f"queries: {', '.join(thin)}")


def run_calibrate(args: argparse.Namespace, reporter: Reporter) -> None:
    plot = load_plot() if args.plot else None
    replicates = intervals.DEFAULT_REPLICATES if args.bootstrap is None else args.bootstrap
    own = own_option(args)
    table = read(args, reporter, [args.score] if own is None else [],
                 group_column=args.group_col, fingerprint=True, own=own)
    result = api.calibrate(
        table, args.score, args.error_rate, method=args.method,
        confidence_level=args.confidence_level, min_accepted=args.min_accepted,
        group_col=args.group_col, min_group=args.min_group, bootstrap=replicates,
        seed=args.seed, confidence=args.confidence_col, lower_is_better=args.lower_is_better,
        bootstrap_progress=reporter.bootstrap_steps)
    report = result.report
    for line in report.lines():
        reporter.info(line)
    note = analysis.unscored_note(report.score, report.scored, report.labelled)
    if note:
        reporter.note(note)
    for warning in report.warnings():
        reporter.warn(warning)
    warn_infinite(table, reporter)
    if plot:
        save_plot(plot, draw_calibration(plot, table, result, args, replicates, reporter),
                  args.plot)
    write_policy(result.policy, args.output, result.provenance)


def draw_calibration(plot: ModuleType, table: QueryPass, result: analysis.Calibration,
                     args: argparse.Namespace, replicates: int, reporter: Reporter) -> Any:
    """The curve with its bootstrap band, the target and the threshold, and
    each group's own curve with its threshold."""
    report = result.report
    band = None
    if replicates:
        coverages = plot.band_coverages()
        band = (coverages, intervals.risk_band(table, 0, coverages, replicates, args.seed,
                                               reporter.steps(f"band of {report.score}")))
    own = report.groups.thresholds if report.groups is not None else {}
    grouped = bool(own)
    ax = plot.new_axes(2) if grouped else plot.new_axes()
    main_ax = ax[0] if grouped else ax
    plot.plot_risk_coverage(
        result.curve, main_ax, label=report.score, target=args.error_rate,
        threshold=result.policy["threshold"], band=band,
        title=f"{report.score}, n = {report.labelled} labelled queries, "
              f"{analysis.rule_text(args.method, args.confidence_level)}")
    if grouped:
        for group, threshold in own.items():
            plot.plot_group(ax[1], groups.group_curve(table, 0, group), group, threshold,
                            wording.is_rejecting_everything(threshold))
    return main_ax


def save_plot(plot: ModuleType, ax: Any, path: str) -> None:
    try:
        plot.save_figure(ax, path)
    except (OSError, ValueError) as error:
        raise DataError(f"cannot write plot {path}: {error}") from error


def write_policy(policy: Any, path: Optional[str],
                 provenance: Optional[dict[str, Any]] = None) -> None:
    """Writes the policy file; to standard output when `path` is None."""
    if path is not None and not is_special(path):
        try:
            policies.write(path, policy, provenance)
        except (RuntimeError, ValueError) as error:
            raise DataError(f"cannot write policy {path}: {error}") from error
        return
    # Standard output and FIFOs get the text as a stream.
    try:
        text = (policies.text(policy, provenance) + "\n").encode()
    except ValueError as error:
        raise DataError(f"cannot write the policy: {error}") from error
    if path is None:
        sys.stdout.buffer.write(text)
    else:
        with output_file(path, binary=True) as target:
            target.write(text)


def check_applied_policy(path: str, policy: dict[str, Any], reporter: Reporter) -> None:
    """Refuses a target error rate outside (0, 1); warns when the policy is
    not the one its calibration record describes (edited by hand)."""
    try:
        check_policy_rate(path, policy)
    except ValueError as error:
        raise DataError(str(error)) from None
    edited = policies.edited_text(path, policy, policies.calibration_record(path))
    if edited is not None:
        reporter.warn(edited)


def warn_infinite(table: QueryPass, reporter: Reporter) -> None:
    for index in range(len(table.scores)):
        warning = infinite_warning(table, index)
        if warning:
            reporter.warn(warning)


def run_apply(args: argparse.Namespace, reporter: Reporter) -> None:
    try:
        check_readable(as_text(args.policy), "policy")
        policy = policies.read(args.policy)
    except PathProblem as problem:
        raise DataError(str(problem)) from None
    except RuntimeError as error:
        raise DataError(f"{args.policy}: {error}") from error
    check_applied_policy(args.policy, policy, reporter)
    group_col, thresholds = groups.policy_groups(policy)
    try:
        check_group_column(group_col, dict(args.column))
    except ValueError as error:
        raise DataError(f"{args.policy}: {error}") from None
    try:
        own = own_column.applied_column(policy, args.confidence_col)
    except ValueError:
        raise DataError(f"{args.policy}: --confidence-col applies to a policy on a "
                        f"confidence column; this one is on {policy['scoring_method']}") from None
    table = read(args, reporter, [score_name(policy["scoring_method"])] if own is None else [],
                 keep_ids=True, group_column=group_col, group_policy=args.policy, own=own)
    analysis.require_decidable(table)
    with output.output_stream(args.output) as stream:
        totals = batches.write_decisions(stream, table, policy)
    decisions = totals.as_columns()
    total, accepted = totals.queries, totals.accepted
    share = accepted / total if total else 0.0
    counted = f"{table.path}: queries {total}, accepted {accepted} ({share:.1%})"
    rejecting = wording.is_rejecting_everything(policy["threshold"])
    if group_col is None or not thresholds:
        rule = (f": {wording.REJECTS_EVERYTHING}" if rejecting else
                f" by {table.scores[0]} >= {policy['threshold']!r}")
    else:
        rule = (f" by {table.scores[0]} >= its group's threshold, or the global "
                + ("threshold, which rejects every query (none met the target)" if rejecting
                   else repr(policy["threshold"])))
    reporter.info(counted + rule)
    if group_col is not None:
        reporter.info(groups.applied_text(decisions, policy))
    elif thresholds:
        reporter.note("the policy has group thresholds but no group column: every query gets "
                      "the global threshold")
    warn_infinite(table, reporter)
    unscored = total - table.summary(0).scored_all
    if unscored:
        reporter.note(f"{table.scores[0]} gives {unscored} of the {total} queries no confidence; "
                      f"they are rejected")


def run_curve(args: argparse.Namespace, reporter: Reporter) -> None:
    plot = load_plot() if args.plot else None
    own = own_option(args)
    table = read(args, reporter, args.score, own=own)
    curves = api.curve(table, args.score, confidence=args.confidence_col,
                       lower_is_better=args.lower_is_better)
    # A method asked for twice is drawn and listed twice, as asked.
    results = [curves[score] for score in args.score] + ([curves[table.scores[-1]]] if own else [])
    with output.output_stream(args.output) as stream:
        if args.format == "json":
            output.write_json(stream, [
                {"score": r.score, "aurc": r.aurc, "eaurc": r.eaurc, "labelled": r.labelled,
                 "scored": r.scored, "curve": r.curve} for r in results])
        else:
            output.write_curve_tsv(stream, [(r.score, r.curve) for r in results])
    for index, result in enumerate(results):
        reporter.info(f"{result.score}: AURC {output.number_text(result.aurc)}  "
                      f"E-AURC {output.number_text(result.eaurc)}")
        note = analysis.unscored_note(result.score, result.scored, result.labelled)
        if note:
            reporter.note(note)
    warn_infinite(table, reporter)
    if plot:
        ax = None
        title = f"n = {table.counts.labelled} labelled queries"
        for result in results:
            ax = plot.plot_risk_coverage(result.curve, ax, title=title,
                                         label=f"{result.score} (AURC {result.aurc:.4f})")
        save_plot(plot, ax, args.plot)


def run_scores(args: argparse.Namespace, reporter: Reporter) -> None:
    table = read(args, reporter, args.score, keep_ids=True)
    with output.output_stream(args.output) as stream:
        batches.write_scores(stream, table)
    counts = table.counts
    reporter.info(f"{table.path}: {counts.queries} queries, {counts.labelled} labelled")
    for index, score in enumerate(table.scores):
        if counts.queries and table.summary(index).scored_all == 0:
            reporter.warn(diagnostics.why_unscored(table, score, labelled=False))
    warn_infinite(table, reporter)


def check_table_source(args: argparse.Namespace) -> None:
    """A table, or --from-scores with its per-query tables: one of the two."""
    if not hasattr(args, "from_scores"):
        return
    if (args.table is None) == (args.from_scores is None):
        args.parser.error("give a table or --from-scores SHARD [SHARD ...], not both"
                          if args.table is not None else "give a table or --from-scores")
    if args.from_scores and (args.delimiter is not None or args.column or args.decimal != "."
                             or args.na_values):
        args.parser.error("--delimiter, --column, --decimal and --na-values do not apply to "
                          "--from-scores: per-query tables are read as `ferolin scores` "
                          "writes them")
    if args.from_scores and getattr(args, "group_col", None) is not None:
        args.parser.error("--group-col needs a candidates table: per-query tables keep no "
                          "group column")


def check_confidence_options(args: argparse.Namespace) -> None:
    """--confidence-col with a table, and in calibrate in place of --score;
    in curve, --score or --confidence-col at least."""
    if not hasattr(args, "lower_is_better"):
        return
    parser, column = args.parser, args.confidence_col
    if args.lower_is_better and column is None:
        parser.error("--lower-is-better needs --confidence-col")
    if column is not None and getattr(args, "from_scores", None):
        parser.error("--confidence-col needs a candidates table: per-query tables of "
                     "--from-scores keep no column of their own")
    if args.run is run_calibrate and (args.score is None) == (column is None):
        parser.error("give --score or --confidence-col" if column is None else
                     "give --score or --confidence-col, not both")
    if args.run is run_curve and not args.score and column is None:
        parser.error("give --score (repeatable) or --confidence-col")


def check_layout(args: argparse.Namespace) -> None:
    """Column mappings that read two columns from one name, and a decimal
    comma that is also the delimiter."""
    if not hasattr(args, "column"):
        return
    try:
        check_columns(dict(args.column), mapping="--column")
    except ValueError as error:
        args.parser.error(str(error))
    table = getattr(args, "table", None) or ""
    if args.decimal == "," and delimiter_for(table, args.delimiter) == ",":
        args.parser.error("--decimal , needs another field delimiter, e.g. --delimiter ';'")


def input_paths(args: argparse.Namespace) -> list[tuple[str, str]]:
    """The files a run reads, as (what, path)."""
    paths = [("table", args.table)] if getattr(args, "table", None) not in (None, STDIN_NAME) \
        else []
    paths += [("per-query table", path) for path in getattr(args, "from_scores", None) or []]
    if getattr(args, "policy", None) is not None:
        paths.append(("policy", as_text(args.policy)))
    return paths


def check_arguments(args: argparse.Namespace) -> None:
    """The checks argparse cannot make alone; each ends with exit status 2."""
    parser = args.parser
    check_table_source(args)
    check_confidence_options(args)
    check_layout(args)
    method = getattr(args, "method", None)
    if method == "binomial" and args.confidence_level is None:
        parser.error("--method binomial needs --confidence-level")
    if method is not None:
        try:
            check_calibration_method(method, args.confidence_level)
        except ValueError as error:
            parser.error(str(error))
    for dest, what in args.outputs:
        path = getattr(args, dest)
        if path is None:
            continue
        try:
            check_writable(path, what)
        except PathProblem as problem:
            parser.error(str(problem))
    try:
        check_group_column(getattr(args, "group_col", None), dict(getattr(args, "column", [])))
    except ValueError as error:
        parser.error(str(error))
    try:
        check_distinct(input_paths(args), [(what, getattr(args, dest)) for dest, what in
                                           args.outputs if getattr(args, dest) is not None])
    except PathProblem as problem:
        parser.error(str(problem))
    if getattr(args, "plot", None):
        from ferolin_tools import plot

        unwritable = plot.format_problem(args.plot)
        if unwritable:
            parser.error(unwritable)


def main(argv: Optional[list[str]] = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    check_arguments(args)
    try:
        args.run(args, Reporter(args))
        sys.stdout.flush()
    except DataError as error:
        print(error, file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
        return 128 + signal.SIGINT
    except BrokenPipeError:
        # The reader went away (`| head`): end quietly, without a traceback.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return 0
    except OSError as error:
        # A full disk or a lost file system while writing an output.
        print(f"ferolin: cannot write the output: {error}", file=sys.stderr)
        return 1
    except MemoryError:
        print("ferolin: out of memory; a smaller table, fewer methods or more memory may help",
              file=sys.stderr)
        return 1
    return 0
