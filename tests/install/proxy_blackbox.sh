#!/usr/bin/env bash
# The built installer on Xvfb behind a proxy: the sample service refuses every request that
# did not come through Debian's tinyproxy, and the installer is only told of the proxy by
# http_proxy. The install must complete, and the proxy's log must show the archive passing.
#
# usage: proxy_blackbox.sh INSTALLER PACKTOOL SHOTS
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
installer=$1 packtool=$2 shots=$3

work=$(mktemp -d /tmp/installer-proxy.XXXXXX)
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/tinyproxy.conf" <<CONF
Port $port
Listen 127.0.0.1
Allow 127.0.0.1
Timeout 30
MaxClients 20
LogFile "$work/tinyproxy.log"
LogLevel Info
CONF
tinyproxy -d -c "$work/tinyproxy.conf" >"$work/tinyproxy.out" 2>&1 &
proxy=$!
trap 'kill $proxy 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done

status=0
env -u no_proxy -u NO_PROXY -u all_proxy -u ALL_PROXY http_proxy="http://127.0.0.1:$port" \
    bash "$root/scripts/demo.sh" --headless --no-build --clean --installer "$installer" --packtool "$packtool" \
    --shots "$shots" --require-proxy || status=$?
if grep -q "GET http://127.0.0.1:[0-9]*/files/" "$work/tinyproxy.log"; then
    echo "  ok: the archive came through the proxy"
else
    echo "  FAILED: the proxy's log shows no archive download"
    status=1
fi
exit "$status"
