#!/usr/bin/env python3
"""Makes the listing fixtures of the archive reader's tests (zip_real_archive_tests):

reader_infozip.zip   Info-ZIP zip on Unix: Unix modes (a folder, a file rw-r--r--, one
                     r--r--r--), extended timestamps with modification and access times, an
                     archive comment.
reader_infozip_streamed.zip
                     the same folder written by Info-ZIP to a pipe: data descriptors.
reader_python.zip    Python's zipfile: DOS-made entries (external attributes 0x20, 0x10, 0x21,
                     0x26), stored and deflated, an archive comment, 1000 bytes of a stub in
                     front of the archive whose offsets were not adjusted.
reader_python_streamed.zip
                     Python's zipfile writing to an unseekable sink: data descriptors, local
                     CRC and sizes 0.
reader_names_python.zip, reader_names_infozip.zip
                     a Chinese folder with a file in it and a Latin-accented name, by Python's
                     zipfile and by Info-ZIP zip: UTF-8 names with flag bit 11.
reader_names_cp936_bsdtar.zip
                     the same tree by bsdtar with hdrcharset=CP936: names in code page 936,
                     no flag.
reader_names_unicode_path.zip
                     Python's zipfile with ASCII stored names and Unicode path extra fields
                     (0x7075) in both headers: one whose CRC-32 matches its stored name, one
                     whose CRC-32 is that of an earlier name (the entry was renamed).

The expected values are written into the tests; rerun this only to change the fixtures.
Run from anywhere: python3 tests/data/make_reader_fixtures.py
"""
import io
import os
import subprocess
import struct
import tempfile
import zipfile
import zlib

from unseekable import Unseekable

HERE = os.path.dirname(os.path.abspath(__file__))
MTIME = 1614834368  # 2021-03-04 05:06:08 UTC
ATIME = 1614920768  # 2021-03-05 05:06:08 UTC
STAMP = (2015, 7, 4, 20, 1, 6)


def infozip_archive(path):
    with tempfile.TemporaryDirectory() as tmp:
        os.makedirs(os.path.join(tmp, "docs"))
        files = {"docs/notes.txt": b"notes " * 200, "locked.txt": b"read only\n"}
        for name, content in files.items():
            with open(os.path.join(tmp, name), "wb") as f:
                f.write(content)
        os.chmod(os.path.join(tmp, "docs/notes.txt"), 0o644)
        os.chmod(os.path.join(tmp, "locked.txt"), 0o444)
        os.chmod(os.path.join(tmp, "docs"), 0o755)

        def touch():  # reading a file moves its access time; set both again before each run
            for name in ["docs/notes.txt", "locked.txt", "docs"]:
                os.utime(os.path.join(tmp, name), (ATIME, MTIME))

        touch()
        if os.path.exists(path):
            os.remove(path)
        env = dict(os.environ, TZ="UTC")
        subprocess.run(["zip", "-q", "-r", path, "docs", "locked.txt"], cwd=tmp, env=env,
                       check=True)
        subprocess.run(["zip", "-q", "-z", path], input=b"made by Info-ZIP\n", cwd=tmp,
                       env=env, check=True)
        touch()
        # Written to a pipe, zip cannot go back to the local headers: data descriptors.
        streamed = subprocess.run(["zip", "-q", "-r", "-", "docs"], cwd=tmp, env=env,
                                  stdout=subprocess.PIPE, check=True).stdout
        with open(path.replace(".zip", "_streamed.zip"), "wb") as out:
            out.write(streamed)


def python_archive(path):
    plain = io.BytesIO()
    with zipfile.ZipFile(plain, "w") as z:
        z.comment = b"made by zipfile"
        for name, attributes, method, content in (
                ("bin/", 0x10, zipfile.ZIP_STORED, b""),
                ("bin/tool.exe", 0x20, zipfile.ZIP_DEFLATED, b"MZ" + bytes(range(256)) * 8),
                ("readonly.txt", 0x21, zipfile.ZIP_STORED, b"fixed\n"),
                ("hidden.sys", 0x26, zipfile.ZIP_STORED, b"")):
            info = zipfile.ZipInfo(name, STAMP)
            info.create_system = 0
            info.external_attr = attributes
            info.compress_type = method
            z.writestr(info, content)
    with open(path, "wb") as out:
        out.write(b"\x90" * 1000 + plain.getvalue())

    streamed = Unseekable()
    with zipfile.ZipFile(streamed, "w", zipfile.ZIP_DEFLATED) as z:
        info = zipfile.ZipInfo("stream.txt", STAMP)
        info.compress_type = zipfile.ZIP_DEFLATED
        with z.open(info, "w") as f:
            f.write(b"streamed line\n" * 500)
    with open(path.replace(".zip", "_streamed.zip"), "wb") as out:
        out.write(bytes(streamed.buffer))


NAMED_TREE = {"caf\u00e9.dll": b"library\n", "\u6570\u636e/\u8bf4\u660e.txt": b"notes\n"}


def named_tree(tmp):
    for name, content in NAMED_TREE.items():
        os.makedirs(os.path.dirname(os.path.join(tmp, name)), exist_ok=True)
        with open(os.path.join(tmp, name), "wb") as f:
            f.write(content)


def names_archives():
    with zipfile.ZipFile(os.path.join(HERE, "reader_names_python.zip"), "w") as z:
        z.writestr(zipfile.ZipInfo("\u6570\u636e/", STAMP), b"")
        for name, content in NAMED_TREE.items():
            z.writestr(zipfile.ZipInfo(name, STAMP), content)
    with tempfile.TemporaryDirectory() as tmp:
        named_tree(tmp)
        for tool, path in (("zip", "reader_names_infozip.zip"),
                           ("bsdtar", "reader_names_cp936_bsdtar.zip")):
            path = os.path.join(HERE, path)
            if os.path.exists(path):
                os.remove(path)
            # Sorted, so that the entry order does not depend on the file system.
            members = ["caf\u00e9.dll", "\u6570\u636e", "\u6570\u636e/\u8bf4\u660e.txt"]
            command = (["zip", "-q", "-D", path] if tool == "zip" else
                       ["bsdtar", "-c", "-f", path, "-n", "--format", "zip",
                        "--options", "zip:hdrcharset=CP936"])
            subprocess.run(command + members, cwd=tmp, check=True,
                           env=dict(os.environ, LC_ALL="C.UTF-8"))


def unicode_path(stored, name):
    data = struct.pack("<BI", 1, zlib.crc32(stored.encode("ascii"))) + name.encode("utf-8")
    return struct.pack("<HH", 0x7075, len(data)) + data


def unicode_path_archive(path):
    with zipfile.ZipFile(path, "w") as z:
        for stored, recorded_for, name in (("cafe.dll", "cafe.dll", "caf\u00e9.dll"),
                                           ("renamed.txt", "old.txt", "\u8bf4\u660e.txt")):
            info = zipfile.ZipInfo(stored, STAMP)
            info.extra = unicode_path(recorded_for, name)
            z.writestr(info, b"x")


def main():
    infozip_archive(os.path.join(HERE, "reader_infozip.zip"))
    python_archive(os.path.join(HERE, "reader_python.zip"))
    names_archives()
    unicode_path_archive(os.path.join(HERE, "reader_names_unicode_path.zip"))


if __name__ == "__main__":
    main()
