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


#: Size of a figure in inches, and the resolution of raster files (PNG):
#: 2400 x 1350 pixels, enough for print. PDF and SVG files are vector drawings.
FIGURE_SIZE = (8.0, 4.5)
DPI = 300
#: Room around [0, 1] on both axes, so that points on the edges are whole.
MARGIN = 0.03

#: Points of the bootstrap band: coverages 0.005, 0.01, ..., 1.
BAND_POINTS = 200

#: A band: the coverages and the (low, high) risk at each.
Band = tuple[Sequence[float], Sequence[tuple[float, float]]]


def band_coverages() -> list[float]:
    """The coverages at which a bootstrap band is drawn."""
    return [k / BAND_POINTS for k in range(1, BAND_POINTS + 1)]


def new_axes(panels: int = 1) -> Any:
    """A figure of `panels` axes side by side; returns the axes (one, or a list)."""
    width, height = FIGURE_SIZE
    # Side by side, each panel keeps the height and gives up some width.
    width = width if panels == 1 else 0.75 * width * panels
    figure, axes = pyplot().subplots(1, panels, figsize=(width, height), squeeze=False)
    return axes[0][0] if panels == 1 else list(axes[0])


def _frame(ax: Any, xlabel: str) -> None:
    """The full unit square with a margin, and the legend beside the data."""
    ax.set_xlabel(xlabel)
    ax.set_ylabel("risk (error rate among accepted)")
    ax.set_xlim(-MARGIN, 1 + MARGIN)
    ax.set_ylim(-MARGIN, 1 + MARGIN)
    if ax.get_legend_handles_labels()[0]:
        ax.legend(loc="upper left", bbox_to_anchor=(1.02, 1.0), borderaxespad=0.0,
                  fontsize="small")


def plot_risk_coverage(curve: Sequence[dict[str, Any]], ax: Any = None, *,
                       label: Optional[str] = None, target: Optional[float] = None,
                       threshold: Optional[float] = None, band: Optional[Band] = None,
                       title: Optional[str] = None) -> Any:
    """Draws risk against coverage for a curve from `ferolin.compute_curve`.

    One point per row joined as a step curve; `band` (coverages and the
    (low, high) risk at each, as ferolin_tools.intervals.risk_band gives
    them) shades the pointwise 95% bootstrap band around it; `target` adds
    a horizontal line at the target error rate; `threshold` marks the row
    with that threshold (the one a calibrated policy chose), named in the
    legend; `title` (e.g. the method and n) goes above. Both axes span
    [0, 1] with a margin and the legend stands beside them.
    Returns the axes.
    """
    if ax is None:
        ax = new_axes()
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
            # Named in the legend rather than beside the point, where the
            # text would cross the target line or leave the frame.
            ax.plot([row["coverage"]], [row["risk"]], "D", markersize=7, color="black",
                    clip_on=False, zorder=5, gid="chosen-threshold",
                    label=f"threshold {threshold:.4g}\n(coverage {row['coverage']:.3f}, "
                          f"risk {row['risk']:.3g})")
        else:
            ax.plot([], [], " ", label="no threshold meets the target:\nrejects every query")
    if title is not None:
        ax.set_title(title, fontsize="medium")
    _frame(ax, "coverage (share of queries accepted)")
    return ax


def plot_group(ax: Any, curve: Sequence[dict[str, Any]], group: str, threshold: float,
               rejects_all: bool = False) -> None:
    """Adds one group's own curve to `ax`, an axes of its own whose coverage
    is the share of the group's queries, with its threshold marked on it;
    a group whose policy rejects every query is drawn dashed and says so."""
    coverage = [row["coverage"] for row in curve]
    risk = [row["risk"] if row["risk"] is not None else math.nan for row in curve]
    name = f"group {group}" + (": rejects every query" if rejects_all else "")
    (line,) = ax.step(coverage, risk, where="post", linewidth=1.0,
                      linestyle="--" if rejects_all else "-", label=name)
    chosen = [] if rejects_all else [row for row in curve if row["threshold"] == threshold]
    if chosen:
        ax.plot([chosen[-1]["coverage"]], [chosen[-1]["risk"]], "s", markersize=6,
                color=line.get_color(), clip_on=False, zorder=5,
                label=f"{group} threshold {threshold:.4g}", gid=f"group-threshold-{group}")
    ax.set_title("each group's own curve", fontsize="medium")
    _frame(ax, "coverage within the group")


def save_figure(ax: Any, path: str) -> None:
    """Writes the figure of `ax` (PNG at DPI; PDF and SVG as vector files),
    the legends beside the axes included."""
    figure = ax.get_figure()
    figure.tight_layout()
    # Drawn whole before the core's writer puts it in place: a full disk
    # leaves the old plot, not a cut one.
    with output_file(path, binary=True) as stream:
        figure.savefig(stream, format=path.rpartition(".")[2].lower(), dpi=DPI,
                       bbox_inches="tight")
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
