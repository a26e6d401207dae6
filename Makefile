# Thin wrapper around CMake. `make demo` and `make test` do all the set-up on a
# fresh machine (scripts/bootstrap.sh installs the Debian packages needed).

BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 10
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_OPTS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all bootstrap build test test-fast test-asan test-fuzz demo bench clean

all: build

bootstrap:
	@bash scripts/bootstrap.sh

$(BUILD)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(BUILD) $(CMAKE_OPTS)

build: bootstrap $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# Every test of the normal build (C++ and R), then the fuzzers briefly. The
# same C++ tests under ASan and UBSan: `make test-asan` (CI runs it too).
test: test-fast test-fuzz

test-fast: build
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure

test-asan: bootstrap
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPRAMBLE_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 ctest --test-dir $(ASAN_BUILD) -j $(JOBS) --output-on-failure -E 'r_quox_'

# The libFuzzer targets (clang), each run FUZZ_SECONDS on its seed corpus.
test-fuzz: bootstrap
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPRAMBLE_FUZZ=ON -DPRAMBLE_TESTS=OFF -DPRAMBLE_FUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_smoke

demo: bootstrap $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target pramble
	./$(BUILD)/pramble demo

bench: bootstrap
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DPRAMBLE_BENCH=ON -DPRAMBLE_TESTS=OFF
	cmake --build build-bench -j $(JOBS) --target run_bench

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) build-bench
