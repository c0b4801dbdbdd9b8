#!/usr/bin/env bash
# Runs the test presets one after another, each to its end even when an
# earlier one failed, and closes with what was skipped and why, then one
# line: "N passed, N failed, N skipped".
# Usage: scripts/test.sh PRESET...     exit 0 when no test failed
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
results=()
for preset in "$@"; do
    junit="$root/build/$preset/test-results.xml"
    rm -f "$junit"
    echo "== $preset"
    ctest --preset "$preset" --output-junit "$junit"
    if [ -f "$junit" ]; then
        results+=("$preset=$junit")
    else
        results+=("$preset=")
    fi
done

# CTest's JUnit file holds every test's output, a skipped test's reason
# included (its "SKIPPED: ..." line).
/usr/bin/python3 - "${results[@]}" <<'EOF'
import sys
import xml.etree.ElementTree as ET

passed = failed = skipped = 0
skips, failures = [], []
for item in sys.argv[1:]:
    preset, _, path = item.partition("=")
    if not path:
        failures.append("%s: ctest wrote no results (the build or the configure failed?)" % preset)
        failed += 1
        continue
    for case in ET.parse(path).getroot().iter("testcase"):
        name = "%s/%s" % (preset, case.get("name"))
        out = case.findtext("system-out") or ""
        if case.find("skipped") is not None:
            skipped += 1
            why = [l for l in out.splitlines() if l.startswith("SKIPPED")] or ["(no reason given)"]
            skips.append("%s: %s" % (name, why[-1].replace("SKIPPED: ", "", 1)))
        elif case.get("status") == "run":
            passed += 1
        else:
            failed += 1
            failures.append(name)
if skips:
    print("\nSkipped:")
    for line in skips:
        print("  " + line)
if failures:
    print("\nFailed:")
    for line in failures:
        print("  " + line)
print("\n%d passed, %d failed, %d skipped" % (passed, failed, skipped))
sys.exit(1 if failed else 0)
EOF
