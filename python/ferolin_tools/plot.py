"""Risk-coverage plots (needs the optional extra: pip install 'ferolin[plot]')."""
from __future__ import annotations

import math
from typing import Any, Optional, Sequence

from ferolin_tools.output_files import output_file

EXTRA_HINT = "plotting needs matplotlib: install it with  pip install 'ferolin[plot]'"


class PlotUnavailable(RuntimeError):
    """matplotlib is not installed."""


def pyplot() -> Any:
    try:
        import matplotlib

        matplotlib.use("Agg", force=False)
        import matplotlib.pyplot as pyplot
    except ImportError as error:
        raise PlotUnavailable(EXTRA_HINT) from error
    return pyplot


#: Points of the bootstrap band: coverages 0.005, 0.01, ..., 1.
BAND_POINTS = 200

#: A band: the coverages and the (low, high) risk at each.
Band = tuple[Sequence[float], Sequence[tuple[float, float]]]


def band_coverages() -> list[float]:
    """The coverages at which a bootstrap band is drawn."""
    return [k / BAND_POINTS for k in range(1, BAND_POINTS + 1)]


def plot_risk_coverage(curve: Sequence[dict[str, Any]], ax: Any = None, *,
                       label: Optional[str] = None, target: Optional[float] = None,
                       threshold: Optional[float] = None, band: Optional[Band] = None) -> Any:
    """Draws risk against coverage for a curve from `ferolin.compute_curve`.

    One point per row joined as a step curve; `band` (coverages and the
    (low, high) risk at each, as ferolin_tools.intervals.risk_band gives
    them) shades the pointwise 95% bootstrap band around it; `target` adds
    a horizontal line at the target error rate; `threshold` marks and labels
    the row with that threshold (the one a calibrated policy chose).
    Returns the axes.
    """
    if ax is None:
        ax = pyplot().subplots(figsize=(6, 4))[1]
    coverage = [row["coverage"] for row in curve]
    risk = [row["risk"] if row["risk"] is not None else math.nan for row in curve]
    (line,) = ax.step(coverage, risk, where="post", label=label)
    ax.plot(coverage, risk, "o", markersize=2, color=line.get_color())
    if band is not None:
        points, ends = band
        ax.fill_between(points, [low for low, _ in ends], [high for _, high in ends],
                        step="post", alpha=0.2, color=line.get_color(), linewidth=0,
                        label="95% bootstrap band", gid="bootstrap-band")
    if target is not None:
        ax.axhline(target, linestyle="--", color="grey", linewidth=1,
                   label=f"target error rate {target:g}")
    if threshold is not None:
        chosen = [row for row in curve if row["threshold"] == threshold]
        if chosen:
            row = chosen[-1]
            ax.plot([row["coverage"]], [row["risk"]], "D", markersize=8, color="black",
                    label=f"threshold {threshold:.4g}", gid="chosen-threshold")
            ax.annotate(f"threshold {threshold:.4g}\ncoverage {row['coverage']:.3f}",
                        (row["coverage"], row["risk"]), textcoords="offset points",
                        xytext=(8, 8))
    ax.set_xlabel("coverage (share of queries accepted)")
    ax.set_ylabel("risk (error rate among accepted)")
    ax.set_xlim(0, 1.02)
    ax.set_ylim(bottom=0)
    if label is not None or target is not None or threshold is not None:
        ax.legend(loc="upper left", fontsize="small")
    return ax


def plot_group(ax: Any, curve: Sequence[dict[str, Any]], group: str, threshold: float) -> None:
    """Adds one group's own curve, thin, with its threshold marked on it."""
    coverage = [row["coverage"] for row in curve]
    risk = [row["risk"] if row["risk"] is not None else math.nan for row in curve]
    (line,) = ax.step(coverage, risk, where="post", linewidth=0.8, alpha=0.8,
                      label=f"group {group} (coverage within it)")
    chosen = [row for row in curve if row["threshold"] == threshold]
    if chosen:
        ax.plot([chosen[-1]["coverage"]], [chosen[-1]["risk"]], "s", markersize=6,
                color=line.get_color(), label=f"{group} threshold {threshold:.4g}",
                gid=f"group-threshold-{group}")
    ax.legend(loc="upper left", fontsize="small")


def save_figure(ax: Any, path: str) -> None:
    figure = ax.get_figure()
    figure.tight_layout()
    # Drawn whole before the core's writer puts it in place: a full disk
    # leaves the old plot, not a cut one.
    with output_file(path, binary=True) as stream:
        figure.savefig(stream, format=path.rpartition(".")[2].lower(), dpi=100)
    pyplot().close(figure)


def format_problem(path: str) -> Optional[str]:
    """Returns why matplotlib cannot write a plot at `path` (an unknown file
    type), or None; None too when matplotlib is missing (reported later)."""
    try:
        from matplotlib.figure import Figure
    except ImportError:
        return None
    extension = path.rpartition(".")[2].lower() if "." in path else ""
    supported = Figure().canvas.get_supported_filetypes()
    if extension not in supported:
        return (f"cannot write plot {path}: the file type '.{extension}' is not one matplotlib "
                f"writes; use one of {', '.join('.' + name for name in sorted(supported))}")
    return None
