#!/usr/bin/env python3
"""Runs the real "Kestlo desktop.exe" under Wine, one scenario at a time.

    wine_scenarios.py --build DIR --standin-run TOOL --out DIR
                      [--arch win32,win64] [--random FIRST:COUNT] [--show] [--plant-dlls] [--probes]
                      [SCENARIO...]

The scenario files are read by the host tool alone (TOOL, kestlo-standin-run
--export), which writes each as .reg files; --random adds the seeded random
machines FIRST .. FIRST+COUNT-1, expected to do what they do on the stand-in.
Each architecture gets one fresh prefix (tools/wine/prefix.py), the prefixes
run at the same time, each with one wineserver throughout. For each machine:
its keys imported, the stand-in browser (tools/windows/fake_browser.cpp)
copied to each of its files, the launcher run under trace_collector.exe with
LC_ALL=zh_CN.UTF-8 (ANSI code page 936), which answers a message box, names
every process the launcher started and returns once they have all ended (a
collector that cannot make a job, or fails, fails the machine); the keys
exported by reg.exe as a member would, the files and folders made for the
machine removed, the registry reset, and what was seen checked by the host
tool (--check-wine) against the machine.

--plant-dlls runs a copy of the launcher from a Downloads folder beside DLLs
named like the system DLLs it preloads (PreloadedSystemDlls, which the host
tool exports as launcher.json): none may be loaded. Not planted: version.dll,
which Wine's user32 imports and so loads from the program's folder before main
runs (Windows' user32 does not import it).

--probes first runs the registry probes (probes/registry_probes_main.cpp,
the probes the stand-in answers on the host) in each prefix, under
trace_collector.exe, and checks the debug strings the collector received.

--show prints each run readably (the run command). Needs an X display: without
DISPLAY it restarts itself under xvfb-run. Ends with "N passed, N failed";
exits 1 if any failed, 77 (skipped) where 32-bit programs cannot run.
"""
import argparse
import concurrent.futures
import json
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'wine'))
import prefix as wine_prefix  # noqa: E402

COLLECT_TIMEOUT = 90  # seconds the launcher and what it starts may run: a deadline for hangs, not a wait
COLLECTOR_EXITS = {2: 'bad arguments', 3: 'cannot start the launcher',
                   4: 'cannot put the launcher in a job, so what it starts cannot be seen'}


def export(tool, folder, scenarios, random):
    """{name: the host tool's name for the machine} of the exported machines, in the order to run them."""
    os.makedirs(folder, exist_ok=True)
    subprocess.run([tool, '--export', folder, *scenarios], check=True)  # launcher.json, and the scenarios
    machines = {os.path.splitext(os.path.basename(path))[0]: [path] for path in scenarios}
    if random:
        first, count = random
        subprocess.run([tool, '--export', folder, '--random', str(first), str(count)], check=True)
        machines.update((f'random-{seed}', ['--random', str(seed)]) for seed in range(first, first + count))
    return machines


def random_range(text):
    first, _, count = text.partition(':')
    if not (first.isdigit() and count.isdigit()):
        raise argparse.ArgumentTypeError('expected FIRST:COUNT, such as 1:20')
    return int(first), int(count)


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--build', required=True, help='folder holding "Kestlo desktop.exe" and the helpers')
    parser.add_argument('--standin-run', required=True, help='the host build\'s kestlo-standin-run')
    parser.add_argument('--out', required=True, help='folder for prefixes, traces and exports')
    parser.add_argument('--arch', default='win32,win64')
    parser.add_argument('--random', type=random_range, help='FIRST:COUNT random machines, compared with the stand-in')
    parser.add_argument('--show', action='store_true')
    parser.add_argument('--plant-dlls', action='store_true')
    parser.add_argument('--probes', action='store_true')
    parser.add_argument('scenarios', nargs='*')
    return parser.parse_args()


def check_tools(args):
    """Stops with a message naming what is missing."""
    for tool in ('wine', 'wineserver', 'xvfb-run'):
        if shutil.which(tool) is None:
            sys.exit(f'{tool} is missing: run tools/install-deps.sh all')
    for name in ('Kestlo desktop.exe', 'trace_collector.exe', 'fake_browser.exe') + (
            ('planted.dll',) if args.plant_dlls else ()) + (('registry_probes.exe',) if args.probes else ()):
        if not os.path.exists(os.path.join(args.build, name)):
            sys.exit(f'{name} is not in {args.build}: build the windows preset first')
    if not os.access(args.standin_run, os.X_OK):
        sys.exit(f'{args.standin_run} is missing: build the host tool first '
                 '(cmake --build --preset host --target kestlo-standin-run)')


def run_probes(prefix, out):
    """The registry probes and the debug-output probes in the prefix; True when all passed."""
    shutil.copy(os.path.join(prefix.build, 'registry_probes.exe'), prefix.unix(wine_prefix.TOOLS))
    probes = wine_prefix.TOOLS + r'\registry_probes.exe'
    trace = wine_prefix.host_path(os.path.join(out, 'probes.trace'))
    windows = '--64-bit-windows' if prefix.arch == 'win64' else '--32-bit-windows'
    try:
        code, output = prefix.wine(wine_prefix.TOOLS + r'\trace_collector.exe', '--require-job', trace, '60', probes,
                                   windows, timeout=120)
        ended = [line for line in Path(out, 'probes.trace').read_text().splitlines() if line[0] in 'XT']
        checked, report = prefix.wine(probes, '--check-trace', trace)
    except (wine_prefix.PrefixError, subprocess.TimeoutExpired, OSError) as error:
        code, checked, output, report, ended = None, None, str(error).encode(), b'', []
    passed = code == 0 and ended == ['X 0'] and checked == 0
    print(f'{"PASS" if passed else "FAIL"} registry probes ({prefix.arch}, {" ".join(ended) or "no end"})')
    if not passed:
        print('     ' + (output + report).decode('gbk', 'replace').strip().replace('\n', '\n     '))
    return passed


def run_machine(prefix, export_dir, name, source, work, standin_run):
    """Runs one exported machine; returns (passed, the host tool's report).
    `source` names the machine for the host tool (a scenario file, or --random SEED)."""
    base = os.path.join(export_dir, name)
    facts = json.loads(Path(base + '.json').read_text(encoding='utf-8'))
    files = list(dict.fromkeys(prefix.unix(file) for file in facts['files']))  # a machine may list one twice
    for view, sixty_four_bit_view in (('.view32.reg', False), ('.view64.reg', True)):
        if os.path.exists(base + view):
            prefix.import_reg(base + view, sixty_four_bit_view)
    made = []  # the files, and the first folder made for each, removed after the run
    trace, exports = os.path.join(work, name + '.trace'), []
    try:
        for file in files:
            made += prefix.make_folders(os.path.dirname(file)) + [file]
            shutil.copy(os.path.join(prefix.build, 'fake_browser.exe'), file)
        code, output = prefix.wine(wine_prefix.TOOLS + r'\trace_collector.exe', '--require-job',
                                   wine_prefix.host_path(trace), str(COLLECT_TIMEOUT), prefix.launcher,
                                   timeout=COLLECT_TIMEOUT + 30, cwd=prefix.unix(wine_prefix.DOWNLOADS))
        if code != 0:
            raise wine_prefix.PrefixError(f'trace_collector.exe: {COLLECTOR_EXITS.get(code, f"exit code {code}")}: '
                                          + output.decode('gbk', 'replace').strip())
        exports = prefix.member_exports(work, name, facts['user_uninstall_key'])
    finally:
        for path in reversed(made):
            shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
        Path(prefix.unix(wine_prefix.STARTED_LOG)).unlink(missing_ok=True)  # the benchmark's record, unread here
        prefix.reset(work)
    checked = subprocess.run([standin_run, '--check-wine', trace, *source, *exports], capture_output=True, text=True)
    return checked.returncode == 0, checked.stdout + checked.stderr


def run_one(prefix, name, source, exported, args):
    """Runs one exported machine in the prefix and reports it; True when it passed."""
    random = name.startswith('random-')
    label = f'{name} ({prefix.arch}' + (', against the stand-in' if random else '')
    started = time.time()
    work = os.path.join(args.out, prefix.arch)
    try:
        passed, report = run_machine(prefix, exported, name, source, work, args.standin_run)
    except (wine_prefix.PrefixError, subprocess.TimeoutExpired) as error:
        passed, report = False, str(error)
    planted = [f'planted {dll} was loaded from the launcher\'s folder' for dll in prefix.planted_loads()]
    passed = passed and not planted
    lines = [f'{"PASS" if passed else "FAIL"} {label}, {time.time() - started:.1f} s)']
    if not passed or args.show:
        lines += report.strip().split('\n') + planted
    if not passed and random:
        lines.append(f'the machine: {args.standin_run} --random {name[len("random-"):]}')
    print('\n     '.join(lines), flush=True)  # one write: prefixes run at once
    return passed


def main():
    args = parse_args()
    if not os.environ.get('DISPLAY'):
        os.execvp('xvfb-run', ['xvfb-run', '-a', '-s', '-screen 0 1024x768x24', sys.executable, *sys.argv])
    check_tools(args)
    args.build, args.out = os.path.abspath(args.build), os.path.abspath(args.out)
    loader = wine_prefix.Loader()
    arches = loader.arches_for(os.path.join(args.build, 'Kestlo desktop.exe'), args.arch.split(','),
                               'the 32-bit "Kestlo desktop.exe"')
    exported = os.path.join(args.out, 'export')
    try:
        machines = export(args.standin_run, exported, args.scenarios, args.random)
    except subprocess.CalledProcessError:
        sys.exit('the host tool could not export the scenarios (its message is above)')

    facts = json.loads(Path(exported, 'launcher.json').read_text())
    planted = ()
    if args.plant_dlls:  # the launcher's own list
        planted = [name for name in facts['preloaded_system_dlls'] if name not in wine_prefix.WINE_LOADS_BEFORE_MAIN]
    prefixes = [wine_prefix.Prefix(os.path.join(args.out, 'prefix-' + arch), arch, args.build, loader, facts, planted)
                for arch in arches]
    started = time.time()
    for boot in [prefix.create() for prefix in prefixes]:  # in parallel: 10-20 s each
        boot.wait(timeout=300)

    def run_prefix(prefix):
        """Every run in one prefix; each prefix has a wineserver of its own, so they overlap."""
        prefix.ready()
        print(f'{prefix.arch} prefix ready after {time.time() - started:.0f} s', flush=True)
        os.makedirs(os.path.join(args.out, prefix.arch), exist_ok=True)
        try:
            before = prefix.fingerprint()
            results = [run_probes(prefix, os.path.join(args.out, prefix.arch))] if args.probes else []
            # A machine with a 64-bit registry view is a 64-bit Windows.
            runs = [(name, source) for name, source in machines.items() if prefix.arch == 'win64' or not
                    json.loads(Path(exported, name + '.json').read_text(encoding='utf-8'))['sixty_four_bit']]
            results += [run_one(prefix, name, source, exported, args) for name, source in runs]
            # The registry was reset after each machine: the last one ran on one as fresh as the first's.
            restored = prefix.fingerprint() == before
            print(f'{"PASS" if restored else "FAIL"} the registry as the prefix was made ({prefix.arch})', flush=True)
            return results + [restored]
        finally:
            prefix.stop_server()

    with concurrent.futures.ThreadPoolExecutor(len(prefixes)) as pool:
        results = [result for results in pool.map(run_prefix, prefixes) for result in results]
    print(f'Wine suite took {time.time() - started:.0f} s')
    if args.random:
        print(f'random machines compared with the stand-in: {args.random[1] * len(prefixes)}')
    passed = results.count(True)
    print(f'{passed} passed, {len(results) - passed} failed')
    sys.exit(0 if passed == len(results) else 1)


if __name__ == '__main__':
    main()
