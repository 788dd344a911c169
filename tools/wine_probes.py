#!/usr/bin/env python3
"""Runs the registry probes (probes/registry_probes_main.cpp, the same
probes the stand-in answers on the host) against Wine's real registry.

    wine_probes.py --build DIR --out DIR [--arch win32,win64]

In each fresh prefix, with LC_ALL=zh_CN.UTF-8 (ANSI code page 936), it runs
registry_probes.exe under trace_collector.exe, then checks the debug strings
the collector received. Exits 1 if any probe failed, 77 (skipped) where
32-bit programs cannot run.
"""
import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'wine'))
import prefix as wine_prefix  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--build', required=True)
    parser.add_argument('--out', required=True)
    parser.add_argument('--arch', default='win32,win64')
    args = parser.parse_args()
    build, out = os.path.abspath(args.build), os.path.abspath(args.out)
    for name in ('registry_probes.exe', 'trace_collector.exe', 'Kestlo desktop.exe'):
        if not os.path.exists(os.path.join(build, name)):
            sys.exit(f'{name} is not in {build}: build the windows preset first')
    loader = wine_prefix.Loader()
    arches = loader.arches_for(os.path.join(build, 'registry_probes.exe'), args.arch.split(','),
                               'the 32-bit registry probes')

    failed = 0
    for arch in arches:
        prefix = wine_prefix.Prefix(os.path.join(out, 'prefix-' + arch), arch, build, loader)
        prefix.create().wait(timeout=300)
        try:
            prefix.ready()
            shutil.copy(os.path.join(build, 'registry_probes.exe'), prefix.unix(wine_prefix.TOOLS))
            probes = wine_prefix.TOOLS + r'\registry_probes.exe'
            trace = os.path.join(out, f'probes-{arch}.trace')
            code, output = prefix.wine(wine_prefix.TOOLS + r'\trace_collector.exe', 'Z:' + trace.replace('/', '\\'),
                                       '60', probes, timeout=120)
            print(f'--- {arch} prefix')
            print(output.decode('gbk', 'replace').strip())
            with open(trace) as f:
                exits = [line.split()[1] for line in f if line.startswith('X ')]
            if code != 0 or exits != ['0']:
                failed += 1
                print(f'FAIL registry probes ({arch}): exit {exits or "none recorded"}')
            code, output = prefix.wine(probes, '--check-trace', 'Z:' + trace.replace('/', '\\'))
            print(output.decode('gbk', 'replace').strip())
            failed += code != 0
        except (wine_prefix.PrefixError, subprocess.TimeoutExpired, OSError) as error:
            failed += 1
            print(f'FAIL {arch}: {error}')
        finally:
            prefix.stop_server()
    print('registry probes under Wine: ' + ('FAILED' if failed else 'all passed'))
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()
