#!/usr/bin/env python3
"""Builds a payload archive for the launcher.

Entries are written as a DOS/Windows archiver writes them: made by system 0, external
attributes 0x20 for files (archive bit) and 0x10 for folders, data deflated. Entries appear in
the order of the options.

  make_payload.py OUT.zip --dir FOLDER            every file and folder below FOLDER
  make_payload.py OUT.zip --file NAME=PATH        one file under the entry name NAME
  make_payload.py OUT.zip --text NAME=TEXT        one file holding TEXT (UTF-8)
  make_payload.py OUT.zip --folder NAME           a folder entry (a "/" is added)

Entry names are taken as given (no clean-up), so tests can build hostile archives too.
--date fixes the stored time of every entry (YYYY-MM-DDTHH:MM:SS, even seconds); without it
files carry their modification time and texts and folders the current time.
"""
import argparse
import datetime
import os
import sys
import zipfile

DOS_ARCHIVE = 0x20
DOS_DIRECTORY = 0x10


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


def add_tree(archive, root, fixed):
    if not os.path.isdir(root):
        sys.exit(f"make_payload: {root} is not a folder")
    for folder, subfolders, files in os.walk(root):
        subfolders.sort()
        relative = os.path.relpath(folder, root)
        prefix = "" if relative == "." else relative.replace(os.sep, "/") + "/"
        if prefix:
            add_folder(archive, prefix, fixed, folder)
        for name in sorted(files):
            add_file(archive, prefix + name, os.path.join(folder, name), fixed)


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
