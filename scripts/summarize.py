#!/usr/bin/env python3
"""Counts what one build's ctest run did, from ctest's JUnit file and the
GoogleTest XML each test executable wrote. A ctest test without GoogleTest
results (a fuzz replay, an end-to-end script) counts as one case.

  summarize.py BUILD_NAME CTEST_JUNIT RESULTS_DIR  ->  "passed failed" on stdout,
  a readable line on stderr."""
import os
import sys
import xml.etree.ElementTree as ET

name, junit, results = sys.argv[1:4]
passed = failed = 0
executables = broken = 0
try:
    suite = ET.parse(junit).getroot()
    cases = suite.iter("testcase")
except (OSError, ET.ParseError):
    cases = []
for case in cases:
    executables += 1
    ctest_failed = case.get("status") == "fail" or case.find("failure") is not None
    broken += ctest_failed
    gtest = os.path.join(results, case.get("name") + ".xml")
    counted = False
    if os.path.exists(gtest):
        try:
            root = ET.parse(gtest).getroot()
            total = int(root.get("tests", 0)) - int(root.get("disabled", 0))
            bad = int(root.get("failures", 0)) + int(root.get("errors", 0))
            skipped = sum(1 for c in root.iter("testcase") if c.find("skipped") is not None)
            passed += total - bad - skipped
            failed += bad
            # A crash after some cases passed still fails the executable.
            if ctest_failed and bad == 0:
                failed += 1
            counted = True
        except (OSError, ET.ParseError, ValueError):
            pass
    if not counted:
        if ctest_failed:
            failed += 1
        else:
            passed += 1
print(f"{name}: {executables} test executables ({broken} failed), "
      f"{passed} test cases passed, {failed} failed", file=sys.stderr)
print(passed, failed)
