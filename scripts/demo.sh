#!/usr/bin/env bash
# Sets up, builds, and runs the main job on the example data bundled in
# examples/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
"${PYTHON:-python3}" examples/demo.py
