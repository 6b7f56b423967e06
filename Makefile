# The two commands of the README: `make demo` and `make test`.
JOBS ?= 2

.PHONY: all deps build build-asan demo test unit-test asan-test fuzz clean

all: build

deps:
	@./scripts/install-deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON
	cmake --build build -j $(JOBS)

build-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTONBRIX_SANITIZE=ON -DBUILD_TESTING=ON
	cmake --build build-asan -j $(JOBS)

demo: build
	@./scripts/demo.sh

# The whole suite, then again under AddressSanitizer and UndefinedBehaviorSanitizer.
test: build build-asan
	cd build && ctest --output-on-failure -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# The fuzz targets (clang, libFuzzer, ASan+UBSan) in their own build
# folder, each run on its seed corpus for FUZZ_SECONDS seconds. What they
# find is left in build-fuzz/findings/<target>/.
FUZZ_SECONDS ?= 60

fuzz: deps
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
		-DCMAKE_CXX_COMPILER=clang++ -DTONBRIX_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build build-fuzz -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) ./scripts/fuzz.sh build-fuzz

clean:
	rm -rf build build-asan build-fuzz
