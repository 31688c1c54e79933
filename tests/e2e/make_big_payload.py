#!/usr/bin/env python3
"""Writes a payload that takes the launcher a while to unpack: the demo application, eight data
files of 4 MiB (random, so stored) and 300 small text files (deflated), with Python's zipfile.

  make_big_payload.py OUT.zip ZANDRO_EXE ZANDROLIB_DLL
"""
import random
import sys
import zipfile

STAMP = (2021, 6, 15, 10, 30, 24)


def add(archive, name, data, method):
    info = zipfile.ZipInfo(name, STAMP)
    info.compress_type = method
    info.external_attr = (0o100644 << 16) | 0x20
    archive.writestr(info, data)


def main():
    out, program, library = sys.argv[1:4]
    generator = random.Random(12)
    with zipfile.ZipFile(out, "w") as archive:
        with open(program, "rb") as f:
            add(archive, "zandro.exe", f.read(), zipfile.ZIP_DEFLATED)
        with open(library, "rb") as f:
            add(archive, "zandrolib.dll", f.read(), zipfile.ZIP_DEFLATED)
        for i in range(8):
            add(archive, f"data/block{i}.bin", generator.randbytes(4 << 20), zipfile.ZIP_STORED)
        for i in range(300):
            add(archive, f"small/file{i:03}.txt", f"small file {i}\n" * (i % 40 + 1),
                zipfile.ZIP_DEFLATED)


if __name__ == "__main__":
    main()
