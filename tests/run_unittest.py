#!/usr/bin/env python3
"""Runs one unittest module for CTest, from the current directory:

    run_unittest.py MODULE

Exit status 0 when every test ran and passed, 1 on any failure or error (or
when no test ran), and 77, CTest's SKIP_RETURN_CODE, when the rest passed but
something was skipped: CTest then shows "Skipped", not "Passed".  Under
CI=true, where everything the tests need is installed, a skip is a failure:
exit 1 and one line per skipped test, naming it and why.
"""
import os
import sys
import unittest

SKIP_CODE = 77


def skipped_status(skips):
    """skips: (what, reason) pairs."""
    if os.environ.get("CI") != "true":
        return SKIP_CODE
    for what, reason in skips:
        sys.stderr.write("FAIL: %s skipped under CI=true: %s\n" % (what, reason))
    return 1


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: run_unittest.py MODULE\n")
        return 2
    module = argv[1]
    # As `python -m unittest` would: the module's own folder comes first.
    sys.path[0] = os.getcwd()
    # Named in the line of a module that leaves as skipped before its tests load.
    os.environ["VCF_TEST_NAME"] = module
    suite = unittest.defaultTestLoader.loadTestsFromName(module)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        return 1
    if result.skipped:
        return skipped_status([(test.id(), reason) for test, reason in result.skipped])
    if result.testsRun == 0:
        sys.stderr.write("FAIL: %s has no tests\n" % module)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
