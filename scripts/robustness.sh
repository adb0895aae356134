#!/usr/bin/env bash
# Robustness checks beyond the test command: the GoogleTest suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the pytest suite against a
# sanitized build of the module, the libFuzzer targets in fuzz/, and the heavy
# stress inputs. Installs what it needs (Debian packages with apt-get), like
# scripts/setup.sh, which must have run once (scripts/test.sh runs it).
#
#   bash scripts/robustness.sh sanitize           # GoogleTest under ASan + UBSan
#   bash scripts/robustness.sh asan-pytest        # pytest against the ASan module
#   bash scripts/robustness.sh fuzz [SECONDS]     # each fuzz target, 60 s by default
#   bash scripts/robustness.sh stress             # heavy inputs, peak memory reported
#   bash scripts/robustness.sh ci [SECONDS]       # sanitize, asan-pytest and fuzz, timed
#
# Any sanitizer report, broken fuzz property or failed test exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON="${PYTHON:-python3}"
# Every fuzz/NAME_fuzzer.cpp, with its committed corpus in fuzz/corpus/NAME.
FUZZ_TARGETS=()
for fuzz_source in fuzz/*_fuzzer.cpp; do
  FUZZ_TARGETS+=("$(basename "$fuzz_source" _fuzzer.cpp)")
done
FUZZ_PACKAGES=(clang-19 libclang-rt-19-dev)

# Sanitizers stop at the first report with a stack trace; LeakSanitizer runs
# at the exit of every C++ test program.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

install_missing() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
      || missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  echo "robustness: installing Debian packages: ${missing[*]}" >&2
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

build_asan() {
  cmake --preset asan -DPython_EXECUTABLE="$(command -v "$PYTHON")" >/dev/null
  cmake --build --preset asan
}

run_sanitize() {
  build_asan
  ctest --preset asan
}

# The interpreter is not instrumented: the ASan runtime must be loaded
# before it, Python's own allocator is bypassed so that every object lives
# in a block ASan watches, and leak checking is off because the interpreter
# keeps allocations alive until exit by design. libstdc++ is preloaded too:
# ASan finds the C++ runtime it intercepts (__cxa_throw) only among the
# libraries loaded at start, and other extensions (matplotlib's) throw.
run_asan_pytest() {
  build_asan
  # ferolin_tools is assembled beside its sanitized _native in the build tree.
  cp python/ferolin_tools/*.py python/ferolin_tools/py.typed build/asan/ferolin_tools/
  local runtime
  runtime="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
  (
    export LD_PRELOAD="$runtime" PYTHONMALLOC=malloc
    export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:strict_string_checks=1"
    export PYTHONPATH="$PWD/build/asan:$PWD/python${PYTHONPATH:+:$PYTHONPATH}"
    export FEROLIN_PROGRAMS_DIR="$PWD/build/asan" FEROLIN_SANITIZED=1
    "$PYTHON" -c "import ferolin, ferolin_tools._native as n, sys; sys.exit(not all(
      m.__file__.startswith('$PWD/build/asan') for m in (ferolin, n)))" \
      || { echo "robustness: the sanitized modules are not the ones imported" >&2; exit 1; }
    "$PYTHON" -m pytest -q -p no:cacheprovider tests/python "$@"
  )
}

build_fuzzers() {
  install_missing "${FUZZ_PACKAGES[@]}"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
}

# Runs every target for `seconds` at once (each on its own core while there
# are cores), starting from its committed corpus in fuzz/corpus. New inputs
# go to build/fuzz/corpus, crashes to build/fuzz/artifacts, never into the
# committed corpus.
run_fuzz() {
  local seconds="${1:-60}"
  build_fuzzers
  mkdir -p build/fuzz/artifacts
  local pids=() target
  for target in "${FUZZ_TARGETS[@]}"; do
    mkdir -p "build/fuzz/corpus/$target"
    local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
                   -artifact_prefix="build/fuzz/artifacts/$target-")
    if [ -f "fuzz/$target.dict" ]; then options+=(-dict="fuzz/$target.dict"); fi
    "build/fuzz/${target}_fuzzer" "${options[@]}" "build/fuzz/corpus/$target" \
      "fuzz/corpus/$target" >"build/fuzz/$target.log" 2>&1 &
    pids+=($!)
  done
  local failed=0 i
  for i in "${!FUZZ_TARGETS[@]}"; do
    target="${FUZZ_TARGETS[$i]}"
    if wait "${pids[$i]}"; then
      echo "fuzz $target: clean for ${seconds} s: $(grep -o 'Done [0-9]* runs' \
        "build/fuzz/$target.log")"
    else
      failed=$((failed + 1))
      echo "fuzz $target: FAILED; the input is in build/fuzz/artifacts; log:" >&2
      tail -n 60 "build/fuzz/$target.log" >&2
    fi
  done
  echo "fuzz: $((${#FUZZ_TARGETS[@]} - failed)) passed, $failed failed"
  ((failed == 0))
}

run_stress() {
  "$PYTHON" tests/stress/stress.py "$@"
}

timed() {
  local start=$SECONDS
  "$@"
  echo "robustness: '$*' took $((SECONDS - start)) s" >&2
}

case "${1:-}" in
  sanitize) run_sanitize ;;
  asan-pytest) shift; run_asan_pytest "$@" ;;
  fuzz) run_fuzz "${2:-60}" ;;
  stress) shift; run_stress "$@" ;;
  ci)
    timed run_sanitize
    timed run_asan_pytest
    timed run_fuzz "${2:-60}"
    ;;
  *)
    echo "usage: $0 sanitize | asan-pytest | fuzz [SECONDS] | stress | ci [SECONDS]" >&2
    exit 2
    ;;
esac
