"""The command's bounds and outputs: hostile inputs stay within a memory
cap, output files follow the rules policy files follow, and infinite
confidences count alike in curves, calibrations and decisions."""
import gzip
import json
import os
import resource
import shutil
import signal
import stat
import subprocess
import sys
import time
import zlib

import pytest

import ferolin_tools
from ferolin_tools import policies
from conftest import candidate, table_text

HEADER = b"query_id,candidate_id,rank,score,notes\n"
# Address space of a child run of the command: the interpreter with its
# modules takes a few hundred MiB of it; a field held whole would need GiBs.
MEMORY_CAP = 1536 << 20


def command(*args, cap=None, **options):
    """Runs `ferolin ARGS`, under an address-space cap when given."""
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (cap, cap))

    return subprocess.run([sys.executable, "-m", "ferolin_tools", *map(str, args)],
                          capture_output=True, text=True, preexec_fn=limit if cap else None,
                          **options)


def gzip_repeated(prefix, piece, times, suffix=b""):
    """A gzip file whose text is `prefix`, then `piece` `times` times, as
    that many gzip members (GiBs of text from a few MiB of bytes), then `suffix`."""
    member = gzip.compress(piece, compresslevel=1)
    return gzip.compress(prefix) + member * times + gzip.compress(suffix)


def zstd_like(text):
    return b"\x28\xb5\x2f\xfd" + text


HOSTILE = {
    # What the file holds: (its bytes or a path, the command's message).
    "endless-zeros": ("/dev/zero", "column 1 of the header row: a cell longer than 1,048,576"),
    "2GiB-field-gzip": (gzip_repeated(HEADER + b"q1,c1,1,", b"a" * (16 << 20),
                                      128), "line 2, column 'score': a cell longer than"),
    # A column the call does not read is skipped, however long its cell:
    # the read succeeds (None) within the cap.
    "1GiB-quoted-ignored-field": (gzip_repeated(HEADER + b'q1,c1,1,0.5,"',
                                                b'x""\r\n\xc3\xa9' * (2 << 20), 64,
                                                suffix=b'"\n'), None),
    "2GiB-quoted-query-id": (gzip_repeated(HEADER + b'"', b"x" * (16 << 20), 128),
                             "line 2, column 'query_id': a cell longer than"),
    "endless-header": (gzip_repeated(b"", b"a," * (8 << 20), 128),
                       "line 1: a row longer than 16,777,216 bytes"),
    "zstd": (zstd_like(HEADER), "zstd-compressed"),
    "bzip2": (b"BZh91AY&SY" + bytes(20), "bzip2-compressed"),
    "xz": (b"\xfd7zXZ\x00" + bytes(20), "xz-compressed"),
    "zlib": (zlib.compress(HEADER), "zlib-compressed"),
    "xlsx": (b"PK\x03\x04" + bytes(20), "zip archive"),
}


@pytest.mark.skipif(bool(os.environ.get("FEROLIN_SANITIZED")),
                    reason="AddressSanitizer reserves more address space than the cap")
@pytest.mark.parametrize("name", HOSTILE)
def test_hostile_table_is_refused_within_the_memory_cap(tmp_path, name):
    content, message = HOSTILE[name]
    path = content
    if isinstance(content, bytes):
        path = tmp_path / "table.csv"
        path.write_bytes(content)
    started = time.monotonic()
    result = command("scores", path, "--score", "margin", cap=MEMORY_CAP)
    if message is None:
        assert result.returncode == 0, result.stderr
        assert "q1" in result.stdout
    else:
        assert result.returncode == 1, result.stderr
        assert message in result.stderr
        assert "Traceback" not in result.stderr and result.stderr.count("\n") == 1
    assert time.monotonic() - started < 60


def test_field_limit_is_raised_by_the_option(tmp_path):
    table = tmp_path / "t.csv"
    table.write_bytes(HEADER + b"q" * 5000 + b",c1,1,0.5,n\n")
    assert "longer than 4,096" in command("scores", table, "--score", "margin",
                                          "--max-field-size", 4096).stderr
    assert command("scores", table, "--score", "margin", "--max-field-size", 5000).returncode == 0


@pytest.fixture
def labelled(tmp_path):
    rows = [candidate(f"q{i:05}", rank, 3.0 - rank + (i % 97) / 50, 0.9 / rank, rank == 1)
            for i in range(400) for rank in (1, 2)]
    path = tmp_path / "t.csv"
    path.write_text(table_text(rows))
    policy = tmp_path / "p.json"
    assert command("calibrate", path, "--score", "margin", "--error-rate", "0.2",
                   "-o", policy).returncode == 0
    return path, policy


@pytest.mark.parametrize("args", [
    ("apply", "{table}", "{policy}", "-o", "{table}"),
    ("apply", "{table}", "{policy}", "-o", "{policy}"),
    ("apply", "{table}", "{policy}", "-o", "{link}"),
    ("scores", "{table}", "--score", "margin", "-o", "{hardlink}"),
    ("calibrate", "{table}", "--score", "margin", "--error-rate", "0.2", "-o", "{table}"),
    ("curve", "{table}", "--score", "margin", "-o", "{table}"),
    ("compare", "{table}", "-o", "{link}"),
], ids=["apply-table", "apply-policy", "symlink", "hard-link", "calibrate", "curve", "compare"])
def test_an_input_is_never_an_output(tmp_path, labelled, args):
    table, policy = labelled
    os.symlink(table, tmp_path / "link.csv")
    os.link(table, tmp_path / "hard.csv")
    before = table.read_bytes(), policy.read_bytes()
    names = {"table": table, "policy": policy, "link": tmp_path / "link.csv",
             "hardlink": tmp_path / "hard.csv"}
    result = command(*(arg.format(**names) for arg in args))
    assert result.returncode == 2
    assert "is the same file as the" in result.stderr
    assert (table.read_bytes(), policy.read_bytes()) == before


def test_outputs_keep_mode_and_links(tmp_path, labelled):
    table, policy = labelled
    umask = os.umask(0o022)
    try:
        fresh = tmp_path / "fresh.tsv"
        assert command("apply", table, policy, "-o", fresh).returncode == 0
        assert stat.S_IMODE(fresh.stat().st_mode) == 0o644
        shared = tmp_path / "shared.tsv"
        shared.write_text("old")
        shared.chmod(0o664)
        link = tmp_path / "link.tsv"
        link.symlink_to("shared.tsv")
        for kind in ("scores", "curve", "compare"):
            extra = ["--score", "margin"] if kind != "compare" else ["--bootstrap", "0"]
            assert command(kind, table, *extra, "-o", link).returncode == 0
            assert link.is_symlink() and stat.S_IMODE(shared.stat().st_mode) == 0o664
            assert shared.read_text() == command(kind, table, *extra).stdout
    finally:
        os.umask(umask)


def test_a_killed_run_leaves_the_old_file_and_nothing_beside_it(tmp_path):
    table = tmp_path / "t.csv"
    table.write_text("query_id,candidate_id,rank,score\n"
                     + "".join(f"query-{i:07},c,1,{i % 13}\n" for i in range(300_000)))
    folder = tmp_path / "out"
    folder.mkdir()
    target = folder / "scores.tsv"
    target.write_text("old")
    child = subprocess.Popen([sys.executable, "-m", "ferolin_tools", "scores", str(table),
                              "--score", "margin", "-o", str(target)],
                             stderr=subprocess.DEVNULL)
    # Killed once it is writing: it holds an open file in the folder that
    # has no name there.
    deadline = time.monotonic() + 60
    writing = False
    while not writing and child.poll() is None and time.monotonic() < deadline:
        fds = f"/proc/{child.pid}/fd"
        try:
            links = [os.readlink(os.path.join(fds, fd)) for fd in os.listdir(fds)]
        except OSError:
            links = []
        writing = any(link.startswith(str(folder)) for link in links)
    child.send_signal(signal.SIGKILL)
    child.wait()
    assert writing
    assert os.listdir(folder) == ["scores.tsv"]
    assert target.read_text() == "old"


FULL_DISK_SCRIPT = """
import os, subprocess, sys
folder, table = sys.argv[1], sys.argv[2]
target = os.path.join(folder, "scores.tsv")
with open(target, "w") as old:
    old.write("old")
result = subprocess.run([sys.executable, "-m", "ferolin_tools", "scores", table, "--score",
                         "margin", "-o", target], capture_output=True, text=True)
print(result.returncode, sorted(os.listdir(folder)), open(target).read())
print(result.stderr, end="")
"""


def test_a_full_disk_gives_one_line_and_keeps_the_old_file(tmp_path):
    if os.geteuid() != 0 or not shutil.which("unshare"):
        pytest.skip("needs root and unshare to mount a small tmpfs")
    table = tmp_path / "t.csv"
    table.write_text("query_id,candidate_id,rank,score\n"
                     + "".join(f"query-{i:07},c,1,{i}\n" for i in range(20_000)))
    mounted = tmp_path / "disk"
    mounted.mkdir()
    mount = 'mount -t tmpfs -o size=256k tmpfs "$1" || exit 77; shift; exec "$@"'
    result = subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c", mount,
                             "sh", str(mounted), sys.executable, "-c", FULL_DISK_SCRIPT,
                             str(mounted), str(table)], capture_output=True, text=True)
    if result.returncode == 77 or "unshare failed" in result.stderr:
        pytest.skip("cannot mount a tmpfs here: " + result.stderr.strip())
    status, message = result.stdout.split("\n", 1)
    assert status == "1 ['scores.tsv'] old"
    assert message.startswith("ferolin: cannot write the output: ")
    assert "No space left on device" in message and message.count("\n") == 1


def test_infinite_confidences_count_alike_everywhere(tmp_path):
    # score-gap is infinite where the top score is: 30 such queries, a third
    # of them wrong, beside 70 finite ones.
    rows = []
    for i in range(100):
        second = 1.0
        top = float("inf") if i < 30 else 2.0 + (i % 10) / 10
        right = i % 3 != 0 if i < 30 else i % 7 != 0
        rows += [candidate(f"q{i:03}", 1, top, is_correct=right),
                 candidate(f"q{i:03}", 2, second, is_correct=False)]
    table = tmp_path / "t.csv"
    table.write_text(table_text(rows))
    calibration = ferolin_tools.calibrate(str(table), "score-gap", 0.25)
    decisions = ferolin_tools.apply(str(table), calibration.policy, numpy=False)
    labels = {q: r["is_correct"] for q, r in
              ((row["query_id"], row) for row in rows if row["rank"] == 1)}
    accepted = [q for q, a in zip(decisions["query_id"], decisions["accepted"]) if a]
    errors = sum(not labels[q] for q in accepted)
    report = calibration.report
    assert (report.accepted, report.errors) == (len(accepted), errors)
    assert all(row["threshold"] != float("inf") for row in ferolin_tools.curve(
        str(table), ["score-gap"])["score-gap"].curve)
    policy = tmp_path / "p.json"
    result = command("calibrate", table, "--score", "score-gap", "--error-rate", "0.25",
                     "-o", policy)
    assert result.returncode == 0
    assert "30 of the 100 queries an infinite confidence" in result.stderr
    assert json.loads(policy.read_text())["threshold"] == calibration.policy["threshold"]
    assert command("apply", table, policy).stdout.count("\ttrue\t") == len(accepted)


def scores_table(header_methods):
    return ("query_id\tcandidate_id\tscore\tis_correct\tcandidates\t" + "\t".join(header_methods)
            + "\nq1\tc\t1\ttrue\t2" + "\t0.5" * len(header_methods) + "\n")


@pytest.mark.parametrize("args, files, message, status", [
    (("apply", "{t}", "{p}"), {"p.json": json.dumps({
        "version": "0.1.0", "scoring_method": "margin", "threshold": 0.5,
        "target_error_rate": 0.05, "calibration_method": "empirical", "confidence_level": None,
        "created_by": "ferolin", "group_col": "notes"}).replace(
        '"notes"', '"notes", "group_thresholds": {"a": 0.9, "a": 0.1}')},
     "the group label 'a' is given twice", 1),
    (("calibrate", "{t}", "--score", "margin", "--error-rate", "0.1", "--group-col",
      "is_correct"), {}, "the group column 'is_correct' is the is_correct column", 2),
    (("calibrate", "{t}", "--score", "margin", "--error-rate", "0.1", "--group-col", "Label",
      "--column", "is_correct=Label"), {}, "the group column 'Label' is the is_correct", 2),
    (("curve", "--from-scores", "{s}", "--score", "margin"),
     {"s.tsv": scores_table(["margin", "margin"])}, "two columns named 'margin'", 1),
], ids=["repeated-group-label", "group-by-label", "group-by-mapped-label", "two-method-columns"])
def test_tampering_and_mistakes_are_refused(tmp_path, labelled, args, files, message, status):
    table, _ = labelled
    for name, text in files.items():
        (tmp_path / name).write_text(text)
    names = {"t": table, "p": tmp_path / "p.json", "s": tmp_path / "s.tsv"}
    result = command(*(arg.format(**names) for arg in args))
    assert result.returncode == status
    assert message in result.stderr


def test_a_shard_task_removes_its_old_decisions_first(tmp_path, labelled):
    _, policy = labelled
    decisions = tmp_path / "part.decisions.tsv"
    decisions.write_text("an earlier run's decisions")
    with pytest.raises(ferolin_tools.TableError):
        ferolin_tools.apply_shard(str(tmp_path / "missing.csv"),
                                  policies.read(str(policy)), str(decisions))
    assert not decisions.exists()


def test_a_long_header_is_reported_whole(tmp_path):
    # 2 MiB of header: beyond what was searched for reports before, within
    # what the read accepts.
    extra = 250_000
    table = tmp_path / "wide.csv"
    table.write_text("query_id,candidate_id,rank,score,is_correct,"
                     + ",".join(f"x{i:06}" for i in range(extra)) + "\n"
                     + "q1,c1,1,0.5," + "," * extra + "\n")
    result = command("curve", table, "--score", "score-gap")
    assert result.returncode == 1
    assert "the 'is_correct' cell is empty" in result.stderr
