#!/usr/bin/python3
# Reads the resources of the built Windows program back and checks the version block, the icon
# group and what the file needs to run. Usage: check_resources.py Quietglass.exe [more files]
import struct
import sys

import pefile

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
VOS__WINDOWS32, VFT_APP = 0x4, 0x1
FIXED_INFO_SIGNATURE = 0xFEEF04BD

EXPECTED_STRINGS = [
    ("CompanyName", "Pellwin Systems"),
    ("ProductName", "Quietglass"),
    ("InternalName", "Quietglass"),
    ("FileVersion", "1.00.0001"),
    ("ProductVersion", "1.00.0001"),
    ("OriginalFilename", "Quietglass.exe"),
]
# DLLs every Windows has; a statically linked program needs nothing else.
WINDOWS_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll"}


class Checker:
    def __init__(self, name):
        self.name = name
        self.failures = 0

    def check(self, what, actual, expected):
        ok = actual == expected
        self.failures += not ok
        mark = "ok  " if ok else "FAIL"
        detail = f"{actual!r}" if ok else f"{actual!r}, expected {expected!r}"
        print(f"  {mark} {what}: {detail}")
        return ok


def version_nodes(data, offset=0, end=None):
    """Walks a VS_VERSIONINFO tree as it lies in the file: (key, type, value bytes, children)."""
    end = len(data) if end is None else end
    nodes = []
    while offset + 6 <= end:
        length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
        if length == 0:
            break
        node_end = offset + length
        key_end = offset + 6
        while data[key_end : key_end + 2] != b"\0\0":
            key_end += 2
        key = data[offset + 6 : key_end].decode("utf-16-le")
        value_start = (key_end + 2 + 3) & ~3
        # Text values count UTF-16 units; binary ones count bytes.
        value_size = value_length * 2 if value_type == 1 else value_length
        value = data[value_start : value_start + value_size]
        children_start = (value_start + value_size + 3) & ~3
        children = version_nodes(data, children_start, node_end)
        nodes.append((key, value_type, value, children))
        offset = (node_end + 3) & ~3
    return nodes


def text_of(value):
    return value.decode("utf-16-le").rstrip("\0")


def resources_of(pe, type_id):
    """{resource id: [(language, bytes)]} for one resource type."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != type_id:
            continue
        for resource in entry.directory.entries:
            key = resource.id if resource.id is not None else str(resource.name)
            for language in resource.directory.entries:
                rva, size = language.data.struct.OffsetToData, language.data.struct.Size
                found.setdefault(key, []).append((language.id, pe.get_data(rva, size)))
    return found


def check_version(pe, c):
    versions = resources_of(pe, RT_VERSION)
    c.check("version resources", len(versions), 1)
    if len(versions) != 1:
        return
    (languages,) = versions.values()
    c.check("languages of the version resource", len(languages), 1)
    roots = version_nodes(languages[0][1])
    if not c.check("root block", [r[0] for r in roots], ["VS_VERSION_INFO"]):
        return
    _, _, fixed, children = roots[0]
    fields = struct.unpack_from("<13I", fixed)
    names = ["Signature", "StrucVersion", "FileVersionMS", "FileVersionLS", "ProductVersionMS",
             "ProductVersionLS", "FileFlagsMask", "FileFlags", "FileOS", "FileType", "FileSubtype",
             "FileDateMS", "FileDateLS"]
    f = dict(zip(names, fields))
    c.check("fixed part signature", hex(f["Signature"]), hex(FIXED_INFO_SIGNATURE))
    c.check("FILEVERSION", (f["FileVersionMS"] >> 16, f["FileVersionMS"] & 0xFFFF,
                            f["FileVersionLS"] >> 16, f["FileVersionLS"] & 0xFFFF), (1, 0, 0, 1))
    c.check("PRODUCTVERSION", (f["ProductVersionMS"] >> 16, f["ProductVersionMS"] & 0xFFFF,
                               f["ProductVersionLS"] >> 16, f["ProductVersionLS"] & 0xFFFF),
            (1, 0, 0, 1))
    c.check("FILEFLAGS", f["FileFlags"], 0)
    c.check("FILEOS", hex(f["FileOS"]), hex(VOS__WINDOWS32))
    c.check("FILETYPE", f["FileType"], VFT_APP)
    c.check("file date", (f["FileDateMS"], f["FileDateLS"]), (0, 0))

    blocks = [child[0] for child in children]
    c.check("blocks", sorted(blocks), ["StringFileInfo", "VarFileInfo"])
    for key, _, _, grandchildren in children:
        if key == "StringFileInfo":
            c.check("string tables", [t[0] for t in grandchildren], ["040904B0"])
            if len(grandchildren) == 1:
                strings = [(s[0], text_of(s[2])) for s in grandchildren[0][3]]
                c.check("strings, in order", strings, EXPECTED_STRINGS)
        elif key == "VarFileInfo":
            c.check("VarFileInfo entries", [v[0] for v in grandchildren], ["Translation"])
            if len(grandchildren) == 1:
                pairs = grandchildren[0][2]
                translation = [hex(x) for x in struct.unpack(f"<{len(pairs) // 2}H", pairs)]
                c.check("Translation", translation, ["0x409", "0x4b0"])


def check_icons(pe, c):
    groups = resources_of(pe, RT_GROUP_ICON)
    c.check("icon group ids", sorted(groups), [1])
    if list(groups) != [1] or not c.check("languages of icon group 1", len(groups[1]), 1):
        return
    group = groups[1][0][1]
    reserved, kind, count = struct.unpack_from("<HHH", group)
    c.check("icon group header (reserved, type)", (reserved, kind), (0, 1))
    icons = resources_of(pe, RT_ICON)
    images = []
    for i in range(count):
        width, height, colours, _, planes, bits, size, icon_id = struct.unpack_from(
            "<BBBBHHIH", group, 6 + 14 * i)
        images.append((width, height, bits))
        data = icons.get(icon_id, [(0, b"")])[0][1]
        if not c.check(f"image {i}: icon resource {icon_id} present with {size} bytes",
                       len(data), size):
            continue
        header = struct.unpack_from("<IiiHH", data)
        c.check(f"image {i}: bitmap size and depth", (header[1], header[2] // 2, header[4]),
                (width, height, bits))
        c.check(f"image {i}: fully opaque (AND mask all clear)", mask_is_clear(data), True)
    c.check("images (width, height, bits per pixel)", sorted(images),
            [(32, 32, 4), (32, 32, 8)])


def mask_is_clear(data):
    header_size, width, double_height, _, bits = struct.unpack_from("<IiiHH", data)
    height = double_height // 2
    colours = struct.unpack_from("<I", data, 32)[0] or (1 << bits if bits <= 8 else 0)
    xor_stride = ((width * bits + 31) // 32) * 4
    and_stride = ((width + 31) // 32) * 4
    and_start = header_size + 4 * colours + xor_stride * height
    mask = data[and_start : and_start + and_stride * height]
    return len(mask) == and_stride * height and not any(
        mask[row * and_stride + col // 8] & (0x80 >> (col % 8))
        for row in range(height) for col in range(width))


def check_program(pe, c):
    c.check("subsystem", pe.OPTIONAL_HEADER.Subsystem,
            pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    dlls = sorted(entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT)
    c.check("DLLs outside Windows' own", [d for d in dlls if d not in WINDOWS_DLLS], [])
    print(f"       imports: {', '.join(dlls)}")
    # Not DPI-aware: Windows scales the program, so no manifest may claim otherwise.
    manifests = [data for items in resources_of(pe, RT_MANIFEST).values() for _, data in items]
    c.check("manifests declaring DPI awareness",
            sum(b"dpiaware" in m.lower() for m in manifests), 0)


def main(paths):
    failures = 0
    for path in paths:
        print(f"{path}:")
        c = Checker(path)
        pe = pefile.PE(path)
        check_version(pe, c)
        check_icons(pe, c)
        check_program(pe, c)
        failures += c.failures
        print(f"  {c.failures} mismatches")
    return 1 if failures or not paths else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
