#!/usr/bin/env python3
"""Summarises launch_bench's JSON output: per-entry figures and their growth.

    host_summary.py HOST.json
"""
import json
import sys

runs = [b for b in json.load(open(sys.argv[1]))['benchmarks'] if b.get('run_type') == 'iteration']
lines = ['Host, stand-in registry, optimised build:', '',
         '| entries | time per run | time per entry | registry calls per entry | heap allocations per entry |',
         '|---:|---:|---:|---:|---:|']
for b in runs:
    lines.append(f"| {int(b['entries'])} | {b['real_time']:.0f} us | {b['time_per_entry'] * 1e6:.2f} us | "
                 f"{b['registry_calls_per_entry']:.3f} | {b['allocations_per_entry']:.3f} |")
first, last = runs[0], runs[-1]
extra = (last['allocations_per_run'] - first['allocations_per_run']) / (last['entries'] - first['entries'])
lines += ['',
          f"Growth from {int(first['entries'])} to {int(last['entries'])} entries: time per entry x"
          f"{last['time_per_entry'] / first['time_per_entry']:.2f}, registry calls per entry x"
          f"{last['registry_calls_per_entry'] / first['registry_calls_per_entry']:.2f}.",
          f'Each further ordinary (non-browser) entry costs {extra:.2f} heap allocations: its name and display name.']
print('\n'.join(lines))
