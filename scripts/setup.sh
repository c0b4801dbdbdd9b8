#!/usr/bin/env bash
# Installs what the build needs and is missing, from Debian's packages.
# Usage: scripts/setup.sh GROUP...   where GROUP is host, windows, pascal or tools.
# Runs apt only when something is actually missing, so it costs nothing on a
# machine that is ready.
#
# The package registry is not always whole: a mirror in the middle of a
# sync serves an index of the wrong size, or one suite's index lags behind
# another's. So a failed download is tried again, an index that still
# fails is gone without (with a note), and the packages that can be had
# are installed even when one can't. 32-bit Wine is installed only where
# the kernel runs 32-bit programs; without it, the x86 Windows tests are
# skipped and say so, and everything else still builds and runs.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

missing=()
want_wine32=0
wine32_failed="$here/../build/.wine32-not-installed"

have_cmd() { command -v "$1" >/dev/null 2>&1; }
# grep reads the whole answer (no -q): under pipefail, a grep that quits at
# its first match can kill the writer with SIGPIPE and fail a good check.
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep 'install ok installed' >/dev/null; }
want_cmd() { have_cmd "$1" || missing+=("$2"); }
want_pkg() { have_pkg "$1" || missing+=("$1"); }
# An npm package, installed globally at that version; only for what Debian
# doesn't package.
missing_npm=()
have_npm() {
    local root
    root="$(npm root -g 2>/dev/null)" || return 1
    grep "\"version\": *\"$2\"" "$root/$1/package.json" >/dev/null 2>&1
}
want_npm() { have_npm "$1" "$2" || missing_npm+=("$1@$2"); }
note() { echo "setup.sh: $*" >&2; }

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
        want_cmd x86_64-w64-mingw32-g++ g++-mingw-w64-x86-64
        want_cmd x86_64-w64-mingw32-objdump binutils-mingw-w64-x86-64
        want_pkg googletest
        want_cmd llvm-dlltool llvm
        want_cmd clang clang
        want_cmd lld-link lld
        # 64-bit Wine runs on every machine; the 32-bit half below only
        # where the kernel runs 32-bit programs.
        want_cmd wine wine
        want_pkg wine64
        # Independent readers of the shipped bytes: a PE parser and a CPU
        # emulator, for Debian's python3.
        want_pkg python3-pefile
        want_pkg python3-unicorn
        want_cmd zip zip
        # The guides in the release, as HTML: GitHub's own Markdown reader.
        want_cmd cmark-gfm cmark-gfm
        # A virtual X display for the key tester's window under Wine.
        want_cmd Xvfb xvfb
        # The host kits: the C# class compiled and read back, the Pascal
        # units compiled by this machine's own Free Pascal.
        want_cmd mcs mono-mcs
        want_cmd monodis mono-utils
        want_cmd fpc fp-compiler
        want_pkg fp-units-rtl-3.2.2
        # The scripted modem-line device's library is preloaded into
        # Wine's loaders, so it is built for i386 too, where 32-bit Wine runs.
        if "$here/kernel-runs-32bit.sh"; then
            want_pkg g++-multilib
        fi
        # Signing the release with Authenticode, when a certificate is
        # given, and the certificate's checks (and the tests' throwaway CA).
        want_cmd osslsigncode osslsigncode
        want_cmd openssl openssl
        # The release's bill of materials, checked against CycloneDX's
        # published JSON schema: the validator from Debian, the schema from
        # the npm package that keeps it for offline use (Debian has none).
        want_pkg python3-jsonschema
        want_cmd npm npm
        want_npm @cyclonedx/cyclonedx-library 10.3.0
        # A failed try is remembered in the build folder (make clean
        # forgets it), so that each later make doesn't ask apt again.
        if ! have_pkg wine32:i386 && [ ! -e "$wine32_failed" ] && "$here/kernel-runs-32bit.sh"; then
            want_wine32=1
        fi
        ;;
    pascal)
        # The win32 and win64 run-time units sources, for the Pascal host under Wine
        # (scripts/pascal-windows.sh builds them into the build folder).
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

[ ${#missing[@]} -eq 0 ] && [ ${#missing_npm[@]} -eq 0 ] && [ "$want_wine32" -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    note "missing packages: ${missing[*]}${missing[*]:+ }${missing_npm[*]}${missing_npm[*]:+ }$([ "$want_wine32" -eq 1 ] && echo wine32:i386); run as root or install them"
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt_options=(-o Acquire::Retries=3 -o Dpkg::Use-Pty=0)

# apt-get update, tried three times. What still fails is reported and gone
# without: the other indexes, and the packages they hold, are still there.
update_indexes() {
    local attempt log
    log="$(mktemp)"
    for attempt in 1 2 3; do
        if apt-get update -qq "${apt_options[@]}" >"$log" 2>&1 && ! grep -q '^[EW]: ' "$log"; then
            rm -f "$log"
            return 0
        fi
        [ "$attempt" -lt 3 ] && sleep $((attempt * 5))
    done
    note "some package indexes could not be downloaded; going on without them:"
    grep -E '^(E|W): (Failed to fetch|Some index)' "$log" | sed 's/^/    /' >&2
    rm -f "$log"
    return 0
}

# Installs the packages all at once, or, where that fails, one by one, so
# that one package the registry can't give doesn't keep the others away.
# Prints the ones that could not be installed.
install_packages() {
    apt-get install -y -qq --no-install-recommends "${apt_options[@]}" "$@" >/dev/null 2>&1 && return 0
    local package
    for package in "$@"; do
        apt-get install -y -qq --no-install-recommends "${apt_options[@]}" "$package" >/dev/null 2>&1 ||
            echo "$package"
    done
}

# apt preferences under which wine32:i386 can be installed beside the amd64
# packages already here. Multiarch libraries must have the same version on
# both architectures, and an index that failed or lags (typically one
# architecture's security updates) leaves i386 older than what amd64 has
# installed. So, for each library wine32 needs: the amd64 version that is
# installed, where i386 has it too; else the newest version both have, for
# both; and the security suite below the others, so that what it alone
# offers doesn't pull one architecture ahead of the other again.
wine32_preferences() {
    local names
    names="$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces \
        --no-enhances wine32:i386 2>/dev/null | sed -n 's/^\([a-z0-9][^ :]*\):i386$/\1/p' | sort -u)"
    [ -n "$names" ] || return 0
    local installed available
    installed="$(dpkg-query -W -f='${Package} ${Architecture} ${Version} ${db:Status-Abbrev}\n' 2>/dev/null |
        awk '$2 == "amd64" && $4 ~ /^ii/ { print $1, $3 }')"
    # One question for every version of every name: "name:arch | version | source".
    available="$(apt-cache madison $(sed 's/$/:i386/' <<<"$names") $(sed 's/$/:amd64/' <<<"$names") 2>/dev/null |
        awk -F'|' '{ gsub(/ /, "", $1); gsub(/ /, "", $2); split($1, p, ":"); arch = ($3 ~ / i386 /) ? "i386" : "amd64";
                     print p[1], arch, $2 }')"
    local name version common candidate
    while read -r name version; do
        grep -qxF "$name" <<<"$names" || continue
        local i386_versions
        i386_versions="$(awk -v n="$name" '$1 == n && $2 == "i386" { print $3 }' <<<"$available")"
        [ -n "$i386_versions" ] || continue
        if grep -qxF "$version" <<<"$i386_versions"; then
            printf 'Package: %s:i386\nPin: version %s\nPin-Priority: 1001\n\n' "$name" "$version"
            continue
        fi
        common=""
        for candidate in $(awk -v n="$name" '$1 == n && $2 == "amd64" { print $3 }' <<<"$available" |
            grep -xF -f <(echo "$i386_versions")); do
            if [ -z "$common" ] || dpkg --compare-versions "$candidate" gt "$common"; then
                common="$candidate"
            fi
        done
        [ -n "$common" ] &&
            printf 'Package: %s:amd64 %s:i386\nPin: version %s\nPin-Priority: 1001\n\n' "$name" "$name" "$common"
    done <<<"$installed"
    printf 'Package: *\nPin: release n=%s-security\nPin-Priority: 90\n\n' "$(. /etc/os-release && echo "$VERSION_CODENAME")"
}

install_wine32() {
    if ! dpkg --print-foreign-architectures | grep -x i386 >/dev/null; then
        dpkg --add-architecture i386
    fi
    update_indexes
    local log preferences
    log="$(mktemp)"
    if apt-get install -y -qq --no-install-recommends "${apt_options[@]}" wine32:i386 >"$log" 2>&1; then
        rm -f "$log"
        return 0
    fi
    preferences="$(mktemp)"
    wine32_preferences >"$preferences"
    if apt-get install -y -qq --no-install-recommends "${apt_options[@]}" --allow-downgrades -o Dir::Etc::Preferences="$preferences" \
        wine32:i386 >"$log" 2>&1; then
        note "wine32:i386 installed at versions both architectures have; changed amd64 packages are in /var/log/apt/history.log"
        rm -f "$log" "$preferences"
        return 0
    fi
    note "32-bit Wine (wine32:i386) could not be installed, so the x86 Windows tests will be skipped. apt said:"
    grep -E '^(E: | [a-z])' "$log" | head -n 8 | sed 's/^/    /' >&2
    rm -f "$log" "$preferences"
    return 1
}

failed=()
if [ ${#missing[@]} -gt 0 ]; then
    note "installing ${missing[*]}"
    update_indexes
    mapfile -t failed < <(install_packages "${missing[@]}")
fi
if [ "$want_wine32" -eq 1 ]; then
    note "installing wine32:i386 (this kernel runs 32-bit programs)"
    if ! install_wine32; then
        mkdir -p "$(dirname "$wine32_failed")" && date >"$wine32_failed"
    fi
fi
# npm packages one by one, each tried three times (the registry, like
# Debian's, is not always whole), without the peer and optional packages
# they could use: what is wanted of them is their files.
for package in "${missing_npm[@]}"; do
    note "installing $package (npm)"
    for attempt in 1 2 3; do
        npm install -g --no-fund --no-audit --omit=peer --omit=optional "$package" >/dev/null 2>&1 && continue 2
        [ "$attempt" -lt 3 ] && sleep $((attempt * 5))
    done
    failed+=("$package")
done
if [ ${#failed[@]} -gt 0 ]; then
    note "could not install: ${failed[*]}"
    exit 1
fi
exit 0
