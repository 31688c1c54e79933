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

The expected values are written into the tests; rerun this only to change the fixtures.
Run from anywhere: python3 tests/data/make_reader_fixtures.py
"""
import io
import os
import subprocess
import tempfile
import zipfile

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


def main():
    infozip_archive(os.path.join(HERE, "reader_infozip.zip"))
    python_archive(os.path.join(HERE, "reader_python.zip"))


if __name__ == "__main__":
    main()
