"""Opens the built site's index page in headless Chromium and checks it.

Writes build/docs/screenshot.png (kept as a CI artifact, not committed) and
fails unless the rendered page has its navigation (the links of every
section in the sidebar, in the DOM after rendering) and its figure (the
curve's colour in the screenshot, which a missing image would not show).
"""
from __future__ import annotations

import pathlib
import shutil
import subprocess
import sys

# matplotlib's first line colour, which the risk-coverage curve is drawn in.
CURVE_COLOUR = (31, 119, 180)
SECTIONS = ["getting-started.html", "guides/calibrating.html", "reference/ferolin.html",
            "reference/cli.html", "benchmarks.html", "reliability.html"]


def chromium() -> str:
    for name in ("chromium", "chromium-browser", "google-chrome"):
        if path := shutil.which(name):
            return path
    sys.exit("check_render: no chromium on PATH (apt-get install chromium)")


def render(index: pathlib.Path, screenshot: pathlib.Path) -> str:
    """Returns the DOM of the rendered page; writes its screenshot."""
    common = [chromium(), "--headless", "--no-sandbox", "--disable-gpu",
              "--hide-scrollbars", "--window-size=1280,1000"]
    subprocess.run([*common, f"--screenshot={screenshot}", index.as_uri()],
                   check=True, capture_output=True, timeout=120)
    done = subprocess.run([*common, "--dump-dom", index.as_uri()],
                          check=True, capture_output=True, text=True, timeout=120)
    return done.stdout


def curve_pixels(screenshot: pathlib.Path) -> int:
    """Returns how many pixels of the screenshot are near the curve's colour."""
    from PIL import Image

    image = Image.open(screenshot).convert("RGB")
    colours = image.getcolors(image.width * image.height) or []
    return sum(count for count, colour in colours
               if all(abs(a - b) <= 12 for a, b in zip(colour, CURVE_COLOUR)))


def main(site: pathlib.Path) -> None:
    index = site.resolve() / "index.html"
    screenshot = site.resolve() / "screenshot.png"
    dom = render(index, screenshot)
    problems = [f"the navigation has no link to {page}" for page in SECTIONS
                if f'href="{page}"' not in dom]
    if (pixels := curve_pixels(screenshot)) < 200:
        problems.append(f"the figure did not render: {pixels} pixels of the curve's colour")
    if problems:
        sys.exit("check_render: " + "; ".join(problems))
    print(f"check_render: {index} renders with its navigation and figure ({screenshot})")


if __name__ == "__main__":
    main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/docs"))
