"""What printtest.exe promises as a file, for the 32-bit and the 64-bit build, each from GCC and
from Clang, read from the files themselves, with no Wine: the processor, the large address space,
the export, the imports, the manifest and the version information."""
import os
import re
import unittest

import pefile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get('PRINTTEST_BUILD_ROOT', os.path.join(ROOT, 'build'))
# Build folders and their processors, as scripts/test.sh builds them.
BUILDS = (('win', 'x86'), ('clang', 'x86'), ('win64', 'x64'), ('clang64', 'x64'))
MACHINE = {'x86': pefile.MACHINE_TYPE['IMAGE_FILE_MACHINE_I386'], 'x64': pefile.MACHINE_TYPE['IMAGE_FILE_MACHINE_AMD64']}
MAGIC = {'x86': pefile.OPTIONAL_HEADER_MAGIC_PE, 'x64': pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS}
MANIFEST_ARCHITECTURE = {'x86': 'x86', 'x64': 'amd64'}
RT_MANIFEST = pefile.RESOURCE_TYPE['RT_MANIFEST']
# What every Windows has: no compiler runtime, no C++ library, no thread library.
SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'comdlg32.dll', 'winspool.drv', 'advapi32.dll',
               'shell32.dll', 'comctl32.dll', 'msvcrt.dll'}
# Windows Vista, 7, 8, 8.1, and 10 and 11.
SYSTEMS = ('e2011457-1546-43c5-a5fe-008deee3d3f0', '35138b9a-5d96-4fbd-8e2d-a2440225f93a',
           '4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38', '1f676c76-80e1-4239-95bb-83d0f6d0da78',
           '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a')


def project_version():
    with open(os.path.join(ROOT, 'CMakeLists.txt')) as cmake:
        return re.search(r'^project\(printtest VERSION ([0-9.]+)', cmake.read(), re.M).group(1)


def manifest(pe):
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == RT_MANIFEST:
            data = kind.directory.entries[0].directory.entries[0].data.struct
            return pe.get_data(data.OffsetToData, data.Size).decode()
    return ''


class ExecutablesTest(unittest.TestCase):
    def programs(self):
        for folder, arch in BUILDS:
            path = os.path.join(BUILD, folder, 'printtest.exe')
            with self.subTest(build=folder):
                self.assertTrue(os.path.isfile(path), f'{path} is not built')
                yield arch, pefile.PE(path)

    def test_each_is_for_its_processor_and_has_the_large_address_space(self):
        for arch, pe in self.programs():
            self.assertEqual(pe.FILE_HEADER.Machine, MACHINE[arch])
            self.assertEqual(pe.OPTIONAL_HEADER.Magic, MAGIC[arch])
            self.assertEqual(pe.OPTIONAL_HEADER.Subsystem, pefile.SUBSYSTEM_TYPE['IMAGE_SUBSYSTEM_WINDOWS_GUI'])
            if arch == 'x86':
                # Asked for by the 32-bit program only: a 64-bit one has it by default.
                self.assertTrue(pe.FILE_HEADER.Characteristics &
                                pefile.IMAGE_CHARACTERISTICS['IMAGE_FILE_LARGE_ADDRESS_AWARE'])
            # No time stamp, so that a release can be built again byte for byte.
            self.assertEqual(pe.FILE_HEADER.TimeDateStamp, 0)

    def test_each_exports_its_window_procedure_undecorated_and_needs_only_system_dlls(self):
        for _, pe in self.programs():
            self.assertEqual([symbol.name for symbol in pe.DIRECTORY_ENTRY_EXPORT.symbols], [b'MAINWNDPROC'])
            imports = {entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
            self.assertTrue(imports)
            self.assertLessEqual(imports, SYSTEM_DLLS)

    def test_each_manifest_is_for_its_processor_dpi_aware_with_common_controls_6(self):
        for arch, pe in self.programs():
            text = manifest(pe)
            self.assertIn('<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>', text)
            # The program does not follow DPI changes, so it claims no per-monitor awareness.
            self.assertNotIn('permonitor', text.lower())
            self.assertNotIn('dpiAwareness', text)
            for attribute in ('name="Microsoft.Windows.Common-Controls"', 'version="6.0.0.0"',
                              f'processorArchitecture="{MANIFEST_ARCHITECTURE[arch]}"',
                              'publicKeyToken="6595b64144ccf1df"',
                              '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>'):
                self.assertIn(attribute, text)
            for system in SYSTEMS:
                self.assertIn(f'<supportedOS Id="{{{system}}}"/>', text)

    def test_each_version_information_names_the_program_and_no_maker(self):
        major, minor, patch = map(int, project_version().split('.'))
        for _, pe in self.programs():
            fixed = pe.VS_FIXEDFILEINFO[0]
            self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (major << 16 | minor, patch << 16))
            self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (major << 16 | minor, patch << 16))
            self.assertEqual(fixed.FileType, 1)  # VFT_APP
            strings = {}
            for info in pe.FileInfo[0]:
                for table in getattr(info, 'StringTable', ()):
                    strings.update({key.decode(): value.decode() for key, value in table.entries.items()})
            self.assertEqual(strings, {'FileDescription': 'Print Test Program', 'FileVersion': project_version(),
                                       'InternalName': 'printtest', 'OriginalFilename': 'printtest.exe',
                                       'ProductName': 'Print Test', 'ProductVersion': project_version()})


if __name__ == '__main__':
    unittest.main()
