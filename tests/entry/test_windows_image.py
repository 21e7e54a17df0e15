#!/usr/bin/env python3
"""The Windows executable's image: GUI subsystem, icon group, version resource, no manifest; its
console companion beside it."""
import os
import re
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import program  # noqa: E402

PROGRAM = None

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
GUI_SUBSYSTEM = 2
CONSOLE_SUBSYSTEM = 3


class Image:
    """Just enough of a PE32+ reader for the optional header and the resource tree."""

    def __init__(self, path):
        with open(path, "rb") as image:
            self.data = image.read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        assert self.data[pe:pe + 4] == b"PE\0\0"
        sections, optional_size = struct.unpack_from("<H12xH", self.data, pe + 6)
        optional = pe + 24
        assert struct.unpack_from("<H", self.data, optional)[0] == 0x20B
        self.subsystem = struct.unpack_from("<H", self.data, optional + 68)[0]
        self.resource_rva = struct.unpack_from("<I", self.data, optional + 112 + 2 * 8)[0]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<8xIIII", self.data, table + 40 * i)
                         for i in range(sections)]
        self.resources = {}
        if self.resource_rva:
            self.walk(self.offset(self.resource_rva), self.offset(self.resource_rva), ())

    def offset(self, rva):
        for size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError(f"address {rva:#x} lies in no section")

    def walk(self, root, directory, path):
        named, numbered = struct.unpack_from("<12xHH", self.data, directory)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
            key = path + (name if not name & 0x80000000 else f"name@{name:#x}",)
            if target & 0x80000000:
                self.walk(root, root + (target & 0x7FFFFFFF), key)
            else:
                rva, size = struct.unpack_from("<II", self.data, root + target)
                self.resources[key] = self.data[self.offset(rva):self.offset(rva) + size]

    def resource(self, kind, ident):
        return [data for key, data in self.resources.items() if key[:2] == (kind, ident)]


class WindowsImageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.image = Image(PROGRAM.path)

    def test_gui_subsystem_without_manifest(self):
        self.assertEqual(self.image.subsystem, GUI_SUBSYSTEM)
        self.assertFalse([key for key in self.image.resources if key[0] == RT_MANIFEST])

    def test_the_companion_beside_it_is_a_console_program_with_the_same_resources(self):
        companion = Image(os.path.join(os.path.dirname(PROGRAM.path), "MuvraLoader.com"))
        self.assertEqual(companion.subsystem, CONSOLE_SUBSYSTEM)
        self.assertFalse([key for key in companion.resources if key[0] == RT_MANIFEST])
        self.assertEqual(companion.resource(RT_VERSION, 1), self.image.resource(RT_VERSION, 1))
        self.assertEqual(companion.resource(RT_GROUP_ICON, 101),
                         self.image.resource(RT_GROUP_ICON, 101))

    def test_icon_group_101_holds_every_size_in_32_bits(self):
        (group,) = self.image.resource(RT_GROUP_ICON, 101)
        _, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual(kind, 1)
        entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
        self.assertEqual(sorted(width or 256 for width, *_ in entries),
                         [16, 24, 32, 48, 64, 128, 256])
        for width, height, _, _, _, bits, size, ident in entries:
            self.assertEqual((width, bits), (height, 32))
            (icon,) = self.image.resource(RT_ICON, ident)
            self.assertEqual(len(icon), size)

    def test_version_resource(self):
        (version,) = self.image.resource(RT_VERSION, 1)
        fixed = version.index(struct.pack("<I", 0xFEEF04BD))
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", version, fixed + 8)
        self.assertEqual((file_ms, file_ls, product_ms, product_ls), (0x20005, 0, 0x20005, 0))
        text = version.decode("utf-16-le", errors="replace")
        for name, value in (("CompanyName", "Muvra"), ("ProductName", "Muvra"),
                            ("FileDescription", "Muvra v2.5"), ("FileVersion", "2.5.0.0"),
                            ("ProductVersion", "2.5.0.0")):
            with self.subTest(name=name):
                self.assertRegex(text, re.escape(name) + "\0+" + re.escape(value) + "\0")


if __name__ == "__main__":
    program.main(sys.modules[__name__])
