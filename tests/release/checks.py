"""One line per check and the counts, for the release's Python checks."""
passed = 0
failed = 0


def check(name, ok, detail=""):
    global passed, failed
    if ok:
        passed += 1
        print(f"ok   {name}")
    else:
        failed += 1
        print(f"FAIL {name}" + (f"\n     {detail}" if detail else ""))


def summary():
    """Prints the counts; the exit status: 0 when nothing failed."""
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1
