#!/usr/bin/env python3
"""Builds a payload archive for the launcher. Entries appear in the order of the options.

  make_payload.py OUT.zip --dir FOLDER            every file and folder below FOLDER
  make_payload.py OUT.zip --file NAME=PATH        one file under the entry name NAME
  make_payload.py OUT.zip --text NAME=TEXT        one file holding TEXT (UTF-8)
  make_payload.py OUT.zip --folder NAME           a folder entry (a "/" is added)

--dir writes what launcher-pack writes for a folder, byte for byte, so that the launcher
unpacks the files as they are: each file's read-only, hidden, system and archive bits in the
low byte of the external attributes and a Unix mode that agrees with the read-only bit in the
high half; its modification time as UTC in the DOS fields and its times in an extended
timestamp block; UTF-8 names, flagged only when not ASCII; in each folder its files, then its
sub-folders, each as a folder entry followed by its contents, by name; data deflated at level
9, or stored where that does not make it smaller. A link to a folder is refused.

--file, --text and --folder write entries as a DOS/Windows archiver writes them (for tests):
made by system 0, external attributes 0x20 for files (archive bit) and 0x10 for folders, data
deflated, names taken as given (no clean-up), so tests can build hostile archives too.

--date fixes the stored time of every entry (YYYY-MM-DDTHH:MM:SS, even seconds; for --dir read
as UTC); without it files carry their modification time and texts and folders the current
local time.
"""
import argparse
import calendar
import datetime
import os
import struct
import sys
import time
import zipfile
import zlib

DOS_ARCHIVE = 0x20
DOS_DIRECTORY = 0x10
KEPT_ATTRIBUTES = 0x01 | 0x02 | 0x04 | 0x20  # read-only, hidden, system, archive
FOLDER_MODE = 0o40755
FILE_MODE = 0o100644
READ_ONLY_FILE_MODE = 0o100444
FIRST_DOS_TIME = 315532800   # 1980-01-01 00:00:00 UTC
LAST_DOS_TIME = 4354819198   # 2107-12-31 23:59:58 UTC


class Ordered(argparse.Action):
    """Keeps all entry options in one list, in command-line order."""

    def __call__(self, parser, namespace, value, option_string=None):
        entries = getattr(namespace, "entries", None) or []
        entries.append((self.dest, value))
        namespace.entries = entries


def split_pair(option, value):
    name, sep, rest = value.partition("=")
    if not sep or not name:
        sys.exit(f"make_payload: {option} expects NAME=VALUE, got {value!r}")
    return name, rest


def timestamp(fixed, path=None):
    if fixed is not None:
        return fixed
    moment = os.path.getmtime(path) if path else datetime.datetime.now().timestamp()
    stamp = datetime.datetime.fromtimestamp(moment).timetuple()[:6]
    # The zip format cannot hold times before 1980.
    return max(stamp, (1980, 1, 1, 0, 0, 0))


def dos_entry(name, date_time, attributes):
    info = zipfile.ZipInfo(name, date_time)
    info.create_system = 0
    info.external_attr = attributes
    info.compress_type = zipfile.ZIP_DEFLATED if attributes != DOS_DIRECTORY else zipfile.ZIP_STORED
    return info


def add_file(archive, name, path, fixed):
    with open(path, "rb") as source:
        data = source.read()
    archive.writestr(dos_entry(name, timestamp(fixed, path), DOS_ARCHIVE), data)


def add_folder(archive, name, fixed, path=None):
    if not name.endswith("/"):
        name += "/"
    archive.writestr(dos_entry(name, timestamp(fixed, path), DOS_DIRECTORY), b"")


def timestamp_block(times):
    """The extended timestamp extra block ("UT") of (modification, access, creation) times in
    seconds from 1970, each present when known and within a signed 32-bit count."""
    flags, values = 0, b""
    for bit, seconds in enumerate(times):
        if seconds is not None and 0 <= seconds <= 0x7FFFFFFF:
            flags |= 1 << bit
            values += struct.pack("<I", seconds)
    return struct.pack("<HHB", 0x5455, 1 + len(values), flags) + values if flags else b""


def tree_entry(name, facts, fixed, folder):
    """An entry as launcher-pack writes it, from os.stat facts."""
    modified = facts.st_mtime_ns // 10**9
    times = [modified, facts.st_atime_ns // 10**9, None]
    if os.name == "nt":  # only Windows keeps a creation time
        times[2] = getattr(facts, "st_birthtime_ns", facts.st_ctime_ns) // 10**9
    if fixed is not None:
        modified = calendar.timegm(fixed + (0, 0, 0))
        times = [modified, modified, None]
    held = min(max(modified, FIRST_DOS_TIME), LAST_DOS_TIME)
    info = zipfile.ZipInfo(name, time.gmtime(held)[:6])
    info.create_system = 3  # the high half of the attributes is a Unix mode
    windows = getattr(facts, "st_file_attributes", None)
    if windows is None:
        windows = 0x01 if facts.st_mode & 0o222 == 0 else 0
    if folder:
        info.external_attr = (FOLDER_MODE << 16) | (windows & KEPT_ATTRIBUTES) | DOS_DIRECTORY
    else:
        mode = READ_ONLY_FILE_MODE if windows & 0x01 else FILE_MODE
        info.external_attr = (mode << 16) | (windows & KEPT_ATTRIBUTES)
    info.extra = timestamp_block(times)
    return info


def smaller_when_deflated(data):
    if not data:
        return False
    deflater = zlib.compressobj(9, zlib.DEFLATED, -15)
    return len(deflater.compress(data) + deflater.flush()) < len(data)


def add_tree(archive, root, fixed):
    if not os.path.isdir(root):
        sys.exit(f"make_payload: {root} is not a folder")
    for folder, subfolders, files in os.walk(root):
        for name in subfolders:
            if os.path.islink(os.path.join(folder, name)):
                sys.exit(f"make_payload: {os.path.join(folder, name)} is a link to a folder, "
                         "which is not followed: put the folder itself in its place")
        subfolders.sort(key=lambda name: name.encode("utf-8"))
        relative = os.path.relpath(folder, root)
        prefix = "" if relative == "." else relative.replace(os.sep, "/") + "/"
        if prefix:
            info = tree_entry(prefix, os.stat(folder), fixed, folder=True)
            archive.writestr(info, b"", compress_type=zipfile.ZIP_STORED)
        for name in sorted(files, key=lambda name: name.encode("utf-8")):
            path = os.path.join(folder, name)
            info = tree_entry(prefix + name, os.stat(path), fixed, folder=False)
            with open(path, "rb") as source:
                data = source.read()
            if smaller_when_deflated(data):
                archive.writestr(info, data, compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)
            else:
                archive.writestr(info, data, compress_type=zipfile.ZIP_STORED)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("output")
    parser.add_argument("--dir", dest="dir", action=Ordered, metavar="FOLDER")
    parser.add_argument("--file", dest="file", action=Ordered, metavar="NAME=PATH")
    parser.add_argument("--text", dest="text", action=Ordered, metavar="NAME=TEXT")
    parser.add_argument("--folder", dest="folder", action=Ordered, metavar="NAME")
    parser.add_argument("--date", help="stored time of every entry")
    args = parser.parse_args()

    fixed = None
    if args.date:
        fixed = datetime.datetime.strptime(args.date, "%Y-%m-%dT%H:%M:%S").timetuple()[:6]
        if fixed[0] < 1980 or fixed[5] % 2:
            sys.exit("make_payload: --date needs a year from 1980 on and even seconds")

    partial = args.output + ".part"
    with zipfile.ZipFile(partial, "w") as archive:
        for kind, value in getattr(args, "entries", None) or []:
            if kind == "dir":
                add_tree(archive, value, fixed)
            elif kind == "file":
                name, path = split_pair("--file", value)
                add_file(archive, name, path, fixed)
            elif kind == "text":
                name, text = split_pair("--text", value)
                archive.writestr(dos_entry(name, timestamp(fixed), DOS_ARCHIVE),
                                 text.encode("utf-8"))
            else:
                add_folder(archive, value, fixed)
    # Replaced only when complete, so a failed run never leaves a half-written payload.
    os.replace(partial, args.output)


if __name__ == "__main__":
    main()
