# Thin wrapper over CMake. `make test` and `make demo` do all the set-up on a fresh machine.
#
#   make test              install deps, configure build/, build, run every test suite
#   make test SANITIZE=1   the same in build-san/ with clang, ASan + UBSan and the fuzz targets
#   make fuzz SANITIZE=1   run every fuzz target for FUZZ_SECONDS on its seed corpus
#   make bench             build and run the benchmarks (Release, build-bench/)
#   make demo              run the demo site (DEMO_S bounds it in seconds)
#   make format            apply .clang-format to all code

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 20
WERROR ?= 0

ifeq ($(SANITIZE),1)
BUILD_DIR ?= build-san
CMAKE_ARGS += -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
              -DGC_SANITIZE=ON -DGC_FUZZ=ON -DGC_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
export ASAN_OPTIONS ?= detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS ?= suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0
else
BUILD_DIR ?= build
endif
ifeq ($(WERROR),1)
CMAKE_ARGS += -DGC_WERROR=ON
endif

.PHONY: all deps configure build test fuzz bench demo format clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_ARGS) > /dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

fuzz: build
	@scripts/run-fuzzers $(BUILD_DIR) $(FUZZ_SECONDS)

bench: deps
	@cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
	@cmake --build build-bench -j $(JOBS)
	@for b in build-bench/bench/bench_*; do echo "== $$b"; $$b; done

demo: build
	@scripts/demo

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-san build-bench
