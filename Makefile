# qvx: build, test and demo entry points. Every target installs missing
# Debian packages first (scripts/install-deps needs no network when all
# are present).

BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD ?= build-bench
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
SOAK_SECONDS ?= 1800

.PHONY: all deps configure build test test-asan demo bench soak fuzz clean

all: build

deps:
	@scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQVX_SANITIZE=ON $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The demo runs only the two programs: the tests are not built for it.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target qvxcoll qvxprobe
	@scripts/demo $(BUILD)

bench: deps
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVX_BENCH=ON -DQVX_TESTS=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@for b in $(BENCH_BUILD)/bench/*; do [ -x "$$b" ] && [ -f "$$b" ] && "$$b"; done; true

# The fault loops with their long counts, and the collector left running
# for SOAK_SECONDS (30 minutes) under an agent asking every 100 ms.
soak: build
	@QVX_FAULTS_LONG=1 QVX_SOAK_SECONDS=$(SOAK_SECONDS) sh -c 'for t in $(BUILD)/tests/*_fault_test; do \
	  echo "== $$t"; "$$t" || exit 1; done'

# Builds the fuzz targets with clang in $(FUZZ_BUILD) and runs each for
# FUZZ_SECONDS (FUZZ_TARGETS="a b" runs only those).
fuzz:
	@scripts/install-deps --fuzz
	FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_BUILD=$(FUZZ_BUILD) JOBS=$(JOBS) scripts/fuzz

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD) demo-run
