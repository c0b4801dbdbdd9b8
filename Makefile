# Front door. Every target installs what is missing first (Debian packages,
# as root) through scripts/setup.sh.
#   make        build the host library and tests, and the Windows DLL into dist/
#   make demo   run the key tester under Wine against the virtual key
#   make test   run every test: host (sanitizers on) and the DLL under Wine
#   make bench     benchmarks and instructions per poll
#   make fuzz      a fuzzing campaign of FUZZ_SECONDS (default 60)
#   make coverage  line and branch coverage of library/ and platform/
#   make memcheck  the host tests under valgrind
.PHONY: all build demo test host windows dist host-test windows-test bench fuzz coverage memcheck clean

FUZZ_SECONDS ?= 60

DIST := dist

all: build

build: host dist

test: host-test windows-test

host:
	@scripts/setup.sh host
	@cmake --preset host >/dev/null
	@cmake --build --preset host

windows:
	@scripts/setup.sh windows
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows

dist: windows
	@rm -rf $(DIST)
	@cmake --install build/windows --prefix $(DIST) >/dev/null
	@echo "dist/:" && cd $(DIST) && find . -type f | sort | sed 's|^\./|  |'

demo: dist
	@scripts/demo.sh $(DIST) build/windows/wineprefix

host-test: host
	@ctest --preset host

windows-test: windows
	@ctest --preset windows

bench:
	@scripts/setup.sh host tools
	@cmake --preset bench >/dev/null
	@cmake --build --preset bench
	@scripts/bench.sh build/bench

fuzz:
	@scripts/setup.sh host tools
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@scripts/fuzz.sh build/fuzz $(FUZZ_SECONDS)

coverage:
	@scripts/setup.sh host tools
	@cmake --preset coverage >/dev/null
	@cmake --build --preset coverage
	@scripts/coverage.sh build/coverage

memcheck:
	@scripts/setup.sh host tools
	@cmake --preset memcheck >/dev/null
	@cmake --build --preset memcheck
	@scripts/memcheck.sh build/memcheck

clean:
	rm -rf build $(DIST)
