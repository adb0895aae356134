"""The console examples quoted in README.md are those of the current build."""
import pathlib
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_readme_examples_are_current():
    if shutil.which("ferolin", path=str(pathlib.Path(sys.executable).parent)) is None:
        pytest.skip("the ferolin command is not installed beside this interpreter")
    # The README's calibration draws its curve (--plot), which needs the plot extra.
    pytest.importorskip("matplotlib")
    result = subprocess.run([sys.executable, str(ROOT / "scripts" / "readme_figures.py"),
                             "--check"], capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stderr
