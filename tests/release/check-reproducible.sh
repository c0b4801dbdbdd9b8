#!/usr/bin/env bash
# Builds the shipped files of both editions a second time, in other folders,
# and checks that the DLL, every other shipped binary and the release zip
# come out byte for byte the same as those of the first builds.
# Usage: check-reproducible.sh SOURCE_DIR X86_BUILD_DIR X64_BUILD_DIR
set -uo pipefail
src="$(realpath "$1")"
. "$(dirname "$0")/both-editions.sh" "$2" "$3"
firsts=("$x86_build" "$x64_build")
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The unsigned release is what must come out the same.
unset ZELBIN_SIGN_PKCS12 ZELBIN_SIGN_CERT ZELBIN_SIGN_KEY

# The shipped targets only: the second builds skip the test programs.
targets=(Zelbin_Serial io commio_io zelbin-keytest zelbin-keytest-gui zelbin-virtualkey zelbin_import_library_file
    zelbin_msvc_import_library)
agains=()
for first in "${firsts[@]}"; do
    again="$first-again"
    agains+=("$again")
    cmake -S "$src" -B "$again" --preset "$(basename "$first")" >/dev/null || exit 1
    cmake --build "$again" --target "${targets[@]}" >"$work/build.log" 2>&1 || { tail -20 "$work/build.log"; exit 1; }
done

pack() { # x86-build x64-build name
    local from
    for from in "$1:x86" "$2:x64"; do
        cmake --install "${from%%:*}" --prefix "$work/$3/${from#*:}" >"$work/$3-install.log" 2>&1 ||
            { echo "FAIL installing ${from%%:*}:" >&2; tail -20 "$work/$3-install.log" >&2; return 1; }
    done
    "$src/scripts/release.sh" --zip "$work/$3" "$work/$3-zip" >/dev/null &&
        "$src/scripts/nuget.sh" "$work/$3" "$work/$3-zip" >/dev/null && echo "$work/$3-zip"
}
out1="$(pack "${firsts[0]}" "${firsts[1]}" one)" || { echo "0 passed, 1 failed"; exit 1; }
out2="$(pack "${agains[0]}" "${agains[1]}" two)" || { echo "0 passed, 1 failed"; exit 1; }

passed=0
failed=0
while IFS= read -r file; do
    if cmp -s "$work/one/$file" "$work/two/$file"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL $file differs between the two builds"
    fi
done < <(cd "$work/one" && find . -type f \( -name '*.dll' -o -name '*.exe' -o -name '*.debug' -o -name '*.a' -o -name '*.lib' \) | sort)
# The zip with its bill of materials, and the NuGet package made from it.
for package in "$out1"/*.zip "$out1"/*.nupkg; do
    name="$(basename "$package")"
    if cmp -s "$package" "$out2/$name"; then
        passed=$((passed + 1))
        echo "ok   $name is the same twice ($(stat -c %s "$package") bytes, sha256 $(sha256sum "$package" | cut -c1-16)...)"
    else
        failed=$((failed + 1))
        echo "FAIL the two builds' $name differ"
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 1 ]
