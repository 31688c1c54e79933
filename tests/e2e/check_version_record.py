#!/usr/bin/env python3
"""Reads a launcher executable with pefile and compares its version record and icon with what
its build was given:

  check_version_record.py EXE product    the product's default branding
  check_version_record.py EXE branded    launcher_branded's (tests/e2e/CMakeLists.txt)

Exit status 0 when everything matches; otherwise each difference is printed.
"""
import struct
import sys

import pefile

EXPECTED = {
    "product": {
        "version": (1, 0, 0, 0),
        "strings": {
            "FileDescription": "Kelmora launcher",
            "FileVersion": "1.0.0.0",
            "InternalName": "launcher",
            "OriginalFilename": "launcher.exe",
            "ProductName": "Kelmora",
            "ProductVersion": "1.0.0.0",
        },
        "icon_sizes": [16, 32],
    },
    "branded": {
        "version": (2, 5, 65535, 0),
        "strings": {
            "CompanyName": "Vendrel & S\u00f6hne",
            "FileDescription": "Starts C:\\Zorvex; nothing else",
            "FileVersion": "2.5.65535.0",
            "InternalName": "launcher",
            "LegalCopyright": "\u00a9 2024 Vendrel",
            "OriginalFilename": "launcher.exe",
            "ProductName": "Zorvex \"Pro\" \u542f\u52a8\u5668",
            "ProductVersion": "2.5.65535.0",
        },
        "icon_sizes": [48, 24],
    },
}


def resource_directory(pe, kind):
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == kind or (entry.name is not None and str(entry.name) == kind):
            return entry.directory
    return None


def resource_bytes(pe, kind, ident):
    directory = resource_directory(pe, kind)
    for entry in directory.entries if directory else []:
        if entry.id == ident:
            data = entry.directory.entries[0].data.struct
            return pe.get_data(data.OffsetToData, data.Size)
    return None


def main():
    path, case = sys.argv[1], sys.argv[2]
    expected = EXPECTED[case]
    pe = pefile.PE(path)
    problems = []

    fixed = pe.VS_FIXEDFILEINFO[0]
    for what in ("File", "Product"):
        ms, ls = getattr(fixed, what + "VersionMS"), getattr(fixed, what + "VersionLS")
        numbers = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        if numbers != expected["version"]:
            problems.append(f"{what.lower()} version {numbers}, expected {expected['version']}")

    tables = {}
    translations = []
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                tables[table.LangID] = {k.decode(): v.decode() for k, v in table.entries.items()}
        elif info.Key == b"VarFileInfo":
            translations = [var.entry for var in info.Var]
    if list(tables) != [b"080404b0"]:
        problems.append(f"string tables {list(tables)}, expected only 080404b0")
    strings = tables.get(b"080404b0", {})
    if strings != expected["strings"]:
        problems.append(f"strings {strings!r}, expected {expected['strings']!r}")
    if translations != [{b"Translation": "0x0804 0x04b0"}]:
        problems.append(f"translations {translations!r}, expected 0x0804 with code page 1200")

    group = resource_bytes(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"], 1)
    if group is None:
        problems.append("no icon group 1")
    else:
        count = struct.unpack_from("<H", group, 4)[0]
        sizes = [group[6 + 14 * i] or 256 for i in range(count)]
        if sizes != expected["icon_sizes"]:
            problems.append(f"icon sizes {sizes}, expected {expected['icon_sizes']}")
        icons = resource_directory(pe, pefile.RESOURCE_TYPE["RT_ICON"])
        if icons is None or len(icons.entries) != count:
            problems.append("the icon images do not match the group")
    if resource_bytes(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"], 1) is None:
        problems.append("no manifest")
    if resource_bytes(pe, "ZIP", 117) is None:
        problems.append("no payload under zip/117")

    for problem in problems:
        print(f"{path}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
