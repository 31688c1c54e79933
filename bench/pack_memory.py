#!/usr/bin/python3
"""Peak memory and wall time of launcher-pack, one build against another (not a timed test).

Makes a folder of about 1 GB in a scratch folder (four incompressible files of 224 MiB, 3,000
small files of 1-64 KiB, half text and half random, and a zandro.exe), packs it with each packer
(a folder at --level 6 and 0, and a .zip of it as SOURCE; --runs times each, the two packers
taking turns) and measures each run's peak resident memory (GNU time's maximum resident set
size, and the anonymous part of it sampled from /proc) and wall time (the median is shown). Each packed file is checked with tools
that share no code with the packer: the payload resource is found by pefile and tested with
`unzip -t` and `bsdtar -tf`, the PE checksum is recomputed with NumPy, and the outputs of the two
packers are compared byte for byte. Prints a table with the ratios (after / before) and deletes
the scratch data.

    bench/pack_memory.py --before OLD/launcher-pack --after NEW/launcher-pack \
        [--stub tests/data/packer/stub_reloc_after.exe] [--scratch /tmp] [--big-mib 224]

The "before" packer is usually the one built from an older commit, e.g.
    git worktree add /tmp/flat-base 5573dfb
    cmake -S /tmp/flat-base -B /tmp/flat-base/out/rel -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DLAUNCHER_TESTS=OFF && cmake --build /tmp/flat-base/out/rel --target launcher-pack
Needs Debian's python3 with python3-pefile and python3-numpy, unzip and bsdtar.

The Windows builds run the same way through a script each, e.g. /tmp/wine-after:
    #!/bin/sh
    WINEPREFIX=$PWD/out/wine WINEDEBUG=-all exec wine out/win32/packer/launcher-pack.exe "$@"
(start a persistent `wineserver -p` first; paths are Unix paths, which Wine finds on drive Z:).
"""

import argparse
import filecmp
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

import numpy
import pefile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def make_folder(folder, big_mib, small_count):
    os.makedirs(os.path.join(folder, "lib"))
    rng = random.Random(117)
    with open(os.path.join(folder, "zandro.exe"), "wb") as f:
        f.write(b"MZ the main program " * 1000)
    for i in range(4 if big_mib else 0):
        with open(os.path.join(folder, "lib", f"big{i}.bin"), "wb") as f:
            for _ in range(big_mib):
                f.write(os.urandom(1 << 20))
    for i in range(small_count):
        sub = os.path.join(folder, "data", f"d{i % 30:02d}")
        os.makedirs(sub, exist_ok=True)
        size = rng.randint(1024, 65536)
        if i % 2 == 0:
            words = b"".join(b"record %d value %d\n" % (rng.randint(0, 999), j) for j in range(size // 16))
            data = words[:size]
        else:
            data = rng.randbytes(size)
        with open(os.path.join(sub, f"f{i}.dat"), "wb") as f:
            f.write(data)


def settle_access_times(folder):
    """Access times after the write times: reading the files (the first packer) then changes
    nothing that the second one records (a relatime mount updates an older access time)."""
    for d, subs, names in os.walk(folder, topdown=False):
        for n in names + subs + ([] if d != folder else []):
            path = os.path.join(d, n)
            info = os.stat(path)
            os.utime(path, ns=(info.st_mtime_ns + 10**10, info.st_mtime_ns))
    info = os.stat(folder)
    os.utime(folder, ns=(info.st_mtime_ns + 10**10, info.st_mtime_ns))


def zip_folder(folder, path, compression):
    """Zips the folder's files with Python's zipfile; reading them moves no access time that the
    packings compare afterwards."""
    with zipfile.ZipFile(path, "w", compression) as z:
        for d, _, names in os.walk(folder):
            for n in sorted(names):
                full = os.path.join(d, n)
                z.write(full, os.path.relpath(full, folder))
    settle_access_times(folder)


def folder_bytes(folder):
    return sum(os.path.getsize(os.path.join(d, n)) for d, _, names in os.walk(folder) for n in names)


def children_of(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            return [int(p) for p in f.read().split()]
    except OSError:
        return []


def private_rss(pid):
    """The process's resident anonymous memory in bytes (RssAnon), or None once it is gone."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("RssAnon:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        return None
    return None


def run_measured(command):
    """Runs `command` under GNU time; returns (wall seconds, peak RSS in bytes, peak anonymous
    RSS in bytes, sampled every 5 ms). GNU time forks the packer from its own small process: a
    child forked from this script would count the script's memory before exec in its peak. The
    peak RSS counts the pages of a file mapped read-only too (clean, shared with the page cache);
    the anonymous part is the memory the process itself allocated."""
    # Standard error goes to a file, not a pipe: a process that the packer's start leaves behind
    # (Wine's services) would hold a pipe open.
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report, \
            tempfile.TemporaryFile() as errors:
        timer = subprocess.Popen(["/usr/bin/time", "-o", report.name, "-f", "%e %M"] + command,
                                 stdout=subprocess.DEVNULL, stderr=errors)
        anon = 0
        packer = None
        while timer.poll() is None:
            if packer is None:
                found = children_of(timer.pid)
                packer = found[0] if found else None
            if packer is not None:
                anon = max(anon, private_rss(packer) or 0)
            time.sleep(0.005)
        errors.seek(0)
        err = errors.read().decode(errors="replace")
        if timer.returncode != 0:
            sys.exit(f"{command} failed ({timer.returncode}): {err}")
        wall, rss_kib = report.read().split()[-2:]
    return float(wall), int(rss_kib) * 1024, anon


def identity_matrix(before, after, work):
    """Both packers over a small folder and a .zip with every fixture stub (a new resource
    section, the section rewritten in place, a signed launcher), with and without the icon and
    version texts, at levels 0, 1 and 9: the outputs must be the same bytes. Returns the count."""
    fixtures = os.path.join(ROOT, "tests/data/packer")
    folder = os.path.join(work, "small")
    make_folder(folder, 0, 200)
    with open(os.path.join(folder, "lib", "grows.bin"), "wb") as f:
        f.write(os.urandom(3 << 20))
    with open(os.path.join(folder, "lib", "text.txt"), "wb") as f:
        f.write(b"some text again and again\n" * 200000)
    open(os.path.join(folder, "empty.txt"), "wb").close()
    small_zip = os.path.join(work, "small.zip")
    zip_folder(folder, small_zip, zipfile.ZIP_DEFLATED)
    branding = ["--icon", os.path.join(fixtures, "icon_two_sizes.ico"), "--version", "2.1.0.7",
                "--product-name", "Streamed \u8bf4\u660e", "--company", "Me Ltd"]
    count = 0
    for stub in ("stub_reloc_after.exe", "stub_rsrc_last.exe", "stub_signed.exe"):
        for brand in ([], branding):
            for source in (["--level", "0", folder], ["--level", "1", folder], [folder],
                           [small_zip]):
                arguments = brand + source[:-1] + [os.path.join(fixtures, stub), source[-1]]
                outputs = []
                for which, packer in (("before", before), ("after", after)):
                    out = os.path.join(work, f"identity-{which}.exe")
                    with tempfile.TemporaryFile() as errors:
                        done = subprocess.run([packer] + arguments + [out],
                                              stdout=subprocess.DEVNULL, stderr=errors)
                        errors.seek(0)
                        if done.returncode != 0:
                            sys.exit(f"{arguments}: {which} failed: {errors.read().decode()}")
                    outputs.append(out)
                if not filecmp.cmp(outputs[0], outputs[1], shallow=False):
                    sys.exit(f"the outputs differ: {arguments}")
                check_output(outputs[1], work)
                count += 1
    shutil.rmtree(folder)
    return count


def pe_checksum(path, checksum_offset):
    """The PE checksum, computed with NumPy over the file in blocks (its own field as zero)."""
    total = 0
    length = 0
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 26)  # even, so each block starts at an even offset
            if not block:
                break
            data = numpy.frombuffer(block, dtype=numpy.uint8).copy()
            lo, hi = checksum_offset - length, checksum_offset + 4 - length
            if hi > 0 and lo < len(data):
                data[max(lo, 0):max(min(hi, len(data)), 0)] = 0
            if len(data) % 2:
                data = numpy.append(data, numpy.uint8(0))
            total += int(data.view("<u2").sum(dtype=numpy.uint64))
            length += len(block)
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + length) & 0xFFFFFFFF


def check_output(path, work):
    """Checks the packed file with pefile, NumPy, unzip and bsdtar; returns the payload's size."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    checksum_offset = pe.OPTIONAL_HEADER.get_file_offset() + 64
    stored_checksum = pe.OPTIONAL_HEADER.CheckSum
    payload = None
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.name is None or str(kind.name).upper() != "ZIP":
            continue
        for name in kind.directory.entries:
            if name.id == 117:
                data = name.directory.entries[0].data.struct
                payload = (pe.get_offset_from_rva(data.OffsetToData), data.Size)
    pe.close()
    if payload is None:
        sys.exit(f"{path}: no payload resource")
    if pe_checksum(path, checksum_offset) != stored_checksum:
        sys.exit(f"{path}: the PE checksum does not match")
    zip_path = os.path.join(work, "payload.zip")
    with open(path, "rb") as src, open(zip_path, "wb") as dst:
        src.seek(payload[0])
        left = payload[1]
        while left:
            block = src.read(min(left, 1 << 24))
            dst.write(block)
            left -= len(block)
    subprocess.run(["unzip", "-tqq", zip_path], check=True)
    listing = subprocess.run(["bsdtar", "-tf", zip_path], check=True, capture_output=True).stdout
    os.remove(zip_path)
    return payload[1], listing.count(b"\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--before", required=True)
    parser.add_argument("--after", required=True)
    parser.add_argument("--stub", default=os.path.join(ROOT, "tests/data/packer/stub_reloc_after.exe"))
    parser.add_argument("--scratch", default=tempfile.gettempdir())
    parser.add_argument("--big-mib", type=int, default=224)
    parser.add_argument("--small", type=int, default=3000)
    parser.add_argument("--cases", default="level6,level0,zip")
    parser.add_argument("--runs", type=int, default=3,
                        help="runs of each packer per case, in turns; the median time is shown")
    parser.add_argument("--no-identity", action="store_true",
                        help="skip the small packings of every stub and option")
    args = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="pack_memory.", dir=args.scratch)
    try:
        folder = os.path.join(scratch, "app")
        make_folder(folder, args.big_mib, args.small)
        settle_access_times(folder)
        total = folder_bytes(folder)
        print(f"Folder: {total / 2**20:.0f} MiB in {args.small + 5} files, scratch {scratch}")
        source_zip = os.path.join(scratch, "app.zip")
        cases = {
            "level6": ["--level", "6", args.stub, folder],
            "level0": ["--level", "0", args.stub, folder],
            "zip": [args.stub, source_zip],
        }
        rows = []
        for case in args.cases.split(","):
            if case == "zip" and not os.path.exists(source_zip):
                zip_folder(folder, source_zip, zipfile.ZIP_STORED)
            results = {}
            runs = {"before": [], "after": []}
            order = [("before", args.before), ("after", args.after)]
            for round_ in range(args.runs):
                for which, packer in (order if round_ % 2 == 0 else order[::-1]):
                    out = os.path.join(scratch, f"{case}-{which}.exe")
                    wall, rss, anon = run_measured([packer] + cases[case] + [out])
                    runs[which].append((wall, rss, anon))
                    print(f"  {case:7s} {which:6s} {wall:7.1f} s  {rss / 2**20:8.1f} MiB"
                          f" (anonymous {anon / 2**20:.1f} MiB)", flush=True)
            for which in runs:
                walls = sorted(r[0] for r in runs[which])
                results[which] = (walls[len(walls) // 2], max(r[1] for r in runs[which]),
                                  max(r[2] for r in runs[which]),
                                  os.path.join(scratch, f"{case}-{which}.exe"))
            same = filecmp.cmp(results["before"][3], results["after"][3], shallow=False)
            if not same:
                sys.exit(f"{case}: the outputs differ")
            payload, entries = check_output(results["after"][3], scratch)
            os.remove(results["before"][3])
            os.remove(results["after"][3])
            rows.append((case, results, payload, entries))

        stub_bytes = os.path.getsize(args.stub)
        print()
        print(f"Packing {total / 2**20:.0f} MiB ({args.small + 5} files); stub {stub_bytes} bytes;"
              f" peak RSS of the packer process (the highest of {args.runs} runs), median wall time")
        print()
        print("| case | payload | entries | peak RSS before | after | ratio | anonymous before | after |"
              " time before | after | ratio |")
        print("|---|---|---|---|---|---|---|---|---|---|---|")
        for case, results, payload, entries in rows:
            (wb, rb, ab, _), (wa, ra, aa, _) = results["before"], results["after"]
            print(f"| {case} | {payload / 2**20:.0f} MiB | {entries} | {rb / 2**20:.1f} MiB | {ra / 2**20:.1f} MiB"
                  f" | {ra / rb:.3f} | {ab / 2**20:.1f} MiB | {aa / 2**20:.1f} MiB"
                  f" | {wb:.1f} s | {wa:.1f} s | {wa / wb:.2f} |")
        print()
        print("Every output: byte-identical before and after, PE checksum recomputed, payload passes"
              " `unzip -t` and `bsdtar -tf`.")
        if not args.no_identity:
            count = identity_matrix(args.before, args.after, scratch)
            print(f"Identity matrix: {count} small packings (3 stubs, with and without icon and"
                  " version texts, levels 0/1/9 and a .zip): byte-identical and checked.")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
