#!/usr/bin/python3
"""Checks the format of a built Tinselpair.exe.

Usage: /usr/bin/python3 winui/tests/check_executable.py PATH/TO/Tinselpair.exe

Prints one line per failed check and a final verdict line, and exits 1 if any check
failed or the file cannot be read as a PE file. Needs Debian's python3-pefile. The
maker's name and web address are read from CMakeLists.txt, the one place they are
set; the version numbers are this release's and stated here.
"""

import re
import struct
import sys
from pathlib import Path

import pefile

CMAKE_LISTS = Path(__file__).resolve().parents[2] / "CMakeLists.txt"

VERSION = (2, 1, 0, 67)
ENGLISH_US = 0x0409
CODE_PAGE = 1252

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
VFT_APP = 1
RESOURCE_TYPES = {RT_ICON: "RT_ICON", RT_GROUP_ICON: "RT_GROUP_ICON", RT_VERSION: "RT_VERSION"}
ICON_SIZES = (32, 48)

# DLLs that every Windows installation has; a static build must need nothing else.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "comdlg32.dll", "msvcrt.dll", "advapi32.dll"}
REQUIRED_IMPORTS = {
    "MessageBoxA",
    "SetWindowsHookExA",
    "CallNextHookEx",
    "UnhookWindowsHookEx",
    "GetDlgItem",
    "SetWindowTextA",
    "GetOpenFileNameA",
    "GetSaveFileNameA",
    "GetCurrentThreadId",
}


def cmake_setting(name):
    """The non-empty value that CMakeLists.txt gives NAME with set(NAME "value")."""
    found = re.search(rf'set\({name} "([^"]+)"\)', CMAKE_LISTS.read_text())
    if found is None:
        sys.exit(f"no non-empty set({name} ...) in {CMAKE_LISTS}")
    return found.group(1)


def check_header(pe):
    if pe.OPTIONAL_HEADER.Magic != pefile.OPTIONAL_HEADER_MAGIC_PE:
        yield f"not PE32: optional header magic {pe.OPTIONAL_HEADER.Magic:#x}"
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        yield f"machine is {pe.FILE_HEADER.Machine:#x}, not i386"
    if pe.OPTIONAL_HEADER.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]:
        yield f"subsystem is {pe.OPTIONAL_HEADER.Subsystem}, not Windows GUI"
    if not pe.FILE_HEADER.IMAGE_FILE_LARGE_ADDRESS_AWARE:
        yield "IMAGE_FILE_LARGE_ADDRESS_AWARE is not set"


def check_imports(pe):
    names = set()
    for dll in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll_name = dll.dll.decode()
        if dll_name.lower() not in SYSTEM_DLLS:
            yield f"imports from {dll_name}, which Windows does not ship"
        names.update(i.name.decode() for i in dll.imports if i.name)
    for name in sorted(REQUIRED_IMPORTS - names):
        yield f"does not import {name}"


def label(entry):
    return entry.id if entry.name is None else str(entry.name)


def resources(pe):
    """Every resource as (type, name, language, data); ids are ints, names strings."""
    found = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in root.entries if root else []:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                entry = language.data.struct
                data = pe.get_data(entry.OffsetToData, entry.Size)
                found.append((label(kind), label(name), language.id, data))
    return found


def check_resource_list(found):
    for kind, name, language, _ in found:
        if language != ENGLISH_US:
            yield f"resource {kind}/{name} is in language {language:#06x}, not {ENGLISH_US:#06x}"
    for kind in sorted({kind for kind, _, _, _ in found} - RESOURCE_TYPES.keys(), key=str):
        extra = " (a manifest)" if kind == RT_MANIFEST else ""
        yield f"unexpected resource type {kind}{extra}"
    for kind in sorted(RESOURCE_TYPES.keys() - {kind for kind, _, _, _ in found}):
        yield f"no {RESOURCE_TYPES[kind]} resource"


def check_icon(found):
    groups = {name: data for kind, name, _, data in found if kind == RT_GROUP_ICON}
    if list(groups) != ["A"]:
        yield f"icon groups are {sorted(groups, key=str)}, not just 'A'"
    group = groups.get("A")
    if group is None:
        return
    reserved, kind, count = struct.unpack_from("<HHH", group)
    if (reserved, kind) != (0, 1) or len(group) != 6 + 14 * count:
        yield "icon group 'A' has a malformed header"
        return
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    sizes = sorted((width, height) for width, height, *_ in entries)
    if sizes != [(size, size) for size in ICON_SIZES]:
        yield f"icon group 'A' holds sizes {sizes}, not 32x32 and 48x48"
    images = {name: data for kind, name, _, data in found if kind == RT_ICON}
    for width, height, colours, _, planes, bits, length, icon_id in entries:
        where = f"icon {width}x{height}"
        if (colours, planes, bits) != (0, 1, 8):
            yield f"{where}: group entry says {colours} colours, {planes} planes, {bits} bits"
        image = images.get(icon_id)
        if image is None:
            yield f"{where}: no RT_ICON {icon_id}"
        elif len(image) != length:
            yield f"{where}: group entry says {length} bytes, RT_ICON {icon_id} has {len(image)}"
        else:
            yield from check_icon_image(where, image, width, height)


def check_icon_image(where, image, width, height):
    """An opaque 256-colour bitmap: header, palette, XOR bitmap, all-zero AND mask."""
    if image.startswith(b"\x89PNG"):
        yield f"{where}: stored as PNG, not as a bitmap"
        return
    if len(image) < 40:
        yield f"{where}: image too short for a BITMAPINFOHEADER"
        return
    size, w, h, planes, bits, compression = struct.unpack_from("<IiiHHI", image)
    (used,) = struct.unpack_from("<I", image, 32)  # biClrUsed
    if (size, w, h, planes, compression) != (40, width, 2 * height, 1, 0):
        yield f"{where}: unexpected BITMAPINFOHEADER {(size, w, h, planes, compression)}"
    if bits != 8 or used not in (0, 256):
        yield f"{where}: image has {bits} bits per pixel and {used} palette entries, not 8 and 256"
        return
    xor_row, and_row = (width + 3) // 4 * 4, (width + 31) // 32 * 4
    mask_length = height * and_row
    if len(image) != size + 256 * 4 + height * xor_row + mask_length:
        yield f"{where}: image is {len(image)} bytes, wrong for an 8-bit {width}x{height} bitmap"
    elif any(image[-mask_length:]):
        yield f"{where}: AND mask is not all zero, so the icon is not opaque"


def check_version(pe, maker, web_address):
    if not getattr(pe, "VS_FIXEDFILEINFO", None):
        yield "no version record"
        return
    fixed = pe.VS_FIXEDFILEINFO[0]
    for field in ("FileVersion", "ProductVersion"):
        high, low = getattr(fixed, field + "MS"), getattr(fixed, field + "LS")
        found = (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
        if found != VERSION:
            yield f"fixed {field} is {found}, not {VERSION}"
    zero = ("FileFlagsMask", "FileFlags", "FileOS", "FileSubtype", "FileDateMS", "FileDateLS")
    for field, value in [("FileType", VFT_APP), *((field, 0) for field in zero)]:
        if getattr(fixed, field) != value:
            yield f"fixed {field} is {getattr(fixed, field):#x}, not {value:#x}"

    tables, translations = [], []
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            tables += getattr(block, "StringTable", [])
            translations += [var.entry for var in getattr(block, "Var", [])]
    if [table.LangID for table in tables] != [b"040904E4"]:
        yield f"string tables are {[table.LangID for table in tables]}, not just '040904E4'"
    else:
        yield from check_strings(tables[0].entries, maker, web_address)
    expected_translation = {b"Translation": f"{ENGLISH_US:#06x} {CODE_PAGE:#06x}"}
    if translations != [expected_translation]:
        yield f"translation entries are {translations}, not 0x0409/1252"


def check_strings(entries, maker, web_address):
    strings = {key.decode(): value.decode() for key, value in entries.items()}
    expected = {
        "CompanyName": maker,
        "FileDescription": web_address,
        "FileVersion": "",
        "InternalName": "",
        "LegalCopyright": "",
        "LegalTrademarks": "",
        "OriginalFilename": "",
        "ProductName": "Tinselpair",
        "ProductVersion": f"{VERSION[0]}.{VERSION[1]}",
    }
    for key in sorted(strings.keys() - expected.keys()):
        yield f"unexpected version string {key}"
    for key, value in sorted(expected.items()):
        if key not in strings:
            yield f"no version string {key}"
        elif strings[key] != value:
            yield f"version string {key} is {strings[key]!r}, not {value!r}"
    if not re.fullmatch(r"([a-z0-9-]+\.)*example\.org", web_address):
        yield f"the web address {web_address!r} is not under example.org"


def main():
    if len(sys.argv) != 2:
        sys.exit(f"usage: {sys.argv[0]} PATH/TO/Tinselpair.exe")
    path = sys.argv[1]
    maker, web_address = cmake_setting("TINSELPAIR_MAKER"), cmake_setting("TINSELPAIR_WEB_ADDRESS")
    try:
        pe = pefile.PE(path)
    except (OSError, pefile.PEFormatError) as error:
        print(f"FAIL {path}: {error}")
        return 1
    found = resources(pe)
    failures = [
        *check_header(pe),
        *check_imports(pe),
        *check_resource_list(found),
        *check_icon(found),
        *check_version(pe, maker, web_address),
    ]
    for failure in failures:
        print(failure)
    print(f"FAIL {path}: {len(failures)} problem(s)" if failures else f"PASS {path}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
