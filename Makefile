# Entry points: `make demo` and `make test`. Both install what the machine lacks first.
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
JOBS ?= 2
PYTHON ?= python3
CMAKE_ARGS ?=
# Interpreter filter for test-python, e.g. `make test-python ONLY=3.9`.
ONLY ?=

MODULE := $(BUILD_DIR)/morvek_board.abi3.so

.PHONY: all deps build test test-cpp check-exports test-python demo sanitize bench bench-perft perft-deep clean

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
	$(MAKE) --no-print-directory test-python || status=1; \
	exit $$status

test-cpp:
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j$(JOBS)

check-exports:
	tools/check_exports.sh $(MODULE)

test-python:
	MORVEK_BUILD_DIR=$(abspath $(BUILD_DIR)) tools/pytest_all.sh $(ONLY)

demo: build
	PYTHONPATH=$(abspath $(BUILD_DIR)) $(PYTHON) examples/demo.py

# AddressSanitizer and UndefinedBehaviorSanitizer, in a build directory of their own. The
# interpreters are not instrumented, so pytest runs with the runtimes preloaded and without
# leak checking (the interpreter keeps much of its memory until exit).
sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -DMORVEK_SANITIZE=ON $(CMAKE_ARGS)
	cmake --build $(SANITIZE_DIR) -j$(JOBS)
	ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j$(JOBS)
	MORVEK_BUILD_DIR=$(abspath $(SANITIZE_DIR)) MORVEK_VENV_DIR=$(abspath $(BUILD_DIR))/venvs \
	MORVEK_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	ASAN_OPTIONS=detect_leaks=0 tools/pytest_all.sh $(ONLY)

bench: build
	cmake --build $(BUILD_DIR) -j$(JOBS) --target benchmarks
	$(BUILD_DIR)/benchmarks

# Perft speed against Stockfish's `go perft`, side by side (Stockfish comes from Debian).
bench-perft: build
	@tools/deps.sh stockfish
	$(PYTHON) bench/perft_vs_stockfish.py --perft $(BUILD_DIR)/perft --stockfish /usr/games/stockfish

# The perft counts above 20 million nodes, which the default test run leaves out (minutes).
perft-deep: build
	MORVEK_PERFT_DEEP=1 $(BUILD_DIR)/cpp_tests --gtest_filter='Perft.*'

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR)
