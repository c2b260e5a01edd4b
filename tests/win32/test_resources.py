"""What Explorer and the loader read from velmorin.exe without running it, and what the zip
holds: read back with pefile, as the Windows shell would read them."""

import os
import struct
import unittest
import zipfile

import pefile

import winelib

ZIP = winelib.ZIP
VERSION = "3.04.0006"
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "winmm.dll", "comctl32.dll",
               "msvcrt.dll", "advapi32.dll", "shell32.dll"}


def resources(pe, kind):
    """{(name, language): bytes} of one resource type."""
    found = {}
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != kind:
            continue
        for name in entry.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                found[(name.id, language.id)] = pe.get_data(data.OffsetToData, data.Size)
    return found


class ExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # The executable as shipped in the zip.
        winelib.check_zip_fresh()
        with zipfile.ZipFile(ZIP) as archive:
            cls.pe = pefile.PE(data=archive.read("Velmorin/velmorin.exe"))

    def test_a_static_gui_program_that_needs_only_system_dlls(self):
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem,
                         pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])
        self.assertEqual(self.pe.FILE_HEADER.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"])
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertLessEqual(imported, SYSTEM_DLLS)

    def test_japanese_version_block(self):
        tables = [table for info in self.pe.FileInfo[0] if info.Key == b"StringFileInfo"
                  for table in info.StringTable]
        self.assertEqual([t.LangID for t in tables], [b"041104b0"])
        strings = {k.decode(): v.decode() for k, v in tables[0].entries.items()}
        self.assertEqual(strings["FileVersion"], VERSION)
        self.assertEqual(strings["ProductVersion"], VERSION)
        self.assertEqual(strings["ProductName"], "Velmorin")
        self.assertTrue(strings["FileDescription"])
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (3 << 16 | 4, 0 << 16 | 6))
        self.assertEqual([lang for _, lang in resources(self.pe, 16)], [0x0411])

    def test_icon_has_the_16_colour_32_pixel_image_and_the_shell_sizes(self):
        groups = resources(self.pe, 14)  # RT_GROUP_ICON
        self.assertEqual(len(groups), 1)
        group = next(iter(groups.values()))
        _, _, count = struct.unpack_from("<HHH", group)
        entries = []
        for i in range(count):
            width, height, colours, _, _, bits, _, _ = struct.unpack_from("<BBBBHHIH", group,
                                                                          6 + 14 * i)
            entries.append((width or 256, height or 256, colours, bits))
        self.assertEqual(sorted({w for w, _, _, _ in entries}), [16, 32, 48, 256])
        self.assertIn((32, 32, 16, 4), entries)

    def test_manifest_asks_for_common_controls_6_and_per_monitor_dpi(self):
        manifest = next(iter(resources(self.pe, 24).values())).decode()
        self.assertIn('name="Microsoft.Windows.Common-Controls" version="6.0.0.0"', manifest)
        self.assertIn("PerMonitorV2", manifest)
        self.assertIn("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", manifest)  # Windows 10 and 11


class ZipTest(unittest.TestCase):
    def test_one_folder_with_the_program_and_its_data(self):
        with zipfile.ZipFile(ZIP) as archive:
            names = {n for n in archive.namelist() if not n.endswith("/")}
        expected = {f"Velmorin/{h:02d}.WAV" for h in range(12)}
        expected |= {"Velmorin/velmorin.exe", "Velmorin/ABOUT.MID"}
        self.assertEqual(names, expected)


if __name__ == "__main__":
    unittest.main()
