#!/usr/bin/python3
"""Checks the built "Kestlo desktop.exe" from the file itself, with pefile.

    executable_test.py EXE FACTS

FACTS is the kestlo-facts.json that the build wrote beside the file: the
login page, the vendor strings, the version, the size budget (bytes without
an Authenticode signature) and the linker's map, to check which library
members went in.

Run by ctest in the windows preset. Needs Debian's python3-pefile, which
installs for /usr/bin/python3.
"""
import hashlib
import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import notices

try:
    import pefile
except ImportError:
    sys.exit("pefile is missing: install Debian's python3-pefile and run this with /usr/bin/python3")

HERE = os.path.dirname(os.path.abspath(__file__))
EXE, FACTS_FILE = sys.argv[1:3]
del sys.argv[1:3]
FACTS = json.loads(Path(FACTS_FILE).read_text())
COMPANY, COPYRIGHT, LOGIN_URL = FACTS['company_name'], FACTS['copyright'], FACTS['login_page_url']
SIZE_BUDGET = FACTS['size_budget']
LINK_MAP = FACTS['link_map'] if os.path.exists(FACTS['link_map']) else None
VERSION = [int(part) for part in FACTS['version'].split('.')]
OLDEST_WINDOWS = tuple(int(part) for part in FACTS['oldest_windows'].split('.'))
VERSION_TEXT = ', '.join(map(str, VERSION)).encode()  # "1, 0, 0, 1"

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
CHINESE_PRC, ENGLISH_US = 0x0804, 0x0409


def resources(pe):
    """{(type, id): [(language, bytes)]} for every resource leaf."""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for entry in kind.directory.entries:
            for leaf in entry.directory.entries:
                data = pe.get_data(leaf.data.struct.OffsetToData, leaf.data.struct.Size)
                found.setdefault((kind.id, entry.id), []).append((leaf.id, data))
    return found


class ExecutableTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)
        cls.resources = resources(cls.pe)
        cls.raw = Path(EXE).read_bytes()

    def test_header(self):
        header = self.pe.FILE_HEADER
        self.assertEqual(header.Machine, 0x14C, 'i386')
        self.assertEqual(header.TimeDateStamp, 0, 'no link time, for reproducible builds')
        optional = self.pe.OPTIONAL_HEADER
        self.assertEqual(optional.Magic, 0x10B, 'PE32')
        self.assertEqual(optional.Subsystem, 2, 'Windows GUI')
        self.assertEqual((optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion),
                         OLDEST_WINDOWS, 'OS version: the oldest Windows')
        self.assertEqual((optional.MajorSubsystemVersion, optional.MinorSubsystemVersion), OLDEST_WINDOWS)
        # NO_SEH: no structured exception handler in the image may ever be called.
        for flag in ('IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE', 'IMAGE_DLLCHARACTERISTICS_NX_COMPAT',
                     'IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE', 'IMAGE_DLLCHARACTERISTICS_NO_SEH'):
            self.assertTrue(getattr(optional, flag), flag)
        # DYNAMIC_BASE is only honoured with relocations to apply: ASLR needs .reloc.
        self.assertIn(b'.reloc', [section.Name.rstrip(b'\0') for section in self.pe.sections])
        self.assertGreater(optional.DATA_DIRECTORY[5].Size, 0, 'base relocation directory')

    def test_imports_only_system_dlls(self):
        dlls = sorted(entry.dll.decode().upper() for entry in self.pe.DIRECTORY_ENTRY_IMPORT)
        self.assertEqual(dlls, ['ADVAPI32.DLL', 'KERNEL32.DLL', 'MSVCRT.DLL', 'SHELL32.DLL', 'USER32.DLL'])
        imported = {imp.name.decode() for entry in self.pe.DIRECTORY_ENTRY_IMPORT for imp in entry.imports if imp.name}
        for function in ('RegOpenKeyExA', 'RegQueryInfoKeyA', 'RegEnumKeyExA', 'RegEnumValueA', 'RegCloseKey',
                         'ShellExecuteA', 'MessageBoxA', 'OutputDebugStringA',
                         'OpenProcessToken', 'GetTokenInformation', 'ConvertSidToStringSidA', 'LocalFree',
                         'GetProcAddress', 'SetDllDirectoryW', 'GetSystemDirectoryW', 'LoadLibraryExW'):
            self.assertIn(function, imported)
        # Looked up at run time: Windows 7 without KB2533623, Vista and XP lack
        # the first, XP SP1 the second, and a static import would stop the
        # launcher from starting there.
        for late in ('SetDefaultDllDirectories', 'IsWow64Process'):
            self.assertNotIn(late, imported)

    def unsigned_size(self):
        """The file's size without an Authenticode signature, which sits at its end."""
        security = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[4]
        return security.VirtualAddress if security.Size else len(self.raw)

    def test_stripped_and_within_the_size_budget(self):
        self.assertEqual(self.pe.FILE_HEADER.PointerToSymbolTable, 0, 'stripped')
        self.assertFalse(any(s.Name.rstrip(b'\0').startswith(b'.debug') for s in self.pe.sections))
        self.assertLessEqual(self.unsigned_size(), SIZE_BUDGET,
                             f'the file grew past KESTLO_SIZE_BUDGET ({SIZE_BUDGET} bytes)')

    def test_no_exception_runtime(self):
        # libstdc++'s verbose terminate handler, its demangler, and the
        # unwinder's exception classes: none has a caller in the launcher.
        for text in (b'terminate called', b'(anonymous namespace)', b'decltype (', b'__forced_unwind',
                     b'St9exception'):
            self.assertFalse(text in self.raw, f'{text!r} is in the file')
        if not LINK_MAP:
            return
        members = set(re.findall(r'lib(?:stdc\+\+|supc\+\+|gcc|gcc_eh)\.a\(([^)]+)\)',
                                 Path(LINK_MAP).read_text(errors='replace')))
        for member in members:
            self.assertNotRegex(member, r'unwind|demangle|vterminate|eh_|functexcept|cxa',
                                'linked from the C++ runtime: ' + member)

    def test_notices_follow_each_linked_member(self):
        if not (LINK_MAP and FACTS['notices']):
            self.skipTest('no notices: the GNU build writes them')
        copyright_text = Path(FACTS['mingw_copyright']).read_text()
        link_map = Path(LINK_MAP).read_text(errors='replace')
        locate = lambda archive, member: notices.source_of(archive, member, FACTS['objdump'])
        expected, uncovered = notices.notices(link_map, copyright_text, locate)
        self.assertEqual(uncovered, [], 'linked, and nothing classifies it: see resources/notices.py')
        self.assertEqual(Path(FACTS['notices']).read_text(), expected)
        for text in ('2. Redistributions in binary form must reproduce the accompanying',
                     'THIS SOFTWARE IS PROVIDED BY THE COPYRIGHT HOLDERS', 'Copyright (c) 2009',
                     'GNU General Public License version 3\nwith the GCC Runtime Library Exception'):
            self.assertIn(text, expected)
        # Planted: mingw_pformat.o, whose source is under Lucent's licence (and
        # Keith Marshall's), and a member no source or list names.
        mingwex = re.search(r'(/usr/\S+?/libmingwex\.a)\(', link_map).group(1)
        planted = f'{mingwex}(lib32_libmingwex_a-mingw_pformat.o)\n{mingwex}(lib32_libmingwex_a-planted.o)\n'
        text, uncovered = notices.notices(planted, copyright_text, locate)
        self.assertIn('LUCENT DISCLAIMS ALL WARRANTIES', text)
        self.assertIn('You may redistribute and/or modify it as you\nsee fit', text)
        self.assertEqual(uncovered, ['libmingwex.a(lib32_libmingwex_a-planted.o)'])

    def test_no_build_paths(self):
        self.assertNotIn(os.path.dirname(HERE).encode(), self.raw)
        self.assertNotIn(b'/usr/', self.raw)

    def test_carries_the_login_page_and_message(self):
        self.assertIn(LOGIN_URL.encode() + b'\0', self.raw)
        self.assertIn(b'\xCC\xE1\xCA\xBE\0', self.raw)  # the caption
        self.assertIn(b'\xC4\xFA\xBB\xB9', self.raw)      # the message's first character

    def test_only_icon_version_and_manifest(self):
        self.assertEqual(sorted(self.resources), [(RT_ICON, 1), (RT_GROUP_ICON, 101), (RT_VERSION, 1),
                                                  (RT_MANIFEST, 1)])

    def test_icon(self):
        [(language, dib)] = self.resources[(RT_ICON, 1)]
        self.assertEqual(language, CHINESE_PRC)
        self.assertEqual(len(dib), 59560)
        size, width, height, planes, bits, compression = struct.unpack_from('<IiiHHI', dib)
        self.assertEqual((size, width, height, planes, bits, compression), (40, 120, 240, 1, 32, 0))
        colour, mask = dib[40:40 + 57600], dib[40 + 57600:]
        self.assertEqual(len(mask), 1920)
        # The mask marks exactly the fully transparent pixels (both bottom-up).
        for row in range(120):
            for column in range(120):
                transparent = colour[(row * 120 + column) * 4 + 3] == 0
                masked = bool(mask[row * 16 + column // 8] & (0x80 >> (column % 8)))
                self.assertEqual(masked, transparent, f'pixel {column},{row}')
        alphas = {colour[i + 3] for i in range(0, len(colour), 4)}
        self.assertIn(0, alphas)
        self.assertIn(255, alphas)
        self.assertGreater(len(alphas), 20, 'edges are alpha-blended')

        [(language, group)] = self.resources[(RT_GROUP_ICON, 101)]
        self.assertEqual(language, CHINESE_PRC)
        reserved, kind, count = struct.unpack_from('<HHH', group)
        self.assertEqual((reserved, kind, count, len(group)), (0, 1, 1, 6 + 14))
        entry = struct.unpack_from('<BBBBHHIH', group, 6)
        self.assertEqual(entry, (120, 120, 0, 0, 1, 32, 59560, 1))

    def test_icon_file_is_what_the_generator_draws(self):
        with tempfile.TemporaryDirectory() as folder:
            drawn = os.path.join(folder, 'kestlo.ico')
            subprocess.run([sys.executable, os.path.join(HERE, 'make_icon.py'), drawn], check=True)
            self.assertEqual(hashlib.sha256(Path(drawn).read_bytes()).hexdigest(),
                             hashlib.sha256(Path(HERE, 'kestlo.ico').read_bytes()).hexdigest(),
                             'run resources/make_icon.py and commit kestlo.ico')
        [(_, dib)] = self.resources[(RT_ICON, 1)]
        self.assertEqual(Path(HERE, 'kestlo.ico').read_bytes()[22:], dib)

    def test_version(self):
        [(language, _)] = self.resources[(RT_VERSION, 1)]
        self.assertEqual(language, CHINESE_PRC)
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        packed = (VERSION[0] << 16 | VERSION[1], VERSION[2] << 16 | VERSION[3])
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), packed)
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), packed)
        self.assertEqual((fixed.FileFlagsMask, fixed.FileFlags, fixed.FileOS, fixed.FileType, fixed.FileSubtype),
                         (0x17, 0, 4, 1, 0))
        self.assertEqual((fixed.FileDateMS, fixed.FileDateLS), (0, 0))

        [string_info, var_info] = self.pe.FileInfo[0]
        self.assertEqual(string_info.Key, b'StringFileInfo')
        [table] = string_info.StringTable
        self.assertEqual(table.LangID, b'080404b0')
        self.assertEqual(list(table.entries.items()), [
            (b'CompanyName', COMPANY.encode()),
            (b'FileVersion', VERSION_TEXT),
            (b'InternalName', b'Kestlo desktop'),
            (b'LegalCopyright', COPYRIGHT.encode()),
            (b'OriginalFilename', b'Kestlo desktop.exe'),
            (b'ProductName', b'Kestlo desktop.exe'),
            (b'ProductVersion', VERSION_TEXT),
        ])
        self.assertEqual(var_info.Key, b'VarFileInfo')
        [var] = var_info.Var
        self.assertEqual(var.entry, {b'Translation': '0x0804 0x04b0'})

    def test_manifest(self):
        [(language, manifest)] = self.resources[(RT_MANIFEST, 1)]
        self.assertEqual(language, ENGLISH_US)
        text = manifest.decode('utf-8')
        self.assertIn('<requestedExecutionLevel level="asInvoker" uiAccess="false"/>', text)
        for absent in ('dependency', 'compatibility', 'dpiAware', 'requireAdministrator', 'highestAvailable'):
            self.assertNotIn(absent, text)
        self.assertEqual(text.count('<requestedExecutionLevel'), 1)
        # Windows XP reads trustInfo only in its own namespace, declared once:
        # two declarations on one element can restart XP SP2 (KB921337).
        self.assertIn('<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">', text)
        self.assertEqual(text.count('xmlns'), 2)


if __name__ == '__main__':
    unittest.main(verbosity=2)
