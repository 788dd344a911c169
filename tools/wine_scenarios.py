#!/usr/bin/env python3
"""Runs the real "Kestlo desktop.exe" under Wine, one scenario file at a time.

    wine_scenarios.py --build build/windows --out DIR [--arch win32,win64] [--show] SCENARIO...

For each architecture it creates one fresh Wine prefix, then for each scenario
fills the registry (reg import, per registry view), copies tools/windows/fake_browser.cpp's program
to every "file" of the scenario, runs the launcher under trace_collector.exe
with LC_ALL=zh_CN.UTF-8 (ANSI code page 936), closes the message box if one
shows (after a screenshot into DIR), and empties the registry again. It checks
what an observer sees against the scenario's expectations: the trace byte for
byte, the program started and its command line, the message box, the exit code.

--show prints each run readably instead of only PASS/FAIL (the run command).
Needs an X display: without DISPLAY it restarts itself under xvfb-run.
Ends with the line "N passed, N failed"; exits 1 if any failed.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

USER_SID = 'S-1-5-21-0-0-0-1000'  # the logged-on user of every Wine prefix
BASE_HIVES = {'.DEFAULT', USER_SID.upper()}
UNINSTALL = r'SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
USER_UNINSTALL = r'Software\Microsoft\Windows\CurrentVersion\Uninstall'
CAPTION = '提示'
COLLECT_TIMEOUT = 40        # seconds the launcher may run, message box included
WINDOW_WAIT = 25            # seconds to wait for an expected message box
BROWSER_WAIT = 10           # seconds to wait for a started browser's record
STARTED_LOG = r'C:\kestlo-e2e\started.log'
LAUNCHER = r'C:\kestlo-e2e-tools\Kestlo desktop.exe'
# --plant-dlls: where the launcher is copied, as if downloaded, beside DLLs
# named like system DLLs that Windows does not protect as KnownDLLs, and that
# the shell call and the message box load on demand. Not planted: what Wine
# loads from the program's folder before main runs, which no program can
# prevent: shcore.dll, and version.dll, which Wine's user32 imports (Windows'
# does not, and on current Windows shcore is a KnownDLL).
DOWNLOADS = r'C:\users\Public\Downloads'
PLANTED = ('uxtheme', 'dwmapi', 'cryptbase', 'propsys', 'userenv', 'oleacc', 'apphelp', 'setupapi', 'ntmarta')
PLANTED_MARKERS = r'C:\kestlo-e2e\planted'


SKIPPED = 77  # exit code that ctest reports as a skipped test (SKIP_RETURN_CODE)


class ScenarioError(Exception):
    pass


def program_bits(path):
    """32 or 64: the machine type in the PE header of a Windows program."""
    with open(path, 'rb') as f:
        header = f.read(4096)
    offset = int.from_bytes(header[0x3c:0x40], 'little')
    return 64 if int.from_bytes(header[offset + 4:offset + 6], 'little') == 0x8664 else 32


def wine32_runs():
    """Whether this machine can run Wine's 32-bit loader (tools/wine32-runs.sh)."""
    return subprocess.run([os.path.join(os.path.dirname(os.path.abspath(__file__)), 'wine32-runs.sh')]).returncode == 0


# The Wine loader: the usual wrapper, or Wine's 64-bit loader itself where the
# wrapper would pick a 32-bit one that cannot start (main() decides).
WINE = ['wine']


def expand_lines(path):
    """(number, line) pairs: comments and blanks dropped, "repeat N" ... "end"
    unrolled ({n}: the index, zero-padded to the width of N-1), {N*C} expanded."""
    runs = re.compile(r'\{(\d+)\*(.)\}')
    expand = lambda line: runs.sub(lambda m: m.group(2) * int(m.group(1)), line)
    lines, block, repeat = [], None, 0
    with open(path, encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip('\r\n')
            if not line or line.startswith('#'):
                continue
            if line.startswith('repeat '):
                if block is not None or not line[7:].isdigit() or int(line[7:]) == 0:
                    raise ScenarioError(f'{path}:{number}: expected repeat COUNT (not nested)')
                block, repeat = [], int(line[7:])
            elif line == 'end' and block is not None:
                width = len(str(repeat - 1))
                for n in range(repeat):
                    lines += [(k, expand(text.replace('{n}', str(n).zfill(width)))) for k, text in block]
                block = None
            elif block is not None:
                block.append((number, line))
            else:
                lines.append((number, expand(line)))
    if block is not None:
        raise ScenarioError(f'{path}: repeat without end')
    return lines


def parse_scenario(path):
    """The same format as standin/standin_scenario.h: keys, values, files, expectations."""
    scenario = {'keys': [], 'files': [], 'trace': [], 'start': None, 'message': False}
    key = None
    for number, line in expand_lines(path):
        directive, _, rest = line.partition(' ')
        if directive == 'key':
            root, _, sub = rest.partition('\\')
            if root not in ('HKLM', 'HKLM64', 'HKU', 'HKCU') or not sub:
                raise ScenarioError(f'{path}:{number}: expected key HKLM|HKLM64|HKU|HKCU\\path')
            key = {'root': root, 'path': sub.rstrip('\\'), 'values': []}
            scenario['keys'].append(key)
        elif directive == 'value':
            if key is None:
                raise ScenarioError(f'{path}:{number}: value before any key')
            name, _, rest = rest.partition(' ')
            kind, _, data = rest.partition(' ')
            if kind not in ('sz', 'expand_sz', 'dword', 'binary'):
                raise ScenarioError(f'{path}:{number}: value type must be sz, expand_sz, dword or binary')
            key['values'].append((name, kind, data))
        elif directive == 'file':
            scenario['files'].append(rest)
        elif directive == 'expect':
            what, _, rest = rest.partition(' ')
            if what == 'trace':
                scenario['trace'].append(rest)
            elif what == 'start' and rest:
                scenario['start'] = rest
            elif what == 'message' and not rest:
                scenario['message'] = True
            else:
                raise ScenarioError(f'{path}:{number}: expect trace TEXT | expect start PATH | expect message')
        else:
            raise ScenarioError(f'{path}:{number}: unknown directive {directive}')
    return scenario


def reg_path(root, path, arch, bits=32):
    """(registry view, the key's full name), or None where it does not exist (HKLM64 on win32).

    The view is what `reg import /reg:NN` writes through: HKLM is what the
    32-bit launcher sees, HKLM64 the 64-bit view of a 64-bit prefix. For the
    64-bit test build (bits 64) the two swap, so that every scenario keeps its
    outcome: HKLM is always the program's own view, HKLM64 the other one."""
    own, other = ('64', '32') if bits == 64 else ('32', '64')
    if root == 'HKLM64':
        return None if arch == 'win32' else (other, f'HKEY_LOCAL_MACHINE\\{path}')
    if root == 'HKCU':
        return own, f'HKEY_USERS\\{USER_SID}\\{path}'
    if root == 'HKU':
        return own, f'HKEY_USERS\\{path}'
    return own, f'HKEY_LOCAL_MACHINE\\{path}'


def reg_string(text):
    return '"' + text.replace('\\', '\\\\').replace('"', '\\"') + '"'


def reg_hex(kind, data):
    return f'hex({kind:x}):' + ','.join(f'{b:02x}' for b in data)


def reg_value(name, kind, data):
    if kind == 'sz':
        return f'{reg_string(name)}={reg_string(data)}'
    if kind == 'expand_sz':
        return f'{reg_string(name)}={reg_hex(2, (data + chr(0)).encode("utf-16-le"))}'
    if kind == 'dword':
        return f'{reg_string(name)}=dword:{int(data, 0):08x}'
    return f'{reg_string(name)}=hex:' + ','.join(data.split())


def write_reg(path, sections):
    text = 'Windows Registry Editor Version 5.00\r\n\r\n' + '\r\n'.join(sections) + '\r\n'
    with open(path, 'w', encoding='utf-16', newline='') as f:
        f.write(text)


class Prefix:
    """One Wine prefix, its wineserver kept running with the GBK locale."""

    def __init__(self, folder, arch, build, plant_dlls=False):
        self.folder, self.arch, self.build, self.plant_dlls = folder, arch, build, plant_dlls
        overrides = 'mscoree,mshtml='
        if plant_dlls:
            # Native first, searched for as Windows searches a DLL that is not a KnownDLL.
            overrides += ';' + ','.join(PLANTED) + '=n,b'
        self.env = dict(os.environ, WINEPREFIX=folder, WINEARCH=arch, WINEDEBUG='-all',
                        LC_ALL='zh_CN.UTF-8', WINEDLLOVERRIDES=overrides)
        if WINE != ['wine']:
            self.env['WINELOADER'] = WINE[0]
        self.bits = program_bits(os.path.join(build, 'Kestlo desktop.exe'))
        self.drive_c = os.path.join(folder, 'drive_c')
        self.launcher = os.path.join(DOWNLOADS, 'Kestlo desktop.exe') if plant_dlls else LAUNCHER

    def create(self):
        if os.path.exists(self.folder):
            subprocess.run(['wineserver', '-k'], env=self.env, capture_output=True)
            shutil.rmtree(self.folder)
        os.makedirs(self.folder)
        return subprocess.Popen([*WINE, 'wineboot', '-i'], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def ready(self):
        subprocess.run(['wineserver', '-w'], env=self.env, check=True)
        # Keep one wineserver for the whole run, started with the GBK locale.
        subprocess.run(['wineserver', '-p'], env=self.env, check=True)
        tools = os.path.join(self.drive_c, 'kestlo-e2e-tools')
        os.makedirs(tools, exist_ok=True)
        for name in ('Kestlo desktop.exe', 'trace_collector.exe'):
            shutil.copy(os.path.join(self.build, name), tools)
        if self.plant_dlls:
            downloads = self.unix(DOWNLOADS)
            os.makedirs(downloads, exist_ok=True)
            shutil.copy(os.path.join(self.build, 'Kestlo desktop.exe'), downloads)
            for name in PLANTED:
                shutil.copy(os.path.join(self.build, 'planted.dll'), os.path.join(downloads, name + '.dll'))
            os.makedirs(self.unix(PLANTED_MARKERS), exist_ok=True)

    def planted_loads(self):
        """The planted DLLs that some program loaded since the last call; clears the record."""
        folder = self.unix(PLANTED_MARKERS)
        loaded = sorted(os.listdir(folder))
        for name in loaded:
            os.remove(os.path.join(folder, name))
        return [name[:-len('.loaded')] for name in loaded]

    def close(self):
        subprocess.run(['wineserver', '-k'], env=self.env, capture_output=True)

    def unix(self, windows_path):
        if not windows_path[:3].upper() == 'C:\\':
            raise ScenarioError(f'files must be on drive C: {windows_path}')
        return os.path.join(self.drive_c, *windows_path[3:].split('\\'))

    def wine(self, *args, timeout=60):
        """Runs a Wine program; returns (exit code, its standard output).

        Output goes through a file, not a pipe: the first Wine program of a
        session starts services that inherit its handles and outlive it, and a
        pipe would then never reach its end."""
        with tempfile.TemporaryFile() as out:
            code = subprocess.run([*WINE, *args], env=self.env, stdout=out, stderr=subprocess.DEVNULL,
                                  stdin=subprocess.DEVNULL, timeout=timeout).returncode
            out.seek(0)
            return code, out.read()

    def import_reg(self, reg_file, view):
        """Imports a .reg file through one registry view ('32' or '64')."""
        options = [f'/reg:{view}'] if self.arch == 'win64' else []
        code, _ = self.wine('reg', 'import', 'Z:' + reg_file.replace('/', '\\'), *options, timeout=300)
        if code != 0:
            raise ScenarioError(f'reg import failed on {reg_file}')

    def subkeys(self, key, *options):
        """Names of the key's subkeys (none when the key does not exist)."""
        out = self.wine('reg', 'query', key, *options)[1].decode('gbk', 'replace')
        root, _, path = key.partition('\\')
        full = {'HKLM': 'HKEY_LOCAL_MACHINE', 'HKU': 'HKEY_USERS'}[root] + ('\\' + path if path else '')
        prefix = full.upper() + '\\'
        return [line.strip()[len(prefix):] for line in out.splitlines() if line.strip().upper().startswith(prefix)]


def windows_list():
    out = subprocess.run(['xdotool', 'search', '--name', '.'], capture_output=True, text=True).stdout
    return out.split()


def window_named(title):
    for window in windows_list():
        name = subprocess.run(['xdotool', 'getwindowname', window], capture_output=True).stdout
        if name.decode('utf-8', 'replace').strip() == title:
            return window
    return None


def run_scenario(prefix, path, out_dir, login_url):
    """Runs one scenario; returns (problems, observed)."""
    name = os.path.splitext(os.path.basename(path))[0]
    scenario = parse_scenario(path)
    work = os.path.join(out_dir, prefix.arch)
    os.makedirs(work, exist_ok=True)

    # Fill the registry, each view through its own import.
    sections = {'32': [], '64': []}
    for key in scenario['keys']:
        where = reg_path(key['root'], key['path'], prefix.arch, prefix.bits)
        if where is not None:
            view, full = where
            sections[view].append(f'[{full}]\r\n' + ''.join(reg_value(*v) + '\r\n' for v in key['values']))
    for view, view_sections in sections.items():
        if view_sections:
            fill = os.path.join(work, f'{name}.view{view}.reg')
            write_reg(fill, view_sections)
            prefix.import_reg(fill, view)
    for file in scenario['files']:
        target = prefix.unix(file)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(os.path.join(prefix.build, 'fake_browser.exe'), target)
    started_log = prefix.unix(STARTED_LOG)
    if os.path.exists(started_log):
        os.remove(started_log)

    observed = {'trace': [], 'calls': [], 'exit': None, 'message': False, 'screenshot': None,
                'started': None, 'command': None}
    try:
        trace_file = os.path.join(work, name + '.trace')
        collector = subprocess.Popen(
            [*WINE, r'C:\kestlo-e2e-tools\trace_collector.exe', 'Z:' + trace_file.replace('/', '\\'),
             str(COLLECT_TIMEOUT), prefix.launcher],
            env=prefix.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + COLLECT_TIMEOUT + 15
        window_deadline = time.time() + (WINDOW_WAIT if scenario['message'] else COLLECT_TIMEOUT)
        while collector.poll() is None and time.time() < deadline:
            window = window_named(CAPTION) if time.time() < window_deadline else None
            if window:
                observed['message'] = True
                time.sleep(0.5)  # let it paint
                shot = os.path.join(work, name + '.png')
                subprocess.run(['import', '-window', 'root', shot], capture_output=True, timeout=30)
                observed['screenshot'] = shot
                subprocess.run(['xdotool', 'windowfocus', '--sync', window], capture_output=True, timeout=10)
                subprocess.run(['xdotool', 'key', '--window', window, 'Return'], capture_output=True, timeout=10)
                subprocess.run(['xdotool', 'key', 'Return'], capture_output=True, timeout=10)
                window_deadline = 0
            time.sleep(0.3)
        if collector.poll() is None:
            collector.kill()
            collector.wait()
            raise ScenarioError('the launcher did not end in time')
        with open(trace_file) as f:
            for line in f:
                kind, _, rest = line.strip().partition(' ')
                if kind == 'S':
                    observed['calls'].append(bytes.fromhex(rest))
                elif kind == 'X':
                    observed['exit'] = int(rest)
                elif kind == 'T':
                    observed['exit'] = 'still running after %d s' % COLLECT_TIMEOUT
        joined = b''.join(observed['calls'])
        observed['trace'] = joined.split(b'\n')[:-1] if joined.endswith(b'\n') else joined.split(b'\n')
        if joined == b'':
            observed['trace'] = []

        # A started browser writes its record shortly after the launcher exits.
        wait_until = time.time() + (BROWSER_WAIT if scenario['start'] else 1.5)
        while time.time() < wait_until and not os.path.exists(started_log):
            time.sleep(0.2)
        time.sleep(0.3)
        if os.path.exists(started_log):
            with open(started_log, 'rb') as f:
                record = f.read().decode('gbk', 'replace').splitlines()
            observed['started'] = record[0][len('module '):] if record else ''
            observed['command'] = record[1][len('command '):] if len(record) > 1 else ''
            observed['records'] = len(record) // 2
    finally:
        clean_up(prefix, scenario, work, name)

    problems = check(scenario, observed, login_url)
    if prefix.plant_dlls:
        problems += [f'planted {name} was loaded from the launcher\'s folder' for name in prefix.planted_loads()]
    return problems, observed


def clean_up(prefix, scenario, work, name):
    """Removes what the scenario added: each uninstall entry, and any hive it loaded.

    Only entries are deleted, never the Uninstall keys themselves, so that the
    prefix stays as Wine made it."""
    removed = {'32': set(), '64': set()}
    for key in scenario['keys']:
        where = reg_path(key['root'], key['path'], prefix.arch, prefix.bits)
        if where is None:
            continue
        view, full = where
        names = full.split('\\')
        upper = [n.upper() for n in names]
        if upper[0] == 'HKEY_USERS' and upper[1] not in BASE_HIVES:
            removed[view].add('\\'.join(names[:2]))
        elif 'UNINSTALL' in upper and upper.index('UNINSTALL') + 1 < len(names):
            removed[view].add('\\'.join(names[:upper.index('UNINSTALL') + 2]))
        else:
            removed[view].add(full)
    # Wine's reg import deletes through reg.exe's own view whatever /reg:NN
    # says: 32-bit under the usual loader, 64-bit under wine64. That view's keys
    # go in one import; the other view's one by one.
    bulk = '64' if WINE != ['wine'] else '32'
    if removed[bulk]:
        empty = os.path.join(work, f'{name}.clean.reg')
        write_reg(empty, [f'[-{key}]' for key in sorted(removed[bulk])])
        prefix.import_reg(empty, bulk)
    other = '32' if bulk == '64' else '64'
    for key in sorted(removed[other]):
        code, _ = prefix.wine('reg', 'delete', key, f'/reg:{other}', '/f')
        if code != 0:
            raise ScenarioError(f'reg delete failed on {key}')
    for file in scenario['files']:
        target = prefix.unix(file)
        if os.path.exists(target):
            os.remove(target)


def check(scenario, observed, login_url):
    problems = []
    expected = [line.encode('gbk') for line in scenario['trace']]
    if observed['trace'] != expected:
        problems.append('trace differs:\n' + diff_lines(expected, observed['trace']))
    if any(call != b'\n' for call in observed['calls'][1::2]):
        problems.append('a trace line was not followed by a lone "\\n" call')
    if observed['exit'] != 0:
        problems.append(f'exit code {observed["exit"]}, expected 0')
    if scenario['message'] != observed['message']:
        problems.append('message box ' + ('not shown' if scenario['message'] else 'shown unexpectedly'))
    want = scenario['start']
    if want is not None:
        # The shell expands environment references before it opens the file.
        want = re.sub('%SystemDrive%', lambda m: 'C:', want, flags=re.IGNORECASE)
    if want is None and observed['started'] is not None:
        problems.append(f'started {observed["started"]} unexpectedly')
    if want is not None:
        if observed['started'] is None:
            problems.append(f'{want} was not started')
        else:
            # The program runs from the resolved path: doubled backslashes collapse.
            if observed['started'] != re.sub(r'\\+', lambda m: '\\', want):
                problems.append(f'started {observed["started"]}, expected {want}')
            expected_command = f'"{want}" {login_url}'
            if observed['command'] != expected_command:
                problems.append(f'command line {observed["command"]!r}, expected {expected_command!r}')
            if observed.get('records', 1) != 1:
                problems.append(f'{observed["records"]} browsers started')
    return problems


def diff_lines(expected, actual):
    rows = []
    for i in range(max(len(expected), len(actual))):
        e = expected[i] if i < len(expected) else None
        a = actual[i] if i < len(actual) else None
        mark = ' ' if e == a else '!'
        rows.append(f'  {mark} {i + 1:3} expected {show(e)}  actual {show(a)}')
    return '\n'.join(rows)


def show(line):
    return '<none>' if line is None else repr(line.decode('gbk', 'replace'))


def describe(name, arch, observed):
    print(f'--- {name} ({arch})')
    print(f'Debugger trace ({len(observed["trace"])} lines):')
    for line in observed['trace']:
        print('  | ' + line.decode('gbk', 'replace'))
    if observed['started'] is not None:
        print(f'Started: {observed["started"]}  (a stand-in browser that records how it was started)')
        print(f'  with the command line: {observed["command"]}')
    if observed['message']:
        print(f'Message box "{CAPTION}" shown; screenshot: {observed["screenshot"]}')
    if observed['started'] is None and not observed['message']:
        print('Nothing started and no message shown.')
    print(f'Exit code: {observed["exit"]}')


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--build', required=True, help='folder holding "Kestlo desktop.exe" and the helpers')
    parser.add_argument('--out', required=True, help='folder for prefixes, traces and screenshots')
    parser.add_argument('--arch', default='win32,win64')
    parser.add_argument('--login-url', required=True)
    parser.add_argument('--show', action='store_true')
    parser.add_argument('--plant-dlls', action='store_true',
                        help='run a copy of the launcher from a folder holding DLLs named like system ones')
    parser.add_argument('scenarios', nargs='+')
    args = parser.parse_args()

    if not os.environ.get('DISPLAY'):
        os.execvp('xvfb-run', ['xvfb-run', '-a', '-s', '-screen 0 1024x768x24', sys.executable, *sys.argv])
    for tool in ('wine', 'wineserver', 'xdotool', 'import'):
        if shutil.which(tool) is None:
            sys.exit(f'{tool} is missing: run tools/install-deps.sh all')
    for name in ('Kestlo desktop.exe', 'trace_collector.exe', 'fake_browser.exe') + (
            ('planted.dll',) if args.plant_dlls else ()):
        if not os.path.exists(os.path.join(args.build, name)):
            sys.exit(f'{name} is not in {args.build}: build the windows preset first')

    build, out = os.path.abspath(args.build), os.path.abspath(args.out)
    arches = args.arch.split(',')
    if program_bits(os.path.join(build, 'Kestlo desktop.exe')) == 64:
        arches = ['win64']  # the 64-bit test build runs in a 64-bit prefix only
    elif not wine32_runs():
        print('SKIPPED: this machine cannot run 32-bit programs (Wine\'s 32-bit loader fails to start), so '
              'the 32-bit "Kestlo desktop.exe" cannot run here under Wine. tools/test.sh then runs the same '
              'scenarios on the 64-bit test build of the same sources (preset windows-x64).')
        sys.exit(SKIPPED)
    if not wine32_runs():
        WINE[:] = ['/usr/lib/wine/wine64']
    os.makedirs(out, exist_ok=True)
    prefixes = [Prefix(os.path.join(out, 'prefix-' + arch), arch, build, args.plant_dlls) for arch in arches]
    started = time.time()
    booting = [prefix.create() for prefix in prefixes]  # in parallel: 10-20 s each
    for boot in booting:
        boot.wait(timeout=300)
    passed = failed = 0
    try:
        for prefix in prefixes:
            prefix.ready()
            print(f'{prefix.arch} prefix ready after {time.time() - started:.0f} s', flush=True)
            for path in args.scenarios:
                name = os.path.splitext(os.path.basename(path))[0]
                t0 = time.time()
                try:
                    problems, observed = run_scenario(prefix, path, out, args.login_url)
                except (ScenarioError, subprocess.TimeoutExpired) as error:
                    problems, observed = [str(error)], None
                if args.show and observed:
                    describe(name, prefix.arch, observed)
                if problems:
                    failed += 1
                    print(f'FAIL {name} ({prefix.arch}, {time.time() - t0:.1f} s)')
                    for problem in problems:
                        print('     ' + problem.replace('\n', '\n     '))
                else:
                    passed += 1
                    print(f'PASS {name} ({prefix.arch}, {time.time() - t0:.1f} s)', flush=True)
            leftover = [h for h in prefix.subkeys('HKU') if h.upper() not in BASE_HIVES]
            for view in ('/reg:32', '/reg:64') if prefix.arch == 'win64' else ('/reg:32',):
                leftover += prefix.subkeys('HKLM\\' + UNINSTALL, view)
            leftover += prefix.subkeys(f'HKU\\{USER_SID}\\{USER_UNINSTALL}')
            if leftover:
                failed += 1
                print(f'FAIL registry not emptied after the run: {leftover}')
    finally:
        for prefix in prefixes:
            prefix.close()
    print(f'Wine suite took {time.time() - started:.0f} s')
    print(f'{passed} passed, {failed} failed')
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
