#!/usr/bin/env bash
# Runs a fuzzing campaign of the given length, starting from the seed corpus.
# Usage: scripts/fuzz.sh FUZZ_BUILD_DIR SECONDS [TARGET]
# TARGET is `library` (the default: the key library, seeds in fuzz/corpus)
# or `commio` (the comm-port io.dll's core, seeds in fuzz/commio-corpus).
# New inputs go to FUZZ_BUILD_DIR/corpus or FUZZ_BUILD_DIR/commio-corpus
# (the seeds stay as they are); a crashing input is written to
# FUZZ_BUILD_DIR/crash-*.
set -euo pipefail
build="$(realpath "$1")"
seconds="$2"
target="${3:-library}"
root="$(cd "$(dirname "$0")/.." && pwd)"
case "$target" in
library) corpus="$build/corpus" seeds="$root/fuzz/corpus" ;;
commio) corpus="$build/commio-corpus" seeds="$root/fuzz/commio-corpus" ;;
*) echo "unknown fuzz target: $target" >&2; exit 2 ;;
esac
mkdir -p "$corpus"
cd "$build"
echo "Fuzzing $target for $seconds s; corpus: $corpus (seeds: ${seeds#$root/})"
"$build/fuzz/${target}_fuzzer" "$corpus" "$seeds" \
    -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/" 2>&1 |
    grep -E '^(#[0-9]+[[:space:]]+(INITED|DONE)|stat::|==[0-9]+==|promise broken|SUMMARY|artifact|Done)' || true
status=${PIPESTATUS[0]}
echo "corpus: $(ls "$corpus" | wc -l) inputs"
exit "$status"
