#!/usr/bin/env bash
# Install benchmark: the archive benchmark's archive (225 MiB, 6,000 files) served by the sample
# service, downloaded and unpacked through the real window (install_bench: Button1Click with
# its progress handlers and event pumps, on Xvfb when there is no display) against `curl -o` +
# `bsdtar -xf` on the same archive from the same server. The two take turns ROUNDS times (default
# 5, as one tool's time for the same archive can double from one minute to the next on a virtual
# machine), each into folders of its own that are all removed only at the end, long enough after
# the last bench's removals (bench/removals.sh), each just after the memory is warmed
# (bench/warm_memory.sh); the median counts. Each round's own ratio is given too, and the time
# bsdtar would have to take for the window to break even.
#
# The window's flow ends with a fixed one-second pause before it starts the setup program;
# the figures are given with and without it.
#
# usage: [SIGNED=1] [ROUNDS=N] bench/install/run.sh [BUILD_DIR]   (default: build beside this
#        tree; needs the install_bench and packtool targets)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
bench="$build/bench/install/install_bench"
packtool="$build/tools/packtool/packtool"
work=/tmp/install-bench
[ -x "$bench" ] && [ -x "$packtool" ] || { echo "build the install_bench and packtool targets in $build" >&2; exit 1; }

# The archive benchmark's many-files archive (bench/archive/run.sh makes it), with the setup
# program added at its top.
source_zip=/tmp/zipextract-bench/bench.zip
[ -f "$source_zip" ] || { echo "run bench/archive/run.sh first: it makes $source_zip" >&2; exit 1; }
if [ ! -f "$work/content/bench.zip" ] || [ "$source_zip" -nt "$work/content/bench.zip" ]; then
    echo "== making the archive"
    rm -rf "$work" && mkdir -p "$work/src" "$work/content"
    printf '#!/bin/sh\ntouch "$(dirname "$0")/setup-ran.txt"\n' > "$work/src/setup.sh"
    chmod +x "$work/src/setup.sh"
    cp "$source_zip" "$work/content/bench.zip"
    (cd "$work/src" && zip -q "$work/content/bench.zip" setup.sh)
    rm -rf "$work/src"
fi
# SIGNED=1: the archive is signed and the package carries the key, so the window also checks
# the signature (a hash of the whole archive) before it unpacks. The peers check the same
# signature with minisign, as the tools at hand would: the unsigned archive, and the signature
# as a file of its own beside it; minisign makes it, and packtool puts it into the archive.
served=bench.zip key_option=() signed=${SIGNED:-0} peer_versions=''
if [ "$signed" = 1 ]; then
    if [ ! -f "$work/content/bench-signed.zip" ] || [ "$work/content/bench.zip" -nt "$work/content/bench-signed.zip" ]; then
        rm -f "$work/key.pub" "$work/key.key"
        "$packtool" keygen -o "$work/key" >/dev/null
        minisign -S -s "$work/key.key" -m "$work/content/bench.zip" -x "$work/content/bench.zip.minisig" </dev/null >/dev/null
        "$packtool" sign --signature "$work/content/bench.zip.minisig" --public-key "$work/key.pub" \
            "$work/content/bench.zip" -o "$work/content/bench-signed.zip" >/dev/null
    fi
    served=bench-signed.zip key_option=(--public-key "$work/key.pub")
    # The service hands out only the files its versions name: the peers' two go as versions
    # after the one the window installs.
    peer_versions=',
 {"id": "peer", "title": "unsigned", "zip": "bench.zip", "archive": "peer.zip"},
 {"id": "peer-signature", "title": "signature", "zip": "bench.zip.minisig", "archive": "peer.zip.minisig"}'
fi
cat > "$work/content/service.json" <<JSON
{"package_id": "bench", "launcher": "setup.sh",
 "versions": [{"id": "1", "title": "bench", "zip": "$served", "archive": "bench.zip"}$peer_versions]}
JSON
size=$(stat -c %s "$work/content/$served")
echo "archive: $served, $size bytes ($((size >> 20)) MiB), unpacks to $(unzip -Zt "$work/content/$served" | sed 's/.*, \([0-9]*\) bytes uncompressed.*/\1/') bytes"

. "$here/../removals.sh"
[ -d "$work/rounds" ] && remove_runs "$work/rounds"
wait_out_removals
. "$root/tools/sample-service/start.sh"
start_sample_service "$work" --quiet --content "$work/content"
trap 'kill "$service" 2>/dev/null || true; remove_runs "$work/rounds"' EXIT
"$packtool" write --pid bench --launcher setup.sh --banner "${base}banner" --ad "${base}ad" \
    --notice "${base}notice" --versions "${base}versions" "${key_option[@]}" -o "$work/pack.db"

run_window() {
    if [ -n "${DISPLAY:-}" ]; then "$bench" "$1" 2>>"$work/window.log"
    else xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$bench" "$1" 2>>"$work/window.log"; fi
}
. "$here/../median.sh"
. "$here/../warm_memory.sh"
# "NAME: runs ... ms, median ... ms" for field FIELD of the lines that follow.
report() {
    local name=$1 field=$2
    shift 2
    local values
    values=$(printf '%s\n' "$@" | cut -d' ' -f"$field")
    echo "$name: runs $(echo $values) ms, median $(echo "$values" | median) ms"
}
# The window's steps from its run log, in ms: "download check unpacking", where check is the
# time from the download's end to the unpacking's start (the rename, and the signature check
# when the package has a key).
steps() {
    local log=$1/download/installer.log
    at() { date -d "$(grep -m1 -e "$1" "$log" | cut -c1-23)" +%s%3N; }
    local got=$(at "  downloaded ") unpacking=$(at "  unpacking into ")
    local checked=$unpacking
    grep -q "  signature: " "$log" && checked=$(at "  signature: ")
    echo "$((got - $(at "  GET ${base}files/"))) $((checked - got)) $(($(at "  unpacked$") - unpacking))"
}

peer_times=() peer_steps=() window_lines=() step_lines=()
for run in $(seq "${ROUNDS:-5}"); do
    peer=$work/rounds/$run/peer program=$work/rounds/$run/program
    mkdir -p "$peer/bench" "$program" && cp "$work/pack.db" "$program/"
    sync && warm_memory
    start=$(date +%s%N)
    if [ "$signed" = 1 ]; then
        curl -s -o "$peer/bench.zip" "${base}files/peer.zip"
        curl -s -o "$peer/bench.zip.minisig" "${base}files/peer.zip.minisig"
        fetched=$(date +%s%N)
        minisign -V -q -p "$work/key.pub" -m "$peer/bench.zip"
    else
        curl -s -o "$peer/bench.zip" "${base}files/bench.zip"
        fetched=$(date +%s%N)
    fi
    checked=$(date +%s%N)
    bsdtar -xf "$peer/bench.zip" -C "$peer/bench"
    done_at=$(date +%s%N)
    peer_times+=("$(( (done_at - start) / 1000000 ))")
    # curl, minisign (0 without a signature) and bsdtar, in ms
    peer_steps+=("$(( (fetched - start) / 1000000 )) $(( (checked - fetched) / 1000000 )) $(( (done_at - checked) / 1000000 ))")
    sync # the window warms the memory itself, just before the click
    window_lines+=("$(run_window "$program")")
    step_lines+=("$(steps "$program")")
    [ -f "$program/download/bench/setup-ran.txt" ] || sleep 1
    [ -f "$program/download/bench/setup-ran.txt" ] || { echo "the window's install did not start the setup program" >&2; exit 1; }
done

peer_ms=$(printf '%s\n' "${peer_times[@]}" | median)
window_ms=$(printf '%s\n' "${window_lines[@]}" | cut -d' ' -f1 | median)
peer_name="curl -o + bsdtar -xf" peer_short="curl + bsdtar"
if [ "$signed" = 1 ]; then
    peer_name="curl -o + minisign -V + bsdtar -xf" peer_short="curl + minisign + bsdtar"
fi
echo "$peer_name : runs ${peer_times[*]} ms, median $peer_ms ms"
echo "window (Button1Click) : runs $(printf '%s\n' "${window_lines[@]}" | cut -d' ' -f1 | tr '\n' ' ')ms, median $window_ms ms"
awk -v w="$window_ms" -v p="$peer_ms" -v name="$peer_short" 'BEGIN {
    printf "window: %.2f x %s (goal: at most 1.0 x); without its 1 s pause: %d ms = %.2f x\n",
        w / p, name, w - 1000, (w - 1000) / p }'
# Each round's peers and window ran back to back, so a round's ratio is free of the machine's
# drift from one round to the next, which moves the medians' ratio.
round_ratios=$(for i in "${!peer_times[@]}"; do
    awk -v w="${window_lines[i]%% *}" -v p="${peer_times[i]}" 'BEGIN { printf "%.2f\n", w / p }'; done)
echo "window against the peers of its own round: $(echo $round_ratios) x, median $(echo "$round_ratios" | median) x"
# The window's time hardly follows bsdtar's: most of it is the pause, the download and work
# spread over every core. So the ratio depends on how fast bsdtar runs on the machine of the day.
peer_rest_ms=$(printf '%s\n' "${peer_steps[@]}" | awk '{ print $1 + $2 }' | median)
echo "the window breaks even with bsdtar -xf at $((window_ms - peer_rest_ms)) ms (its median minus the peers' other steps)"
if [ "$signed" = 1 ]; then
    unchecked_ms=$(printf '%s\n' "${peer_steps[@]}" | awk '{ print $1 + $3 }' | median)
    awk -v w="$window_ms" -v p="$unchecked_ms" 'BEGIN {
        printf "  against curl + bsdtar without the check (median %d ms): %.2f x\n", p, w / p }'
fi
report "curl -o" 1 "${peer_steps[@]}"
[ "$signed" = 1 ] && report "minisign -V" 2 "${peer_steps[@]}"
report "bsdtar -xf" 3 "${peer_steps[@]}"
report "window's download" 1 "${step_lines[@]}"
report "window's rename and signature check" 2 "${step_lines[@]}"
report "window's unpacking" 3 "${step_lines[@]}"
for line in "${window_lines[@]}"; do
    set -- $line
    echo "  repaints (asked for every 10 ms): $2, longest gap $3 ms;" \
        "longest while each text stood above the bar (in the order shown): ${*:4} ms"
done
