"""Sphinx directives whose output is made by running them at build time.

``run-console`` runs shell commands (lines starting with ``$ ``) and shows each
with what it printed; ``run-python`` runs a block of Python and shows the code
with what it printed. Both run in one scratch copy of ``examples/data`` per
page, so a page's sessions build on each other (a policy saved by one command
is there for the next) and nothing is written into the repository. A command
that exits otherwise than its ``:returncode:`` (0 by default), or Python that
raises, fails the build: no session in the docs can go stale.
"""
from __future__ import annotations

import contextlib
import io
import os
import pathlib
import shutil
import subprocess
import tempfile
from typing import Any

from docutils import nodes
from docutils.parsers.rst import directives
from sphinx.application import Sphinx
from sphinx.util.docutils import SphinxDirective

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples" / "data"
# Wide enough for the tables the command prints; no colours or progress.
ENVIRONMENT = {"COLUMNS": "100", "NO_COLOR": "1", "LC_ALL": "C.UTF-8"}


class SessionFailed(Exception):
    pass


# Each page's scratch folder and Python namespace, kept for the whole build.
FOLDERS: dict[str, pathlib.Path] = {}
NAMESPACES: dict[str, dict[str, Any]] = {}


def page_folder(directive: SphinxDirective) -> pathlib.Path:
    """Returns the page's scratch folder, a fresh copy of the example data."""
    docname = directive.env.docname
    if docname not in FOLDERS:
        folder = pathlib.Path(tempfile.mkdtemp(prefix="ferolin-docs-"))
        for path in EXAMPLES.iterdir():
            shutil.copy(path, folder / path.name)
        FOLDERS[docname] = folder
    return FOLDERS[docname]


def run_command(command: str, folder: pathlib.Path) -> tuple[int, str]:
    """Returns the exit status and the output of `command`, both streams in the
    order they were written, as a terminal shows them."""
    environment = {**os.environ, **ENVIRONMENT}
    done = subprocess.run(["bash", "-o", "pipefail", "-c", command], cwd=folder,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          env=environment, timeout=300)
    return done.returncode, done.stdout


def command_lines(content: list[str]) -> list[str]:
    """Joins the directive's lines into commands: `$ ` starts one, a trailing
    backslash continues it on the next line."""
    commands: list[str] = []
    for line in content:
        if line.startswith("$ "):
            commands.append(line[2:])
        elif commands and commands[-1].endswith("\\"):
            commands[-1] += "\n" + line
        elif line.strip():
            raise SessionFailed(f"a console line must start with '$ ': {line!r}")
    return commands


class RunConsole(SphinxDirective):
    """Runs each `$ command` and shows it with its output."""

    has_content = True
    option_spec = {"returncode": directives.nonnegative_int}

    def run(self) -> list[nodes.Node]:
        folder = page_folder(self)
        expected = self.options.get("returncode", 0)
        shown: list[str] = []
        try:
            commands = command_lines(list(self.content))
            for index, command in enumerate(commands):
                status, output = run_command(command, folder)
                # Only the last command may fail on purpose.
                wanted = expected if index == len(commands) - 1 else 0
                if status != wanted:
                    raise SessionFailed(f"`{command}` exited with {status}, not {wanted}:\n{output}")
                shown.append(f"$ {command}\n{output}".rstrip("\n"))
        except SessionFailed as failure:
            raise self.error(str(failure)) from None
        block = nodes.literal_block("\n".join(shown), "\n".join(shown))
        block["language"] = "console"
        return [block]


class RunPython(SphinxDirective):
    """Runs the block as Python in the page's folder and shows it with its output."""

    has_content = True

    def run(self) -> list[nodes.Node]:
        folder = page_folder(self)
        code = "\n".join(self.content)
        namespace = NAMESPACES.setdefault(self.env.docname, {"__name__": "__docs__"})
        output = io.StringIO()
        previous = os.getcwd()
        try:
            os.chdir(folder)
            with contextlib.redirect_stdout(output):
                exec(compile(code, f"<{self.env.docname}>", "exec"), namespace)
        except Exception as failure:  # any failure of the example fails the build
            raise self.error(f"the example raised {failure!r}") from None
        finally:
            os.chdir(previous)
        blocks: list[nodes.Node] = [nodes.literal_block(code, code, language="python")]
        if output.getvalue():
            text = output.getvalue().rstrip("\n")
            blocks.append(nodes.literal_block(text, text, language="text"))
        return blocks


def remove_folders(app: Sphinx, exception: Exception | None) -> None:
    for folder in FOLDERS.values():
        shutil.rmtree(folder, ignore_errors=True)
    FOLDERS.clear()
    NAMESPACES.clear()


def setup(app: Sphinx) -> dict[str, Any]:
    app.add_directive("run-console", RunConsole)
    app.add_directive("run-python", RunPython)
    app.connect("build-finished", remove_folders)
    return {"parallel_read_safe": False, "parallel_write_safe": True}
