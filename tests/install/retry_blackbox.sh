#!/usr/bin/env bash
# The built installer on Xvfb against the sample service on a bad network: a product of a few
# megabytes sent at 1 MB/s whose first two downloads are cut off halfway. The install must
# complete, the run log must show the two retries, and the shots taken during the install show
# the speed and the reconnect text.
#
# usage: retry_blackbox.sh INSTALLER PACKTOOL SHOTS
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
installer=$1 packtool=$2 shots=$3

content=$(mktemp -d /tmp/installer-retry.XXXXXX)
trap 'rm -rf "$content"' EXIT
cp -r "$root/tools/sample-service/content/." "$content/"
head -c 3000000 /dev/urandom >"$content/product/data/payload.bin"

exec bash "$root/scripts/demo.sh" --headless --no-build --clean --installer "$installer" --packtool "$packtool" \
    --shots "$shots" --content "$content" --throttle 1000 --cut-downloads 2 --expect-retries 2
