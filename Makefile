# SPDX-License-Identifier: Apache-2.0
# Entry points for people and CI. Every target first makes sure the Debian packages it needs
# are installed (scripts/bootstrap.sh PURPOSE does nothing when they are). `make demo` and
# `make test` run scripts/demo.sh and scripts/test.sh, which work without make.
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
TSAN_DIR ?= build-tsan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 20
JOBS ?= $(shell nproc)
CTEST_FLAGS ?= --output-on-failure --timeout 300 -j$(JOBS)

.PHONY: all deps configure build test test-sanitize test-valgrind test-vm test-thread fuzz-build \
	fuzz-smoke sweep demo package bench mutate format clean

all: build

deps:
	@scripts/bootstrap.sh test

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKYSNAP_TESTS=ON

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

test:
	BUILD_DIR=$(BUILD_DIR) JOBS=$(JOBS) CTEST_FLAGS="$(CTEST_FLAGS)" scripts/test.sh

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DKYSNAP_SANITIZE=ON
	cmake --build $(SANITIZE_DIR) -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(SANITIZE_DIR) $(CTEST_FLAGS)

# The end-to-end suite under Valgrind memcheck, on the ordinary build.
test-valgrind: build
	@scripts/bootstrap.sh valgrind
	ctest --test-dir $(BUILD_DIR) -C memcheck -R '^memcheck\.' --output-on-failure

# kysnap's linux backend on a real Linux kernel under QEMU (skipped, with the reason, where
# QEMU or the kernel package cannot be had). The kernel package is cached in $(BUILD_DIR)/vm.
test-vm: build
	@scripts/bootstrap.sh vm
	ctest --test-dir $(BUILD_DIR) -C vm -L vm --output-on-failure

# The concurrency test under ThreadSanitizer; only what it needs is built.
test-thread: deps
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKYSNAP_SANITIZE_THREAD=ON
	cmake --build $(TSAN_DIR) --target thread_test -j$(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
		ctest --test-dir $(TSAN_DIR) -R '^threads\.' $(CTEST_FLAGS)

# The fuzz targets (clang, libFuzzer) and a short run of each from its seed corpus.
fuzz-build:
	@scripts/bootstrap.sh fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKYSNAP_FUZZ=ON
	cmake --build $(FUZZ_DIR) --target fuzz_targets -j$(JOBS)

fuzz-smoke: fuzz-build
	FUZZ_BUILD_DIR=$(FUZZ_DIR) fuzz/run $(FUZZ_SECONDS)

# The whole failure-path sweep (CTest runs a sample of it).
sweep: build
	KYSNAP_SWEEP=all $(BUILD_DIR)/tests/sweep/sweep_test

# The whole snapshot lifecycle against an array simulator inside the kysnap process.
demo:
	BUILD_DIR=$(BUILD_DIR) JOBS=$(JOBS) scripts/demo.sh

# Mutation testing of the named layers against their own and the end-to-end tests, in a private
# copy under build-mutate/ (slow: not part of CI). MUTATE_FLAGS passes more options, e.g.
# `make mutate LAYERS=src/scsi MUTATE_FLAGS=--list`. See docs/hardening.md.
LAYERS ?= src/copyserver src/entry src/scsi
MUTATE_SAMPLE ?= 25
MUTATE_SEED ?= 18
MUTATE_FLAGS ?=
mutate:
	@scripts/bootstrap.sh mutate
	scripts/mutate.py --layers $(LAYERS) --sample $(MUTATE_SAMPLE) --seed $(MUTATE_SEED) \
		--jobs $(JOBS) $(MUTATE_FLAGS)

# The Debian package (build/kysnap_<version>_<arch>.deb), reproducible: every time in it is
# the changelog's (scripts/reproducible-package.sh builds it twice and compares).
package: build
	@scripts/bootstrap.sh package
	cd $(BUILD_DIR) && SOURCE_DATE_EPOCH=$$(dpkg-parsechangelog -l $(CURDIR)/packaging/changelog -STimestamp) \
		cpack -G DEB

# The benchmarks in full, in release mode (build-bench/); writes docs/performance.md.
bench:
	bench/run

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(TSAN_DIR) $(FUZZ_DIR) build-bench build-mutate
