# Thin wrapper over the CMake presets. `make test` and `make demo` install
# missing system packages first (see scripts in cmake/deps.sh).
SHELL := /bin/bash
JOBS ?= $(shell nproc)
WIN ?= $(shell cmake/pick-windows-preset.sh)

.PHONY: all deps native windows win32 test demo bench clean

all: native windows

deps:
	@cmake/deps.sh

native:
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

windows:
	cmake --preset $(WIN) >/dev/null
	cmake --build --preset $(WIN) -j $(JOBS)

# The shipped engine is 32-bit; it is always built, and its image is checked
# even where this machine cannot run 32-bit Windows programs.
win32:
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS) --target setup kytbuild

test: deps
	$(MAKE) native windows $(if $(filter win32,$(WIN)),,win32)
	ctest --preset native -j $(JOBS)
	# Wine occasionally fails to start a program when several start at once;
	# a test that fails is run once more, and fails the run only if it fails
	# again.
	ctest --preset $(WIN) -j $(JOBS) --repeat until-pass:2
	tests/fuzz/run-fuzzers.sh
	tests/e2e/check-win32-image.sh build/win32

demo: deps
	$(MAKE) native windows
	examples/hello/demo.sh build/$(WIN)

# The installation benchmark runs the 64-bit engine whichever build the tests use.
bench: deps
	$(MAKE) native windows
	cmake --preset win64 >/dev/null
	cmake --build --preset win64 -j $(JOBS) --target setup
	tests/bench/run.sh build/$(WIN)

clean:
	rm -rf build
