#!/usr/bin/env bash
# Installs what the build needs and is missing, from Debian's packages.
# Usage: scripts/setup.sh GROUP...   where GROUP is host, windows, pascal or tools.
# Runs apt only when something is actually missing, so it costs nothing on a
# machine that is ready.
set -euo pipefail

missing=()
need_i386=0

have_cmd() { command -v "$1" >/dev/null 2>&1; }
# grep reads the whole answer (no -q): under pipefail, a grep that quits at
# its first match can kill the writer with SIGPIPE and fail a good check.
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep 'install ok installed' >/dev/null; }
want_cmd() { have_cmd "$1" || missing+=("$2"); }
want_pkg() { have_pkg "$1" || missing+=("$1"); }

for group in "$@"; do
    case "$group" in
    host)
        want_cmd cmake cmake
        want_cmd ninja ninja-build
        want_cmd g++ g++
        want_pkg libgtest-dev
        want_pkg googletest
        want_cmd sigrok-cli sigrok-cli # reads the key tester's VCD traces back
        ;;
    windows)
        want_cmd cmake cmake
        want_cmd ninja ninja-build
        want_cmd i686-w64-mingw32-g++ g++-mingw-w64-i686
        want_cmd i686-w64-mingw32-objdump binutils-mingw-w64-i686
        want_pkg googletest
        want_cmd llvm-dlltool llvm
        want_cmd clang clang
        want_cmd lld-link lld
        want_cmd wine wine
        # Independent readers of the shipped bytes: a PE parser and a CPU
        # emulator, for Debian's python3.
        want_pkg python3-pefile
        want_pkg python3-unicorn
        want_cmd zip zip
        # A virtual X display for the key tester's window under Wine.
        want_cmd Xvfb xvfb
        # The host kits: the C# class compiled and read back, the Pascal
        # units compiled by this machine's own Free Pascal.
        want_cmd mcs mono-mcs
        want_cmd monodis mono-utils
        want_cmd fpc fp-compiler
        want_pkg fp-units-rtl-3.2.2
        if ! have_pkg wine32:i386; then
            missing+=("wine32:i386")
            need_i386=1
        fi
        ;;
    pascal)
        # The win32 run-time units' sources, for the Pascal host under Wine
        # (scripts/pascal-win32.sh builds them into the build folder).
        want_pkg fpc-source-3.2.2
        ;;
    tools)
        want_cmd valgrind valgrind
        want_cmd clang++ clang
        want_pkg libclang-rt-dev # the runtime of the default clang, whatever its version
        want_cmd gcovr gcovr
        want_pkg libbenchmark-dev
        ;;
    *)
        echo "setup.sh: unknown group '$group'" >&2
        exit 2
        ;;
    esac
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "setup.sh: missing packages: ${missing[*]}; run as root or install them" >&2
    exit 1
fi

echo "setup.sh: installing ${missing[*]}"
if [ "$need_i386" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -x i386 >/dev/null; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
