"""Thresholds per group, intervals and the selective-prediction metrics of
`ferolin compare`, through the command line and the Python API: a grouped
policy meets the target in every group where the global threshold does not,
it is applied by the lookup rule, the bootstrap is fixed by its seed and
narrows with more queries, and the record a policy file keeps of its
calibration leaves the file readable by ferolin.load_policy."""
import csv
import gzip
import hashlib
import io
import json
import math
import pathlib
import random
import subprocess
import sys

import pytest

import ferolin
import ferolin_tools

ROOT = pathlib.Path(__file__).resolve().parents[2]
LABELLED = str(ROOT / "examples" / "data" / "labelled_candidates.csv")
# Below its cut a group's top candidates are wrong: the hard group needs a
# far higher threshold than the easy one.
CUTS = {"easy": 0.3, "hard": 0.8}


def run(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "ferolin_tools", *map(str, args)],
                          capture_output=True, text=True, cwd=cwd, timeout=120)


def grouped_rows():
    """(query, group, gap, correct): 200 queries per group with gaps spread
    evenly over (0, 1), 20 of a rare group, 5 without a group."""
    rows = []
    for group, count in (("easy", 200), ("hard", 200), ("rare", 20), ("", 5)):
        for i in range(count):
            gap = (i + 0.5) / count
            rows.append((f"{group or 'none'}{i:03}", group, gap, gap > CUTS.get(group, 0.5)))
    return rows


def grouped_table(path):
    lines = ["query_id,candidate_id,rank,score,is_correct,mode"]
    for query, group, gap, correct in grouped_rows():
        lines.append(f"{query},{query}-a,1,{1 + gap!r},{str(correct).lower()},{group}")
        lines.append(f"{query},{query}-b,2,1.0,false,{group}")
    path.write_text("\n".join(lines) + "\n")
    return path


def risk_at(table, threshold, group):
    """The observed risk of a group's queries that the threshold accepts."""
    confidences = ferolin_tools.scores(table, ["score-gap"], numpy=False)["score-gap"]
    labels = {query: (g, correct) for query, g, _, correct in grouped_rows()}
    accepted = [labels[q][1] for q, c in zip(sorted(labels), confidences)
                if labels[q][0] == group and c >= threshold]
    return accepted.count(False) / len(accepted)


@pytest.fixture(scope="module")
def grouped(tmp_path_factory):
    return str(grouped_table(tmp_path_factory.mktemp("groups") / "grouped.csv"))


def test_groups_get_the_thresholds_they_need_and_small_ones_fall_back(grouped, tmp_path):
    calibration = ferolin_tools.calibrate(grouped, "score-gap", 0.05, group_col="mode",
                                          bootstrap=0)
    policy, report = calibration.policy, calibration.report.groups
    assert policy["group_col"] == "mode" and set(policy["group_thresholds"]) == {"easy", "hard"}
    global_threshold = policy["threshold"]
    assert risk_at(grouped, global_threshold, "hard") > 0.05  # one threshold over-accepts
    for group, threshold in policy["group_thresholds"].items():
        assert risk_at(grouped, threshold, group) <= 0.05
    assert policy["group_thresholds"]["easy"] < global_threshold < \
        policy["group_thresholds"]["hard"]
    by_group = {g.group: g for g in report.groups}
    assert by_group["rare"].threshold is None and by_group["rare"].outcome.labelled == 20
    assert report.ungrouped.labelled == 5
    assert report.grouped_policy.accepted > report.global_only.accepted

    # The same through the command line, with every group in the report.
    result = run("calibrate", grouped, "--score", "score-gap", "--error-rate", "0.05",
                 "--group-col", "mode", "--min-group", "50", "-o", tmp_path / "p.json")
    assert result.returncode == 0, result.stderr
    lines = result.stderr.splitlines()
    assert any(line.split()[:3] == ["rare", "20", "global"] for line in lines)
    assert any(line.split()[:2] == ["(no", "group)"] for line in lines)
    written = json.loads((tmp_path / "p.json").read_text())
    assert written["group_thresholds"] == policy["group_thresholds"]
    # A lower --min-group gives the rare group a threshold of its own.
    low = ferolin_tools.calibrate(grouped, "score-gap", 0.05, group_col="mode", min_group=20,
                                  bootstrap=0)
    assert set(low.policy["group_thresholds"]) == {"easy", "hard", "rare"}


def test_grouped_policy_is_applied_by_the_lookup_rule(grouped, tmp_path):
    calibration = ferolin_tools.calibrate(grouped, "score-gap", 0.05, group_col="mode",
                                          bootstrap=0)
    calibration.save(tmp_path / "p.json")
    thresholds = calibration.policy["group_thresholds"]
    result = run("apply", grouped, tmp_path / "p.json", "-o", tmp_path / "d.tsv")
    assert result.returncode == 0, result.stderr
    assert "group thresholds by mode: 2 of 2 applied" in result.stderr
    assert "; 25 queries at the global threshold" in result.stderr
    with open(tmp_path / "d.tsv", newline="") as handle:
        rows = list(csv.DictReader(handle, dialect="excel-tab"))
    assert list(rows[0])[-1] == "group"
    for row in rows:
        want = thresholds.get(row["group"], calibration.policy["threshold"])
        assert float(row["threshold"]) == want
        assert (row["accepted"] == "true") == (float(row["confidence"]) >= want)
    api = ferolin_tools.apply(grouped, calibration.policy, numpy=False)
    assert api["accepted"] == [row["accepted"] == "true" for row in rows]

    # A policy whose group column the table lacks names it.
    renamed = dict(calibration.policy, group_col="ion_mode")
    ferolin_tools.analysis.Calibration(renamed, calibration.report, []).save(tmp_path / "r.json")
    missing = run("apply", grouped, tmp_path / "r.json")
    assert missing.returncode == 1 and missing.stdout == ""
    assert "the group column 'ion_mode' that policy" in missing.stderr


def test_policy_record_survives_load_policy_and_fingerprints_the_file(tmp_path):
    text = pathlib.Path(LABELLED).read_bytes()
    (tmp_path / "t.csv.gz").write_bytes(gzip.compress(text))
    for name in (LABELLED, tmp_path / "t.csv.gz"):
        result = run("calibrate", name, "--score", "margin", "--error-rate", "0.05",
                     "--bootstrap", "50", "-o", tmp_path / "p.json")
        assert result.returncode == 0, result.stderr
        record = json.loads((tmp_path / "p.json").read_text())["calibration"]
        stored = pathlib.Path(name).read_bytes()
        assert record["table_sha256"] == hashlib.sha256(stored).hexdigest()
        assert record["table_bytes"] == len(stored)
        assert ferolin.load_policy(str(tmp_path / "p.json")) == \
            ferolin.calibrate(LABELLED, "margin", 0.05)
    assert record["bootstrap"]["replicates"] == 50
    assert record["labelled"] == 2000 and len(record["bootstrap"]["aurc_interval"]) == 2


def calibrated_table(path, queries, seed=3):
    """Top candidates right with the probability of their score gap."""
    rng = random.Random(seed)
    lines = ["query_id,candidate_id,rank,score,is_correct"]
    for q in range(queries):
        gap = rng.random()
        correct = str(rng.random() < gap).lower()
        lines += [f"q{q},a,1,{1 + gap!r},{correct}", f"q{q},b,2,1.0,false"]
    path.write_text("\n".join(lines) + "\n")
    return str(path)


def test_bootstrap_is_fixed_by_its_seed_holds_the_estimate_and_narrows(tmp_path):
    small = calibrated_table(tmp_path / "small.csv", 500)
    large = calibrated_table(tmp_path / "large.csv", 2000)

    def entry(table, seed=1, replicates=400):
        (found,) = ferolin_tools.compare(table, methods=["score-gap"], bootstrap=replicates,
                                         seed=seed, error_rate=0.2)
        return found

    first, again, other = entry(small), entry(small), entry(small, seed=2)
    assert first.intervals == again.intervals and first.intervals != other.intervals
    for figure in ("aurc", "eaurc", "augrc", "coverage", "risk"):
        low, high = first.intervals.intervals[figure]
        assert low <= first.intervals.estimates[figure] <= high, figure
    assert first.intervals.estimates["aurc"] == first.aurc
    widths = [(lambda low, high: high - low)(*entry(t).intervals.intervals["aurc"])
              for t in (small, large)]
    assert 1.5 < widths[0] / widths[1] < 2.7  # four times the queries: about half as wide

    # The command line gives the same intervals for the same seed.
    result = run("compare", small, "--bootstrap", "400", "--seed", "1", "--error-rate", "0.2",
                 "--format", "json")
    (document,) = [e for e in json.loads(result.stdout) if e["score"] == "score-gap"]
    assert document["aurc_interval"] == list(first.intervals.intervals["aurc"])
    assert document["risk_wilson_interval"] == list(first.risk_wilson_interval)
    off = run("compare", small, "--bootstrap", "0", "--format", "json")
    assert not any(key.endswith("_interval") and key != "risk_wilson_interval"
                   for key in json.loads(off.stdout)[0])


def test_compare_reports_the_fields_metrics_by_their_definitions():
    result = run("compare", LABELLED, "--at-coverage", "0.1,0.5,0.9,1", "--bootstrap", "0")
    assert result.returncode == 0, result.stderr
    rows = {row["score"]: row for row in csv.DictReader(io.StringIO(result.stdout),
                                                        dialect="excel-tab")}
    entries = {e.score: e for e in ferolin_tools.compare(LABELLED, at_coverage=[0.1, 0.5, 0.9, 1],
                                                          bootstrap=0)}
    for score, entry in entries.items():
        curve = (ferolin.compute_curve(LABELLED, score) if score != "top-score" else
                 ferolin_tools.curve(LABELLED, [], confidence="score")["top-score"].curve)
        area, previous = 0.0, (0.0, 0.0)
        for row in curve:
            point = (row["coverage"], row["errors"] / row["total"])
            area += (previous[1] + point[1]) * (point[0] - previous[0]) * 0.5
            previous = point
        assert entry.augrc == pytest.approx(area, rel=1e-12)
        for coverage, risk in entry.risk_at_coverage.items():
            below = [row["risk"] for row in curve if row["coverage"] <= coverage]
            assert risk == (below[-1] if below else None), (score, coverage)
            cell = rows[score][f"risk_at_{coverage:g}"]
            assert (cell == "") if risk is None else float(cell) == risk
        within = [row["coverage"] for row in curve if row["risk"] <= 0.05]
        assert entry.coverage_at_risk == (max(within) if within else None)


@pytest.mark.parametrize("args, message", [
    (["compare", LABELLED, "--bootstrap", "10"], "0 (no intervals) or 39 to 1000000"),
    (["compare", LABELLED, "--at-coverage", "0.5,1.5"], "above 0 and at most 1"),
    (["calibrate", LABELLED, "--score", "margin", "--error-rate", "0.05", "--seed", "-1"],
     "is not a seed"),
])
def test_interval_options_refuse_bad_values(args, message):
    result = run(*args)
    assert result.returncode == 2 and message in result.stderr
    assert "Traceback" not in result.stderr


def test_plot_draws_the_band_and_each_groups_threshold(grouped, tmp_path):
    pytest.importorskip("matplotlib")
    from ferolin_tools import plot

    result = run("calibrate", grouped, "--score", "score-gap", "--error-rate", "0.05",
                 "--group-col", "mode", "--bootstrap", "100", "--plot", tmp_path / "rc.png",
                 "-o", tmp_path / "p.json")
    assert result.returncode == 0, result.stderr
    assert (tmp_path / "rc.png").stat().st_size > 0
    curve = ferolin.compute_curve(LABELLED, "margin")
    band = ([0.5, 1.0], [(0.3, 0.4), (0.45, 0.55)])
    ax = plot.plot_risk_coverage(curve, band=band)
    plot.plot_group(ax, curve, "pos", curve[10]["threshold"])
    gids = {artist.get_gid() for artist in ax.get_children()}
    assert {"bootstrap-band", "group-threshold-pos"} <= gids
    assert not math.isnan(ax.get_ylim()[1])
