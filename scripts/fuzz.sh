#!/usr/bin/env bash
# Usage: scripts/fuzz.sh [SECONDS]
# Builds the fuzz targets of fuzz/ with clang in build-fuzz/ and runs each in turn for SECONDS
# (default 60), one process at a time. Inputs that crash a target, break one of its checks or
# hang it are kept in build-fuzz/findings/<target>/, and a new one fails the run. The corpus
# each target grows is kept in build-fuzz/corpus/<target>/ for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=build-fuzz
zip_corpus=../shared/zip-corpus

. scripts/compiler-cache.sh
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DINSTALLER_FUZZ=ON "${compiler_cache[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"

# Seeds: the committed ones, and for the ZIP reader the shared corpus and the archives the
# extraction tests make with real tools (the small ones: big seeds slow every mutation).
seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds"
cp -r fuzz/seeds/. "$seeds/"
mkdir -p "$seeds/zip_extract"
if [[ -d $zip_corpus ]]; then
  find "$zip_corpus" -type f -size -64k ! -name '*.md' ! -name LICENSE -print0 |
    while IFS= read -r -d '' file; do
      cp "$file" "$seeds/zip_extract/$(basename "$(dirname "$file")")-$(basename "$file")"
    done
fi
tool_archives=$(mktemp -d)
trap 'rm -rf "$tool_archives"' EXIT
if python3 tests/archive/make_tool_archives.py "$tool_archives" >/dev/null 2>&1; then
  find "$tool_archives" -maxdepth 1 -name '*.zip' -size -64k -exec cp {} "$seeds/zip_extract/" \;
else
  echo "fuzz: the tool archives could not be made; the ZIP seeds go without them" >&2
fi

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=()
printf '%-16s %8s %12s %8s %8s  %s\n' target seconds execs cov ft findings
while read -r name; do
  [[ -n $name ]] || continue
  corpus=$build/corpus/$name
  findings=$build/findings/$name
  log=$build/logs/$name.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  options=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$findings/")
  [[ -f fuzz/$name.dict ]] && options+=(-dict="fuzz/$name.dict")
  [[ $name == zip_extract ]] && options+=(-max_len=65536)
  started=$build/logs/$name.started
  touch "$started"
  status=0
  "$build/fuzz/fuzz_$name" "${options[@]}" "$corpus" "$seeds/$name" >"$log" 2>&1 || status=$?
  stats=$(grep -E '^#[0-9]+.*cov:' "$log" | tail -n 1 || true)
  execs=$(grep -oE '^stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || echo '?')
  cov=$(grep -oE 'cov: [0-9]+' <<<"$stats" | grep -oE '[0-9]+' || echo '?')
  ft=$(grep -oE 'ft: [0-9]+' <<<"$stats" | grep -oE '[0-9]+' || echo '?')
  ran=$(grep -oE '^Done [0-9]+ runs in [0-9]+ second' "$log" | grep -oE '[0-9]+ second' | grep -oE '[0-9]+' || echo '?')
  found=$(find "$findings" -type f -newer "$started" | wc -l)
  printf '%-16s %8s %12s %8s %8s  %s\n' "$name" "$ran" "$execs" "$cov" "$ft" "$found"
  if ((status != 0 || found != 0)); then
    failed+=("$name")
    echo "fuzz: $name failed (status $status); its log ends:" >&2
    tail -n 40 "$log" >&2
  fi
done <"$build/fuzz-targets.txt"

if ((${#failed[@]})); then
  echo "fuzz: findings in ${failed[*]}; the inputs are in $build/findings/" >&2
  exit 1
fi
