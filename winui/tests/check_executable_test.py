#!/usr/bin/python3
"""Shows that check_executable.py passes the built program and catches each fault.

Usage: /usr/bin/python3 winui/tests/check_executable_test.py PATH/TO/Tinselpair.exe

Every case breaks one thing in a copy of the executable, in a temporary directory,
and expects the check to fail with the line that names that thing.
"""

import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import pefile

CHECKER = Path(__file__).with_name("check_executable.py")
sys.path.insert(0, str(CHECKER.parent))
sys.dont_write_bytecode = True  # leave no __pycache__ in the source tree
from check_executable import (  # noqa: E402
    RT_GROUP_ICON, RT_ICON, RT_MANIFEST, RT_VERSION, cmake_setting)

EXECUTABLE = None  # set from the command line


def replace_once(pe, old, new):
    """Overwrites the one occurrence of OLD in the file; a patch that misses is a test bug."""
    data = bytes(pe.__data__)
    assert len(old) == len(new) and data.count(old) == 1, old
    pe.set_bytes_at_offset(data.index(old), new)


def utf16(text):
    return text.encode("utf-16-le")


def resource_type(pe, kind):
    return next(entry for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries if entry.id == kind)


def resource_data(pe, kind, index=0):
    """The data entry of the INDEXth resource of type KIND, in its one language."""
    return resource_type(pe, kind).directory.entries[index].directory.entries[0].data.struct


def set_in_resource(pe, kind, offset, value, index=0):
    """Writes VALUE at OFFSET into a resource; a negative OFFSET counts from its end."""
    data = resource_data(pe, kind, index)
    pe.set_bytes_at_rva(data.OffsetToData + offset % data.Size, value)


def version_language(pe):
    return resource_type(pe, RT_VERSION).directory.entries[0].directory.entries[0].struct


def set_version_string(pe, key, value):
    # pefile writes the version strings back from what it read, over any byte patch.
    pe.FileInfo[0][0].StringTable[0].entries[key.encode()] = value.encode()


MAKER = cmake_setting("TINSELPAIR_MAKER")
TRANSLATION = utf16("Translation") + b"\0\0\0\0"  # the key, its NUL and the padding

# Each case: what is broken, how, and the line the check must print for it.
CASES = [
    ("PE32+", lambda pe: setattr(pe.OPTIONAL_HEADER, "Magic", 0x20B),
     "not PE32: optional header magic 0x20b"),
    ("x64 machine", lambda pe: setattr(pe.FILE_HEADER, "Machine", 0x8664),
     "machine is 0x8664, not i386"),
    ("console subsystem", lambda pe: setattr(pe.OPTIONAL_HEADER, "Subsystem", 3),
     "subsystem is 3, not Windows GUI"),
    ("not large-address-aware",
     lambda pe: setattr(pe.FILE_HEADER, "Characteristics", pe.FILE_HEADER.Characteristics & ~0x20),
     "IMAGE_FILE_LARGE_ADDRESS_AWARE is not set"),
    ("runtime DLL", lambda pe: replace_once(pe, b"COMDLG32.DLL\0", b"LIBGCC_S.DLL\0"),
     "imports from LIBGCC_S.DLL, which Windows does not ship"),
    ("missing import", lambda pe: replace_once(pe, b"GetDlgItem\0", b"GetDlgItex\0"),
     "does not import GetDlgItem"),
    ("manifest", lambda pe: setattr(resource_type(pe, RT_VERSION).struct, "Name", RT_MANIFEST),
     "unexpected resource type 24 (a manifest)"),
    ("German version record", lambda pe: setattr(version_language(pe), "Name", 0x0407),
     "resource 16/1 is in language 0x0407, not 0x0409"),
    ("group entry of 24 bits", lambda pe: set_in_resource(pe, RT_GROUP_ICON, 6 + 6, b"\x18"),
     "icon 32x32: group entry says 0 colours, 1 planes, 24 bits"),
    ("image of 24 bits", lambda pe: set_in_resource(pe, RT_ICON, 14, b"\x18", index=1),
     "icon 48x48: image has 24 bits per pixel and 0 palette entries, not 8 and 256"),
    ("PNG image", lambda pe: set_in_resource(pe, RT_ICON, 0, b"\x89PNG\r\n\x1a\n"),
     "icon 32x32: stored as PNG, not as a bitmap"),
    ("transparent pixel", lambda pe: set_in_resource(pe, RT_ICON, -1, b"\x80"),
     "icon 32x32: AND mask is not all zero, so the icon is not opaque"),
    ("file type", lambda pe: setattr(pe.VS_FIXEDFILEINFO[0], "FileType", 2),
     "fixed FileType is 0x2, not 0x1"),
    ("file version", lambda pe: setattr(pe.VS_FIXEDFILEINFO[0], "FileVersionLS", 68),
     "fixed FileVersion is (2, 1, 0, 68), not (2, 1, 0, 67)"),
    ("string table", lambda pe: replace_once(pe, utf16("040904E4"), utf16("040904B0")),
     "string tables are [b'040904B0'], not just '040904E4'"),
    ("translation", lambda pe: replace_once(pe, TRANSLATION + b"\x09\x04\xe4\x04",
                                            TRANSLATION + b"\x09\x04\xb0\x04"),
     "translation entries are [{b'Translation': '0x0409 0x04b0'}], not 0x0409/1252"),
    ("renamed string",
     lambda pe: replace_once(pe, utf16("LegalTrademarks"), utf16("LegalTrademarkz")),
     "no version string LegalTrademarks"),
    ("maker", lambda pe: set_version_string(pe, "CompanyName", MAKER.swapcase()),
     f"version string CompanyName is {MAKER.swapcase()!r}, not {MAKER!r}"),
]


class CheckExecutableTest(unittest.TestCase):
    def run_checker(self, data):
        with tempfile.TemporaryDirectory() as directory:
            path = Path(directory, "Tinselpair.exe")
            path.write_bytes(data)
            result = subprocess.run([sys.executable, CHECKER, path], capture_output=True,
                                    text=True, timeout=60)
        return result.returncode, result.stdout.splitlines()

    def test_passes_the_built_program(self):
        code, lines = self.run_checker(Path(EXECUTABLE).read_bytes())
        self.assertEqual(code, 0, lines)

    def test_fails_each_broken_copy(self):
        original = Path(EXECUTABLE).read_bytes()
        for name, patch, expected in CASES:
            with self.subTest(name):
                pe = pefile.PE(data=original)
                patch(pe)
                code, lines = self.run_checker(pe.write())
                self.assertEqual(code, 1, lines)
                self.assertIn(expected, lines)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(f"usage: {sys.argv[0]} PATH/TO/Tinselpair.exe [unittest options]")
    EXECUTABLE = sys.argv.pop(1)
    unittest.main()
