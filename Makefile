# Entry points: `make demo` and `make test`. Both install what the machine lacks first.
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
JOBS ?= 2
PYTHON ?= python3
CMAKE_ARGS ?=
# Interpreter filter for test-python, e.g. `make test-python ONLY=3.9`.
ONLY ?=

MODULE := $(BUILD_DIR)/morvek_board.abi3.so
WALK_MODULE := $(BUILD_DIR)/morvek_walk/_native.abi3.so

.PHONY: all deps build test test-cpp check check-exports format check-format test-python demo sanitize bench bench-perft bench-python bench-venv bench-peers bench-peers-venv bench-walk perft-deep clean

all: build

deps:
	@tools/deps.sh

# Configuring again is cheap and picks up new CMAKE_ARGS; new source files are globbed.
build: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_ARGS)
	cmake --build $(BUILD_DIR) -j$(JOBS)

# Every part runs even when an earlier one fails; the target fails if any did.
test: build
	@status=0; \
	$(MAKE) --no-print-directory test-cpp || status=1; \
	$(MAKE) --no-print-directory check-exports || status=1; \
	$(MAKE) --no-print-directory check-format || status=1; \
	$(MAKE) --no-print-directory fuzz-smoke || status=1; \
	$(MAKE) --no-print-directory test-python || status=1; \
	$(MAKE) --no-print-directory test-wheel || status=1; \
	exit $$status

test-cpp:
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j$(JOBS)

# The house formats: clang-format (.clang-format) for C++, ruff format for Python, both pinned
# (requirements-format.txt). `make format` rewrites the files; make test checks them.
format:
	@tools/format.sh

check-format:
	@tools/format.sh --check

# The quick loop while working: build, the C++ tests, the export and runtime checks, and pytest
# under one interpreter, stopping at the first failure. CHECK_PYTHON picks it (a part of a name
# that tools/interpreters.sh lists); by default the newest of the machine's own. Well under a
# minute on a warm tree; `make test` stays the full run.
CHECK_PYTHON ?= $(shell tools/interpreters.sh | grep -v '^debian-' | awk '{ v = $$1; sub(/.*-/, "", v); print v, $$1 }' | sort -V | tail -n 1 | cut -d' ' -f2)
check: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j$(JOBS) > $(BUILD_DIR)/ctest.log || \
	    { cat $(BUILD_DIR)/ctest.log; exit 1; }
	@grep -E 'tests passed' $(BUILD_DIR)/ctest.log
	@$(MAKE) --no-print-directory check-exports
	@MORVEK_BUILD_DIR=$(abspath $(BUILD_DIR)) tools/pytest_all.sh $(CHECK_PYTHON) -- -x

# The modules' exports and dynamic needs (morvek_board and the walker's morvek_walk._native),
# and that runtime.cpp's replacements are still the pieces linked (tools/check_runtime.sh reads
# the link maps).
check-exports:
	tools/check_exports.sh $(MODULE) $(WALK_MODULE)
	tools/check_runtime.sh $(BUILD_DIR)/morvek_board.link-map $(BUILD_DIR)/morvek_walk_module.link-map

test-python: interpreters
	MORVEK_BUILD_DIR=$(abspath $(BUILD_DIR)) tools/pytest_all.sh $(ONLY)

# CPython 3.14 and 3.15, newer than any other interpreter here, come from Debian sid as a file
# tree outside the repository (tools/sid_tree.sh; /var/cache/morvek/sid-amd64, or
# MORVEK_SID_CACHE), made once; tools/interpreters.sh lists them beside the others.
.PHONY: interpreters
interpreters:
	@tools/sid_tree.sh >/dev/null

demo: build
	PYTHONPATH=$(abspath $(BUILD_DIR)) $(PYTHON) examples/demo.py

# AddressSanitizer and UndefinedBehaviorSanitizer, in a build directory of their own. The
# interpreters are not instrumented, so pytest runs with the runtimes preloaded and without
# leak checking (the interpreter keeps much of its memory until exit).
sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -DMORVEK_SANITIZE=ON $(CMAKE_ARGS)
	cmake --build $(SANITIZE_DIR) -j$(JOBS)
	ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j$(JOBS)
	MORVEK_BUILD_DIR=$(abspath $(SANITIZE_DIR)) MORVEK_VENV_DIR=$(abspath $(BUILD_DIR))/venvs MORVEK_SANITIZED=1 \
	MORVEK_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	ASAN_OPTIONS=detect_leaks=0 tools/pytest_all.sh $(ONLY)

bench: build
	cmake --build $(BUILD_DIR) -j$(JOBS) --target benchmarks
	$(BUILD_DIR)/benchmarks

# Perft speed against Stockfish's `go perft`, side by side (Stockfish comes from Debian).
bench-perft: build
	@tools/deps.sh stockfish
	$(PYTHON) bench/perft_vs_stockfish.py --perft $(BUILD_DIR)/perft --stockfish /usr/games/stockfish

# Each operation's call cost against a floor extension that computes nothing (bench/floor.cpp),
# on one position repeated and on distinct positions with python-chess beside them, and on the
# distinct positions against the module built from the commit BENCH_BEFORE (default: the one
# before HEAD; tools/build_before.sh builds each commit once); the chart of the distinct ones
# goes to BENCH_CHART. The benchmark's tools (bench/requirements.txt) live in their own
# environment, installed again only when the requirements change.
BENCH_VENV := $(BUILD_DIR)/venvs/bench
BENCH_JSON ?= $(BUILD_DIR)/bench-python.json
BENCH_CHART ?= $(BUILD_DIR)/bench-python.png
BENCH_ARGS ?=
BENCH_BEFORE ?= HEAD~1

bench-venv:
	@if ! $(BENCH_VENV)/bin/python -c "" 2>/dev/null; then rm -rf $(BENCH_VENV); $(PYTHON) -m venv $(BENCH_VENV); fi
	@if ! cmp -s bench/requirements.txt $(BENCH_VENV)/requirements.txt; then \
	    $(BENCH_VENV)/bin/python -m pip install -q -r bench/requirements.txt && \
	    cp bench/requirements.txt $(BENCH_VENV)/requirements.txt; fi

bench-python: build bench-venv
	cmake --build $(BUILD_DIR) -j$(JOBS) --target _floor
	before=$$(JOBS=$(JOBS) tools/build_before.sh $(BENCH_BEFORE) $(BUILD_DIR)/before) && \
	PYTHONPATH=$(abspath $(BUILD_DIR)) $(BENCH_VENV)/bin/python bench/python_surface.py --json $(BENCH_JSON) \
	    --before "$$before" $(BENCH_ARGS)
	$(BENCH_VENV)/bin/python bench/chart.py $(BENCH_JSON) $(BENCH_CHART)

# The module against the native chess packages on PyPI (bench/peers.py), function by function
# and in a game walk, on the same positions. Its own environment of CPython 3.13 (the newest
# bulletchess needs it; PEERS_PYTHON chooses another), with the pinned peers of
# bench/requirements-peers.txt, installed again only when they change.
PEERS_VENV := $(BUILD_DIR)/venvs/peers
PEERS_PYTHON ?= $(shell tools/interpreters.sh | awk '$$1 ~ /-3\.13\./ { print $$2; exit }')
PEERS_ARGS ?=

bench-peers-venv:
	@if ! $(PEERS_VENV)/bin/python -c "" 2>/dev/null; then \
	    test -n "$(PEERS_PYTHON)" || { echo "no CPython 3.13 found; set PEERS_PYTHON" >&2; exit 1; }; \
	    rm -rf $(PEERS_VENV); $(PEERS_PYTHON) -m venv $(PEERS_VENV); fi
	@if ! cmp -s bench/requirements-peers.txt $(PEERS_VENV)/requirements.txt; then \
	    $(PEERS_VENV)/bin/python -m pip install -q -r bench/requirements-peers.txt && \
	    cp bench/requirements-peers.txt $(PEERS_VENV)/requirements.txt; fi

bench-peers: build bench-peers-venv
	PYTHONPATH=$(abspath $(BUILD_DIR)) $(PEERS_VENV)/bin/python bench/peers.py $(PEERS_ARGS)

# The walker (morvek_walk) over copies of the sample with one job, two, two on zstd-compressed
# copies, a local Dask cluster of two workers, and python-chess doing the same walk; the main
# process's own work; peak memory (bench/walk_games.py, beside the walker of WALK_BEFORE when
# it is set, built by tools/build_before.sh). Then its tables: Parquet beside CSV, columns and
# conditions, and who works on a Dask cluster (bench/walk_tables.py).
WALK_BENCH_ARGS ?=
WALK_TABLES_ARGS ?=
WALK_BEFORE ?=
bench-walk: build bench-venv
	before=$$(test -z "$(WALK_BEFORE)" || JOBS=$(JOBS) tools/build_before.sh $(WALK_BEFORE) $(BUILD_DIR)/before) && \
	PYTHONPATH=$(abspath $(BUILD_DIR)):$(CURDIR) $(BENCH_VENV)/bin/python bench/walk_games.py \
	    $${before:+--before $$(dirname $$(dirname $$before))} $(WALK_BENCH_ARGS)
	PYTHONPATH=$(abspath $(BUILD_DIR)):$(CURDIR) $(BENCH_VENV)/bin/python bench/walk_tables.py $(WALK_TABLES_ARGS)

# The perft counts above 20 million nodes, which the default test run leaves out (minutes).
perft-deep: build
	MORVEK_PERFT_DEEP=1 $(BUILD_DIR)/cpp_tests --gtest_filter='Perft.*'

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR)

# --- 64-bit Arm: the shipped build, cross-compiled and tested under qemu-aarch64 ------------
# The Debian arm64 tree it builds against and runs in is made once, outside the repository
# (/var/cache/morvek/arm64-RELEASE, or MORVEK_ARM64_CACHE). The native build is the reference
# for the perft counts.
ARM64_DIR ?= build-arm64

.PHONY: test-arm64 clean-arm64

# Once as a build tree (tools/test_arm64.sh), once as a user installs it: the aarch64 wheel in
# the tree's CPython, and in a bare tree without a C++ runtime (tools/wheel_test.sh aarch64).
test-arm64: build
	@status=0; \
	MORVEK_NATIVE_BUILD_DIR=$(abspath $(BUILD_DIR)) JOBS=$(JOBS) tools/test_arm64.sh $(ARM64_DIR) || status=1; \
	MORVEK_BUILD_DIR=$(abspath $(BUILD_DIR)) tools/wheel_test.sh aarch64 || status=1; \
	exit $$status

clean: clean-arm64
clean-arm64:
	rm -rf $(ARM64_DIR)

# --- the wheels and the sdist: tools/wheel.sh, tools/wheel_test.sh ----------------------------
# `wheels`: the manylinux2014 cp39-abi3 wheels for x86_64 and aarch64 and the sdist into dist/,
# each checked (auditwheel, abi3audit, tools/check_exports.sh); `wheel`: the x86_64 one alone.
# test-wheel checks the x86_64 wheel, installs it under every CPython >= 3.9 and runs
# tests/python against the installed copy, runs the example in a tree without a C++ runtime,
# and installs the sdist with pip. The CMake builds go to $(BUILD_DIR)/wheel*.
.PHONY: wheel wheels test-wheel clean-wheel

wheel: deps
	MORVEK_BUILD_DIR=$(abspath $(BUILD_DIR)) tools/wheel.sh build

wheels: deps
	MORVEK_BUILD_DIR=$(abspath $(BUILD_DIR)) tools/wheel.sh wheels

test-wheel: deps interpreters
	MORVEK_BUILD_DIR=$(abspath $(BUILD_DIR)) tools/wheel_test.sh x86_64

clean: clean-wheel
clean-wheel:
	rm -rf dist

# --- hardening: fuzz targets, valgrind, soak --------------------------------------------------
# The libFuzzer targets of fuzz/ build with clang into $(FUZZ_DIR) (tools/fuzz.sh installs a
# clang that can build them when the machine has none). `make fuzz` runs each target for
# FUZZ_SECONDS (FUZZ_TARGETS picks some) and keeps the grown corpus and any crashing input under
# $(FUZZ_DIR); `make test` runs the seed corpora and a few seconds of each.
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 3
FUZZ_TARGETS ?=

.PHONY: fuzz fuzz-build fuzz-smoke valgrind soak clean-fuzz

fuzz-build: deps
	MORVEK_FUZZ_DIR=$(abspath $(FUZZ_DIR)) JOBS=$(JOBS) tools/fuzz.sh build

fuzz: fuzz-build
	MORVEK_FUZZ_DIR=$(abspath $(FUZZ_DIR)) tools/fuzz.sh run $(FUZZ_SECONDS) $(FUZZ_TARGETS)

fuzz-smoke: fuzz-build
	MORVEK_FUZZ_DIR=$(abspath $(FUZZ_DIR)) tools/fuzz.sh smoke $(FUZZ_SMOKE_SECONDS)

# tests/python under valgrind memcheck with one interpreter (ONLY; default the oldest). Slow:
# tens of minutes.
valgrind: build
	MORVEK_BUILD_DIR=$(abspath $(BUILD_DIR)) tools/valgrind.sh $(ONLY)

# The hostile-input, leak and thread tests at full strength: a million calls per interpreter
# and a thousand examples per function and strategy.
soak: build
	MORVEK_BUILD_DIR=$(abspath $(BUILD_DIR)) MORVEK_LEAK_CALLS=1000000 MORVEK_HOSTILE_EXAMPLES=1000 \
	tools/pytest_all.sh $(ONLY) -- -k "test_hostile or test_leaks or test_threads"

clean: clean-fuzz
clean-fuzz:
	rm -rf $(FUZZ_DIR)
