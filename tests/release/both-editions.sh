# Sourced by the release's checks: both editions' build folders, or a skip
# (77) that says which is missing. Sets x86_build and x64_build.
# Usage: . both-editions.sh X86_BUILD_DIR X64_BUILD_DIR
x86_build="$(realpath -m "$1")"
x64_build="$(realpath -m "$2")"
for build in "$x86_build" "$x64_build"; do
    if [ ! -f "$build/CMakeCache.txt" ]; then
        echo "SKIPPED: the release needs both editions built, and $build is not (make windows builds both)." >&2
        exit 77
    fi
done
