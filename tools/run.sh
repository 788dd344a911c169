#!/usr/bin/env bash
# Builds the launcher and runs it once on the bundled demo machine, printing the
# debugger trace and what it decided.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh host
cmake --preset host >/dev/null
cmake --build --preset host -j"$(nproc)" >/dev/null
echo "Demo machine: demo/demo.scenario (in-memory Windows registry)"
build/host/kestlo-standin-run demo/demo.scenario
