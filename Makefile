# Top-level entry points. `make demo` and `make check` do everything on a fresh
# Debian machine; the other targets are their pieces.
JOBS ?= 2
MAKEFLAGS += --no-print-directory
CMAKE ?= cmake
BUILD := build

.PHONY: all deps host host-asan win64 win32 builds check check-win32 test test-all demo bench fuzz mutants dist clean

all: builds

deps:
	@scripts/install-deps

$(BUILD)/host/Makefile:
	$(CMAKE) -S . -B $(BUILD)/host -DCMAKE_BUILD_TYPE=RelWithDebInfo
$(BUILD)/host-asan/Makefile:
	$(CMAKE) -S . -B $(BUILD)/host-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON
$(BUILD)/win64/Makefile:
	$(CMAKE) -S . -B $(BUILD)/win64 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw64.cmake
$(BUILD)/win32/Makefile:
	$(CMAKE) -S . -B $(BUILD)/win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw32.cmake

host: $(BUILD)/host/Makefile
	$(CMAKE) --build $(BUILD)/host -j$(JOBS)
host-asan: $(BUILD)/host-asan/Makefile
	$(CMAKE) --build $(BUILD)/host-asan -j$(JOBS)
win64: $(BUILD)/win64/Makefile host
	$(CMAKE) --build $(BUILD)/win64 -j$(JOBS)
win32: $(BUILD)/win32/Makefile host
	$(CMAKE) --build $(BUILD)/win32 -j$(JOBS)

builds: host host-asan win64 win32

# The inner loop: the host build and its unit and conformance tests, without
# installing anything, without Wine and without the fuzzers.
test: host
	cd $(BUILD)/host && ctest --output-on-failure -j$(JOBS)

# Every test of every build: host unit tests, the same under ASan+UBSan, the
# Windows-side tests (import checks, Wine end to end), then the fuzzers.
test-all:
	scripts/run-tests

# The full gate: everything built, every test, and the deliberate faults'
# texts still found in the code (the list cannot drift from it).
check: deps
	$(MAKE) builds
	scripts/mutants --check
	$(MAKE) test-all

# The whole 32-bit set (every test of build/win32, and the WoW64 scenario of
# build/win64): natively where the kernel runs i386 code, else
# under user-mode emulation: minutes with qemu 8.1 and later, hours before (docs/development.md).
check-win32: deps
	$(MAKE) host win64 win32
	E2E_EMULATE=all scripts/run-tests win32 'win64:e2e_prefix|e2e_wow64'

demo: deps
	$(MAKE) builds
	scripts/demo

bench: deps
	$(MAKE) win64
	scripts/bench

fuzz: deps
	@if [ -x scripts/fuzz ]; then scripts/fuzz long; else echo "no fuzzers yet"; fi

# The release archive, dist/CleanPhantaxis-<version>.zip: the shipped 32-bit
# program, README.txt, the YARA rules and ClamAV signatures, SHA256SUMS.
# Builds only what goes into it, and only from a plain Release configuration
# of the 32-bit build (no flags of this machine's), the one anybody reproduces.
dist: deps $(BUILD)/host/Makefile $(BUILD)/win32/Makefile
	@for want in CMAKE_BUILD_TYPE:STRING=Release CMAKE_C_FLAGS:STRING= CMAKE_CXX_FLAGS:STRING= \
	    CMAKE_RC_FLAGS:STRING= CMAKE_EXE_LINKER_FLAGS:STRING=; do \
	    grep -qx "$$want" $(BUILD)/win32/CMakeCache.txt || \
	    { echo "make dist: $(BUILD)/win32 is not configured with $$want; remove it and run again" >&2; exit 1; }; \
	done
	$(CMAKE) --build $(BUILD)/host -j$(JOBS) --target signatures
	$(CMAKE) --build $(BUILD)/win32 -j$(JOBS) --target CleanPhantaxis
	scripts/make-dist --exe $(BUILD)/win32/ui/CleanPhantaxis.exe --signatures build/signatures --out dist

# Deliberate faults (scripts/mutants.txt), one at a time, against the host
# tests in a scratch copy (build/mutants). Slow; not part of check.
mutants:
	scripts/mutants

clean:
	rm -rf $(BUILD)
