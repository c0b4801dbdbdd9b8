#!/usr/bin/env bash
# Line and branch coverage of everything in src/ that the host build
# compiles (the library, the UART model, the comm-port io.dll's core, the key
# tester's core, the command line), and of the test backends in
# testing/platform/, by the host tests; a summary per folder of src/.
# Fails unless every line of src/library/ is covered, and where src/ as a
# whole falls below the figures it has reached (a drop is a test lost or
# code added untested).
# Usage: scripts/coverage.sh COVERAGE_BUILD_DIR
set -euo pipefail
build="$(realpath "$1")"
root="$(cd "$(dirname "$0")/.." && pwd)"
# What src/ as a whole has reached; raise them as tests catch up.
least_lines=98.5
least_branches=90.5
find "$build" -name '*.gcda' -delete
# Notes left by a source file since removed or renamed: gcovr would report
# each as a file it can't open. build/DIR/CMakeFiles/T.dir/REL.gcno is the
# object of DIR/REL, with ".." spelt "__".
while IFS= read -r notes; do
    rel="${notes#"$build"/}"
    dir="${rel%%/CMakeFiles/*}"
    [ "$dir" != "$rel" ] || continue
    source="${rel#*/CMakeFiles/*.dir/}"
    source="${source%.gcno}"
    [ -e "$root/$dir/${source//__/..}" ] || rm -f "$notes" "${notes%.gcno}.o"
done < <(find "$build" -name '*.gcno')
ctest --test-dir "$build" --output-on-failure -j2 | tail -n 3
mkdir -p "$build/coverage-html"
common=(--root "$root" --object-directory "$build" --exclude-unreachable-branches --exclude-throw-branches)
# gcovr replaces its output file (removes it and writes a new one): never
# /dev/null, which a run as root would turn into a plain file.
scratch="$build/coverage-scratch.txt"

echo "== lines and branches of src/ and the test backends in testing/platform/"
gcovr "${common[@]}" --filter "$root/src/" --filter "$root/testing/platform/" \
    --html-details "$build/coverage-html/index.html" --print-summary
echo "== per folder of src/: lines, branches"
for folder in "$root"/src/*/; do
    summary="$(gcovr "${common[@]}" --filter "$folder" --print-summary -o "$scratch" 2>&1)"
    if grep -q '^lines: .*(0 out of 0)' <<<"$summary"; then
        summary="Windows code, not built on the host"
    else
        summary="$(sed -n 's/^\(lines\|branches\): \([0-9.]*%\).*/\1 \2/p' <<<"$summary" | tr '\n' ' ')"
    fi
    printf '  %-16s %s\n' "src/$(basename "$folder")/" "$summary"
done
echo "== branches by file"
gcovr "${common[@]}" --filter "$root/src/" --txt --branches | sed -n '/^File/,$p'
gcovr "${common[@]}" --filter "$root/src/library/" --fail-under-line 100 -o "$scratch" ||
    { echo "FAILED: src/library/ is not fully covered by line"; exit 1; }
gcovr "${common[@]}" --filter "$root/src/" --fail-under-line "$least_lines" --fail-under-branch "$least_branches" \
    -o "$scratch" ||
    { echo "FAILED: src/ fell below ${least_lines} % of its lines or ${least_branches} % of its branches"; exit 1; }
echo "HTML report: $build/coverage-html/index.html"
