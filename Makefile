# Front door: every target installs what it needs, configures, builds and runs.
# `make run` writes the default image to the simulated board; `make test` runs the whole suite.

JOBS ?= $(shell nproc)
CMAKE ?= cmake
# Extra configure flags, e.g. CONFIGURE_FLAGS=-DKT_WERROR=ON in CI.
CONFIGURE_FLAGS ?=
DEPS := sh tools/install-deps.sh

.PHONY: all deps build run test test-sanitizers test-asan test-tsan test-windows build-windows bench soak fuzz clean

all: build

deps:
	$(DEPS) build

build: deps
	$(CMAKE) --preset default $(CONFIGURE_FLAGS)
	$(CMAKE) --build --preset default -j $(JOBS)

run: build
	./build/default/src/app/cli/kt7310-eeprom write --simulate

test: build
	ctest --preset default -j $(JOBS)

test-asan: deps
	$(CMAKE) --preset asan $(CONFIGURE_FLAGS)
	$(CMAKE) --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

test-tsan: deps
	$(CMAKE) --preset tsan $(CONFIGURE_FLAGS)
	$(CMAKE) --build --preset tsan -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --preset tsan -j $(JOBS)

test-sanitizers: test-asan test-tsan

build-windows:
	$(DEPS) windows
	$(CMAKE) --preset mingw $(CONFIGURE_FLAGS)
	$(CMAKE) --build --preset mingw -j $(JOBS)

test-windows: build-windows
	ctest --preset mingw

bench: deps
	$(CMAKE) --preset bench $(CONFIGURE_FLAGS)
	$(CMAKE) --build --preset bench -j $(JOBS)
	sh bench/run.sh build/bench

soak: build
	KT_SOAK_JOBS=20000 ./build/default/tests/programming/programming_tests --gtest_filter='*Soak*'

fuzz:
	$(DEPS) build fuzz
	$(CMAKE) --preset fuzz $(CONFIGURE_FLAGS)
	$(CMAKE) --build --preset fuzz -j $(JOBS)
	KT_FUZZ_SECONDS=$${KT_FUZZ_SECONDS:-300} sh fuzz/run.sh build/fuzz

clean:
	rm -rf build
