#!/usr/bin/env bash
# Runs every test: installs what is missing, then builds and tests each preset.
# The Wine runs mostly wait on Wine, so they go in the background, each preset's
# in a prefix of its own, while the host checks use the processors; each
# background step's output is shown when it ends. A table of step times ends it.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh all

started=$SECONDS
logs=build/test-logs
rm -rf "$logs" && mkdir -p "$logs"
times=()     # "seconds<TAB>step" for the table
waiting=()   # background steps: "pid<TAB>log<TAB>step<TAB>start"
step() { printf '\n=== [%d s] %s\n' "$((SECONDS - started))" "$1"; }
timed() {    # timed NAME COMMAND...: a foreground step
  local name=$1 begin=$SECONDS
  shift
  step "$name"
  "$@"
  times+=("$((SECONDS - begin))	$name")
}
in_background() {  # in_background NAME COMMAND...: output kept until it ends
  local name=$1 log
  shift
  log="$logs/${#waiting[@]}.log"
  step "$name (in the background)"
  (begin=$SECONDS; status=0; "$@" || status=$?; echo $((SECONDS - begin)) >"$log.seconds"; exit $status) >"$log" 2>&1 &
  waiting+=("$!	$log	$name")
}
wait_for_background() {
  local entry pid log name result failed=()
  for entry in "${waiting[@]}"; do
    IFS=$'\t' read -r pid log name <<<"$entry"
    if wait "$pid"; then result=passed; else result=FAILED; failed+=("$name"); fi
    step "$name: $result; its output:"
    cat "$log"
    times+=("$(cat "$log.seconds" 2>/dev/null || echo 0)	$name (in the background)")
  done
  [ ${#failed[@]} -eq 0 ] || { printf 'FAILED: %s\n' "${failed[@]}" >&2; exit 1; }
}
print_times() {
  printf '\n%8s  %s\n' seconds step
  printf '%s\n' "${times[@]}" | awk -F'\t' '{ printf "%8d  %s\n", $1, $2 }'
  printf '%8d  %s\n' "$((SECONDS - started))" "all, wall clock"
}
trap 'kill $(jobs -p) 2>/dev/null || true' EXIT

host_tests() {
  cmake --preset "$1"
  cmake --build --preset "$1" -j"$(nproc)"
  ctest --preset "$1" -j"$(nproc)"
}
build() {  # quiet unless it fails; then the build's own output says why
  cmake --preset "$1" >"$logs/build-$1.log" 2>&1 && cmake --build --preset "$1" -j"$(nproc)" >>"$logs/build-$1.log" 2>&1 ||
    { cat "$logs/build-$1.log"; return 1; }
  grep -F 'SHA-256' "$logs/build-$1.log" || true
}
# A preset's Wine runs at once (ctest -j), with the host tool built once beforehand.
wine_tests() { ctest --preset "$1" -j4 -E '^wine\.host_tool$' --fixture-exclude-setup host_tool; }

timed "set-up: install-deps.sh against a mirror caught mid-sync (shimmed apt)" \
  /usr/bin/python3 tools/install_deps_test.py
timed "host: unit tests and scenarios over the in-memory Windows" host_tests host

windows_builds() {
  build windows
  build windows-clang
  if ! tools/wine32-runs.sh; then
    echo "This machine cannot run 32-bit programs: the Wine runs use the 64-bit test build (windows-x64)."
    build windows-x64
  fi
  cmake --build build/windows --target host_tool >/dev/null
}
timed "windows: \"Kestlo desktop.exe\" with GCC and with clang (and the 64-bit test build), the host tool" \
  windows_builds
if tools/wine32-runs.sh; then
  in_background "windows: checks of the built file; scenarios, random machines, planted DLLs under Wine" \
    wine_tests windows
  in_background "windows-clang: the clang exe's checks and Wine runs, 32-bit prefix" wine_tests windows-clang
else
  timed "windows, windows-clang: checks of the built files (no 32-bit programs here: Wine runs skipped)" \
    bash -c 'ctest --preset windows -R "^executable" && ctest --preset windows-clang -R "^executable"'
  in_background "windows-x64: every scenario, random machine and the planted DLLs under Wine, 64-bit build" \
    wine_tests windows-x64
fi

timed "host under AddressSanitizer and UndefinedBehaviorSanitizer" host_tests host-sanitize

valgrind_all() {
  valgrind_run() { valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite "$@" >/dev/null; }
  valgrind_run build/host/kestlo_unit_tests
  for scenario in scenarios/*.scenario demo/demo.scenario; do
    valgrind_run build/host/kestlo-standin-run --check "$scenario"
  done
  echo "valgrind: clean"
}
timed "host under valgrind: unit tests and every scenario" valgrind_all

fuzz() {
  cmake --preset fuzz
  cmake --build --preset fuzz -j"$(nproc)"
  mkdir -p build/fuzz/corpus build/fuzz/findings
  build/fuzz/launch_fuzzer -max_total_time="$KESTLO_FUZZ_SECONDS" -timeout=10 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/findings/ build/fuzz/corpus fuzz/corpus 2>&1 | tail -n 12
}
timed "fuzzing the launch sequence for ${KESTLO_FUZZ_SECONDS:=30} s (clang, libFuzzer, ASan, UBSan)" fuzz

reproducible() {
  rm -rf build/windows-again
  cmake --preset windows -B build/windows-again >/dev/null
  cmake --build build/windows-again -j"$(nproc)" >/dev/null
  cmp "build/windows/Kestlo desktop.exe" "build/windows-again/Kestlo desktop.exe"
  echo "reproducible: $(sha256sum "build/windows/Kestlo desktop.exe")"
}
timed "windows: a second clean build in another folder gives the same bytes" reproducible
timed "release: tools/release.sh signed and time-stamped, unsigned, refusing bad inputs, keeping the last release" \
  /usr/bin/python3 tools/release_test.py build/windows

wait_for_background
step "all passed"
print_times
