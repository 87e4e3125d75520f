# Two commands on a fresh Debian machine: `make run` and `make test`.
PRESET ?= debug
JOBS ?= $(shell nproc)
# The preset `make test` builds and runs: the plain debug build, or in CI (CI set) the debug
# build under AddressSanitizer and UndefinedBehaviorSanitizer, which runs the same whole suite.
ifneq ($(CI),)
TEST_PRESET ?= asan
else
TEST_PRESET ?= $(PRESET)
endif

.PHONY: deps build release run test test-asan test-tsan check-subproject package check-package bench fuzz fuzz-ci format clean

deps:
	@scripts/install-deps.sh

build: deps
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) -j $(JOBS)

release: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target trelmo

run: release
	./build/release/trelmo

# The whole suite, the long cases labelled soak included.
test: deps
	cmake --preset $(TEST_PRESET) >/dev/null
	cmake --build --preset $(TEST_PRESET) -j $(JOBS)
	ctest --preset $(TEST_PRESET) -j $(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer (what CI's `make test`
# runs).
test-asan:
	$(MAKE) test TEST_PRESET=asan

# Under ThreadSanitizer, only what runs threads of its own: the serial layer's tests and the
# window tests that drive the serial port (serial_window_tests: the suites named Serial...),
# whose event thread hands every event to the GUI thread. Only these are built.
test-tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS) --target threads_tests
	ctest --preset tsan -j $(JOBS) -R serial -LE soak

# The Debian package: build/package/trelmo_<version>_<arch>.deb
package: deps
	cmake --preset package >/dev/null
	cmake --build --preset package -j $(JOBS)
	cd build/package && cpack -G DEB

# The package's dependencies and contents.
check-package: package
	scripts/check-package.sh

# A plain Release build of the program as another CMake project embeds it (add_subdirectory,
# no presets, no tests, no warnings-as-errors).
check-subproject: deps
	scripts/check-subproject.sh

# The formatter and models alone, the M-Bus record decoder, then the whole window on a
# pseudo-terminal (medians of BENCH_RUNS interleaved runs, default 5) and the reopen cycles.
bench: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target trelmo_bench trelmo_e2e_bench trelmo_reopen_bench mbus_bench
	./build/release/bench/trelmo_bench
	./build/release/bench/mbus_bench
	./build/release/bench/trelmo_e2e_bench --runs $(or $(BENCH_RUNS),5)
	./build/release/bench/trelmo_reopen_bench

# Every fuzz target for FUZZ_SECONDS each (default 600), over a working copy of its seeds.
fuzz: deps
	scripts/fuzz.sh $(or $(FUZZ_SECONDS),600)

# The short pass CI runs so that a regression is caught.
fuzz-ci: deps
	scripts/fuzz.sh 25

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
