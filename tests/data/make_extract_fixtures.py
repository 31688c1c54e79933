#!/usr/bin/env python3
"""Makes the extraction fixtures: one archive written by Python's zipfile (stored and deflated
entries at the block boundaries, folders, data descriptors) and one by Info-ZIP zip (Unix modes,
extended timestamps). extract_expected.txt lists, for every entry, what
Python's zipfile extracts from it: name, kind, size and CRC-32 of the extracted bytes.

Run from anywhere: python3 tests/data/make_extract_fixtures.py
"""
import io
import os
import random
import subprocess
import tempfile
import zipfile
import zlib

from unseekable import Unseekable

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = [0, 1, 16383, 16384, 16385, 40000]
STORED_SIZES = [0, 1, 16384, 16385]  # keeps the committed archive small
STAMP = (2015, 7, 4, 20, 1, 6)


def data(size, seed):
    """Bytes that deflate well but not trivially: random words of a small alphabet."""
    rng = random.Random(seed)
    words = [bytes(rng.choice(b"abcdefgh \n") for _ in range(rng.randint(2, 9)))
             for _ in range(64)]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words)
    return bytes(out[:size])


def python_archive(path):
    plain = io.BytesIO()
    with zipfile.ZipFile(plain, "w") as z:
        for folder in ("stored/", "deflated/"):
            info = zipfile.ZipInfo(folder, STAMP)
            info.external_attr = (0o40755 << 16) | 0x10  # Unix directory mode and DOS bit
            z.writestr(info, b"")
        for method, folder, sizes in ((zipfile.ZIP_STORED, "stored", STORED_SIZES),
                                      (zipfile.ZIP_DEFLATED, "deflated", SIZES)):
            for size in sizes:
                info = zipfile.ZipInfo(f"{folder}/{size}.bin", STAMP)
                info.compress_type = method
                z.writestr(info, data(size, size + method))
    streamed = Unseekable()
    with zipfile.ZipFile(streamed, "w", zipfile.ZIP_DEFLATED) as z:
        with z.open("streamed/text.txt", "w") as f:
            f.write(b"a line of text\n" * 3000)
    # Two archives in one would not open; keep the streamed entry in its own file.
    with open(path, "wb") as out:
        out.write(plain.getvalue())
    with open(path.replace(".zip", "_streamed.zip"), "wb") as out:
        out.write(bytes(streamed.buffer))


def infozip_archive(path):
    with tempfile.TemporaryDirectory() as tmp:
        tree = os.path.join(tmp, "tree")
        os.makedirs(os.path.join(tree, "app", "lib"))
        files = {
            "app/readme.txt": b"read me\r\n" * 100,
            "app/lib/big.dat": data(40000, 99),
            "app/lib/empty.dat": b"",
            "app/locked.txt": b"no write permission\n",
        }
        for name, content in files.items():
            with open(os.path.join(tree, name), "wb") as f:
                f.write(content)
        os.chmod(os.path.join(tree, "app/locked.txt"), 0o444)
        for root, dirs, names in os.walk(tree):
            for n in dirs + names:
                os.utime(os.path.join(root, n), (1436040066, 1436040066))
        if os.path.exists(path):
            os.remove(path)
        subprocess.run(["zip", "-q", "-r", path, "app"], cwd=tree, check=True)


def expected(paths, out):
    with open(out, "w") as f:
        for path in paths:
            with zipfile.ZipFile(path) as z:
                for info in z.infolist():
                    content = z.read(info)
                    kind = "dir" if info.is_dir() else "file"
                    f.write(f"{os.path.basename(path)}\t{info.filename}\t{kind}\t"
                            f"{len(content)}\t{zlib.crc32(content):08x}\n")


def main():
    py = os.path.join(HERE, "extract_python.zip")
    info = os.path.join(HERE, "extract_infozip.zip")
    python_archive(py)
    infozip_archive(info)
    expected([py, py.replace(".zip", "_streamed.zip"), info],
             os.path.join(HERE, "extract_expected.txt"))


if __name__ == "__main__":
    main()
