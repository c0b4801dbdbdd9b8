# Front door. Every target installs what is missing first (Debian packages,
# as root) through scripts/setup.sh.
#   make           build the host library and tests, and the release, unzipped, into dist/
#                  (the 32-bit edition in dist/x86/, the 64-bit one in dist/x64/)
#   make demo      run the key tester under Wine against the virtual key (the
#                  32-bit edition where 32-bit programs run, else the 64-bit one)
#   make test      run every test: host (sanitizers on), the DLL and tools under
#                  Wine for both editions; ends with one line of counts
#   make bench     benchmarks and instructions per poll
#   make fuzz      a fuzzing campaign of FUZZ_SECONDS (default 60) on FUZZ_TARGET
#                  (library, the default, or commio)
#   make coverage  line and branch coverage of src/ (per folder) and the test backends; fails on a drop
#   make memcheck  the host, allocation and comm-port tests and both fuzz corpora under valgrind
#   make release   releases/Zelbin_Serial-VERSION-windows.zip (both editions, what dist/ holds,
#                  with its bill of materials), the same bytes for the same commit; signed
#                  with Authenticode when ZELBIN_SIGN_PKCS12, or ZELBIN_SIGN_CERT and
#                  ZELBIN_SIGN_KEY, name a certificate (docs/host-developer.md, Signing)
#   make nuget     releases/Zelbin.Serial.VERSION.nupkg, for .NET hosts, from the release zip
#   make clean     remove build/, dist/ and releases/
#   make help      this list
.PHONY: all build demo test host windows dist release nuget host-test windows-test bench fuzz coverage memcheck clean help

# A failing build must fail the recipe through the filter below.
SHELL := /bin/bash
.SHELLFLAGS := -o pipefail -c

DIST := dist
# Each edition's install, from which the release is laid out.
INSTALLS := build/install
# Release zips live apart from dist/, which every build empties and fills
# again, so that a later `make` or `make demo` leaves them alone.
RELEASES := releases
FUZZ_SECONDS ?= 60
FUZZ_TARGET ?= library

# $(call configure_and_build,SETUP_GROUPS,PRESET): quiet when there is
# nothing to do, the build's own progress when there is.
define configure_and_build
	@scripts/setup.sh $(1)
	@cmake --preset $(2) >/dev/null
	@cmake --build --preset $(2) | { grep -v -e '^ninja: no work to do\.$$' -e '^\[0/[0-9]*\] Re-checking globbed directories\.\.\.$$' || true; }
endef

all: build

build: host dist

host:
	$(call configure_and_build,host,host)

windows:
	$(call configure_and_build,windows,windows)
	$(call configure_and_build,windows,windows-x64)

# dist/ is the release zip's content, unzipped: what a user holds.
dist: windows
	@rm -rf $(INSTALLS)
	@cmake --install build/windows --prefix $(INSTALLS)/x86 >/dev/null
	@cmake --install build/windows-x64 --prefix $(INSTALLS)/x64 >/dev/null
	@scripts/release.sh $(INSTALLS) $(DIST)
	@echo "dist/: the release as it unzips, $$(find $(DIST) -type f | wc -l) files (ls -R $(DIST))"

# Signed or not, dist/ is left as the zip unzips.
release: dist
	@scripts/release.sh --zip $(INSTALLS) $(RELEASES) $(DIST) | sed 's|^$(CURDIR)/||'

nuget: release
	@scripts/nuget.sh $(INSTALLS) $(RELEASES) | sed 's|^$(CURDIR)/||'

demo: dist
	@scripts/demo.sh $(DIST)

# Each suite runs to its end; the last lines name every skipped test with
# its reason (the x86 Windows runs, on a machine that runs no 32-bit
# programs), then the counts.
test: host windows
	@scripts/test.sh host windows windows-x64

host-test: host
	@scripts/test.sh host

windows-test: windows
	@scripts/test.sh windows windows-x64

bench:
	$(call configure_and_build,host tools,bench)
	@scripts/bench.sh build/bench

fuzz:
	$(call configure_and_build,host tools,fuzz)
	@scripts/fuzz.sh build/fuzz $(FUZZ_SECONDS) $(FUZZ_TARGET)

coverage:
	$(call configure_and_build,host tools,coverage)
	@scripts/coverage.sh build/coverage

memcheck:
	$(call configure_and_build,host tools,memcheck)
	@scripts/memcheck.sh build/memcheck

clean:
	rm -rf build $(DIST) $(RELEASES)

help:
	@sed -n 's/^#   //p' Makefile

# ---- The comm-port io.dll behind Wine's own serial driver ------------------
#   make soak      10,000 key presses through the real DLLs and the comm-port io.dll
#                  under Wine, over a scripted adapter of each kind; a table of presses
#                  reported, merged, lost and invented (about 15 minutes); then a host that
#                  loads, starts, polls, stops and frees the library 10,000 times per edition,
#                  its handles, private bytes and thread-local slots flat (scripts/soak-load-cycles.sh)
.PHONY: soak
soak: windows
	@scripts/soak.sh
	@scripts/soak-load-cycles.sh

# make bench measures the latency under Wine too, over both Windows builds.
bench: windows
