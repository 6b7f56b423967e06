# The two commands of the README: `make demo` and `make test`.
JOBS ?= 2
# `make install` puts the program, its man page, its bash completion, the
# shared library with its public headers and tonbrix.pc
# under $(DESTDIR)$(PREFIX).
PREFIX ?= /usr/local
DESTDIR ?=
BUILD_DIR ?= build

.PHONY: all deps build build-asan build-tsan demo install test unit-test asan-test bench compat compat-update fuzz clean

all: build

deps:
	@./scripts/install-deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON
	cmake --build build -j $(JOBS)

build-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTONBRIX_SANITIZE=ON -DBUILD_TESTING=ON
	cmake --build build-asan -j $(JOBS)

# The threaded parts again under ThreadSanitizer: the program, the test
# plugins, the end-to-end tests that run several threads and the engine's
# in-process tests.
build-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DTONBRIX_SANITIZE_THREAD=ON -DBUILD_TESTING=ON
	cmake --build build-tsan -j $(JOBS) --target tonbrix test_plugins e2e_tests unit_tests

demo: build
	@./scripts/demo.sh

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

# The whole suite, then again under AddressSanitizer and UndefinedBehaviorSanitizer.
test: build build-asan build-tsan
	cd build && ctest --output-on-failure -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

# The tests that exercise the reader, writer and instance threads, the
# scheduler's lanes, the FLAC encoder threads and the block hooks of events
# on the instances' threads, the loudness measurement's thread, the rate
# converters' side thread, and the plugins' lines held with their blocks.
TSAN_TESTS = ^(Chain|Loudness|MasterSteps|RateConversion|Threads|LatencyAndTail|Processing|Files|Progress|OutputSafety|SegmentedFlac|ReportEvery|ReportJson|Scheduler|ChunkRing|PluginChain|Events|EventPlugins|EventHooks|Cases/OrderedLines)\.

# Speed and memory against the peer tools; not part of the test suite.
bench: build
	./bench/run.sh
	./bench/pipeline.sh

# The fuzz targets (clang, libFuzzer, ASan+UBSan) in their own build
# folder, each run on its seed corpus for FUZZ_SECONDS seconds. What they
# find is left in build-fuzz/findings/<target>/.
FUZZ_SECONDS ?= 60

fuzz: deps
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
		-DCMAKE_CXX_COMPILER=clang++ -DTONBRIX_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build build-fuzz -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) ./scripts/fuzz.sh build-fuzz

# Runs every installed LV2 plugin once, sorts the outcomes and fails when a
# plugin's output differs from scripts/compat-baseline.tsv (not part of the
# test suite; see scripts/compat.sh). compat-update records the changed
# outputs in the baseline with REASON, the reason of the change.
compat: build
	JOBS=$(JOBS) ./scripts/compat.sh

compat-update: build
	JOBS=$(JOBS) UPDATE=1 REASON="$(REASON)" ./scripts/compat.sh

clean:
	rm -rf build build-asan build-tsan build-fuzz
