#!/usr/bin/env bash
# Builds everything and runs every test twice: once in an optimised build, once under
# AddressSanitizer and UndefinedBehaviorSanitizer; then runs every fuzz target for 20 s, so a
# target that no longer builds or crashes at once is noticed; then cross-builds for Windows and
# runs that build's tests under Wine. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
. scripts/compiler-cache.sh

jobs=$(nproc)

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "${compiler_cache[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600
}

echo "== optimised build =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== sanitizer build =="
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_suite build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DINSTALLER_SANITIZE=ON

echo "== fuzz smoke run =="
scripts/fuzz.sh 20

echo "== Windows build and its tests under Wine =="
scripts/build-windows.sh
scripts/test-windows.sh
