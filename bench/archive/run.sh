#!/bin/sh
# Extraction benchmark: zipextract on one thread and on every core against bsdtar, unzip and 7z,
# on two archives: many files (6,000 small text files and some large ones, a few hundred MiB)
# and a few large ones (4 x 100 MiB, half noise, half text). The tools take turns, ROUNDS times
# (default 3) into a fresh folder each, each run just after the memory is warmed
# (bench/warm_memory.sh); the median wall time, CPU time and peak memory count.
# The outputs stay until the end: some 4 GB of disk per round. Last, zipextract's peak memory
# on an archive made to make it hold the most.
#
# Usage: bench/archive/run.sh [BUILD_DIR]   (default: build beside this script's tree)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
zipextract=$(cd "$build" && pwd)/tools/zipextract/zipextract
work=/tmp/zipextract-bench
rounds=${ROUNDS:-3}
cores=$(nproc)

[ -x "$zipextract" ] || { echo "no zipextract at $zipextract; build the zipextract target" >&2; exit 1; }
for tool in /usr/bin/time bsdtar unzip 7z zip bc; do
    command -v "$tool" >/dev/null || { echo "needs $tool (Debian: time, libarchive-tools, unzip, p7zip-full, zip, bc)" >&2; exit 1; }
done
mkdir -p "$work"

if [ ! -f "$work/bench.zip" ]; then
    rm -rf "$work/src" && mkdir -p "$work/src"
    python3 - "$work/src" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(1)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(2000)]
def text(size):
    out = bytearray()
    while len(out) < size:
        out += b" ".join(rng.choices(words, k=64)) + b"\n"
    return bytes(out[:size])
# 6,000 small files, 1 to 48 KiB of text, in 60 folders
for i in range(6000):
    folder = os.path.join(root, "small", "d%02d" % (i % 60))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%04d.txt" % i), "wb") as f:
        f.write(text(rng.randint(1024, 48 * 1024)))
# Large files: text, half noise, and incompressible noise
os.makedirs(os.path.join(root, "large"))
chunk = text(1 << 20)
with open(os.path.join(root, "large", "text.log"), "wb") as f:
    for _ in range(120):
        f.write(chunk[rng.randrange(4096):] + chunk[:4096])
for name, size in [("mixed.bin", 64 << 20), ("noise.bin", 48 << 20)]:
    with open(os.path.join(root, "large", name), "wb") as f:
        for _ in range(size >> 20):
            noise = rng.randbytes(1 << 20)
            f.write(noise if name == "noise.bin" else noise[: 1 << 19] + chunk[: 1 << 19])
PY
    (cd "$work/src" && zip -q -r -6 "$work/bench.zip" .)
    rm -rf "$work/src"
fi

if [ ! -f "$work/large.zip" ]; then
    rm -rf "$work/src" && mkdir -p "$work/src"
    python3 - "$work/src" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(2)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(2000)]
out = bytearray()
while len(out) < (1 << 20):
    out += b" ".join(rng.choices(words, k=64)) + b"\n"
chunk = bytes(out[: 1 << 20])
# 4 files of 100 MiB: every MiB half noise, half text
for n in range(4):
    with open(os.path.join(root, "part%d.bin" % n), "wb") as f:
        for i in range(100):
            f.write(rng.randbytes(1 << 19) + chunk[(i * 4096) % (1 << 19):][: 1 << 19])
PY
    (cd "$work/src" && zip -q -r -6 "$work/large.zip" .)
    rm -rf "$work/src"
fi

# The archive that makes unpacking hold the most: a full central directory of long names, and
# entries that fill every buffer (some decoded whole by the workers themselves, some by the
# full writers, some streamed).
if [ ! -f "$work/memory.zip" ] || [ -z "$(unzip -Z1 "$work/memory.zip" own00.bin 2>/dev/null)" ]; then
    python3 - "$work/memory.zip" <<'PY'
import random, sys, zipfile
text = b"".join(b"%d lorem ipsum dolor sit amet %d\n" % (i, i * 7) for i in range(200000))
noise = random.Random(3).randbytes(126 * 1024)
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    for i in range(16):
        z.writestr("own%02d.bin" % i, noise)
        z.writestr("big/whole%02d.txt" % i, text[: 1600 * 1024])
        z.writestr("big/stream%02d.txt" % i, text * 2)
    for i in range(60000):
        z.writestr("n/%05d_" % i + "x" * 200, b"")
PY
fi

. "$here/../median.sh"
. "$here/../warm_memory.sh"
. "$here/../removals.sh"

# Every run writes into a folder of its own, and all of them are removed only at the end
# (bench/removals.sh): when each run removed the one before, creating files took most of the
# time of every tool on the many-files archive.
runs=0
[ -d "$work/runs" ] && remove_runs "$work/runs"
wait_out_removals
trap 'remove_runs "$work/runs"' EXIT
fresh() {
    runs=$((runs + 1))
    out=$work/runs/$runs
    mkdir -p "$out" && sync && warm_memory
}

# One timed run into the folder of the fresh call before it, appended to $work/$name.runs as
# "wall user system peak-KiB".
time_once() {
    name=$1
    shift
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" >/dev/null 2>&1
    cat "$work/time.txt" >>"$work/$name.runs"
}

# zipextract's output must be right, not just fast.
check() {
    fresh && mine=$out && fresh
    "$zipextract" "$1" "$mine" && unzip -q "$1" -d "$out" && diff -r "$mine" "$out" >/dev/null \
        || { echo "zipextract output differs from unzip on $1" >&2; exit 1; }
}

ratio() { echo "scale=2; $1 / $2" | bc; }

bench() {
    archive=$1
    check "$archive"
    rm -f "$work"/*.runs
    for round in $(seq "$rounds"); do
        fresh && time_once zipextract-1 "$zipextract" --threads 1 "$archive" "$out"
        fresh && time_once bsdtar bsdtar -xf "$archive" -C "$out"
        fresh && time_once zipextract-N "$zipextract" --threads "$cores" "$archive" "$out"
        fresh && time_once unzip unzip -o -q "$archive" -d "$out"
        fresh && time_once 7z 7z x -y "-o$out" "$archive"
    done
    base=$(cut -d' ' -f1 "$work/bsdtar.runs" | median)
    echo "archive: $archive ($(du -m "$archive" | cut -f1) MiB, $(unzip -Z1 "$archive" | wc -l) entries), $rounds rounds, $cores cores"
    printf "%-14s %8s %9s %8s %10s\n" tool "wall s" "x bsdtar" "cpu s" "peak KiB"
    for name in zipextract-1 zipextract-N bsdtar unzip 7z; do
        wall=$(cut -d' ' -f1 "$work/$name.runs" | median)
        cpu=$(awk '{ printf "%.2f\n", $2 + $3 }' "$work/$name.runs" | median)
        peak=$(cut -d' ' -f4 "$work/$name.runs" | median)
        printf "%-14s %8s %9s %8s %10s\n" "$name" "$wall" "$(ratio "$wall" "$base")" "$cpu" "$peak"
    done
}

bench "$work/bench.zip"
echo
bench "$work/large.zip"
echo "(zipextract-N: --threads $cores)"

# Peak memory only, on the archive made for it: any worker count must stay under 32 MiB, up to
# 8 workers, the most used.
echo
echo "archive: $work/memory.zip ($(unzip -Z1 "$work/memory.zip" | wc -l) entries), peak memory"
printf "%-22s %10s\n" zipextract "peak KiB"
for threads in default 1 8; do
    fresh
    if [ "$threads" = default ]; then set --; else set -- --threads "$threads"; fi
    /usr/bin/time -f "%M" -o "$work/time.txt" "$zipextract" "$@" "$work/memory.zip" "$out"
    printf "%-22s %10s\n" "threads: $threads" "$(cat "$work/time.txt")"
done
