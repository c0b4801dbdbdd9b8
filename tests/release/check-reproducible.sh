#!/usr/bin/env bash
# Builds the shipped files a second time, in another folder, and checks that
# the DLL, every other shipped binary and the release zip come out byte for
# byte the same as those of the first build.
# Usage: check-reproducible.sh SOURCE_DIR FIRST_BUILD_DIR
set -uo pipefail
src="$(realpath "$1")"
first="$(realpath "$2")"
again="$first-again"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The shipped targets only: the second build skips the test programs.
targets=(Zelbin_Serial io commio_io zelbin-keytest zelbin-keytest-gui zelbin-virtualkey zelbin_import_library_file
    zelbin_msvc_import_library)
cmake -S "$src" -B "$again" --preset windows >/dev/null || exit 1
cmake --build "$again" --target "${targets[@]}" >"$work/build.log" 2>&1 || { tail -20 "$work/build.log"; exit 1; }

pack() { # build-dir name
    cmake --install "$1" --prefix "$work/$2" >"$work/$2-install.log" 2>&1 ||
        { echo "FAIL installing $1:" >&2; tail -20 "$work/$2-install.log" >&2; return 1; }
    "$src/scripts/release.sh" "$work/$2" "$work/$2-zip"
}
zip1="$(pack "$first" one)" || { echo "0 passed, 1 failed"; exit 1; }
zip2="$(pack "$again" two)" || { echo "0 passed, 1 failed"; exit 1; }

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
if cmp -s "$zip1" "$zip2"; then
    passed=$((passed + 1))
    echo "ok   $(basename "$zip1") is the same twice ($(stat -c %s "$zip1") bytes, sha256 $(sha256sum "$zip1" | cut -c1-16)...)"
else
    failed=$((failed + 1))
    echo "FAIL the release zips differ"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 1 ]
