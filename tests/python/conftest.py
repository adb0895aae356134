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
def tools_dir():
    """The folder of the test-only programs built beside the GoogleTest suite."""
    folder = os.environ.get("FEROLIN_TOOLS_DIR")
    if not folder or not pathlib.Path(folder).is_dir():
        pytest.skip("FEROLIN_TOOLS_DIR is not set: run through scripts/test.sh")
    return pathlib.Path(folder)
