# Shortcuts for the test and robustness scripts; each target says what it runs.
# FUZZ_SECONDS sets how long `make fuzz` runs each fuzz target.
FUZZ_SECONDS ?= 60

.PHONY: test docs wheel sanitize asan-pytest fuzz stress robustness

# Every test suite, as the README says: GoogleTest through ctest, then pytest.
test:
	bash scripts/test.sh

# The documentation site, built into build/docs and checked (scripts/docs.sh).
docs:
	bash scripts/docs.sh

# dist/ferolin-<version>-cp310-abi3-manylinux_2_17_x86_64.whl: one wheel for
# every x86-64 Linux (glibc 2.17+) and CPython 3.10+, built with zig, checked.
wheel:
	bash scripts/wheel.sh

# The GoogleTest suite built with AddressSanitizer and UBSan (build/asan).
sanitize:
	bash scripts/robustness.sh sanitize

# The pytest suite against the module built with AddressSanitizer and UBSan.
asan-pytest:
	bash scripts/robustness.sh asan-pytest

# Each libFuzzer target for FUZZ_SECONDS, starting from fuzz/corpus.
fuzz:
	bash scripts/robustness.sh fuzz $(FUZZ_SECONDS)

# Heavy inputs (a 1 GB quoted field, ten million queries), peak memory reported.
stress:
	bash scripts/robustness.sh stress

# What CI runs after the test command.
robustness:
	bash scripts/robustness.sh ci $(FUZZ_SECONDS)
