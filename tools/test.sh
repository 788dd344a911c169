#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and tests each preset.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh all

step() { printf '\n=== %s\n' "$*"; }

step "host: unit tests and scenarios over the in-memory Windows"
cmake --preset host
cmake --build --preset host -j"$(nproc)"
ctest --preset host -j"$(nproc)"

step "host under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset host-sanitize
cmake --build --preset host-sanitize -j"$(nproc)"
ctest --preset host-sanitize -j"$(nproc)"
