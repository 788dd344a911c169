#!/usr/bin/env bash
# Builds "Kestlo desktop.exe" and runs it once under Wine on the bundled demo
# machine (demo/demo.scenario), printing the debugger trace, the program it
# started with its argument (or the message box, with a screenshot) and the
# exit code.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh all
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)" | grep -F "SHA-256" || true
build=build/windows arch=win32
if ! tools/wine32-runs.sh; then
  echo "This machine cannot run 32-bit programs: running the 64-bit test build of the same sources instead."
  cmake --preset windows-x64 >/dev/null
  cmake --build --preset windows-x64 -j"$(nproc)" >/dev/null
  build=build/windows-x64 arch=win64
fi
# The runner reads no scenario file itself: the host tool exports the demo for it.
cmake --build "$build" --target host_tool >/dev/null
echo "Running it under Wine on demo/demo.scenario (a fresh $arch prefix, about 20 s) ..."
/usr/bin/python3 tools/wine_scenarios.py --show --arch "$arch" --build "$build" --out build/demo \
  --standin-run "$build/host-tool/kestlo-standin-run" demo/demo.scenario
