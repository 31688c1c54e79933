#!/usr/bin/env python3
"""Writes the packing tool's fixtures into tests/data/packer (run it again only to change them).

Stubs: small 32-bit Windows executables laid out as a resource compiler and a linker lay out
launcher.exe, built here byte by byte, independently of the packer's code:
  stub_reloc_after.exe  .text, .rsrc, .reloc, then trailing data that the COFF header points
                        to as its symbol table: the packer must add a new resource section
  stub_rsrc_last.exe    .text, .rsrc: the packer may rewrite .rsrc in place
  stub_signed.exe       stub_rsrc_last.exe with a certificate table at its end
Each carries a payload under the string type "ZIP", id 117 (a zip holding zandro.exe), an icon
group 1 of two images (ids 1 and 2), a version record (Chinese PRC, UTF-16 strings) and a
manifest, all in language 1033.
Icons: icon_two_sizes.ico (a 48x48 bitmap and a 64x64 PNG image, distinct colours).
"""
import io
import os
import struct
import sys
import zipfile
import zlib

FILE_ALIGN = 0x200
SECTION_ALIGN = 0x1000
HEADERS_SIZE = 0x400


def align(value, to):
    return (value + to - 1) // to * to


def utf16(text):
    return text.encode("utf-16-le")


# ---- Resources ----------------------------------------------------------------------------

def payload_zip():
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in (("zandro.exe", b"stand-in main program"), ("readme.txt", b"stub")):
            info = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data)
    return out.getvalue()


def bitmap_image(size, colour):
    """A 32-bit icon image: BITMAPINFOHEADER (double height), pixels, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytes(colour) * (size * size)
    mask = bytes(((size + 31) // 32) * 4 * size)
    return header + pixels + mask


def png_image(size, colour):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    rows = b"".join(b"\0" + bytes(colour) * size for _ in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def icon_file(images):
    """An .ico: (width byte, height byte, bit count, data) per image."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, height, bits, data in images:
        out += struct.pack("<BBBBHHII", width, height, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(data for *_, data in images)


def version_node(key, value=b"", text=False, children=()):
    """One VS_VERSIONINFO node; `value` is bytes (text values include their terminator)."""
    body = utf16(key) + b"\0\0"
    body += b"\0" * (-(6 + len(body)) % 4)
    body += value
    for child in children:
        body += b"\0" * (-(6 + len(body)) % 4)
        body += child
    value_length = len(value) // 2 if text else len(value)
    return struct.pack("<HHH", 6 + len(body), value_length, 1 if text else 0) + body


def version_record():
    fixed = struct.pack("<13I", 0xFEEF04BD, 0x10000, 0x10000, 0, 0x10000, 0, 0x3F, 0,
                        0x40004, 1, 0, 0, 0)
    strings = [("FileDescription", "Stub launcher"), ("FileVersion", "1.0.0.0"),
               ("InternalName", "launcher"), ("OriginalFilename", "launcher.exe"),
               ("ProductName", "Kelmora"), ("ProductVersion", "1.0.0.0")]
    table = version_node("080404b0", text=True, children=[
        version_node(key, utf16(value) + b"\0\0", text=True) for key, value in strings])
    string_info = version_node("StringFileInfo", text=True, children=[table])
    var_info = version_node("VarFileInfo", text=True, children=[
        version_node("Translation", struct.pack("<HH", 0x0804, 1200))])
    return version_node("VS_VERSION_INFO", fixed, children=[string_info, var_info])


MANIFEST = (b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            b'<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">'
            b'<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security><requestedPrivileges>'
            b'<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>'
            b'</requestedPrivileges></security></trustInfo></assembly>\n')


def resources():
    """{type: {name: data}} in language 1033; a str key is a named entry."""
    images = [bitmap_image(16, (200, 0, 0, 255)), bitmap_image(32, (200, 0, 0, 255))]
    group = struct.pack("<HHH", 0, 1, 2)
    for number, (size, data) in enumerate(zip((16, 32), images), start=1):
        group += struct.pack("<BBBBHHIH", size, size, 0, 0, 1, 32, len(data), number)
    return {"ZIP": {117: payload_zip()}, 3: {1: images[0], 2: images[1]}, 14: {1: group},
            16: {1: version_record()}, 24: {1: MANIFEST}}


def resource_section(tree, rva):
    """The tables, data records, names and data of a resource section at `rva`."""
    def order(keys):
        return sorted((k for k in keys if isinstance(k, str))) + sorted(
            k for k in keys if not isinstance(k, str))

    # Sizes first: tables, then records, then names, then data.
    types = order(tree)
    tables = 16 + 8 * len(types)
    for t in types:
        tables += 16 + 8 * len(tree[t]) + (16 + 8) * len(tree[t])
    leaves = [(t, n) for t in types for n in order(tree[t])]
    records_at = tables
    names_at = records_at + 16 * len(leaves)
    names = b""
    name_offsets = {}
    for key in [t for t in types if isinstance(t, str)]:
        name_offsets[key] = names_at + len(names)
        names += struct.pack("<H", len(key)) + utf16(key)
    data_at = align(names_at + len(names), 8)
    data = b""
    data_offsets = {}
    for leaf in leaves:
        data += b"\0" * (-len(data) % 8)
        data_offsets[leaf] = data_at + len(data)
        data += tree[leaf[0]][leaf[1]]

    def header(keys):
        named = sum(1 for k in keys if isinstance(k, str))
        return struct.pack("<IIHHHH", 0, 0, 4, 0, named, len(keys) - named)

    def key_field(key):
        return name_offsets[key] | 0x80000000 if isinstance(key, str) else key

    out = bytearray(header(types))
    type_at = 16 + 8 * len(types)
    pending = []
    position = type_at
    for t in types:
        out += struct.pack("<II", key_field(t), position | 0x80000000)
        pending.append((t, position))
        position += 16 + 8 * len(tree[t])
    language_tables = []
    for t, _ in pending:
        names_of_type = order(tree[t])
        out += header(names_of_type)
        for n in names_of_type:
            out += struct.pack("<II", n, position | 0x80000000)
            language_tables.append((t, n, position))
            position += 16 + 8
    for t, n, _ in language_tables:
        out += header([1033]) + struct.pack("<II", 1033, records_at + 16 * leaves.index((t, n)))
    for leaf in leaves:
        out += struct.pack("<IIII", rva + data_offsets[leaf], len(tree[leaf[0]][leaf[1]]), 0, 0)
    out += names
    out += b"\0" * (data_at - len(out))
    out += data
    return bytes(out)


# ---- The executable -----------------------------------------------------------------------

def checksum(image, field):
    total = 0
    for i in range(0, len(image), 2):
        if field <= i < field + 4:
            continue
        total += image[i] | (image[i + 1] << 8 if i + 1 < len(image) else 0)
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return total + len(image)


def executable(sections_after_rsrc, trailing=b"", certificate=None):
    """sections_after_rsrc: add a .reloc section after .rsrc. trailing: bytes after the last
    section, pointed to as a COFF symbol table. certificate: bytes of a WIN_CERTIFICATE body."""
    code = b"\x31\xC0\xC3"  # xor eax, eax; ret
    rsrc_rva = 0x2000
    rsrc = resource_section(resources(), rsrc_rva)
    sections = [(b".text", 0x1000, code, 0x60000020), (b".rsrc", rsrc_rva, rsrc, 0x40000040)]
    directories = [(0, 0)] * 16
    directories[2] = (rsrc_rva, len(rsrc))
    if sections_after_rsrc:
        reloc_rva = align(rsrc_rva + len(rsrc), SECTION_ALIGN)
        reloc = struct.pack("<IIHH", 0x1000, 12, 0x3000, 0)  # one HIGHLOW fix-up, one pad
        sections.append((b".reloc", reloc_rva, reloc, 0x42000040))
        directories[5] = (reloc_rva, len(reloc))

    raw = bytearray()
    headers = []
    offset = HEADERS_SIZE
    for name, rva, data, flags in sections:
        size = align(len(data), FILE_ALIGN)
        headers.append(struct.pack("<8sIIIIIIHHI", name, len(data), rva, size, offset, 0, 0, 0, 0,
                                   flags))
        raw += data + b"\0" * (size - len(data))
        offset += size
    image_size = align(sections[-1][1] + len(sections[-1][2]), SECTION_ALIGN)
    symbols_at = offset if trailing else 0
    file_end = offset + len(trailing)
    cert_blob = b""
    if certificate is not None:
        file_end = align(file_end, 8)
        cert_blob = struct.pack("<IHH", 8 + len(certificate), 0x0200, 2) + certificate
        cert_blob += b"\0" * (-len(cert_blob) % 8)
        directories[4] = (file_end, len(cert_blob))

    dos = bytearray(0x80)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x80)
    dos[0x40:0x40 + 39] = b"This program cannot be run in DOS mode."
    coff = struct.pack("<4sHHIIIHH", b"PE\0\0", 0x14C, len(sections), 0x5F000000, symbols_at,
                       2 if trailing else 0, 224, 0x0102)
    optional = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 2, 40, 0x200,
                           len(raw) - 0x200, 0, 0x1000, 0x1000, 0x2000, 0x400000, SECTION_ALIGN,
                           FILE_ALIGN, 4, 0, 0, 0, 4, 0, 0, image_size, HEADERS_SIZE, 0, 2, 0,
                           0x200000, 0x1000, 0x100000, 0x1000, 0, 16)
    optional += b"".join(struct.pack("<II", *d) for d in directories)
    head = bytes(dos) + coff + optional + b"".join(headers)
    image = bytearray(head + b"\0" * (HEADERS_SIZE - len(head)) + raw + trailing)
    image += b"\0" * (file_end - len(image)) + cert_blob
    field = 0x80 + 24 + 64
    struct.pack_into("<I", image, field, checksum(image, field))
    return bytes(image)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "packer")
    os.makedirs(folder, exist_ok=True)
    symbols = bytes(range(36)) + struct.pack("<I", 4)  # two 18-byte symbols, an empty string table
    files = {
        "stub_reloc_after.exe": executable(True, trailing=symbols),
        "stub_rsrc_last.exe": executable(False),
        "stub_signed.exe": executable(False, certificate=b"not a real signature" * 3),
        "icon_two_sizes.ico": icon_file([(48, 48, 32, bitmap_image(48, (0, 160, 0, 255))),
                                         (64, 64, 32, png_image(64, (0, 0, 200, 255)))]),
    }
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
