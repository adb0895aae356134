"""Draws every figure of the documentation from the bundled example data.

Run by the documentation build (docs/conf.py) before it reads a page, and
by hand as `python docs/figures.py OUTPUT_FOLDER`. The risk-coverage
pictures are drawn by the `ferolin` command itself, as a user would draw
them; the benchmark chart from benchmarks/results.json, the figures of the
latest benchmark run. Nothing here is pasted: a figure that cannot be made
fails the build.
"""
from __future__ import annotations

import json
import pathlib
import shutil
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
EXAMPLES = ROOT / "examples" / "data"
BENCHMARK_RESULTS = ROOT / "benchmarks" / "results.json"

# Each figure drawn by the command: its file name and the arguments that draw it.
COMMAND_FIGURES = {
    "risk_coverage.png": ["calibrate", "labelled_candidates.csv", "--score", "topk-gap",
                          "--error-rate", "0.05", "--method", "binomial",
                          "--confidence-level", "0.95", "--bootstrap", "200"],
    "curves.png": ["curve", "labelled_candidates.csv", "--score", "topk-gap",
                   "--score", "margin", "--score", "max-prob", "--score", "entropy"],
    "groups.png": ["calibrate", "two_modes_candidates.csv", "--score", "topk-gap",
                   "--error-rate", "0.05", "--group-col", "ion_mode", "--bootstrap", "0"],
}


def ferolin_command() -> list[str]:
    """Returns the command that runs `ferolin` with this interpreter's package."""
    return [sys.executable, "-m", "ferolin_tools"]


def draw_with_command(name: str, arguments: list[str], output: pathlib.Path,
                      scratch: pathlib.Path) -> None:
    command = [*ferolin_command(), *arguments, "--quiet", "--plot", str(output / name)]
    done = subprocess.run(command, cwd=scratch, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"drawing {name} failed ({done.returncode}): {done.stderr}")


def draw_benchmarks(output: pathlib.Path) -> None:
    """Draws how many times as fast as each peer ferolin ran, per table shape."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as pyplot

    results = json.loads(BENCHMARK_RESULTS.read_text())
    shapes = results["shapes"]
    peers = results["peers"]
    figure, ax = pyplot.subplots(figsize=(9, 0.6 * len(shapes) + 1.6), layout="constrained")
    height = 0.8 / len(peers)
    for index, peer in enumerate(peers):
        positions = [row + index * height for row in range(len(shapes))]
        ratios = [shape["ratios"].get(peer, 0.0) for shape in shapes]
        bars = ax.barh(positions, ratios, height=height, label=peer)
        ax.bar_label(bars, fmt="%.1f", fontsize=7, padding=2)
    ax.set_yticks([row + 0.4 - height / 2 for row in range(len(shapes))],
                  [shape["name"] for shape in shapes])
    ax.invert_yaxis()
    ax.axvline(1.0, color="black", linewidth=0.8, linestyle=":")
    ax.set_xlim(0, max(max(shape["ratios"].values()) for shape in shapes) * 1.12)
    ax.set_xlabel("peer's time / ferolin's time (above 1: ferolin is faster)")
    ax.set_title(f"medians of {results['runs']} runs; {results['machine']}", fontsize=9)
    ax.legend(loc="lower right", fontsize=8)
    figure.savefig(output / "benchmarks.png", dpi=150, bbox_inches="tight")
    pyplot.close(figure)


def draw_all(output: pathlib.Path) -> None:
    output.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="ferolin-figures-") as folder:
        scratch = pathlib.Path(folder)
        for path in EXAMPLES.iterdir():
            shutil.copy(path, scratch / path.name)
        for name, arguments in COMMAND_FIGURES.items():
            draw_with_command(name, arguments, output, scratch)
    draw_benchmarks(output)


if __name__ == "__main__":
    draw_all(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/docs-figures"))
