#!/usr/bin/env bash
# Runs a fuzzing campaign of the given length, starting from the seed corpus.
# Usage: scripts/fuzz.sh FUZZ_BUILD_DIR SECONDS
# New inputs go to FUZZ_BUILD_DIR/corpus (the seeds in fuzz/corpus stay as
# they are); a crashing input is written to FUZZ_BUILD_DIR/crash-*.
set -euo pipefail
build="$(realpath "$1")"
seconds="$2"
root="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "$build/corpus"
cd "$build"
echo "Fuzzing for $seconds s; corpus: $build/corpus (seeds: fuzz/corpus)"
"$build/fuzz/library_fuzzer" "$build/corpus" "$root/fuzz/corpus" \
    -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/" 2>&1 |
    grep -E '^(#[0-9]+[[:space:]]+(INITED|DONE)|stat::|==[0-9]+==|promise broken|SUMMARY|artifact|Done)' || true
status=${PIPESTATUS[0]}
echo "corpus: $(ls "$build/corpus" | wc -l) inputs"
exit "$status"
