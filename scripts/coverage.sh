#!/usr/bin/env bash
# Line and branch coverage of src/library/ and the test backends in testing/platform/ by the host tests.
# Fails unless every line of src/library/ is covered.
# Usage: scripts/coverage.sh COVERAGE_BUILD_DIR
set -euo pipefail
build="$(realpath "$1")"
root="$(cd "$(dirname "$0")/.." && pwd)"
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" --output-on-failure -j2 | tail -n 3
mkdir -p "$build/coverage-html"
common=(--root "$root" --object-directory "$build" --exclude-unreachable-branches --exclude-throw-branches)

echo "== lines and branches of src/library/ and the test backends in testing/platform/"
gcovr "${common[@]}" --filter "$root/src/library/" --filter "$root/testing/platform/" \
    --html-details "$build/coverage-html/index.html" --print-summary
echo "== lines"
gcovr "${common[@]}" --filter "$root/src/library/" --filter "$root/testing/platform/" --txt | sed -n '/^File/,$p'
echo "== branches"
gcovr "${common[@]}" --filter "$root/src/library/" --filter "$root/testing/platform/" --txt --branches | sed -n '/^File/,$p'
gcovr "${common[@]}" --filter "$root/src/library/" --fail-under-line 100 -o /dev/null ||
    { echo "FAILED: src/library/ is not fully covered by line"; exit 1; }
echo "HTML report: $build/coverage-html/index.html"
