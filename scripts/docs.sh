#!/usr/bin/env bash
# Builds the documentation site into build/docs (open build/docs/index.html):
# installs the module and what the build needs, draws every figure, runs every
# console session and Python example on the pages, and fails on any warning
# (a broken reference, a public name without a docstring or a reference
# entry, a dead link). Then renders the index page in headless Chromium and
# checks that its navigation and figure show (build/docs/screenshot.png).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

PYTHON="${PYTHON:-python3}"
"$PYTHON" -m pip install -q --disable-pip-version-check -r docs/requirements.txt
if ! command -v chromium >/dev/null; then
  echo "docs: installing Debian's chromium" >&2
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq chromium >/dev/null
fi

rm -rf build/docs docs/_generated
# The console sessions run the `ferolin` command of this interpreter.
PATH="$(dirname "$("$PYTHON" -c 'import sys; print(sys.executable)')"):$PATH" \
  "$PYTHON" -m sphinx -E -W --keep-going -q -b html docs build/docs
"$PYTHON" docs/check_render.py build/docs
