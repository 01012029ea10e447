#!/usr/bin/env python3
"""Counts the test cases of one ctest run of a build tree: the GoogleTest cases that every GoogleTest entry wrote to
gtest-results/ENTRY.xml, and each other entry (a script, a fixture) as one case.

A GoogleTest entry that ctest saw fail while its results name no failing case (a crash, a time-out, an entry that
was not run because a fixture failed) counts as one failure: nothing is passed silently.

Usage: gtest-tally.py LABEL BUILD_DIR CTEST_JUNIT_XML
Prints the skipped cases, then one line "LABEL: N passed, M failed, K skipped (...)", and writes "N M K" to
BUILD_DIR/tally.txt.
"""
import pathlib
import sys
import xml.etree.ElementTree as ET


def gtest_cases(path):
    """(passed, failed, skipped names) of one GoogleTest XML file."""
    passed, failed, skipped = 0, [], []
    for case in ET.parse(path).getroot().iter("testcase"):
        name = f"{case.get('classname')}.{case.get('name')}"
        if case.find("failure") is not None or case.find("error") is not None:
            failed.append(name)
        elif case.get("result") == "skipped" or case.find("skipped") is not None:
            reason = case.find("skipped")
            message = (reason.get("message") or "").strip().splitlines() if reason is not None else []
            skipped.append(f"{name}: {message[-1] if message else 'skipped'}")
        elif case.get("status", "run") == "run":
            passed += 1
    return passed, failed, skipped


def main():
    label, build, junit = sys.argv[1], pathlib.Path(sys.argv[2]), sys.argv[3]
    gtest_entries = set((build / "gtest-entries.txt").read_text().split())
    results = build / "gtest-results"
    passed, failed, skipped = 0, [], []
    for entry in ET.parse(junit).getroot().iter("testcase"):
        name, status = entry.get("name"), entry.get("status")
        ctest_failed = status not in ("run", "disabled") or entry.find("failure") is not None
        ctest_skipped = status == "disabled" or entry.find("skipped") is not None
        if name in gtest_entries:
            xml = results / f"{name}.xml"
            p, f, s = gtest_cases(xml) if xml.exists() and not ctest_skipped else (0, [], [])
            passed, failed, skipped = passed + p, failed + f, skipped + s
            if ctest_failed and not f:
                failed.append(f"{name} (the entry failed: {status}; no failing case recorded)")
            elif ctest_skipped:
                skipped.append(f"{name}: the entry was skipped")
        elif ctest_skipped:
            skipped.append(f"{name}: the script was skipped")
        elif ctest_failed:
            failed.append(f"{name} (script)")
        else:
            passed += 1
    for s in skipped:
        print(f"{label}: skipped {s}")
    for f in failed:
        print(f"{label}: FAILED {f}")
    print(f"{label}: {passed} passed, {len(failed)} failed, {len(skipped)} skipped "
          f"(GoogleTest cases, and each script as one)")
    (build / "tally.txt").write_text(f"{passed} {len(failed)} {len(skipped)}\n")


if __name__ == "__main__":
    main()
