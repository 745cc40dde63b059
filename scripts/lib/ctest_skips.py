#!/usr/bin/python3
"""Prints why each test that ctest skipped was skipped.

ctest marks a skip "***Skipped" and keeps its output to itself; the reason is in that output:
after "file:line: Skipped" in a GoogleTest program, on the last lines of a script that exits 77.

Usage: ctest_skips.py BUILD_DIR (after ctest ran there, its console output in BUILD_DIR/ctest.log).
"""
import pathlib
import re
import sys


def skipped_names(console):
    """The names in ctest's "The following tests did not run" list."""
    return re.findall(r"^\s*\d+ - (.+) \(Skipped\)$", console, re.M)


def outputs(last_test_log):
    """Each test's output in Testing/Temporary/LastTest.log, by name."""
    found = {}
    pattern = re.compile(r'^"([^"\n]+)" start time: .*?\nOutput:\n-+\n(.*?)<end of output>',
                         re.M | re.S)
    for match in pattern.finditer(last_test_log):
        found[match.group(1)] = match.group(2)
    return found


def reason(output):
    """The skip message of a GoogleTest program, else the last lines the test printed."""
    lines = output.splitlines()
    for i, line in enumerate(lines):
        if re.search(r":\d+: Skipped$", line):
            message = []
            for rest in lines[i + 1:]:
                if rest.startswith("[  SKIPPED ]"):
                    break
                message.append(rest.strip())
            return " ".join(m for m in message if m) or "(no reason given)"
    printed = [line.strip() for line in lines if line.strip()]
    return " / ".join(printed[-2:]) or "(no reason given)"


def main():
    build = pathlib.Path(sys.argv[1])
    try:
        names = skipped_names((build / "ctest.log").read_text(errors="replace"))
        last = (build / "Testing" / "Temporary" / "LastTest.log").read_text(errors="replace")
    except OSError:
        return 0
    if not names:
        return 0
    found = outputs(last)
    print("Skipped, and why:")
    for name in names:
        print(f"  {name}: {reason(found.get(name, ''))}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
