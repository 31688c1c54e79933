#!/usr/bin/env python3
"""Reads a launcher executable's string table and its manifest's execution level with pefile and
compares them with what its build was given:

  check_string_table.py EXE LIST product   the defaults that LIST (launcher_settings.inc) states
  check_string_table.py EXE LIST named     launcher_named's (tests/e2e/CMakeLists.txt)

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
    "ARGUMENTS": "--open \"a b\"",
    "FORWARD_ARGUMENTS": "on",
    "WORKING_FOLDER": "application",
    "PROGRESS": "on",
}
LEVELS = {"product": "requireAdministrator", "named": "asInvoker"}


def settings_list(path):
    """The string ids and the defaults, by key, as the list's rows state them."""
    with open(path, encoding="utf-8") as rows:
        text = rows.read()
    row = re.compile(r'^LAUNCHER_SETTING\((\d+), (\w+), \w+, "[^"]*", \w+, \d+, "[^"]*", '
                     r'"((?:\\.|[^"\\])*)"', re.M)
    found = row.findall(text)
    ids = {key: int(ident) for ident, key, _ in found}
    defaults = {key: re.sub(r'\\(.)', r'\1', value) for _, key, value in found}
    return ids, defaults


def main():
    path, header, case = sys.argv[1], sys.argv[2], sys.argv[3]
    ids, defaults = settings_list(header)
    expected_values = defaults if case == "product" else NAMED
    expected = {ids[key]: value for key, value in expected_values.items()}
    problems = []
    if len(ids) != 13 or set(ids) != set(expected_values):
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

    manifests = [entry for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries
                 if entry.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]]
    levels = set()
    for kind in manifests:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                text = pe.get_data(data.OffsetToData, data.Size).decode("utf-8")
                levels.update(re.findall(r'<requestedExecutionLevel level="(\w+)"', text))
    if levels != {LEVELS[case]}:
        problems.append(f"execution levels {levels}, expected {LEVELS[case]}")

    for problem in problems:
        print(f"{path}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
