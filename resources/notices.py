#!/usr/bin/python3
"""Writes THIRD-PARTY-NOTICES.txt for the runtime code linked into the exe.

    notices.py LINK_MAP COPYRIGHT_FILE OUTPUT

The linker's map says which runtime archives and objects went in; each is
matched to a notice below. The mingw-w64 notice (its copyright line, the
ZPL 2.1 conditions and disclaimer) is taken from COPYRIGHT_FILE, the
toolchain's own Debian copyright file. A runtime file no notice covers is
named on stderr and left out, and the file check (executable_test.py) fails
until a notice for it is added here.
"""
import os
import re
import sys

GCC_RUNTIME = {'crtbegin.o', 'crtend.o', 'libgcc.a', 'libgcc_eh.a', 'libstdc++.a', 'libsupc++.a'}
GCC_EXCEPTION = ('libgcc and libstdc++ are linked under the GNU General Public License version 3\n'
                 'with the GCC Runtime Library Exception, version 3.1.')


def runtime_files(link_map):
    """The toolchain's archives and objects the map shows linked in, as normalised paths.

    Reads GNU ld's map: "archive.a(member.o)" wherever a member was taken,
    and objects by their path under /usr. (lld's map names a member without
    its archive, so the build runs this on GNU ld's alone.)"""
    found = {os.path.normpath(m) for m in re.findall(r'(/usr/[^\s()]+\.a)\([^)]+\)', link_map)}
    found |= {os.path.normpath(m) for m in re.findall(r'(/usr/[^\s()]+\.o)(?![^\s(]*\))', link_map)}
    return sorted(found)


def is_mingw_w64(path):
    """The mingw-w64 runtime: start-up objects, libmingw32/ex, the msvcrt and DLL
    import libraries, all in the target's own lib folder; winpthreads (MIT) is not."""
    return bool(re.match(r'/usr/[^/]+-w64-mingw32/lib/', path)) and 'winpthread' not in path


def mingw_w64_notice(copyright_text):
    """The copyright line and licence text of the "Files: *" paragraph of a
    Debian copyright file (machine-readable format 1.0)."""
    for paragraph in re.split(r'\n\s*\n', copyright_text):
        if re.match(r'Files:\s*\*\s*$', paragraph, re.M):
            holder = re.search(r'^Copyright:\s*(.+)$', paragraph, re.M)
            licence = re.search(r'^License:\s*(\S+)\n((?: .*\n?)+)', paragraph, re.M)
            if holder and licence:
                body = [line[1:] if line[1:] != '.' else '' for line in licence.group(2).rstrip('\n').split('\n')]
                return f'Copyright (c) {holder.group(1)}\nLicense: {licence.group(1)}\n\n' + '\n'.join(body)
    raise ValueError('no "Files: *" paragraph with a Copyright line and a License text')


def notices(link_map, copyright_text):
    """(the notices file's text, the runtime files that no notice covers)."""
    files = runtime_files(link_map)
    mingw = [f for f in files if is_mingw_w64(f)]
    gcc = [f for f in files if os.path.basename(f) in GCC_RUNTIME]
    uncovered = [f for f in files if f not in mingw and f not in gcc]
    rule = '-' * 72
    text = ('Third-party notices for "Kestlo desktop.exe"\n\n'
            'The program is linked statically with parts of the runtime libraries below.\n')
    if mingw:
        text += (f'\n{rule}\nThe mingw-w64 runtime\nLinked from: '
                 + ', '.join(os.path.basename(f) for f in mingw) + '\n\n' + mingw_w64_notice(copyright_text) + '\n')
    text += (f'\n{rule}\nThe GCC runtime libraries\nLinked from: '
             + (', '.join(os.path.basename(f) for f in gcc) or 'none today') + '\n\n' + GCC_EXCEPTION + '\n')
    return text, uncovered


def main():
    if len(sys.argv) != 4:
        sys.exit('usage: notices.py LINK_MAP COPYRIGHT_FILE OUTPUT')
    map_file, copyright_file, output = sys.argv[1:]
    try:
        with open(map_file, errors='replace') as f:
            link_map = f.read()
        with open(copyright_file) as f:
            text, uncovered = notices(link_map, f.read())
    except (OSError, ValueError) as error:
        sys.exit(f'notices.py: {error} (the mingw-w64 copyright file is in Debian\'s mingw-w64-common)')
    for path in uncovered:
        print(f'notices.py: warning: no notice covers {path}, which the exe links', file=sys.stderr)
    with open(output, 'w') as f:
        f.write(text)


if __name__ == '__main__':
    main()
