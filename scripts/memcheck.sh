#!/usr/bin/env bash
# The host test programs (one a component, and the library's allocations) and both fuzz corpora under valgrind's memcheck: any error or leak fails.
# Usage: scripts/memcheck.sh MEMCHECK_BUILD_DIR
set -euo pipefail
build="$1"
status=0
programs=(library_tests alloc_tests uart_tests commio_tests portsetup_tests keytest_tests window_tests sim_tests)
for test in "${programs[@]/#/$build/tests/}" "$build/fuzz/fuzz_replay" "$build/fuzz/commio_fuzz_replay"; do
    args=()
    [ "$(basename "$test")" = fuzz_replay ] && args=("$(dirname "$0")"/../fuzz/corpus/*)
    [ "$(basename "$test")" = commio_fuzz_replay ] && args=("$(dirname "$0")"/../fuzz/commio-corpus/*)
    echo "== memcheck $(basename "$test")"
    # nouserintercepts: alloc_tests brings its own counting operator new,
    # which memcheck must leave in place.
    if ! valgrind --tool=memcheck --soname-synonyms=somalloc=nouserintercepts --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect,possible \
        --errors-for-leak-kinds=definite,indirect,possible --quiet "$test" "${args[@]}" >"$build/$(basename "$test").log" 2>&1; then
        echo "FAILED: see $build/$(basename "$test").log"
        tail -n 30 "$build/$(basename "$test").log"
        status=1
    else
        tail -n 1 "$build/$(basename "$test").log"
    fi
done
exit "$status"
