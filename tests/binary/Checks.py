"""The checks' report: an 'ok' or 'FAIL' line for each, then 'N passed, N
failed'; and a check's main run so that an import no stand-in answers is a
failure that names it, not a traceback."""

import sys

from EmulatedDll import UnexpectedImport


class Checks:
    def __init__(self):
        self.passed = self.failed = 0

    def __call__(self, name, condition, detail=""):
        if condition:
            self.passed += 1
            print("ok   " + name)
        else:
            self.failed += 1
            print("FAIL " + name + ("\n     " + str(detail) if detail else ""))

    def summary(self):
        """Prints the counts; the exit status they earn."""
        print("%d passed, %d failed" % (self.passed, self.failed))
        return 1 if self.failed else 0


def run(main, image):
    """Exits with main()'s status; `image` names the binary in the message."""
    try:
        sys.exit(main())
    except UnexpectedImport as e:
        print("FAIL %s called an import this check doesn't provide: %s" % (image, e))
        print("0 passed, 1 failed")
        sys.exit(1)
