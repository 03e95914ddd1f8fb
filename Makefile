# The commands a newcomer needs; each installs what is missing, configures and builds first.
JOBS ?= 2
FUZZ_SECONDS ?= 60
CMAKE ?= cmake
CTEST_FLAGS ?= --output-on-failure -j$(JOBS)

.PHONY: deps demo screenshots test asan tsan bench fuzz build windows windows-test clean

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

# The Windows cross build with mingw-w64: the 64-bit tree with all its tests, the 32-bit tree
# with the COM tests (32-bit Wine runs them), and dist/windows/{x64,x86}. The dialog's default
# skin is drawn by the Linux build's tool, and the Linux kdx-host serves the simulated web
# services to the COM tests, so the Linux tree is built too. The 32-bit tree is built without
# debug information, which only the 64-bit tree's test runs use.
WINDOWS_CMAKE = $(CMAKE) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

windows: deps build/build.ninja
	@scripts/install-deps windows
	$(CMAKE) --build build -j$(JOBS) --target skin kdx-host
	$(WINDOWS_CMAKE) -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchains/mingw-w64-x86_64.cmake \
	  -DKDX_LINUX_HOST=$(CURDIR)/build/host/kdx-host
	$(CMAKE) --build build-win64 -j$(JOBS)
	$(WINDOWS_CMAKE) -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchains/mingw-w64-i686.cmake \
	  -DKDX_LINUX_HOST=$(CURDIR)/build/host/kdx-host -DKDX_WINDOWS_UNIT_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build build-win32 -j$(JOBS)
	scripts/windows-dist build dist/windows x64=build-win64 x86=build-win32

# Each run starts from a fresh Wine prefix inside each build folder; the test summaries are shown.
windows-test: windows
	@status=0; for tree in build-win64 build-win32; do \
	  rm -rf $$tree/wineprefix* $$tree/com-tests; \
	  echo "== $$tree"; \
	  (cd $$tree && ctest $(CTEST_FLAGS) -V >ctest-wine.log 2>&1) || status=1; \
	  grep -E '^[0-9]+: (\[ *(PASSED|FAILED|SKIPPED) *\]|\[==========\] [0-9]+ tests|(ok|FAIL) +[A-Za-z]|session: )|tests passed|\*\*\*|Failed' $$tree/ctest-wine.log; \
	done; \
	[ $$status -eq 0 ] || echo "windows-test: failed; the whole output is in build-win*/ctest-wine.log"; exit $$status

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz build-win64 build-win32 dist
