#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Runs one group of mivo's end-to-end scenarios and prints a summary.

    run.py --mivo BUILD/mivo --standin-dir DIR --demo-disc DIR GROUP [GROUP...]

Exit status 0 when every scenario passed or was an expected failure of a
feature listed in pending.py; an unexpected success counts as a failure, so
that a feature that has landed is taken off that list.
"""

import argparse
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
import scenarios  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mivo", required=True)
    parser.add_argument("--standin-dir", required=True)
    parser.add_argument("--demo-disc", required=True)
    parser.add_argument("--stall-shim", help="libmivo_stall_shim.so, for the scenarios of a "
                        "drive whose reads stall")
    parser.add_argument("--stress-seconds", type=float, default=60)
    parser.add_argument("--seed", type=int, default=1234)
    parser.add_argument("-k", dest="pattern", help="only scenarios whose name has this")
    parser.add_argument("groups", nargs="+")
    opts = parser.parse_args()
    harness.CONFIG.update(mivo=os.path.abspath(opts.mivo),
                          standin_dir=os.path.abspath(opts.standin_dir),
                          demo_disc=os.path.abspath(opts.demo_disc),
                          stall_shim=opts.stall_shim and os.path.abspath(opts.stall_shim),
                          stress_seconds=opts.stress_seconds, seed=opts.seed)

    # The banner and the disc files carry the version the binary was built with.
    version = subprocess.run([harness.CONFIG["mivo"], "--version"], capture_output=True,
                             text=True, check=True).stdout.strip()
    os.environ["MIVO_NAME_VERSION"] = version

    loader = unittest.TestLoader()
    if opts.pattern:
        loader.testNamePatterns = [f"*{opts.pattern}*"]
    suite = unittest.TestSuite()
    for group in opts.groups:
        cls = scenarios.GROUPS.get(group)
        if cls is None:
            parser.error(f"no group {group}; groups: {', '.join(sorted(scenarios.GROUPS))}")
        suite.addTests(loader.loadTestsFromTestCase(cls))

    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    passed = result.testsRun - failed - len(result.skipped) - len(result.expectedFailures)
    for test in result.unexpectedSuccesses:
        print(f"UNEXPECTED SUCCESS: {test.id()}: its feature has landed; "
              "take it off pending.py")
    for test, _ in result.expectedFailures:
        print(f"pending: {test.id()}")
    print(f"e2e: {passed} passed, {failed} failed, "
          f"{len(result.skipped) + len(result.expectedFailures)} skipped")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
