# What Explorer and the loader read from the shipped velmorin.exe and from the installer without
# running them, and what the zip holds: read back with pefile, as the Windows shell would.

import os
import struct
import unittest

import pefile

import winelib

PRODUCT = {"ProductName": "Velmorin", "FileVersion": "3.04.0006", "ProductVersion": "3.04.0006"}
# ole32 for SAPI, which speaks the hour.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "winmm.dll", "comctl32.dll",
               "msvcrt.dll", "advapi32.dll", "shell32.dll", "ole32.dll"}


def resources(pe, kind):
    # [(language, bytes)] of every resource of one type.
    return [(language.id, pe.get_data(language.data.struct.OffsetToData,
                                      language.data.struct.Size))
            for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries if entry.id == kind
            for name in entry.directory.entries for language in name.directory.entries]


def shell_view(pe):
    # What a file's Properties show: the version block's languages (resource and string tables, with
    # their code pages), its strings and fixed numbers; and the icon images.
    tables = [t for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
              for t in info.StringTable]
    strings = {k.decode(): v.decode() for k, v in tables[0].entries.items()}
    languages = [language for language, _ in resources(pe, 16)] + [t.LangID for t in tables]
    fixed = pe.VS_FIXEDFILEINFO[0]
    return (languages, strings, (fixed.FileVersionMS, fixed.FileVersionLS),
            sorted(data for _, data in resources(pe, 3)))


class ShippedFilesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with winelib.shipped_zip() as archive:
            cls.names = {n for n in archive.namelist() if not n.endswith("/")}
            cls.pe = pefile.PE(data=archive.read("Velmorin/velmorin.exe"))

    def test_zip_holds_its_data_and_a_static_gui_program_needing_only_system_dlls(self):
        self.assertEqual(self.names, {"Velmorin/" + name for name in winelib.SHIPPED})
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem,
                         pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])
        self.assertEqual(self.pe.FILE_HEADER.Machine,
                         pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"])
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertLessEqual(imported, SYSTEM_DLLS)
        manifest = resources(self.pe, 24)[0][1].decode()
        self.assertIn('name="Microsoft.Windows.Common-Controls" version="6.0.0.0"', manifest)
        self.assertIn("PerMonitorV2", manifest)
        self.assertIn("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", manifest)  # Windows 10 and 11

    def test_japanese_version_block_and_icon_shared_by_the_installer(self):
        languages, strings, fixed, icons = shell_view(self.pe)
        self.assertEqual(languages, [0x0411, b"041104b0"])
        self.assertEqual({k: strings.get(k) for k in PRODUCT}, PRODUCT)
        self.assertTrue(strings.get("FileDescription"))
        self.assertEqual(fixed, (3 << 16 | 4, 6))
        # The installer shows the program's product, version and icon, in Japanese (its own
        # description, and NSIS's code page).
        languages, strings, *rest = shell_view(pefile.PE(os.environ["VELMORIN_SETUP"]))
        self.assertEqual([languages[0], languages[1][:4]], [0x0411, b"0411"])
        self.assertEqual({k: strings.get(k) for k in PRODUCT}, PRODUCT)
        self.assertEqual(rest, [fixed, icons])

        # The shell's sizes, and the 32x32 16-colour image the windows use.
        (_, group), = resources(self.pe, 14)  # RT_GROUP_ICON
        entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
                   for i in range(struct.unpack_from("<H", group, 4)[0])]
        self.assertEqual(sorted({width or 256 for width, *_ in entries}), [16, 32, 48, 256])
        self.assertIn((32, 32, 16, 4), [(w, h, colours, bits) for w, h, colours, _, _, bits, *_
                                        in entries])

