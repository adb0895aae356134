"""Build steps and checks of ferolin's documentation site.

Before any page is read, every figure is drawn anew (docs/figures.py) into
docs/_generated. After the pages are read, every public name of `ferolin`
and `ferolin_tools` must have a docstring and an entry in the reference:
a name added without either is a warning, and the build (run with -W) fails.
"""
from __future__ import annotations

import inspect
import pathlib
from typing import Any

from sphinx.application import Sphinx
from sphinx.util import logging

import figures

logger = logging.getLogger(__name__)
GENERATED = pathlib.Path(__file__).resolve().parents[1] / "_generated"


def public_names() -> dict[str, Any]:
    """Returns each public object of the two packages under its full name."""
    import ferolin
    import ferolin_tools

    names = {f"ferolin.{name}": getattr(ferolin, name)
             for name in dir(ferolin) if not name.startswith("_") and callable(getattr(ferolin, name))}
    names.update({f"ferolin_tools.{name}": getattr(ferolin_tools, name)
                  for name in ferolin_tools.__all__
                  if inspect.isclass(getattr(ferolin_tools, name))
                  or callable(getattr(ferolin_tools, name))})
    return names


def draw_figures(app: Sphinx) -> None:
    figures.draw_all(GENERATED)


def note_documented(app: Sphinx, what: str, name: str, obj: Any, options: Any,
                    lines: list[str]) -> None:
    app.env.ferolin_documented = getattr(app.env, "ferolin_documented", set()) | {name}


def check_public_names(app: Sphinx, env: Any) -> None:
    documented = getattr(env, "ferolin_documented", set())
    for name, obj in sorted(public_names().items()):
        if not (inspect.getdoc(obj) or "").strip():
            logger.warning(f"{name} has no docstring", type="ferolin", subtype="docstring")
        # A name re-exported by ferolin_tools is documented under its own module too.
        short = name.rsplit(".", 1)[1]
        if not any(entry == name or entry.endswith("." + short) for entry in documented):
            logger.warning(f"{name} is missing from the reference", type="ferolin",
                           subtype="reference")


def setup(app: Sphinx) -> dict[str, Any]:
    app.connect("builder-inited", draw_figures)
    app.connect("autodoc-process-docstring", note_documented)
    app.connect("env-check-consistency", check_public_names)
    return {"parallel_read_safe": False, "parallel_write_safe": True}
