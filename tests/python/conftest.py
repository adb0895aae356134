"""Shared fixtures: small candidates tables and policy files written into tmp_path."""
import os
import pathlib

import pytest


@pytest.fixture
def write_file(tmp_path):
    """Writes text (or bytes) to a file in tmp_path and returns its path as str."""

    def write(name, content):
        path = tmp_path / name
        if isinstance(content, str):
            path.write_bytes(content.encode("utf-8"))
        else:
            path.write_bytes(content)
        return str(path)

    return write


@pytest.fixture
def programs_dir():
    """The folder of the test-only programs built beside the GoogleTest suite."""
    folder = os.environ.get("FEROLIN_PROGRAMS_DIR")
    if not folder or not pathlib.Path(folder).is_dir():
        pytest.skip("FEROLIN_PROGRAMS_DIR is not set: run through scripts/test.sh")
    return pathlib.Path(folder)


COLUMNS = ["query_id", "candidate_id", "rank", "score", "probability", "is_correct"]


def cell(value):
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float):
        return repr(value)  # shortest round-trip text; 'nan', 'inf', '-inf' included
    text = str(value)
    if any(ch in text for ch in ',"\r\n'):
        return '"' + text.replace('"', '""') + '"'
    return text


def table_text(rows, columns=COLUMNS):
    """CSV text for rows given as dicts (missing keys give empty cells)."""
    lines = [",".join(columns)]
    for row in rows:
        lines.append(",".join(cell(row.get(column)) for column in columns))
    return "\n".join(lines) + "\n"


def candidate(query_id, rank, score=0.0, probability=None, is_correct=None, candidate_id=None):
    return {"query_id": query_id, "candidate_id": candidate_id or f"{query_id}-c{rank}",
            "rank": rank, "score": score, "probability": probability, "is_correct": is_correct}


@pytest.fixture
def make_table(tmp_path):
    """Writes candidate rows (dicts) as a CSV table and returns its path."""
    counter = [0]

    def make(rows, columns=COLUMNS):
        counter[0] += 1
        path = tmp_path / f"table{counter[0]}.csv"
        path.write_text(table_text(rows, columns), encoding="utf-8")
        return str(path)

    return make


# A script run by run_capped() calls cap_memory(headroom) once it is set up:
# its address space is then limited to what it holds plus `headroom` bytes.
CAP_MEMORY = '''
import resource
def cap_memory(headroom):
    size = next(int(line.split()[1]) * 1024 for line in open("/proc/self/status")
                if line.startswith("VmSize:"))
    resource.setrlimit(resource.RLIMIT_AS, (size + headroom, size + headroom))
'''

memory_cap = pytest.mark.skipif(
    not os.uname().sysname == "Linux" or bool(os.environ.get("FEROLIN_SANITIZED")),
    reason="reads /proc/self/status; AddressSanitizer's allocator aborts instead of failing "
           "an allocation")


def many_queries(path, count):
    """Writes a table of `count` queries of one candidate each to `path`."""
    path.write_text("query_id,candidate_id,rank,score\n"
                    + "".join(f"q{i},c,1,1\n" for i in range(count)))
    return path


def run_capped(script):
    """Runs the Python `script` in a child interpreter that has cap_memory()."""
    import subprocess
    import sys

    return subprocess.run([sys.executable, "-c", CAP_MEMORY + script], capture_output=True,
                          text=True)
