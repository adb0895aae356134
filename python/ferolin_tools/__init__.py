"""Command line and plotting helpers around the ferolin module.

The command is installed as `ferolin`; see `ferolin --help`. For notebooks,
`plot_risk_coverage(curve)` draws a curve returned by `ferolin.compute_curve`.
"""
from ferolin_tools.plot import plot_risk_coverage

__all__ = ["plot_risk_coverage"]
