#!/usr/bin/env python3
"""Reads a launcher executable's string table with pefile and compares it with what its build
was given:

  check_string_table.py EXE CONTRACT product   the defaults that CONTRACT (launcher_contract.h)
                                               states
  check_string_table.py EXE CONTRACT named     launcher_named's (tests/e2e/CMakeLists.txt)

Exit status 0 when everything matches; otherwise each difference is printed.
"""
import re
import sys

import pefile

NAMED = {
    "MAIN_PROGRAM": "Zorvex.exe",
    "FOLDER_NAME": "Zorvex Data",
    "WINDOW_CLASS": "zorvex",
    "WINDOW_TITLE": "Zorvex",
    "CAPTION": "Zorvex \u542f\u52a8\u5668",
    "ERROR_CAPTION": "Zorvex: \"error\"",
    "TEXT_RUNNING": "Zorvex l\u00e4uft schon!",
    "TEXT_UNPACK_FAILED": "Zorvex could not be unpacked.\nClose it and try again.",
    "TEXT_START_FAILED": "Zorvex did not start (%d): C:\\Zorvex",
}


def contract(path):
    """The string ids and the defaults, by key, as the header defines them."""
    with open(path, encoding="utf-8") as header:
        text = header.read()
    ids = {k: int(v) for k, v in re.findall(r"#define LAUNCHER_STRING_(\w+) (\d+)", text)}
    defaults = dict(re.findall(r'#define LAUNCHER_DEFAULT_(\w+) "([^"\\]*)"', text))
    return ids, defaults


def main():
    path, header, case = sys.argv[1], sys.argv[2], sys.argv[3]
    ids, defaults = contract(header)
    expected_values = defaults if case == "product" else NAMED
    expected = {ids[key]: value for key, value in expected_values.items()}
    problems = []
    if len(ids) != 9 or set(ids) != set(expected_values):
        problems.append(f"the contract's ids {ids} do not match the values {expected_values}")

    pe = pefile.PE(path)
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == pefile.RESOURCE_TYPE["RT_STRING"]:
            for block in kind.directory.entries:
                found.update(getattr(block.directory, "strings", {}))
    for ident in sorted(set(found) | set(expected)):
        if found.get(ident) != expected.get(ident):
            problems.append(f"string {ident}: {found.get(ident)!r}, expected {expected.get(ident)!r}")

    for problem in problems:
        print(f"{path}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
