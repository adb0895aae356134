"""Sphinx configuration of ferolin's documentation site (built by `make docs`)."""
from __future__ import annotations

import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE / "_ext"))
sys.path.insert(0, str(HERE))

import ferolin  # noqa: E402  the installed module: the reference documents what users get

project = "ferolin"
author = "the ferolin developers"
copyright = "2026, the ferolin developers"
release = ferolin.__version__ if hasattr(ferolin, "__version__") else "0.1.0"

extensions = [
    "myst_parser",
    "sphinx.ext.autodoc",
    "sphinx.ext.napoleon",
    "sphinxarg.ext",
    "ferolin_run",
    "ferolin_checks",
]
source_suffix = {".md": "markdown"}
exclude_patterns = ["_build", "_generated/*.md", "README.md"]
myst_enable_extensions = ["colon_fence", "deflist", "dollarmath"]
myst_heading_anchors = 3

# Every reference must resolve; names of the standard library and numpy that
# have no page here are the exceptions.
nitpicky = True
nitpick_ignore_regex = [
    ("py:class", r"(typing\.|collections\.abc\.|numpy\.|np\.|os\.|pathlib\.).*"),
    ("py:class", r"(Any|Optional|Union|Sequence|Mapping|Iterable|Iterator|Callable|PathLike|"
                 r"ndarray|array|StrPath|Path|Table|Axes|Future|Client|DataFrame)"),
    # The package's own type aliases, spelt out where they are used.
    ("py:class", r"(ferolin_tools\.[a-z_]+\.)?(PathArg|ProgressCallback|TableOrPass|TableArg|TableLayout|OwnConfidence|"
                 r"Interval|Intervals|Band|TableSource|MethodProgress)"),
    # The private native module's types, which the package wraps.
    ("py:class", r"(ferolin_tools\.)?_native\..*"),
    # The report by group, described where `Calibration.report` is.
    ("py:class", r"ferolin_tools\.groups\.(GroupedReport|Outcome)"),
    ("py:class", r"(str|int|float|bool|bytes|dict|list|tuple|None|object|type)"),
    ("py:class", r".*\.\.\..*|'.*'|\".*\""),
    ("py:exc", r"(RuntimeError|ValueError|TypeError|KeyError|OSError|MemoryError|"
               r"KeyboardInterrupt)"),
]

autodoc_member_order = "bysource"
autodoc_typehints = "description"
autodoc_default_options = {"members": True, "undoc-members": False, "show-inheritance": True}
napoleon_google_docstring = True
napoleon_numpy_docstring = True

html_theme = "furo"
html_title = "ferolin"
html_static_path: list[str] = []
# Figures drawn at build time by docs/figures.py (see ferolin_checks).
html_extra_path: list[str] = []
