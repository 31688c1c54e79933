#!/usr/bin/env python3
"""Packs folders and archives with launcher-pack and checks the results with tools that share
no code with it: pefile reads the executables, Python's zipfile, Info-ZIP's unzip and bsdtar the
payloads, and make_payload.py --dir must write the same archive (native runs only: on Windows
the packer also records creation times, which Python cannot read on Linux). A packed file is
signed and verified with osslsigncode, and natively the packer is stopped by real signals.

  check_packed.py --packer CMD... --stub LAUNCHER --work FOLDER --fixtures DIR
                  --make-payload SCRIPT [--windows-paths] [--signed-stub STUB]

--windows-paths gives the packer "Z:"-prefixed paths (it runs under Wine). Exit status 0 when
every check passed; each failure is printed.
"""
import argparse
import calendar
import io
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import time
import zipfile

import pefile

FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAILED:", what)


def align(value, to):
    return (value + to - 1) // to * to


# ---- The source folder --------------------------------------------------------------------

FILES = {  # relative path: (content, modification time, read-only)
    "zandro.exe": (b"MZ" + bytes(range(256)) * 40, 1623753025, False),
    "lib/helper.dll": (os.urandom(300000), 1300000001, False),
    "readme.txt": (b"read me\n" * 5000, 1000000000, True),
    "caf\u00e9.txt": (b"latin", 1500000000, False),
    "\u8bf4\u660e/\u8bf4\u660e.txt": (b"chinese", 1500000002, False),
    "old.txt": (b"before the DOS range", 157766400, False),        # 1975
    "future.txt": (b"after the timestamp range", 2240611200, False),  # 2041
}
FOLDERS = ["lib/", "\u8bf4\u660e/", "empty/"]
# Access times later than the modification and change times and not a day old, so that reading
# the files does not move them on (relatime): both the packer and make_payload.py read them.
NOW = int(time.time())
ACCESS = {name: max(NOW + 3600, mtime + 60) for name, (_, mtime, _) in FILES.items()}


def make_source(root):
    for folder in FOLDERS:
        os.makedirs(os.path.join(root, folder), exist_ok=True)
    for name, (data, mtime, read_only) in FILES.items():
        path = os.path.join(root, name)
        with open(path, "wb") as out:
            out.write(data)
        if read_only:
            os.chmod(path, 0o444)
        os.utime(path, ns=(ACCESS[name] * 10**9, mtime * 10**9))
    # The folders too: listed with an access time not later than their change time, the packer's
    # walk would move it on (relatime), and make_payload.py would see another second.
    for folder in FOLDERS:
        os.utime(os.path.join(root, folder), ns=((NOW + 3600) * 10**9, NOW * 10**9))


# ---- Reading a packed executable ----------------------------------------------------------

def resources(pe):
    """{(type, name, language): bytes}; named keys as text."""
    out = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                data = lang.data.struct
                key = (str(t.name) if t.name else t.id, str(n.name) if n.name else n.id, lang.id)
                out[key] = pe.get_data(data.OffsetToData, data.Size)
    return out


def string_table(pe):
    """{string id: text} of the string table as pefile decodes it (all its languages), and the
    number of languages of its first block."""
    out, languages = {}, 0
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.id != pefile.RESOURCE_TYPE["RT_STRING"]:
            continue
        for n in t.directory.entries:
            out.update(n.directory.strings)
            if n.id == 1:
                languages = len(n.directory.entries)
    return out, languages


def execution_levels(pe):
    """The levels that the manifests' requestedExecutionLevel elements ask for."""
    levels = set()
    for (kind, _, _), data in resources(pe).items():
        if kind == pefile.RESOURCE_TYPE["RT_MANIFEST"]:
            levels.update(re.findall(r'<requestedExecutionLevel level="(\w+)"', data.decode()))
    return levels


def payload_of(resource_map):
    found = [data for (t, n, _), data in resource_map.items() if t == "ZIP" and n == 117]
    return found[0] if found else None


def timestamp_times(extra):
    """The times of an extended timestamp block in an extra field."""
    pos = 0
    while pos + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, pos)
        if tag == 0x5455:
            flags = extra[pos + 4]
            values = list(struct.unpack_from("<%di" % ((size - 1) // 4), extra, pos + 5))
            times = {}
            for bit, key in enumerate(("mtime", "atime", "ctime")):
                if flags & (1 << bit):
                    times[key] = values.pop(0)
            return times
        pos += 4 + size
    return {}


def check_image(output, stub, expect_new_section):
    pe = pefile.PE(output)
    check(pe.OPTIONAL_HEADER.CheckSum == pe.generate_checksum(), f"{output}: checksum")
    last = pe.sections[-1]
    check(pe.OPTIONAL_HEADER.SizeOfImage ==
          align(last.VirtualAddress + last.Misc_VirtualSize, pe.OPTIONAL_HEADER.SectionAlignment),
          f"{output}: SizeOfImage")
    resource_dir = pe.OPTIONAL_HEADER.DATA_DIRECTORY[2]
    check(resource_dir.VirtualAddress == last.VirtualAddress, f"{output}: resources last")
    check(pe.OPTIONAL_HEADER.DATA_DIRECTORY[4].Size == 0, f"{output}: no certificate table")
    old = pefile.PE(stub)
    check(len(pe.sections) == len(old.sections) + (1 if expect_new_section else 0),
          f"{output}: section count")
    # Everything before the new section's data is the stub's, but for the header fields that
    # must change.
    with open(stub, "rb") as f:
        before = f.read()
    with open(output, "rb") as f:
        after = f.read()
    opt = old.OPTIONAL_HEADER.get_file_offset()
    table = old.sections[0].get_file_offset()
    changed = [(old.FILE_HEADER.get_file_offset() + 2, 2), (opt + 56, 4), (opt + 64, 4),
               (opt + 96 + 16, 8), (opt + 96 + 32, 8),
               (table + 40 * (len(old.sections) - (0 if expect_new_section else 1)), 40)]
    kept = min(len(before), last.PointerToRawData)
    for offset in range(kept):
        if any(start <= offset < start + size for start, size in changed):
            continue
        if before[offset] != after[offset]:
            check(False, f"{output}: byte {offset:#x} of the stub changed")
            break
    return pe


def check_payload(payload, root, label):
    archive = zipfile.ZipFile(io.BytesIO(payload))
    check(archive.testzip() is None, f"{label}: zipfile CRC check")
    expected = set(FILES) | set(FOLDERS)
    check({i.filename for i in archive.infolist()} == expected,
          f"{label}: names {sorted(i.filename for i in archive.infolist())}")
    for info in archive.infolist():
        ascii_name = all(ord(c) < 128 for c in info.filename)
        check(bool(info.flag_bits & 0x800) == (not ascii_name), f"{label}: UTF-8 flag of {info.filename}")
        if info.filename in FOLDERS:
            check(info.external_attr & 0x10 and info.external_attr >> 16 == 0o40755,
                  f"{label}: folder attributes of {info.filename}")
            continue
        data, mtime, read_only = FILES[info.filename]
        check(archive.read(info) == data, f"{label}: bytes of {info.filename}")
        check(bool(info.external_attr & 0x01) == read_only, f"{label}: read-only bit of {info.filename}")
        owner_write = bool((info.external_attr >> 16) & 0o200)
        check(owner_write == (not read_only), f"{label}: Unix mode of {info.filename}")
        held = min(max(mtime, 315532800), 4354819198)
        check(info.date_time == time.gmtime(held - held % 2)[:6],
              f"{label}: DOS time of {info.filename} is {info.date_time}")
        times = timestamp_times(info.extra)
        if mtime <= 0x7FFFFFFF:
            check(times.get("mtime") == mtime, f"{label}: timestamp of {info.filename}: {times}")
            check(times.get("atime") == ACCESS[info.filename], f"{label}: access time of {info.filename}")
        else:
            check("mtime" not in times, f"{label}: no timestamp for {info.filename} past 2038")
        check(info.compress_type in (0, 8), f"{label}: method of {info.filename}")
        if info.compress_type == 8:
            check(info.compress_size < info.file_size, f"{label}: deflated only when smaller")


def check_with_infozip_and_bsdtar(payload, work, label):
    path = os.path.join(work, label + ".zip")
    with open(path, "wb") as out:
        out.write(payload)
    result = subprocess.run(["unzip", "-tq", path], capture_output=True, text=True)
    check(result.returncode == 0, f"{label}: unzip -t: {result.stdout}{result.stderr}")
    target = os.path.join(work, label + "-bsdtar")
    os.makedirs(target)
    result = subprocess.run(["bsdtar", "-xf", path, "-C", target], capture_output=True, text=True)
    check(result.returncode == 0, f"{label}: bsdtar: {result.stderr}")
    for name, (data, mtime, _) in FILES.items():
        extracted = os.path.join(target, name)
        if not os.path.exists(extracted):
            check(False, f"{label}: bsdtar did not extract {name}")
            continue
        with open(extracted, "rb") as f:
            check(f.read() == data, f"{label}: bsdtar bytes of {name}")
        check(int(os.stat(extracted).st_mtime) == mtime,
              f"{label}: bsdtar time of {name}: {int(os.stat(extracted).st_mtime)}")


def check_branding(pe, stub, icon):
    res = resources(pe)
    old = resources(pefile.PE(stub))
    manifests = [k for k in old if k[0] == 24]
    check(all(res.get(k) == old[k] for k in manifests), "manifest kept byte for byte")
    with open(icon, "rb") as f:
        ico = f.read()
    count = struct.unpack_from("<H", ico, 4)[0]
    images = []
    for i in range(count):
        w, h, _, _, _, bits, size, offset = struct.unpack_from("<BBBBHHII", ico, 6 + 16 * i)
        images.append((w, h, bits, ico[offset:offset + size]))
    groups = sorted(k for k in res if k[0] == 14)
    check(len(groups) == 1, f"one icon group: {groups}")
    group = res[groups[0]]
    check(struct.unpack_from("<HHH", group, 0) == (0, 1, count), "icon group header")
    ids = []
    for i in range(count):
        w, h, _, _, _, bits, size, number = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        check((w, h, bits, size) == images[i][:3] + (len(images[i][3]),), f"icon group entry {i}")
        check(res.get((3, number, groups[0][2])) == images[i][3], f"icon image {number}")
        ids.append(number)
    check(sorted(k[1] for k in res if k[0] == 3) == sorted(ids), "old icon images removed")

    strings = {}
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            check(table.LangID == b"080404b0", f"string table {table.LangID}")
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
        for var in getattr(info, "Var", []):
            check(var.entry == {b"Translation": "0x0804 0x04b0"}, f"translation {var.entry}")
    expected = {"FileVersion": "3.1.4.15", "ProductVersion": "3.1.4.15",
                "ProductName": "D\u00e9mo \u6f14\u793a", "FileDescription": "The demo",
                "CompanyName": "Example & Co", "LegalCopyright": "\u00a9 2024 Example"}
    for key, value in expected.items():
        check(strings.get(key) == value, f"version text {key}: {strings.get(key)!r}")
    # The file's own names are OUTPUT's.
    names = (strings.get("OriginalFilename"), strings.get("InternalName"))
    check(names == ("branded.exe", "branded"), f"the file's names: {names}")
    fixed = pe.VS_FIXEDFILEINFO[0]
    check((fixed.FileVersionMS, fixed.FileVersionLS) == (0x30001, 0x4000F), "file version numbers")
    check((fixed.ProductVersionMS, fixed.ProductVersionLS) == (0x30001, 0x4000F),
          "product version numbers")


def version_strings(pe):
    strings = {}
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return strings


def check_signing(exe, work):
    """Signs a packed file as the README's step 3 does, with a certificate made for the purpose,
    and verifies the signature."""
    key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
    signed = os.path.join(work, "signed.exe")
    steps = [
        ["openssl", "req", "-x509", "-newkey", "rsa:3072", "-nodes", "-days", "365",
         "-subj", "/CN=Me Ltd", "-keyout", key, "-out", cert],
        ["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256", "-n", "My App",
         "-i", "https://example.com", "-in", exe, "-out", signed],
        ["osslsigncode", "verify", "-in", signed, "-CAfile", cert],
    ]
    for step in steps:
        result = subprocess.run(step, capture_output=True, text=True)
        check(result.returncode == 0, f"{step[0]} {step[1]}: {result.stdout}{result.stderr}")
        if result.returncode != 0:
            return
    check(pefile.PE(signed).OPTIONAL_HEADER.DATA_DIRECTORY[4].Size > 0, "a certificate table")


def run_until_zipping(command):
    """Starts a packing and returns once it says it is zipping."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    for line in process.stdout:
        if line.startswith(b"Zipping the folder"):
            break
    return process


def check_interrupted(packer, stub, work):
    """Real signals to a real packer while it zips: it removes its file beside OUTPUT, leaves
    OUTPUT as it was and ends with the signal's status. A file left by a killed packing does not
    stop the next one, and its progress on a pipe is a few plain lines, the last at 100%."""
    big = os.path.join(work, "big")
    os.makedirs(big)
    with open(os.path.join(big, "zandro.exe"), "wb") as f:
        f.write(b"MZ main")
    for i in range(3):  # incompressible: deflated, then stored again
        with open(os.path.join(big, f"data{i}.bin"), "wb") as f:
            f.write(os.urandom(16 << 20))
    output = os.path.join(work, "stopped.exe")
    with open(output, "wb") as f:
        f.write(b"an earlier output")
    for sig, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143), (signal.SIGHUP, 129)):
        process = run_until_zipping(packer + [stub, big, output])
        process.send_signal(sig)
        _, err = process.communicate(timeout=120)
        check(process.returncode == status, f"{sig.name}: status {process.returncode}: {err}")
        check(b"stopped" in err, f"{sig.name}: {err}")
        with open(output, "rb") as f:
            check(f.read() == b"an earlier output", f"{sig.name}: OUTPUT changed")
        check(not os.path.exists(output + ".part"), f"{sig.name}: OUTPUT.part left")

    process = run_until_zipping(packer + [stub, big, output])
    process.kill()
    process.communicate()
    check(os.path.exists(output + ".part"), "SIGKILL leaves OUTPUT.part")
    start = time.monotonic()
    result = subprocess.run(packer + [stub, big, output], capture_output=True, text=True)
    seconds = time.monotonic() - start
    check(result.returncode == 0, f"packing over a left OUTPUT.part: {result.stderr}")
    check(sorted(n for n in os.listdir(work) if n.startswith("stopped")) == ["stopped.exe"],
          f"after a left OUTPUT.part: {os.listdir(work)}")
    lines = [line for line in result.stdout.splitlines() if line.startswith("  Zipping: ")]
    check(1 <= len(lines) <= 2 + seconds / 15 and lines[-1].startswith(
        "  Zipping: 4 of 4 files, 50.3 MB of 50.3 MB (100%)"), f"progress: {lines}")
    print(f"packed 48 MiB of random data in {seconds:.1f} s; progress lines: {lines}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--packer", nargs="+", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--signed-stub")
    parser.add_argument("--work", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--make-payload", required=True)
    parser.add_argument("--windows-paths", action="store_true")
    args = parser.parse_args()

    def host(path):
        return "Z:" + os.path.abspath(path) if args.windows_paths else path

    def pack(*arguments):
        command = args.packer + [host(a) if os.sep in a else a for a in arguments]
        result = subprocess.run(command, capture_output=True)
        return result.returncode, result.stdout.decode("utf-8", "replace"), \
            result.stderr.decode("utf-8", "replace")

    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    app = os.path.join(work, "app")
    make_source(app)
    icon = os.path.join(args.fixtures, "icon_two_sizes.ico")
    stub_has_reloc_after = pefile.PE(args.stub).sections[-1].VirtualAddress != \
        pefile.PE(args.stub).OPTIONAL_HEADER.DATA_DIRECTORY[2].VirtualAddress

    # A folder, with a new icon and version record.
    branded = os.path.join(work, "branded.exe")
    status, out, err = pack("--icon", icon, "--version", "3.1.4.15", "--product-name",
                            "D\u00e9mo \u6f14\u793a", "--description", "The demo", "--company",
                            "Example & Co", "--copyright", "\u00a9 2024 Example",
                            args.stub, app, branded)
    check(status == 0, f"packing the folder: status {status}: {err}")
    if status == 0:
        pe = check_image(branded, args.stub, stub_has_reloc_after)
        payload = payload_of(resources(pe))
        check_payload(payload, app, "folder")
        check_with_infozip_and_bsdtar(payload, work, "folder")
        check_branding(pe, args.stub, icon)
        check_signing(branded, work)
        if not args.windows_paths:
            script_zip = os.path.join(work, "make_payload.zip")
            subprocess.run([sys.executable, args.make_payload, script_zip, "--dir", app], check=True)
            with open(script_zip, "rb") as f:
                check(f.read() == payload, "make_payload.py --dir writes the packer's archive")

        # A .zip made by Info-ZIP, embedded as it is, into the packed file again: in place.
        infozip = os.path.join(work, "infozip.zip")
        subprocess.run(["zip", "-qr", "-X", infozip, "."], cwd=app, check=True)
        again = os.path.join(work, "again.exe")
        status, out, err = pack(branded, infozip, again)
        check(status == 0, f"packing an Info-ZIP archive: status {status}: {err}")
        if status == 0:
            pe_again = check_image(again, branded, False)
            with open(infozip, "rb") as f:
                check(payload_of(resources(pe_again)) == f.read(), "the zip is embedded as it is")

    if args.signed_stub:
        signed = os.path.join(work, "from_signed.exe")
        status, out, err = pack(args.signed_stub, app, signed)
        check(status == 0 and "signature" in err and "sign OUTPUT after packing" in err,
              f"signed stub: {status} {err}")
        with open(signed, "rb") as f:
            check(b"not a real signature" not in f.read(), "the certificate's bytes are gone")
        check_image(signed, args.signed_stub, False)

    # An English application with names of its own; single options win over --texts, and the
    # caption follows the window title.
    english = os.path.join(work, "english")
    os.makedirs(english)
    for name in ("MyApp.exe", "helper.dll"):
        with open(os.path.join(english, name), "wb") as f:
            f.write(name.encode() * 50)
    named = os.path.join(work, "named.exe")
    status, out, err = pack("--main-program", "MyApp.exe", "--folder-name", "MyApp Files",
                            "--window-class", "MyAppWindow", "--window-title", "My App \u00e9",
                            "--texts", "en", "--text-running", "My App is open.",
                            "--original-filename", "MyApp.exe", "--internal-name", "My App",
                            "--arguments", "--open \"a b\"", "--forward-arguments",
                            "--working-folder", "application", "--progress",
                            "--execution-level", "asInvoker", args.stub, english, named)
    check(status == 0, f"packing with names and texts: status {status}: {err}")
    if status == 0:
        expected = {1: "MyApp.exe", 2: "MyApp Files", 3: "MyAppWindow", 4: "My App \u00e9",
                    5: "My App \u00e9", 6: "Error", 7: "My App is open.",
                    8: "Could not unpack the application, or one of its files is in use.",
                    9: "Could not start the application (error %d).", 10: "--open \"a b\"",
                    11: "on", 12: "application", 13: "on"}
        pe = check_image(named, args.stub, stub_has_reloc_after)
        strings = version_strings(pe)
        check((strings.get("OriginalFilename"), strings.get("InternalName")) ==
              ("MyApp.exe", "My App"), f"names given: {strings}")
        table, languages = string_table(pe)
        check(languages == 1, f"the string table in one language: {languages}")
        got = {k: table.get(k) for k in expected}
        check(got == expected, f"string table: {got}")
        check(execution_levels(pe) == {"asInvoker"}, f"execution level {execution_levels(pe)}")
        # Packed again with one value changed: the others stay as the first packing set them,
        # the manifest too.
        renamed = os.path.join(work, "renamed.exe")
        status, out, err = pack("--folder-name", "Other", named, english, renamed)
        check(status == 0, f"repacking with a new folder name: status {status}: {err}")
        if status == 0:
            table, _ = string_table(pefile.PE(renamed))
            got = {k: table.get(k) for k in expected}
            check(got == {**expected, 2: "Other"}, f"repacked: {got}")
            check(execution_levels(pefile.PE(renamed)) == {"asInvoker"}, "level kept")
        # An empty title: stored as one zero unit, the program's name the caption.
        untitled = os.path.join(work, "untitled.exe")
        status, out, err = pack("--window-title", "", named, english, untitled)
        table, _ = string_table(pefile.PE(untitled))
        check(status == 0 and table.get(4) == "\0" and table.get(5) == "MyApp",
              f"an empty title: {status} {err} {table.get(4)!r} {table.get(5)!r}")

    # A refusal leaves no OUTPUT.
    refused = os.path.join(work, "refused.exe")
    os.remove(os.path.join(app, "zandro.exe"))
    status, out, err = pack(args.stub, app, refused)
    check(status == 2 and "no zandro.exe" in err, f"refusal: {status} {err}")
    check(not any(name.startswith("refused") for name in os.listdir(work)), "no OUTPUT after a refusal")

    if not args.windows_paths:
        check_interrupted(args.packer, args.stub, work)

    print("all checks passed" if not FAILURES else f"{len(FAILURES)} checks failed")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
