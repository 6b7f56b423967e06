# The two commands of the README: `make demo` and `make test`.
JOBS ?= 2

.PHONY: all deps build build-asan demo test unit-test asan-test compat clean

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

# Runs every installed LV2 plugin once and sorts the outcomes (not part of
# the test suite; see scripts/compat.sh).
compat: build
	JOBS=$(JOBS) ./scripts/compat.sh

clean:
	rm -rf build build-asan
