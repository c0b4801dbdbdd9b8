# Front door. `make` builds, `make test` runs every test. Both install what
# is missing first (Debian packages, as root) through scripts/setup.sh.
.PHONY: all build test host host-test setup-host clean

all: build

build: host

test: host-test

setup-host:
	@scripts/setup.sh host

host: setup-host
	@cmake --preset host >/dev/null
	@cmake --build --preset host

host-test: host
	@ctest --preset host

clean:
	rm -rf build dist
