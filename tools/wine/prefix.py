"""A Wine prefix for the runs of the real executable: made once per run, its
one wineserver kept for every machine, its registry reset after each."""
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

SKIPPED = 77  # exit code that ctest reports as a skipped test (SKIP_RETURN_CODE)
TOOLS = r'C:\kestlo-e2e-tools'
# The launcher's current folder in every run; where --plant-dlls copies it, as
# if downloaded (see wine_scenarios.py).
DOWNLOADS = r'C:\users\Public\Downloads'
# Of the DLLs the launcher preloads, the one Wine loads from the program's
# folder before main runs, as its user32 imports it (Windows' does not): no
# program can keep it out, so it is not planted.
WINE_LOADS_BEFORE_MAIN = ('version',)
PLANTED_MARKERS = r'C:\kestlo-e2e\planted'
STARTED_LOG = r'C:\kestlo-e2e\started.log'  # the benchmark's count, from tools/windows/fake_browser.cpp


class PrefixError(Exception):
    pass


def host_path(path):
    """The name a Wine program knows a file of this machine by: drive Z: is /."""
    return 'Z:' + path.replace('/', '\\')


def program_bits(path):
    """32 or 64: the machine type in the PE header of a Windows program."""
    with open(path, 'rb') as f:
        header = f.read(4096)
    offset = int.from_bytes(header[0x3c:0x40], 'little')
    return 64 if int.from_bytes(header[offset + 4:offset + 6], 'little') == 0x8664 else 32


class Loader:
    """How this machine runs Windows programs: the Wine loader to start them
    with, and the prefixes a given program can run in.

    Where there is no 32-bit user mode (tools/wine32-runs.sh), the usual
    wrapper would pick Wine's 32-bit loader, which cannot start; Wine's 64-bit
    loader is called directly, and a 32-bit program cannot run at all."""

    def __init__(self):
        script = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), 'wine32-runs.sh')
        self.runs32 = subprocess.run([script]).returncode == 0
        self.command = ['wine'] if self.runs32 else ['/usr/lib/wine/wine64']

    def arches_for(self, program, requested, what):
        """The prefixes (win32, win64) in which `program` runs here. A 64-bit
        program (the test build) runs in a 64-bit prefix only. Where a 32-bit
        one cannot run, ends the run as skipped (SKIPPED), `what` naming the
        programs. Stops with a message when the locale Wine needs is missing."""
        problem = locale_problem()
        if problem:
            sys.exit(problem)
        if program_bits(program) == 64:
            return ['win64']
        if not self.runs32:
            print(f'SKIPPED: this machine cannot run 32-bit programs (Wine\'s 32-bit loader fails to start), so '
                  f'{what} cannot run here under Wine. tools/test.sh runs the 64-bit test build of the same '
                  'sources instead (preset windows-x64).')
            sys.exit(SKIPPED)
        return requested


def locale_problem():
    """Why Wine cannot run here with LC_ALL=zh_CN.UTF-8, or None.

    Code page 936 needs no system locale, but Wine's file names on Linux do:
    without it they are not UTF-8, and a program in a folder with a Chinese
    name cannot be started."""
    names = subprocess.run(['locale', '-a'], capture_output=True, text=True).stdout.split()
    if any(name.lower() in ('zh_cn.utf8', 'zh_cn.utf-8') for name in names):
        return None
    return 'the system locale zh_CN.UTF-8 is missing: run tools/install-deps.sh all (as root)'


class Prefix:
    """One Wine prefix, its wineserver running with the GBK locale (code page 936)."""

    def __init__(self, folder, arch, build, loader, launcher_facts, planted=()):
        """launcher_facts: what the host tool exports as launcher.json, the
        uninstall keys the launcher reads among them. planted: DLL names (no
        .dll) to plant beside a copy of the launcher in DOWNLOADS."""
        self.folder, self.arch, self.build, self.planted = folder, arch, build, tuple(planted)
        # {'machine': 'HKLM\\SOFTWARE\\...', 'machine_wow64': 'HKLM\\SOFTWARE\\WOW6432Node\\...', 'user': 'HKCU\\...'}
        self.uninstall = launcher_facts['uninstall_keys']
        self.command = loader.command  # what starts a Wine program: run(*prefix.command, 'prog.exe')
        overrides = 'mscoree,mshtml='
        if self.planted:
            # Native first, searched for as Windows searches a DLL that is not a KnownDLL.
            overrides += ';' + ','.join(self.planted) + '=n,b'
        self.env = dict(os.environ, WINEPREFIX=folder, WINEARCH=arch, WINEDEBUG='-all',
                        LC_ALL='zh_CN.UTF-8', WINEDLLOVERRIDES=overrides)
        if self.command != ['wine']:
            self.env['WINELOADER'] = self.command[0]
        self.bits = program_bits(os.path.join(build, 'Kestlo desktop.exe'))
        self.drive_c = os.path.join(folder, 'drive_c')
        self.launcher = (DOWNLOADS if self.planted else TOOLS) + r'\Kestlo desktop.exe'

    def create(self):
        """Starts making the prefix; returns the process to wait for (10-20 s)."""
        if os.path.exists(self.folder):
            self.stop_server()
            shutil.rmtree(self.folder)
        os.makedirs(self.folder)
        return subprocess.Popen([*self.command, 'wineboot', '-i'], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def ready(self):
        """Copies the programs in and starts the prefix's wineserver."""
        subprocess.run(['wineserver', '-w'], env=self.env, check=True)
        tools = self.unix(TOOLS)
        os.makedirs(tools, exist_ok=True)
        downloads = self.unix(DOWNLOADS)
        os.makedirs(downloads, exist_ok=True)
        for name in ('Kestlo desktop.exe', 'trace_collector.exe'):
            shutil.copy(os.path.join(self.build, name), tools)
        if self.planted:
            shutil.copy(os.path.join(self.build, 'Kestlo desktop.exe'), downloads)
            for name in self.planted:
                shutil.copy(os.path.join(self.build, 'planted.dll'), os.path.join(downloads, name + '.dll'))
            os.makedirs(self.unix(PLANTED_MARKERS), exist_ok=True)
        # One wineserver for every run, started with the GBK locale: it keeps
        # the locale it started with.
        subprocess.run(['wineserver', '-p'], env=self.env, check=True)
        self.start_hives = self.hives()

    def stop_server(self):
        """Ends the wineserver and every Wine program of the prefix, and waits for it."""
        subprocess.run(['wineserver', '-k'], env=self.env, capture_output=True)
        subprocess.run(['wineserver', '-w'], env=self.env, capture_output=True)

    def planted_loads(self):
        """The planted DLLs that some program loaded since the last call; clears the record."""
        if not self.planted:
            return []
        folder = self.unix(PLANTED_MARKERS)
        loaded = sorted(os.listdir(folder))
        for name in loaded:
            os.remove(os.path.join(folder, name))
        return [name[:-len('.loaded')] for name in loaded]

    def unix(self, windows_path):
        """The file of drive C: that Wine opens for the path: an existing name
        in any letter case (C:\\Users is drive_c/users), a new one as written."""
        if not windows_path[:3].upper() == 'C:\\':
            raise PrefixError(f'files must be on drive C: {windows_path}')
        path = self.drive_c
        for name in filter(None, windows_path[3:].split('\\')):
            existing = [entry for entry in os.listdir(path) if entry.lower() == name.lower()] if os.path.isdir(path) else []
            path = os.path.join(path, existing[0] if existing else name)
        return path

    @staticmethod
    def make_folders(folder):
        """Makes the folder and its missing parents; returns the first one it made (or none)."""
        first = folder
        while not os.path.exists(os.path.dirname(first)):
            first = os.path.dirname(first)
        made = [] if os.path.exists(folder) else [first]
        os.makedirs(folder, exist_ok=True)
        return made

    def wine(self, *args, timeout=60, cwd=None, loader=None):
        """Runs a Wine program; returns (exit code, its standard output and error).

        Output goes through a file, not a pipe: the first Wine program of a
        session starts services that inherit its handles and outlive it, and a
        pipe would then never reach its end."""
        with tempfile.TemporaryFile() as out:
            code = subprocess.run([*(loader or self.command), *args], env=self.env, stdout=out, stderr=out,
                                  stdin=subprocess.DEVNULL, timeout=timeout, cwd=cwd).returncode
            out.seek(0)
            return code, out.read()

    def reg(self, *args):
        """Runs the prefix's own reg.exe (64-bit in a 64-bit prefix, whatever the
        wrapper would pick): it deletes keys of its own view only, whatever /reg says.
        Named by its full path: a bare "reg" is looked up through ShellExecuteEx,
        which under load has failed with "internal error" before reg.exe ran."""
        return self.wine(r'C:\windows\system32\reg.exe', *args, timeout=300,
                         loader=['/usr/lib/wine/wine64'] if self.arch == 'win64' else None)

    def hives(self):
        """The subkeys of HKEY_USERS, as reg.exe names them."""
        return [line.strip() for line in self.reg('query', 'HKU')[1].decode('gbk', 'replace').splitlines() if line.strip()]

    def fingerprint(self):
        """What the runs must leave as they found it: the uninstall keys of
        both views and of the user, and the hives under HKEY_USERS."""
        views = [[]] if self.arch == 'win32' else [['/reg:32'], ['/reg:64']]
        return [self.reg('query', self.uninstall['machine'], '/s', *view) for view in views] + [
            self.reg('query', self.uninstall['user'], '/s'), self.reg('query', 'HKU')]

    def reset(self, work):
        """Takes the registry back to the prefix's start, as fingerprint() sees
        it: the machine-wide uninstall keys emptied, the user's deleted (a fresh
        prefix has none), and hives added under HKEY_USERS deleted."""
        long_name = lambda key: 'HKEY_LOCAL_MACHINE' + key[len('HKLM'):]
        machine = [long_name(self.uninstall['machine'])]
        if self.arch == 'win64':  # the 32-bit view, as the 64-bit reg.exe names it
            machine.append(long_name(self.uninstall['machine_wow64']))
        user = 'HKEY_CURRENT_USER' + self.uninstall['user'][len('HKCU'):]
        text = ''.join(f'[-{key}]\r\n\r\n[{key}]\r\n\r\n' for key in machine) + f'[-{user}]\r\n\r\n'
        text += ''.join(f'[-{hive}]\r\n\r\n' for hive in self.hives() if hive not in self.start_hives)
        path = os.path.join(work, 'reset.reg')
        Path(path).write_bytes(('\ufeffWindows Registry Editor Version 5.00\r\n\r\n' + text).encode('utf-16-le'))
        code, output = self.reg('import', host_path(path))
        if code != 0:
            raise PrefixError(f'the registry could not be reset: {output.decode("gbk", "replace").strip()}')

    def import_reg(self, reg_file, sixty_four_bit_view):
        """Imports a .reg file through the 32-bit or the 64-bit registry view.
        A 32-bit prefix has one view: a 64-bit view's file cannot go there."""
        if self.arch == 'win32' and sixty_four_bit_view:
            raise PrefixError(f'{reg_file}: a 32-bit Windows has no 64-bit registry view')
        options = [] if self.arch == 'win32' else ['/reg:64' if sixty_four_bit_view else '/reg:32']
        code, output = self.reg('import', host_path(reg_file), *options)
        if code != 0:
            raise PrefixError(f'reg import failed on {reg_file}, exit code {code}: '
                              + output.decode('gbk', 'replace').strip())

    def member_exports(self, work, name, user_keys):
        """The three keys a member exports for support (README, Support), each
        with reg.exe's /reg:64 as the README says, as ['--reg', FILE, ...].
        Raises PrefixError for an export that must exist and failed: the
        machine's key always, its WOW6432Node form in a 64-bit prefix, the
        user's key when the machine has user keys."""
        exports = []
        for part, key in self.uninstall.items():
            out = os.path.join(work, f'{name}.{part}.reg')
            required = {'machine': True, 'machine_wow64': self.arch == 'win64', 'user': user_keys}[part]
            command = ['export', key, host_path(out), *(['/reg:64'] if part != 'user' else []), '/y']
            code, output = self.reg(*command)
            if code != 0 and required:
                # Under load Wine's reg.exe has failed so, once, with no message,
                # on an export that succeeds on every other run: one more try, said aloud.
                print(f'note: reg export of {key} failed (exit code {code}); trying once more', flush=True)
                code, output = self.reg(*command)
            if code == 0:
                exports += ['--reg', out]
            elif required:
                raise PrefixError(f'reg export of {key} failed, exit code {code}: '
                                  + output.decode('gbk', 'replace').strip())
        return exports
