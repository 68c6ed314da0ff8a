#!/bin/sh
# Extraction benchmark: our zipextract against unzip and bsdtar on one Info-ZIP archive of a
# few hundred MiB (thousands of small files and some large ones). Each tool runs 3 times into
# a fresh folder; the median time counts. Also reports zipextract's peak memory.
#
# Usage: bench/archive/run.sh [BUILD_DIR]   (default: build-archive beside this tree)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build-archive}
zipextract=$(cd "$build" && pwd)/tools/zipextract/zipextract
work=/tmp/zipextract-bench
archive=$work/bench.zip

[ -x "$zipextract" ] || { echo "no zipextract at $zipextract; build the zipextract target" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package: time)" >&2; exit 1; }

if [ ! -f "$archive" ]; then
    rm -rf "$work" && mkdir -p "$work/src"
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
    (cd "$work/src" && zip -q -r -6 "$archive" .)
    rm -rf "$work/src"
fi

median3() { sort -n | sed -n 2p; }

# One timed run of "$@" into a fresh $work/out, appended to $work/$name.runs as "wall user system".
time_once() {
    name=$1
    shift
    rm -rf "$work/out" && mkdir -p "$work/out" && sync
    /usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$@" >/dev/null 2>&1
    cat "$work/time.txt" >>"$work/$name.runs"
}

# The median wall time and the median CPU time (user + system) of a tool's runs. CPU time is
# the steadier figure on a shared machine.
medians() {
    wall=$(cut -d' ' -f1 "$work/$1.runs" | median3)
    cpu=$(awk '{ printf "%.2f\n", $2 + $3 }' "$work/$1.runs" | median3)
    echo "$wall $cpu"
}

# The tools take turns, so that a busy spell on the machine hits all of them alike.
rm -f "$work"/*.runs
for round in 1 2 3; do
    time_once zipextract "$zipextract" "$archive" "$work/out"
    time_once unzip unzip -o -q "$archive" -d "$work/out"
    time_once bsdtar bsdtar -xf "$archive" -C "$work/out"
done
ours=$(medians zipextract)
unzip=$(medians unzip)
bsdtar=$(medians bsdtar)

# Our output must be right, not just fast.
rm -rf "$work/out" "$work/check" && mkdir -p "$work/out" "$work/check"
"$zipextract" "$archive" "$work/out" && unzip -q "$archive" -d "$work/check" && diff -r "$work/out" "$work/check" >/dev/null \
    || { echo "zipextract output differs from unzip" >&2; exit 1; }

peak=$(/usr/bin/time -v "$zipextract" "$archive" "$work/out" 2>&1 | sed -n 's/.*Maximum resident set size (kbytes): //p')

ratio() { echo "scale=2; $1 / $2" | bc; }
report() { # name "wall cpu"
    set -- "$1" $2
    printf "%-10s %8s %8s %10s %8s\n" "$1" "$2" "$(ratio "$2" "${unzip%% *}")" "$3" "$(ratio "$3" "${unzip##* }")"
}
echo "archive: $archive ($(du -m "$archive" | cut -f1) MiB, $(unzip -Z1 "$archive" | wc -l) entries)"
printf "%-10s %8s %8s %10s %8s\n" tool "wall s" "x unzip" "cpu s" "x unzip"
report zipextract "$ours"
report unzip "$unzip"
report bsdtar "$bsdtar"
echo "zipextract peak memory: $peak KiB"
