#!/usr/bin/env bash
# Sets up, builds, and runs every test suite: the core's GoogleTest suite
# through ctest, then the module's pytest suite. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

PYTHON="${PYTHON:-python3}"
BUILD_DIR=build/tests
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DFEROLIN_BUILD_TESTS=ON -DFEROLIN_WERROR="${FEROLIN_WERROR:-OFF}" >/dev/null
cmake --build "$BUILD_DIR"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2

# The Python tests use small test-only programs built beside the GoogleTest suite.
FEROLIN_PROGRAMS_DIR="$PWD/$BUILD_DIR" "$PYTHON" -m pytest -q tests/python "$@"
