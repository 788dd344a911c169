#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and tests each preset.
# The Wine runs mostly wait on Wine, so they go in the background while the
# host checks use the processors; their output is shown when they end. A table
# of step times ends it.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh all

started=$SECONDS current="" begun=0 times=() background=()
logs=build/test-logs
rm -rf "$logs" && mkdir -p "$logs"
step() {  # ends the step before (its time goes in the table) and begins the next
  [ -z "$current" ] || times+=("$((SECONDS - begun))	$current")
  current=$1 begun=$SECONDS
  printf '\n=== [%d s] %s\n' "$((SECONDS - started))" "$1"
}
in_background() {  # in_background NAME COMMAND...: its output and time kept until it ends
  local log="$logs/${#background[@]}.log"
  printf '\n=== [%d s] %s (in the background)\n' "$((SECONDS - started))" "$1"
  (begin=$SECONDS; status=0; "${@:2}" || status=$?; echo $((SECONDS - begin)) >"$log.seconds"; exit $status) \
    >"$log" 2>&1 &
  background+=("$!	$log	$1")
}
trap 'kill $(jobs -p) 2>/dev/null || true' EXIT
# A preset's Wine runs at once (ctest -j), with the host tool built once beforehand.
wine_tests() { ctest --preset "$1" -j4 -E '^wine\.host_tool$' --fixture-exclude-setup host_tool; }
build() {  # quiet unless it fails; then the build's own output says why
  { cmake --preset "$1" && cmake --build --preset "$1" -j"$(nproc)"; } >"$logs/build-$1.log" 2>&1 ||
    { cat "$logs/build-$1.log"; return 1; }
  grep -F 'SHA-256' "$logs/build-$1.log" || true
}

step "set-up: install-deps.sh against a mirror caught mid-sync (shimmed apt)"
/usr/bin/python3 tools/install_deps_test.py

step "host: unit tests and scenarios over the in-memory Windows"
cmake --preset host
cmake --build --preset host -j"$(nproc)"
ctest --preset host -j"$(nproc)"

step "windows: \"Kestlo desktop.exe\" with GCC and with clang (and the 64-bit test build), the host tool"
build windows
build windows-clang
cmake --build build/windows --target host_tool >/dev/null
if tools/wine32-runs.sh; then
  in_background "windows: checks of the built file; scenarios, random machines, planted DLLs under Wine" \
    wine_tests windows
  in_background "windows-clang: the clang exe's checks and Wine runs, 32-bit prefix" wine_tests windows-clang
else
  echo "This machine cannot run 32-bit programs: the Wine runs use the 64-bit test build (windows-x64)."
  build windows-x64
  ctest --preset windows -R '^executable'
  ctest --preset windows-clang -R '^executable'
  in_background "windows-x64: every scenario, random machine and the planted DLLs under Wine, 64-bit build" \
    wine_tests windows-x64
fi

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

step "fuzzing the launch sequence for ${KESTLO_FUZZ_SECONDS:=30} s and the support replay for ${KESTLO_REPLAY_FUZZ_SECONDS:=20} s (clang, libFuzzer, ASan, UBSan)"
cmake --preset fuzz
cmake --build --preset fuzz -j"$(nproc)"
mkdir -p build/fuzz/corpus build/fuzz/reg_corpus build/fuzz/findings
build/fuzz/launch_fuzzer -max_total_time="$KESTLO_FUZZ_SECONDS" -timeout=10 -print_final_stats=1 \
  -artifact_prefix=build/fuzz/findings/ build/fuzz/corpus fuzz/corpus 2>&1 | tail -n 12
build/fuzz/reg_import_fuzzer -max_total_time="$KESTLO_REPLAY_FUZZ_SECONDS" -timeout=10 -print_final_stats=1 \
  -artifact_prefix=build/fuzz/findings/ build/fuzz/reg_corpus fuzz/reg_corpus 2>&1 | tail -n 12

step "windows: a second clean build in another folder gives the same bytes"
rm -rf build/windows-again
cmake --preset windows -B build/windows-again >/dev/null
cmake --build build/windows-again -j"$(nproc)" >/dev/null
cmp "build/windows/Kestlo desktop.exe" "build/windows-again/Kestlo desktop.exe"
echo "reproducible: $(sha256sum "build/windows/Kestlo desktop.exe")"

step "release: tools/release.sh signed and time-stamped, unsigned, refusing bad inputs, keeping the last release"
/usr/bin/python3 tools/release_test.py build/windows

step "waiting for the background steps"
failed=()
for entry in "${background[@]}"; do
  IFS=$'\t' read -r pid log name <<<"$entry"
  if wait "$pid"; then result=passed; else result=FAILED; failed+=("$name"); fi
  printf '\n=== %s: %s; its output:\n' "$name" "$result"
  cat "$log"
  times+=("$(cat "$log.seconds" 2>/dev/null || echo 0)	$name (in the background)")
done
[ ${#failed[@]} -eq 0 ] || { printf 'FAILED: %s\n' "${failed[@]}" >&2; exit 1; }
step "all passed"
printf '\n%8s  %s\n' seconds step
printf '%s\n' "${times[@]}" | awk -F'\t' '{ printf "%8d  %s\n", $1, $2 }'
printf '%8d  %s\n' "$((SECONDS - started))" "all, wall clock"
