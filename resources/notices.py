#!/usr/bin/python3
"""Writes THIRD-PARTY-NOTICES.txt for the runtime code linked into the exe.

    notices.py LINK_MAP COPYRIGHT_FILE OBJDUMP OUTPUT

The linker's map (GNU ld's) says which archive members and objects went in.
Each mingw-w64 member is classified by the source file it was compiled from,
as its debug information names it (OBJDUMP --dwarf=info), against the
"Files:" paragraphs of COPYRIGHT_FILE, the toolchain's own Debian copyright
file: it carries the notice of every paragraph that names it (mingw_pformat.c
is under two). Members without debug information are classified by
IMPORT_STUB. A member nothing classifies is named on stderr and left out,
and the file check (executable_test.py) fails until it is classified.
"""
import fnmatch
import os
import re
import subprocess
import sys
import tempfile

GCC_RUNTIME = {'crtbegin.o', 'crtend.o', 'libgcc.a', 'libgcc_eh.a', 'libstdc++.a', 'libsupc++.a'}
GCC_EXCEPTION = ('libgcc and libstdc++ are linked under the GNU General Public License version 3\n'
                 'with the GCC Runtime Library Exception, version 3.1.')
# Members built without debug information, known by name: the import stubs
# dlltool makes from mingw-w64's .def files ("libkernel32s00135.o",
# "libmsvcrt_defh.o"), under the project's ZPL 2.1 ("Files: *").
IMPORT_STUB = re.compile(r'lib\w+?(_def)?(h|t|s\d+)\.o$')
# libpthread.a is winpthreads under another name.
ARCHIVE_SOURCES = {'libpthread.a': 'mingw-w64-libraries/winpthreads/', 'libwinpthread.a': 'mingw-w64-libraries/winpthreads/'}


def linked(link_map):
    """[(archive or None, member or object path)]: the toolchain files the map
    shows linked in, "archive.a(member.o)" wherever a member was taken."""
    found = {(os.path.normpath(a), m) for a, m in re.findall(r'(/usr/[^\s()]+\.a)\(([^)]+)\)', link_map)}
    found |= {(None, os.path.normpath(o)) for o in re.findall(r'(/usr/[^\s()]+\.o)(?![^\s(]*\))', link_map)}
    return sorted(found, key=lambda pair: (pair[0] or '', pair[1]))


def dwarf_source(objdump, archive, member):
    """The source file the object was compiled from ("mingw-w64-crt/stdio/mingw_pformat.c"),
    as its first compile unit names it, or None."""
    with tempfile.TemporaryDirectory() as folder:
        try:
            if archive:
                subprocess.run(['ar', 'x', '--output', folder, archive, member], capture_output=True, check=True)
            path = os.path.join(folder, member) if archive else member
            info = subprocess.run([objdump, '--dwarf=info', path], capture_output=True, check=True).stdout
        except (OSError, subprocess.CalledProcessError):
            return None
    name = re.search(r'DW_AT_name\s*:(?: \([^)]*\):)? *(\S+\.\w+)\s*$', info.decode('utf-8', 'replace'), re.M)
    return re.sub(r'^(\./)+', '', name.group(1)) if name else None


def paragraphs(copyright_text):
    """([(patterns, copyright, licence name, licence text)], {licence name: text}) of a
    Debian copyright file (machine-readable format 1.0)."""
    files, licences = [], {}
    for paragraph in re.split(r'\n\s*\n', copyright_text.strip('\n')):
        fields, current = {}, None
        for line in paragraph.split('\n'):
            if re.match(r'\S[^:]*:', line):
                current, _, value = line.partition(':')
                fields[current] = [value.strip()]
            elif current:
                fields[current].append(line[1:] if line[1:] != '.' else '')
        if 'License' not in fields:
            continue
        name, text = fields['License'][0], '\n'.join(fields['License'][1:]).strip('\n')
        if 'Files' in fields:
            patterns = ' '.join(fields['Files']).split()
            files.append((patterns, '\n'.join(fields.get('Copyright', [])).strip(), name, text))
        elif text:
            licences[name] = text
    return files, licences


def classify(source, files):
    """The paragraphs whose patterns match the source path ('*' spans '/'), the
    catch-all "Files: *" only where nothing more specific does."""
    matching = [p for p in files if any(fnmatch.fnmatchcase(source, pattern) for pattern in p[0] if pattern != '*')]
    return matching or [p for p in files if '*' in p[0]]


def source_of(archive, member, objdump):
    """Where a linked member came from, or None when nothing tells."""
    name = os.path.basename(archive or '')
    if name in ARCHIVE_SOURCES:
        return ARCHIVE_SOURCES[name] + member
    if IMPORT_STUB.match(member):
        return 'mingw-w64-crt/lib-common/' + member
    return dwarf_source(objdump, archive, member)


def notices(link_map, copyright_text, locate):
    """(the notices file's text, the linked files that nothing classifies).
    locate(archive, member) gives a member's source path or None."""
    files, licences = paragraphs(copyright_text)
    groups, gcc, uncovered = {}, [], []
    for archive, member in linked(link_map):
        shown = f'{os.path.basename(archive)}({member})' if archive else os.path.basename(member)
        if os.path.basename(archive or member) in GCC_RUNTIME:
            gcc.append(shown)
            continue
        if not re.match(r'/usr/[^/]+-w64-mingw32/lib/', archive or member):
            uncovered.append(shown)
            continue
        source = locate(archive, member)
        matched = classify(source, files) if source else []
        if not matched:
            uncovered.append(shown)
        for paragraph in matched:
            groups.setdefault(files.index(paragraph), []).append(shown)
    rule = '-' * 72
    text = ('Third-party notices for "Kestlo desktop.exe"\n\n'
            'The program is linked statically with parts of the runtime libraries below.\n')
    for index in sorted(groups):
        _, holder, name, body = files[index]
        parts = [licences.get(part, '') for part in re.split(r' and | or ', name)] if not body else [body]
        text += (f'\n{rule}\nThe mingw-w64 runtime, under {name}\nLinked from: ' + ', '.join(groups[index]) +
                 '\n\n' + (f'Copyright (c) {holder}\n' if holder and holder != 'public-domain' else '') +
                 f'License: {name}\n\n' + '\n\n'.join(p for p in parts if p) + '\n')
    text += (f'\n{rule}\nThe GCC runtime libraries\nLinked from: ' + (', '.join(gcc) or 'none today') + '\n\n' +
             GCC_EXCEPTION + '\n')
    return text, uncovered


def main():
    if len(sys.argv) != 5:
        sys.exit('usage: notices.py LINK_MAP COPYRIGHT_FILE OBJDUMP OUTPUT')
    map_file, copyright_file, objdump, output = sys.argv[1:]
    try:
        with open(map_file, errors='replace') as f:
            link_map = f.read()
        with open(copyright_file) as f:
            text, uncovered = notices(link_map, f.read(), lambda a, m: source_of(a, m, objdump))
    except OSError as error:
        sys.exit(f'notices.py: {error} (the mingw-w64 copyright file is in Debian\'s mingw-w64-common)')
    for name in uncovered:
        print(f'notices.py: warning: nothing classifies {name}, which the exe links', file=sys.stderr)
    with open(output, 'w') as f:
        f.write(text)


if __name__ == '__main__':
    main()
