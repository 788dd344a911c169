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
echo "Running it under Wine on demo/demo.scenario (a fresh 32-bit prefix, about 20 s) ..."
login_host=$(sed -n 's/^KESTLO_LOGIN_HOST:STRING=//p' build/windows/CMakeCache.txt)
/usr/bin/python3 tools/wine_scenarios.py --show --arch win32 --build build/windows --out build/demo \
  --login-url "http://${login_host}/member/login.jhtml" demo/demo.scenario
