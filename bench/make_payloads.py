#!/usr/bin/env python3
"""Makes the benchmark's payload archives, the same bytes on every run.

  make_payloads.py OUT_FOLDER CHILD_PROGRAM [NAME ...]

Each payload holds CHILD_PROGRAM as zandro.exe at its top level, beside its other files, zipped
as a Windows archiver would (through scripts/make_payload.py's entry format): DOS-made entries,
attributes 0x20, deflated, one fixed time. File contents are seeded pseudo-random "program-like"
bytes (a skewed mix of a small vocabulary with stretches of noise) that deflate to about half
their size. The build (bench/CMakeLists.txt) runs it for each payload it needs.
"""
import os
import sys
import zipfile

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import make_payload  # noqa: E402

STAMP = (2024, 5, 17, 12, 30, 0)
KIB = 1024
MIB = 1024 * KIB


def contents(size, seed):
    """`size` bytes of a repeatable, moderately compressible stream."""
    rng = np.random.default_rng(seed)
    vocabulary = rng.integers(0, 256, size=(2048, 8), dtype=np.uint8)
    picks = (rng.random(size // 8 + 1) ** 4 * len(vocabulary)).astype(np.int64)
    data = bytearray(vocabulary[picks].tobytes()[:size])
    # About a fifth in 4 KiB stretches of noise, as compressed resources inside programs are.
    for block in range(0, size, 4 * KIB):
        if rng.random() < 0.2:
            end = min(size, block + 4 * KIB)
            data[block:end] = rng.bytes(end - block)
    return bytes(data)


def app_layout():
    """3 MB in 40 files in 3 folders: the top level, lib/ and data/."""
    rng = np.random.default_rng(3)
    sizes = rng.lognormal(0, 1.0, 39)
    sizes = (sizes / sizes.sum() * 3 * MIB).astype(int)
    folders = [""] * 19 + ["lib/"] * 10 + ["data/"] * 10
    return [(folders[i] + f"file{i:02d}.bin", int(sizes[i])) for i in range(39)]


def big_layout(count, size):
    return [(f"part{i:02d}.bin", size) for i in range(count)]


def many_layout():
    """10,000 files of 1-4 KiB in 100 folders."""
    rng = np.random.default_rng(10000)
    sizes = rng.integers(1 * KIB, 4 * KIB + 1, 10000)
    return [(f"dir{i // 100:03d}/f{i % 100:03d}.dat", int(sizes[i])) for i in range(10000)]


PAYLOADS = {
    "app": app_layout,
    "big": lambda: big_layout(19, 100 * MIB // 19),
    "many": many_layout,
    "huge": lambda: big_layout(30, 10 * MIB),
    "tiny": lambda: [],  # zandro.exe alone: the launcher's fixed cost
}


def make(path, child, layout):
    partial = path + ".part"
    with open(child, "rb") as program:
        child_bytes = program.read()
    with zipfile.ZipFile(partial, "w", compresslevel=6) as archive:
        archive.writestr(make_payload.dos_entry("zandro.exe", STAMP, make_payload.DOS_ARCHIVE),
                         child_bytes)
        made = set()
        for seed, (name, size) in enumerate(layout):
            folder = name.rpartition("/")[0]
            if folder and folder not in made:
                make_payload.add_folder(archive, folder, STAMP)
                made.add(folder)
            entry = make_payload.dos_entry(name, STAMP, make_payload.DOS_ARCHIVE)
            archive.writestr(entry, contents(size, seed))
    os.replace(partial, path)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    out, child = sys.argv[1], sys.argv[2]
    names = sys.argv[3:] or list(PAYLOADS)
    os.makedirs(out, exist_ok=True)
    for name in names:
        make(os.path.join(out, name + ".zip"), child, PAYLOADS[name]())


if __name__ == "__main__":
    main()
