#!/usr/bin/env python3
"""Wall time of the real "Kestlo desktop.exe" under Wine, against a minimal
program that only calls ShellExecuteA on the same stand-in browser.

    wine_bench.py --build build/windows --standin-run TOOL --out build/bench [--runs 9]

For 100, 1,000 and 5,000 uninstall entries (ordinary programs, then Chrome) in
one 32-bit prefix, it runs the two programs alternately, --runs times each,
and prints the medians, their difference per entry and their ratio.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tools', 'wine'))
import prefix as wine_prefix  # noqa: E402

CHROME = r'C:\Program Files\Google\Chrome\Application'


def fill(prefix, tool, out, entries):
    """Empties the prefix's uninstall keys, then imports ENTRIES ordinary programs and Chrome,
    written as a scenario and exported by the host tool."""
    scenario = os.path.join(out, f'bench-{entries}.scenario')
    Path(scenario).write_text(
        f'repeat {entries}\n'
        'key HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{{n}-D564-463C-AFF1-A69D9E530F96}\n'
        'value DisplayIcon sz C:\\Apps\\Example Application {n}.exe\n'
        'value DisplayName sz Example Application {n}\n'
        'value InstallLocation sz C:\\Apps\\Example Application {n}\n'
        'value Publisher sz Example Software Ltd.\n'
        'end\n'
        'key HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Google Chrome\n'
        'value DisplayName sz Google Chrome\n'
        f'value InstallLocation sz {CHROME}\n', encoding='utf-8')
    subprocess.run([tool, '--export', out, scenario], check=True)
    prefix.reset(out)
    prefix.import_reg(os.path.join(out, f'bench-{entries}.view32.reg'), sixty_four_bit_view=False)
    return json.loads(Path(prefix.build, 'kestlo-facts.json').read_text())['login_page_url']  # as the exe has it


def timed(prefix, *command):
    start = time.perf_counter()
    subprocess.run([*prefix.command, *command], env=prefix.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   stdin=subprocess.DEVNULL, timeout=120, check=True)
    return time.perf_counter() - start


def measure(prefix, tool, out, entries, runs):
    """(entries, median launcher time, median minimal time) over `runs` alternating runs."""
    url = fill(prefix, tool, out, entries)
    if entries == 100:  # one run each first, so that both programs' DLLs are in the page cache
        timed(prefix, r'C:\kestlo-e2e-tools\Kestlo desktop.exe')
        timed(prefix, r'C:\kestlo-e2e-tools\minimal_launch.exe', CHROME + r'\Chrome.exe', url)
        time.sleep(1)  # the browsers they started write their records after they exit
    log = prefix.unix(wine_prefix.STARTED_LOG)
    if os.path.exists(log):
        os.remove(log)
    launcher, minimal = [], []
    for _ in range(runs):  # alternately, so that drift hits both alike
        launcher.append(timed(prefix, r'C:\kestlo-e2e-tools\Kestlo desktop.exe'))
        minimal.append(timed(prefix, r'C:\kestlo-e2e-tools\minimal_launch.exe', CHROME + r'\Chrome.exe', url))
    time.sleep(1)
    started = Path(log).read_bytes().count(b'module ')
    if started != 2 * runs:
        sys.exit(f'{entries} entries: the browser started {started} times, expected {2 * runs}')
    return entries, statistics.median(launcher), statistics.median(minimal)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--build', required=True)
    parser.add_argument('--out', required=True)
    parser.add_argument('--standin-run', required=True, help='the host tool, kestlo-standin-run')
    parser.add_argument('--runs', type=int, default=9)
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    # One prefix: 32-bit for the release exe, 64-bit for the 64-bit test build.
    loader = wine_prefix.Loader()
    arch = loader.arches_for(os.path.join(args.build, 'Kestlo desktop.exe'), ['win32'],
                             'the 32-bit "Kestlo desktop.exe"')[0]
    subprocess.run([args.standin_run, '--export', out], check=True)  # launcher.json
    facts = json.loads(Path(out, 'launcher.json').read_text())
    prefix = wine_prefix.Prefix(os.path.join(out, 'prefix-bench'), arch, os.path.abspath(args.build), loader, facts)
    prefix.create().wait(timeout=300)
    prefix.ready()
    tools = prefix.unix(wine_prefix.TOOLS)
    shutil.copy(os.path.join(prefix.build, 'minimal_launch.exe'), tools)
    browser = prefix.unix(CHROME + r'\Chrome.exe')
    os.makedirs(os.path.dirname(browser), exist_ok=True)
    shutil.copy(os.path.join(prefix.build, 'fake_browser.exe'), browser)

    try:
        rows = [measure(prefix, args.standin_run, out, entries, args.runs) for entries in (100, 1000, 5000)]
    finally:
        prefix.stop_server()

    lines = [f'Wine, {arch} prefix, medians of {args.runs} alternating runs (wall time of `wine PROGRAM`):',
             '',
             '| entries | Kestlo desktop.exe | minimal ShellExecuteA | difference | per entry | ratio |',
             '|---:|---:|---:|---:|---:|---:|']
    for entries, launcher, minimal in rows:
        lines.append(f'| {entries} | {launcher * 1000:.0f} ms | {minimal * 1000:.0f} ms | '
                     f'{(launcher - minimal) * 1000:.0f} ms | {(launcher - minimal) / entries * 1e6:.0f} us | '
                     f'{launcher / minimal:.2f} |')
    text = '\n'.join(lines)
    Path(out, 'wine-figures.md').write_text(text + '\n')
    print(text)


if __name__ == '__main__':
    main()
