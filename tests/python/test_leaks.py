"""Every module function, and every function of ferolin_tools._native, called
thousands of times on every path, good and bad, leaks nothing: reference
counts of the arguments, the interpreter's allocated blocks, tracemalloc's
traced memory and the C heap stay flat after a warm-up."""
import ctypes
import gc
import os
import subprocess
import sys
import tracemalloc

import pytest

import ferolin
from conftest import candidate, table_text
from ferolin_tools import _native

# Under AddressSanitizer every call is several times slower and the C heap is
# ASan's own; the memory-error checks need fewer rounds.
SANITIZED = bool(os.environ.get("FEROLIN_SANITIZED"))
ROUNDS = 300 if SANITIZED else 2000


class FloatFails:
    def __float__(self):
        raise ArithmeticError("no float")


class IndexFails:
    def __index__(self):
        raise ArithmeticError("no index")


def progress(done, rows):
    pass


def progress_fails(done, rows):
    raise ArithmeticError("stop")


def row(**change):
    base = {"threshold": 0.5, "accepted": 4, "total": 4, "coverage": 1.0, "errors": 1,
            "risk": 0.25}
    base.update(change)
    return {key: value for key, value in base.items() if value is not ...}


def policy(**change):
    base = {"version": "0.1.0", "scoring_method": "margin", "threshold": 0.1,
            "target_error_rate": 0.05, "calibration_method": "empirical",
            "confidence_level": None, "created_by": "ferolin"}
    base.update(change)
    return {key: value for key, value in base.items() if value is not ...}


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("leaks")
    table = table_text([candidate("q1", 1, 2.0, 0.7, True), candidate("q1", 2, 1.0, 0.2),
                        candidate("q2", 1, 1.0, 0.4, False), candidate("q2", 2, 0.5, 0.3)])
    contents = {
        "table": table,
        "bad_cell": "query_id,candidate_id,rank,score\nq,c,x,1\n",
        "short_row": "query_id,candidate_id,rank,score\nq,c,1\n",
        "no_column": "query_id,rank,score\nq,1,1\n",
        "bad_utf8": b"query_id,candidate_id,rank,score\nq\xff,c,1,1\n",
        "unclosed": 'query_id,candidate_id,rank,score\nq,"c,1,1\n',
        "policy": "",
        "bad_json": '{"version": "0.1.0", ',
        "bad_type": '{"version": "0.1.0", "threshold": true}',
        "bad_version": "",
        "grouped": ("query_id,candidate_id,rank,score,is_correct,mode\n"
                    "q1,a,1,2.0,true,pos\nq1,b,2,1.0,,pos\nq2,c,1,1.5,false,neg\n"
                    "q2,d,2,1.0,,neg\nq3,e,1,3.0,true,\nq3,f,2,1.0,,\n"),
    }
    paths = {}
    for name, content in contents.items():
        path = folder / f"{name}.data"
        path.write_bytes(content if isinstance(content, bytes) else content.encode())
        paths[name] = str(path)
    ferolin.save_policy(paths["policy"], policy())
    ferolin.save_policy(paths["bad_version"], policy(version="0.2.0"))
    paths["missing"] = str(folder / "missing.csv")
    paths["folder"] = str(folder)
    paths["parquet"] = str(folder / "t.parquet")
    paths["no_dir"] = str(folder / "no" / "p.json")
    paths["written"] = str(folder / "written.json")
    return paths


def cases(f):
    """(id, function, args, kwargs, exception) for every path of every function."""
    cc, cal, ap = ferolin.compute_curve, ferolin.calibrate, ferolin.apply_policy
    lp, sp = ferolin.load_policy, ferolin.save_policy
    # Fresh objects, so that no other holder of a shared constant moves a count.
    rate, level = float("0.2"), float("0.95")
    return [
        ("curve", cc, (f["table"], "margin"), {}, None),
        ("curve-keywords", cc, (), {"score": "entropy", "csv_path": f["table"]}, None),
        ("curve-bad-cell", cc, (f["bad_cell"], "margin"), {}, RuntimeError),
        ("curve-short-row", cc, (f["short_row"], "margin"), {}, RuntimeError),
        ("curve-missing-column", cc, (f["no_column"], "margin"), {}, RuntimeError),
        ("curve-bad-utf8", cc, (f["bad_utf8"], "margin"), {}, RuntimeError),
        ("curve-unclosed-quote", cc, (f["unclosed"], "margin"), {}, RuntimeError),
        ("curve-missing-file", cc, (f["missing"], "margin"), {}, RuntimeError),
        ("curve-directory", cc, (f["folder"], "margin"), {}, RuntimeError),
        ("curve-parquet", cc, (f["parquet"], "margin"), {}, RuntimeError),
        ("curve-nul-path", cc, (f["table"] + "\0x", "margin"), {}, RuntimeError),
        ("curve-unknown-score", cc, (f["table"], "Margin"), {}, ValueError),
        ("curve-path-type", cc, (b"t.csv", "margin"), {}, TypeError),
        ("curve-surrogate", cc, ("\udc80", "margin"), {}, UnicodeEncodeError),
        ("curve-too-many", cc, (f["table"], "margin", 1), {}, TypeError),
        ("curve-missing-arg", cc, (f["table"],), {}, TypeError),
        ("curve-unknown-keyword", cc, (f["table"], "margin"), {"x": 1}, TypeError),
        ("curve-twice", cc, (f["table"],), {"csv_path": f["table"]}, TypeError),
        ("aurc", ferolin.aurc, ([row(), row(risk=None)],), {}, None),
        ("aurc-empty", ferolin.aurc, ([],), {}, None),
        ("eaurc", ferolin.eaurc, ([row(), row(threshold=0.1, coverage=1)],), {}, None),
        ("aurc-tuple", ferolin.aurc, ((row(),),), {}, TypeError),
        ("aurc-too-many", ferolin.aurc, ([row()], [row()]), {}, TypeError),
        ("aurc-element", ferolin.aurc, ([row(), 1],), {}, TypeError),
        ("aurc-missing-key", ferolin.aurc, ([row(risk=...)],), {}, KeyError),
        ("eaurc-missing-first-key", ferolin.eaurc, ([row(threshold=...)],), {}, KeyError),
        ("aurc-negative", ferolin.aurc, ([row(accepted=-1)],), {}, OverflowError),
        ("aurc-float-count", ferolin.aurc, ([row(errors=2.0)],), {}, TypeError),
        ("aurc-text-threshold", ferolin.aurc, ([row(threshold="0.5")],), {}, TypeError),
        ("aurc-float-fails", ferolin.eaurc, ([row(coverage=FloatFails())],), {}, ArithmeticError),
        ("aurc-index-fails", ferolin.aurc, ([row(total=IndexFails())],), {}, ArithmeticError),
        ("calibrate", cal, (f["table"], "margin", rate), {}, None),
        ("calibrate-binomial", cal, (f["table"], "score_gap", rate),
         {"method": "binomial", "confidence_level": level}, None),
        ("calibrate-crc", cal, (f["table"], "entropy", rate), {"method": "crc"}, None),
        ("calibrate-no-level", cal, (f["table"], "margin", rate, "binomial"), {}, ValueError),
        ("calibrate-bad-level", cal, (f["table"], "margin", rate, "binomial", rate), {},
         RuntimeError),
        ("calibrate-unknown-method", cal, (f["table"], "margin", rate, "exact"), {}, ValueError),
        ("calibrate-method-none", cal, (f["table"], "margin", rate, None), {}, TypeError),
        ("calibrate-rate-type", cal, (f["table"], "margin", "0.2"), {}, TypeError),
        ("calibrate-level-type", cal, (f["table"], "margin", rate, "binomial", "x"), {},
         TypeError),
        ("calibrate-rate-fails", cal, (f["table"], "margin", FloatFails()), {}, ArithmeticError),
        ("calibrate-bad-table", cal, (f["bad_cell"], "margin", rate), {}, RuntimeError),
        ("calibrate-missing-arg", cal, (f["table"], "margin"), {}, TypeError),
        ("apply", ap, (f["table"], policy()), {}, None),
        ("apply-binomial", ap, (f["table"], policy(calibration_method="binomial",
                                                   confidence_level=level)), {}, None),
        ("apply-missing-key", ap, (f["table"], policy(threshold=...)), {}, KeyError),
        ("apply-missing-version", ap, (f["table"], policy(version=...)), {}, KeyError),
        ("apply-unknown-variant", ap, (f["table"], policy(scoring_method="max-prob")), {},
         RuntimeError),
        ("apply-unknown-calibration", ap, (f["table"], policy(calibration_method="x")), {},
         RuntimeError),
        ("apply-method-type", ap, (f["table"], policy(scoring_method=3)), {}, TypeError),
        ("apply-threshold-type", ap, (f["table"], policy(threshold="x")), {}, TypeError),
        ("apply-level-type", ap, (f["table"], policy(confidence_level=[])), {}, TypeError),
        ("apply-not-dict", ap, (f["table"], [policy()]), {}, TypeError),
        ("apply-missing-file", ap, (f["missing"], policy()), {}, RuntimeError),
        ("apply-bad-table", ap, (f["short_row"], policy()), {}, RuntimeError),
        ("load", lp, (f["policy"],), {}, None),
        ("load-malformed", lp, (f["bad_json"],), {}, RuntimeError),
        ("load-wrong-type", lp, (f["bad_type"],), {}, RuntimeError),
        ("load-wrong-version", lp, (f["bad_version"],), {}, RuntimeError),
        ("load-missing-file", lp, (f["missing"],), {}, RuntimeError),
        ("load-directory", lp, (f["folder"],), {}, RuntimeError),
        ("load-table", lp, (f["table"],), {}, RuntimeError),
        ("load-nul-path", lp, (f["policy"] + "\0",), {}, RuntimeError),
        ("load-path-type", lp, (None,), {}, TypeError),
        ("save", sp, (f["policy"], policy()), {}, None),
        ("save-keyword", sp, (), {"policy_dict": policy(), "path": f["policy"]}, None),
        ("save-no-directory", sp, (f["no_dir"], policy()), {}, RuntimeError),
        ("save-directory", sp, (f["folder"], policy()), {}, RuntimeError),
        ("save-nul-path", sp, (f["policy"] + "\0", policy()), {}, RuntimeError),
        ("save-missing-key", sp, (f["policy"], policy(target_error_rate=...)), {}, KeyError),
        ("save-unknown-variant", sp, (f["policy"], policy(scoring_method="topk_gap")), {},
         RuntimeError),
        ("save-method-type", sp, (f["policy"], policy(scoring_method=1)), {}, TypeError),
        ("save-not-dict", sp, (f["policy"], None), {}, TypeError),
        ("save-surrogate", sp, (f["policy"], policy(version="\udc80")), {}, UnicodeEncodeError),
    ] + native_cases(f, rate, level)


def native_cases(f, rate, level):
    """The same for the companion package's private module."""
    n = _native
    read = n.run_pass(f["table"], ["margin", "max-prob"], keep_ids=True).query_pass
    return [
        ("pass", n.run_pass, (f["table"], ["margin", "entropy"]),
         {"keep_ids": True, "columns": {"is_correct": "is_correct"}, "progress": progress}, None),
        ("pass-tab", n.run_pass, (f["table"], ["margin"]), {"delimiter": "\t"}, n.CoreError),
        ("pass-bad-cell", n.run_pass, (f["bad_cell"], ["margin"]), {}, n.CoreError),
        ("pass-missing-file", n.run_pass, (f["missing"], ["margin"]), {}, n.CoreError),
        ("pass-unknown-score", n.run_pass, (f["table"], ["Margin"]), {}, ValueError),
        ("pass-scores-tuple", n.run_pass, (f["table"], ("margin",)), {}, TypeError),
        ("pass-bad-delimiter", n.run_pass, (f["table"], ["margin"]), {"delimiter": ",,"},
         ValueError),
        ("pass-unknown-column", n.run_pass, (f["table"], ["margin"]), {"columns": {"x": "y"}},
         ValueError),
        ("pass-progress-fails", n.run_pass, (f["table"], ["margin"]),
         {"progress": progress_fails}, ArithmeticError),
        ("pass-counts", read.counts, (), {}, None),
        ("pass-summary", read.summary, (1,), {}, None),
        ("pass-curve", read.curve, (0,), {}, None),
        ("pass-calibrate", read.calibrate, (0, rate, "binomial", level), {}, None),
        ("pass-calibrate-no-level", read.calibrate, (0, rate, "binomial"), {},
         ValueError),
        ("pass-columns", read.columns, (), {}, None),
        ("pass-decide", read.decide, (0, rate), {}, None),
        ("pass-no-such-column", read.curve, (2,), {}, IndexError),
        ("pass-not-made-here", n.Pass, (), {}, TypeError),
        ("wilson", n.wilson_upper_bound, (100, 5, level), {}, None),
        ("wilson-bad-level", n.wilson_upper_bound, (100, 5, rate), {}, RuntimeError),
    ] + native_statistics_cases(f, rate, level, read) + shard_cases(f, read, rate)


def shard_cases(f, read, rate):
    """Merging shards: per-query tables, packed passes, and the merged pairs."""
    n = _native
    folder = os.path.dirname(f["table"])
    scores = os.path.join(folder, "scores.tsv")
    bad = os.path.join(folder, "scores-bad.tsv")
    header = "query_id\tcandidate_id\tscore\tis_correct\tcandidates\tmargin\n"
    with open(scores, "w") as out:
        out.write(header + "q1\tc\t1\ttrue\t2\t0.5\nq2\tc\t1\tfalse\t1\t\n")
    with open(bad, "w") as out:
        out.write(header + "q1\tc\t1\ttrue\ttwo\t0.5\n")
    packed = read.pack()
    merged = n.merge_packed(["a"], [packed], ["margin"]).query_pass
    return [
        ("scores", n.read_score_tables, ([scores], ["margin"]), {}, None),
        ("scores-every-method", n.read_score_tables, ([scores],), {}, None),
        ("scores-in-two-shards", n.read_score_tables, ([scores, scores],), {}, n.CoreError),
        ("scores-bad-cell", n.read_score_tables, ([scores, bad],), {}, n.CoreError),
        ("scores-missing-file", n.read_score_tables, ([f["missing"]],), {}, n.CoreError),
        ("scores-tuple", n.read_score_tables, ((scores,),), {}, TypeError),
        ("scores-unknown-score", n.read_score_tables, ([scores], ["Margin"]), {}, ValueError),
        ("pack", read.pack, (), {}, None),
        ("pack-merged", merged.pack, (), {}, TypeError),
        ("merge-twice", n.merge_packed, (["a", "b"], [packed, packed], ["max-prob"]), {},
         n.CoreError),
        ("merge-cut", n.merge_packed, (["a"], [packed[:-1]], ["margin"]), {}, n.CoreError),
        ("merge-bytearray", n.merge_packed, (["a"], [bytearray(packed)], ["margin"]), {},
         TypeError),
        ("merge-unequal", n.merge_packed, (["a", "b"], [packed], ["margin"]), {}, ValueError),
        ("pairs-counts", merged.counts, (), {}, None),
        ("pairs-summary", merged.summary, (0,), {}, None),
        ("pairs-calibrate", merged.calibrate, (0, rate, "empirical"), {}, None),
        ("pairs-columns", merged.columns, (), {}, TypeError),
    ]


def native_statistics_cases(f, rate, level, read):
    """The same for groups, intervals and policy files with extra keys."""
    n = _native
    grouped = n.run_pass(f["grouped"], ["score-gap"], group_column="mode").query_pass
    thresholds = {"pos": float("0.5")}
    extra = {"calibration": '{"labelled": 2, "interval": [0.1, null]}'}
    full = dict(policy(), group_col="mode", group_thresholds=thresholds)
    output = n.output_open(f["written"] + ".out")
    return [
        ("pass-grouped", n.run_pass, (f["grouped"], ["margin"]),
         {"group_column": "mode", "fingerprint": True}, None),
        ("pass-no-group-column", n.run_pass, (f["table"], ["margin"]), {"group_column": "mode"},
         n.CoreError),
        ("groups", grouped.groups, (), {}, None),
        ("groups-none-read", read.groups, (), {}, ValueError),
        ("group-curve", grouped.group_curve, (0, "pos"), {}, None),
        ("calibrate-groups", grouped.calibrate_groups, (0, rate, "empirical", "mode", 1),
         {}, None),
        ("calibrate-groups-no-level", grouped.calibrate_groups,
         (0, rate, "binomial", "mode", 1), {}, ValueError),
        ("decide", grouped.decide, (0, rate, thresholds), {}, None),
        ("decide-bad-threshold", grouped.decide, (0, rate, {"pos": "x"}), {}, TypeError),
        ("points", read.operating_points, (0, [rate, level], rate), {}, None),
        ("points-not-list", read.operating_points, (0, (rate,), rate), {}, TypeError),
        ("bootstrap", read.bootstrap, (0, rate, 39, 7), {"progress": progress}, None),
        ("bootstrap-few", read.bootstrap, (0, rate, 10, 7), {}, ValueError),
        ("bootstrap-progress-fails", read.bootstrap, (0, rate, 39, 7),
         {"progress": progress_fails}, ArithmeticError),
        ("band", read.risk_band, (0, [rate, level], 39, 7), {}, None),
        ("wilson-interval", n.wilson_interval, (100, 5, level), {}, None),
        ("wilson-interval-bad-level", n.wilson_interval, (100, 5, rate), {}, ValueError),
        ("read-policy", n.read_policy, (f["policy"],), {}, None),
        ("read-policy-missing", n.read_policy, (f["missing"],), {}, n.CoreError),
        ("write-policy", n.write_policy, (f["written"], full, extra), {}, None),
        ("write-policy-own-key", n.write_policy, (f["written"], full, {"threshold": "1"}), {},
         ValueError),
        ("policy-text", n.policy_text, (full,), {"extra": extra}, None),
        ("policy-text-bad-json", n.policy_text, (full, {"x": "{"}), {}, ValueError),
        ("output-open", n.output_open, (f["written"] + ".out",), {}, None),
        ("output-write", output.write, (b"a\tb\n",), {}, None),
        ("output-write-text", output.write, ("a",), {}, TypeError),
    ]


def call(function, args, kwargs):
    try:
        function(*args, **kwargs)
    except Exception as error:  # noqa: BLE001 - the kind is checked elsewhere
        return type(error)
    return None


@pytest.fixture(scope="module")
def all_cases(files):
    return cases(files)


def test_each_case_takes_its_path(all_cases):
    for name, function, args, kwargs, exception in all_cases:
        raised = call(function, args, kwargs)
        assert raised is exception or (exception and raised and issubclass(raised, exception)), \
            name


def held_objects(args, kwargs):
    """The arguments, and the elements and values of the lists and dicts among them."""
    objects = list(args) + list(kwargs.values())
    for value in list(objects):
        if isinstance(value, list):
            objects.extend(value)
    for value in list(objects):
        if isinstance(value, dict):
            objects.extend(value.values())
    # None, the booleans and small ints are statically allocated objects that
    # the interpreter holds and lets go everywhere.
    return [o for o in objects if o is not None and not isinstance(o, bool)
            and not (isinstance(o, int) and -5 <= o <= 256)]


def test_arguments_keep_their_reference_counts(all_cases):
    for name, function, args, kwargs, _ in all_cases:
        objects = held_objects(args, kwargs)
        call(function, args, kwargs)
        before = [sys.getrefcount(o) for o in objects]
        for _ in range(ROUNDS // 3):
            call(function, args, kwargs)
        assert [sys.getrefcount(o) for o in objects] == before, name


def run_rounds(all_cases, rounds):
    for _ in range(rounds):
        for _, function, args, kwargs, _ in all_cases:
            call(function, args, kwargs)
    gc.collect()


def c_heap_bytes():
    """Bytes the C allocator has handed out and not taken back (glibc)."""

    class MallInfo2(ctypes.Structure):
        _fields_ = [(name, ctypes.c_size_t) for name in (
            "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
            "fordblks", "keepcost")]

    mallinfo2 = ctypes.CDLL(None).mallinfo2
    mallinfo2.restype = MallInfo2
    info = mallinfo2()
    return info.uordblks + info.hblkhd


# The C heap is the whole process's: libraries that earlier tests loaded
# (pyarrow's, DuckDB's and polars' thread pools) allocate on their own
# meanwhile, so the check runs in a process of its own.
_ALONE = "FEROLIN_LEAK_CHECK_ALONE"


def test_allocations_stay_flat(all_cases):
    if not os.environ.get(_ALONE):
        child = subprocess.run(
            [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider",
             f"{__file__}::test_allocations_stay_flat"],
            env={**os.environ, _ALONE: "1"}, capture_output=True, text=True)
        assert child.returncode == 0, child.stdout + child.stderr
        return
    # The warm-up fills the interpreter's caches and lets the C allocator
    # settle its thresholds, which moves its counts once by a few hundred KiB.
    run_rounds(all_cases, ROUNDS // 4)
    blocks = sys.getallocatedblocks()
    heap = None if SANITIZED else c_heap_bytes()
    run_rounds(all_cases, ROUNDS)
    # A leak of one block, or of one byte, per call would show as a hundred
    # thousand and more.
    assert sys.getallocatedblocks() - blocks < 500
    if heap is not None:
        assert c_heap_bytes() - heap < 32 * 1024


@pytest.mark.skipif(SANITIZED, reason="too few rounds under AddressSanitizer to tell a leak "
                                       "from the interpreter's caches")
def test_traced_memory_stays_flat(all_cases):
    rounds = ROUNDS // 6
    tracemalloc.start()
    try:
        # As long a warm-up as each measured run: objects that the interpreter
        # keeps on its free lists after tracing started stop growing by then.
        run_rounds(all_cases, rounds)
        snapshots = [tracemalloc.take_snapshot()]
        for _ in range(2):
            run_rounds(all_cases, rounds)
            snapshots.append(tracemalloc.take_snapshot())
    finally:
        tracemalloc.stop()

    def grown(before, after):
        return {stat.traceback: stat for stat in after.compare_to(before, "lineno")
                if stat.count_diff >= rounds // 2 or stat.size_diff > 64 * 1024}

    # A leak keeps one or more objects per call, so its line grows in both
    # measured runs alike. What the interpreter caches grows by fits and
    # stops (its method cache keeps a reference to each attribute name it
    # looked up, in one of 4096 slots chosen by the name's address), so a
    # line that grew in one run only is no leak.
    first, second = grown(snapshots[0], snapshots[1]), grown(snapshots[1], snapshots[2])
    leaks = [second[line] for line in first.keys() & second.keys()]
    assert not leaks, "\n".join(map(str, leaks[:5]))
