# Front door. Every target installs what is missing first (Debian packages,
# as root) through scripts/setup.sh.
#   make        build the host library and tests, and the Windows DLL into dist/
#   make demo   run the key tester under Wine against the virtual key
#   make test   run every test: host (sanitizers on) and the DLL under Wine
.PHONY: all build demo test host windows dist host-test windows-test clean

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

clean:
	rm -rf build $(DIST)
