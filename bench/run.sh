#!/usr/bin/env bash
# Benchmarks, not tests: the launch sequence on the host over stand-in
# registries of 100 to 10,000 entries, then the real executable under Wine
# against a minimal ShellExecuteA program. Figures go to build/bench/figures.md
# and to the terminal. Takes a few minutes.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh all
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$(nproc)" >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)" >/dev/null
cmake --build --preset windows --target host_tool >/dev/null
mkdir -p build/bench
build/bench/launch_bench --benchmark_out=build/bench/host.json --benchmark_out_format=json \
  --benchmark_repetitions=1 >/dev/null
{
  /usr/bin/python3 bench/host_summary.py build/bench/host.json
  echo
  /usr/bin/python3 bench/wine_bench.py --build build/windows --out build/bench \
    --standin-run build/host-tool/kestlo-standin-run "$@"
} | tee build/bench/figures.md
