# Front door: every target installs what it needs, configures, builds and runs.
# `make run` writes the default image to the simulated board; `make test` runs the whole suite.

JOBS ?= $(shell nproc)
CMAKE ?= cmake
# Extra configure flags, e.g. CONFIGURE_FLAGS=-DKT_WERROR=ON in CI.
CONFIGURE_FLAGS ?=
DEPS := sh tools/install-deps.sh

.PHONY: all deps build run test test-sanitizers test-asan test-tsan test-windows build-windows test-system bench soak fuzz fuzz-build fuzz-ci package package-check package-windows pictures clean

all: build

deps:
	$(DEPS) build

build: deps
	$(CMAKE) --preset default $(CONFIGURE_FLAGS)
	$(CMAKE) --build --preset default -j $(JOBS)

# Only the command line is built for it. The simulated board re-plugs itself after its erase: nothing to
# wait for at the re-plug message.
run: deps
	$(CMAKE) --preset default $(CONFIGURE_FLAGS)
	$(CMAKE) --build --preset default -j $(JOBS) --target kt7310-eeprom
	./build/default/src/app/cli/kt7310-eeprom write --simulate --yes

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

# The shipped Windows programs are the 32-bit build (checked to be PE32 i386). This kernel cannot run
# 32-bit code, so the suite runs from the x86-64 build of the same sources under 64-bit Wine.
build-windows:
	$(DEPS) windows
	$(CMAKE) --preset mingw $(CONFIGURE_FLAGS)
	$(CMAKE) --build --preset mingw -j $(JOBS)
	sh tools/check-pe32.sh build/mingw
	sh tools/check-pe-imports.sh build/mingw

test-windows: build-windows
	$(CMAKE) --preset mingw64 $(CONFIGURE_FLAGS)
	$(CMAKE) --build --preset mingw64 -j $(JOBS)
	ctest --preset mingw64

# The programs on a Debian kernel's real hidraw, uhid, USB gadget and udev, in a qemu guest that runs this
# machine's root read-only (tests/system/run-vm.sh). SCENARIOS="NAME..." runs only those.
# The 32-bit Windows programs run there under 32-bit Wine, which this machine's kernel may not run itself.
test-system: build-windows
	$(DEPS) build system
	$(CMAKE) --preset default $(CONFIGURE_FLAGS)
	$(CMAKE) --build --preset default -j $(JOBS) --target kt7310-eeprom kt7310-board KT701xWriteEepromMP
	sh tests/system/run-vm.sh tests/system/scenarios.sh $(SCENARIOS) build/system/results

bench: deps
	$(CMAKE) --preset bench $(CONFIGURE_FLAGS)
	$(CMAKE) --build --preset bench -j $(JOBS)
	sh bench/report.sh build/bench

soak: build
	KT_SOAK_JOBS=20000 ./build/default/tests/robustness/robustness_tests --gtest_filter='*Soak*'

fuzz-build:
	$(DEPS) build fuzz
	$(CMAKE) --preset fuzz $(CONFIGURE_FLAGS)
	$(CMAKE) --build --preset fuzz -j $(JOBS)

fuzz: fuzz-build
	KT_FUZZ_SECONDS=$${KT_FUZZ_SECONDS:-300} sh fuzz/run.sh build/fuzz

# A bounded run for CI.
fuzz-ci: fuzz-build
	KT_FUZZ_SECONDS=$${KT_FUZZ_SECONDS:-45} sh fuzz/run.sh build/fuzz

# The Linux programs as a Debian package, build/package/kt7310-eeprom_VERSION_ARCH.deb: compiled with
# Debian's own flags (hardening included) from the `package` preset, packed by CPack, checked by lintian.
DEB_FLAGS := DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
package:
	$(DEPS) build package
	$(CMAKE) --preset package $(CONFIGURE_FLAGS) \
	  -DCMAKE_C_FLAGS="$$($(DEB_FLAGS) CPPFLAGS) $$($(DEB_FLAGS) CFLAGS)" \
	  -DCMAKE_CXX_FLAGS="$$($(DEB_FLAGS) CPPFLAGS) $$($(DEB_FLAGS) CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$($(DEB_FLAGS) LDFLAGS)"
	$(CMAKE) --build --preset package -j $(JOBS)
	rm -f build/package/*.deb
	cpack --preset package
	lintian --fail-on error --display-info build/package/*.deb

# Installs the package on this machine, runs it from /usr/bin, removes it and checks nothing is left.
package-check: package
	sh tools/check-deb.sh build/package/*.deb

# README's pictures (docs/pictures) from the window checks' screenshots of real runs: the Linux dialog and
# station window under Xvfb, the Windows ones under 64-bit Wine.
pictures: build
	$(DEPS) windows
	$(CMAKE) --preset mingw64 $(CONFIGURE_FLAGS)
	$(CMAKE) --build --preset mingw64 -j $(JOBS)
	ctest --preset default -R '^fltk_(window|station)$$'
	ctest --preset mingw64 -R '^win32_(gui|station)$$'
	sh tools/make-pictures.sh build/default/screenshots/fltk build/mingw64/screenshots

# The shipped 32-bit Windows programs, README and licence in build/package-windows/kt7310-eeprom-VERSION-win32.zip.
package-windows: build-windows
	$(DEPS) package_windows
	sh tools/package-windows.sh build/mingw build/package-windows

clean:
	rm -rf build
