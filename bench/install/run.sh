#!/usr/bin/env bash
# Install benchmark: a 512 MiB archive served by the sample service, downloaded and unpacked
# through the real window (install_bench: Button1Click with its progress handlers and event
# pumps, on Xvfb when there is no display) against `curl -o` + `unzip` on the same archive in
# the same run. Each side runs 3 times into fresh folders; the median counts.
#
# The window's flow ends with a fixed one-second pause before it starts the setup program;
# the figures are given with and without it.
#
# usage: bench/install/run.sh [BUILD_DIR]   (default: build-install beside this tree; needs
#        the install_bench target)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build-install}" && pwd)
bench="$build/bench/install/install_bench"
packtool="$build/tools/packtool/packtool"
work=/tmp/install-bench
[ -x "$bench" ] && [ -x "$packtool" ] || { echo "build the install_bench and packtool targets in $build" >&2; exit 1; }

if [ ! -f "$work/content/bench.zip" ]; then
    echo "== making the archive"
    rm -rf "$work" && mkdir -p "$work/src/data" "$work/content"
    printf '#!/bin/sh\ntouch "$(dirname "$0")/setup-ran.txt"\n' > "$work/src/setup.sh"
    chmod +x "$work/src/setup.sh"
    head -c $((489 << 20)) /dev/urandom > "$work/src/data/noise.bin"
    python3 - "$work/src/data/text.log" <<'PY'
import random, sys
rng = random.Random(1)
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(4000)]
with open(sys.argv[1], "w") as f:
    for _ in range(48):
        f.write("\n".join(" ".join(rng.choices(words, k=12)) for _ in range(14000)) + "\n")
PY
    (cd "$work/src" && zip -q -r -6 "$work/content/bench.zip" .)
    rm -rf "$work/src"
fi
cat > "$work/content/service.json" <<'JSON'
{"package_id": "bench", "launcher": "setup.sh",
 "versions": [{"id": "1", "title": "bench", "zip": "bench.zip", "archive": "bench.zip"}]}
JSON
size=$(stat -c %s "$work/content/bench.zip")
echo "archive: $size bytes ($((size >> 20)) MiB), unpacks to $(unzip -Zt "$work/content/bench.zip" | sed 's/.*, \([0-9]*\) bytes uncompressed.*/\1/') bytes"

python3 "$root/tools/sample-service/sample_service.py" --port 0 --quiet --content "$work/content" >"$work/service.out" &
service=$!
trap 'kill "$service" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$work/service.out" ] && break; sleep 0.1; done
base=$(head -1 "$work/service.out")

mkdir -p "$work/program"
"$packtool" write --pid bench --launcher setup.sh --banner "${base}banner" --ad "${base}ad" \
    --notice "${base}notice" --versions "${base}versions" -o "$work/program/pack.db"

run_window() {
    if [ -n "${DISPLAY:-}" ]; then "$bench" "$work/program" 2>>"$work/window.log"
    else xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$bench" "$work/program" 2>>"$work/window.log"; fi
}
median() { sort -n | sed -n 2p; }

peer_times=() window_lines=()
for run in 1 2 3; do
    rm -rf "$work/peer" "$work/program/download" && mkdir -p "$work/peer" && sync
    start=$(date +%s%N)
    curl -s -o "$work/peer/bench.zip" "${base}files/bench.zip"
    unzip -q -o "$work/peer/bench.zip" -d "$work/peer/bench"
    peer_times+=("$(( ($(date +%s%N) - start) / 1000000 ))")
    sync
    window_lines+=("$(run_window)")
    [ -f "$work/program/download/bench/setup-ran.txt" ] || sleep 1
    [ -f "$work/program/download/bench/setup-ran.txt" ] || { echo "the window's install did not start the setup program" >&2; exit 1; }
done
rm -rf "$work/peer" "$work/program/download"

peer_ms=$(printf '%s\n' "${peer_times[@]}" | median)
window_ms=$(printf '%s\n' "${window_lines[@]}" | cut -d' ' -f1 | median)
echo "curl -o + unzip       : runs ${peer_times[*]} ms, median $peer_ms ms"
echo "window (Button1Click) : runs $(printf '%s\n' "${window_lines[@]}" | cut -d' ' -f1 | tr '\n' ' ')ms, median $window_ms ms"
awk -v w="$window_ms" -v p="$peer_ms" 'BEGIN {
    printf "window without the 1 s pause: %d ms = %.2f x curl + unzip (goal: at most 1.1 x); with it: %.2f x\n",
        w - 1000, (w - 1000) / p, w / p }'
for line in "${window_lines[@]}"; do
    set -- $line
    echo "  progress bar repainted $2 times, longest gap between repaints $3 ms"
done
