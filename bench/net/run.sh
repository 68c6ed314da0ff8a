#!/usr/bin/env bash
# Downloads a 1 GiB file from a loopback Python http.server into a file, with httpfetch (the
# installer's client, progress callbacks attached and counted) and with curl -o, in the same
# run, and prints wall time and peak memory of each and the ratio of the best times.
#   bench/net/run.sh [BUILD_DIR] [RUNS]     (defaults: build-net, 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build-net}
runs=${2:-3}
cmake --build "$build" --target httpfetch -j2 >/dev/null
httpfetch=$(find "$build" -type f -name httpfetch -perm -u+x | head -n1)

work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/srv"
head -c 1G /dev/urandom > "$work/srv/big.bin"
python3 "$root/tests/servers/serve.py" "$work/srv" > "$work/port" &
server=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(head -n1 "$work/port")/big.bin"

# One timed download; prints "seconds peak-KiB".
measure() {
  rm -f "$work/out.bin"
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" > /dev/null 2> "$work/err"
  cmp -s "$work/out.bin" "$work/srv/big.bin" || { echo "download differs: $*" >&2; cat "$work/err" >&2; exit 1; }
  cat "$work/time"
}

best_ours=999999; best_curl=999999; peak_ours=0; peak_curl=0
for i in $(seq "$runs"); do
  read -r t m < <(measure "$httpfetch" "$url" -o "$work/out.bin" --progress)
  echo "run $i httpfetch: ${t}s, peak ${m} KiB ($(tail -n1 "$work/err"))"
  best_ours=$(awk -v a="$t" -v b="$best_ours" 'BEGIN { print (a < b ? a : b) }'); [ "$m" -gt "$peak_ours" ] && peak_ours=$m
  read -r t m < <(measure curl -sS -o "$work/out.bin" "$url")
  echo "run $i curl:      ${t}s, peak ${m} KiB"
  best_curl=$(awk -v a="$t" -v b="$best_curl" 'BEGIN { print (a < b ? a : b) }'); [ "$m" -gt "$peak_curl" ] && peak_curl=$m
done
echo "best httpfetch ${best_ours}s (peak ${peak_ours} KiB), best curl ${best_curl}s (peak ${peak_curl} KiB)"
echo "ratio httpfetch/curl: $(awk -v a="$best_ours" -v b="$best_curl" 'BEGIN { printf "%.3f", a / b }')"
