# The commands a newcomer needs; each installs what is missing, configures and builds first.
JOBS ?= 2
FUZZ_SECONDS ?= 60
CMAKE ?= cmake
CTEST_FLAGS ?= --output-on-failure -j$(JOBS)

.PHONY: deps demo screenshots test asan tsan bench fuzz build clean

deps:
	@scripts/install-deps

build/build.ninja:
	$(CMAKE) -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps build/build.ninja
	$(CMAKE) --build build -j$(JOBS)

demo: build
	scripts/demo build

# The confirmation dialogs shown in the README, rendered from the demo session.
screenshots: build
	scripts/screenshots build docs/images

test: build
	cd build && ctest $(CTEST_FLAGS)

asan: deps
	$(CMAKE) -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKDX_SANITIZE=address,undefined
	$(CMAKE) --build build-asan -j$(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest $(CTEST_FLAGS)

# ThreadSanitizer over the suites that start threads.
tsan: deps
	$(CMAKE) -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKDX_SANITIZE=thread
	$(CMAKE) --build build-tsan -j$(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest $(CTEST_FLAGS) -L threads

bench: deps
	$(CMAKE) -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKDX_BENCH=ON
	$(CMAKE) --build build-bench -j$(JOBS) --target kdx-bench
	build-bench/bench/kdx-bench

fuzz: deps
	CC=clang CXX=clang++ $(CMAKE) -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKDX_FUZZ=ON
	$(CMAKE) --build build-fuzz -j$(JOBS) --target fuzzers
	scripts/run-fuzzers build-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz
