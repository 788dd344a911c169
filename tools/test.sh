#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and tests each preset.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh all

started=$SECONDS
step() { printf '\n=== [%d s] %s\n' "$((SECONDS - started))" "$*"; }

step "set-up: install-deps.sh against a mirror caught mid-sync (shimmed apt)"
/usr/bin/python3 tools/install_deps_test.py

step "host: unit tests and scenarios over the in-memory Windows"
cmake --preset host
cmake --build --preset host -j"$(nproc)"
ctest --preset host -j"$(nproc)"

step "host under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset host-sanitize
cmake --build --preset host-sanitize -j"$(nproc)"
ctest --preset host-sanitize -j"$(nproc)"

step "host under valgrind: unit tests and every scenario"
valgrind_run() { valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite "$@" >/dev/null; }
valgrind_run build/host/kestlo_unit_tests
for scenario in scenarios/*.scenario demo/demo.scenario; do
  valgrind_run build/host/kestlo-standin-run --check "$scenario"
done
echo "valgrind: clean"

step "fuzzing the launch sequence for ${KESTLO_FUZZ_SECONDS:=30} s (clang, libFuzzer, ASan, UBSan)"
cmake --preset fuzz
cmake --build --preset fuzz -j"$(nproc)"
mkdir -p build/fuzz/corpus build/fuzz/findings
build/fuzz/launch_fuzzer -max_total_time="$KESTLO_FUZZ_SECONDS" -timeout=10 -print_final_stats=1 \
  -artifact_prefix=build/fuzz/findings/ build/fuzz/corpus fuzz/corpus 2>&1 | tail -n 12

step "windows: \"Kestlo desktop.exe\" cross-compiled; checks of the built file; every scenario under Wine"
cmake --preset windows
cmake --build --preset windows -j"$(nproc)"
ctest --preset windows

step "windows-clang: the same exe built with clang and lld; checks of the built file; Wine, 32-bit prefix"
cmake --preset windows-clang
cmake --build --preset windows-clang -j"$(nproc)"
ctest --preset windows-clang

if ! tools/wine32-runs.sh; then
  step "windows-x64: this machine cannot run 32-bit programs, so the Wine runs above were skipped;"
  echo "the same sources, built for 64-bit Windows, run every scenario under Wine instead"
  cmake --preset windows-x64
  cmake --build --preset windows-x64 -j"$(nproc)"
  ctest --preset windows-x64
fi

step "windows: a second clean build in another folder gives the same bytes"
rm -rf build/windows-again
cmake --preset windows -B build/windows-again >/dev/null
cmake --build build/windows-again -j"$(nproc)" >/dev/null
cmp "build/windows/Kestlo desktop.exe" "build/windows-again/Kestlo desktop.exe"
echo "reproducible: $(sha256sum "build/windows/Kestlo desktop.exe")"

step "release: tools/release.sh signed with a throwaway CA, unsigned, refusing bad inputs, keeping the last release"
/usr/bin/python3 tools/release_test.py build/windows
step "all passed"
