#!/usr/bin/env bash
# Builds "Kestlo desktop.exe" and runs it once under Wine on the bundled demo
# machine (demo/demo.scenario), printing the debugger trace, the program it
# started with its argument (or the message box, with its caption and text) and the
# exit code.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh all
# Quiet unless it fails: then the build's own output says why.
quietly() {
  local log
  log=$(mktemp)
  "$@" >"$log" 2>&1 || { cat "$log" >&2; echo "run.sh: failed: $*" >&2; rm -f "$log"; exit 1; }
  grep -F "SHA-256" "$log" || true   # the exe's size and hash, when it was linked
  rm -f "$log"
}
quietly cmake --preset windows
quietly cmake --build --preset windows -j"$(nproc)"
build=build/windows arch=win32
if ! tools/wine32-runs.sh; then
  echo "This machine cannot run 32-bit programs: running the 64-bit test build of the same sources instead."
  quietly cmake --preset windows-x64
  quietly cmake --build --preset windows-x64 -j"$(nproc)"
  build=build/windows-x64 arch=win64
fi
# The runner reads no scenario file itself: the host tool exports the demo for it.
quietly cmake --build "$build" --target host_tool
echo "Running it under Wine on demo/demo.scenario (a fresh $arch prefix, about 20 s) ..."
/usr/bin/python3 tools/wine_scenarios.py --show --arch "$arch" --build "$build" --out build/demo \
  --standin-run build/host-tool/kestlo-standin-run demo/demo.scenario
