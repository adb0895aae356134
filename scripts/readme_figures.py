"""Regenerates the console examples of README.md from the installed build.

Every ```console block of the README is a session: lines starting with "$ "
(continued by a trailing backslash) are commands, the lines after each its
output. This script runs the commands in order, one block after another, in
a scratch folder holding the example tables (and the real result of
SOURCE.md where present), and writes their output into the README; the
picture that `--plot rc.png` draws becomes docs/risk_coverage.png.

    python3 scripts/readme_figures.py           # rewrite README.md
    python3 scripts/readme_figures.py --check   # exit 1 when it is stale

A block that needs a file that is absent here is left as it stands (and
named on standard error).
"""
from __future__ import annotations

import argparse
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
README = ROOT / "README.md"
PICTURE = ROOT / "docs" / "risk_coverage.png"
EXAMPLES = ROOT / "examples" / "data"
REAL = pathlib.Path("/work/shared/data/real/impact_iokr/impact_iokr_top100.csv")
BLOCK = re.compile(r"```console\n(.*?)```\n", re.DOTALL)


def commands(block: str) -> list[str]:
    """The commands of a block, continuation lines joined as typed."""
    found, current = [], None
    for line in block.splitlines():
        if current is not None:
            current += "\n" + line
        elif line.startswith("$ "):
            current = line[2:]
        else:
            continue
        if not current.endswith("\\"):
            found.append(current)
            current = None
    return found


def prepare(folder: pathlib.Path) -> None:
    """The tables the examples name, in the folder they run in."""
    for table in EXAMPLES.glob("*.csv"):
        shutil.copy(table, folder / table.name)
    # A table whose labels stand under another header name.
    text = (EXAMPLES / "labelled_candidates.csv").read_text()
    header, _, rest = text.partition("\n")
    (folder / "search.csv").write_text(header.replace("is_correct", "Is_Correct") + "\n" + rest)
    if REAL.exists():
        shutil.copy(REAL, folder / REAL.name)


def run_block(block: str, folder: pathlib.Path, env: dict[str, str]) -> str | None:
    """The block with each command's output as it is now; None when a file
    it needs is absent."""
    if REAL.name in block and not (folder / REAL.name).exists():
        return None
    lines = []
    for command in commands(block):
        # One pipe for both streams keeps their lines in the order written;
        # a command's own redirections still apply to its standard output.
        result = subprocess.run(["bash", "-c", command], cwd=folder, env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                timeout=600)
        lines.append("$ " + command)
        lines += result.stdout.splitlines()
    return "\n".join(lines) + "\n"


def regenerate(text: str, folder: pathlib.Path) -> str:
    env = dict(os.environ, PYTHONUNBUFFERED="1", COLUMNS="100",
               PATH=f"{pathlib.Path(sys.executable).parent}{os.pathsep}{os.environ['PATH']}")

    def replace(match: re.Match[str]) -> str:
        fresh = run_block(match.group(1), folder, env)
        if fresh is None:
            print(f"left as it stands (needs {REAL}): {match.group(1).splitlines()[0]}",
                  file=sys.stderr)
            return match.group(0)
        return "```console\n" + fresh + "```\n"

    return BLOCK.sub(replace, text)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="exit 1 when README.md differs from the current build's output")
    args = parser.parse_args()
    text = README.read_text()
    with tempfile.TemporaryDirectory() as scratch:
        folder = pathlib.Path(scratch)
        prepare(folder)
        fresh = regenerate(text, folder)
        if args.check:
            if fresh != text:
                print("README.md is stale: run python3 scripts/readme_figures.py",
                      file=sys.stderr)
                return 1
            return 0
        README.write_text(fresh)
        if (folder / "rc.png").exists():
            shutil.copy(folder / "rc.png", PICTURE)
    return 0


if __name__ == "__main__":
    sys.exit(main())
