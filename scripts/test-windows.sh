#!/usr/bin/env bash
# Runs the Windows build (scripts/build-windows.sh) under Wine, in a Chinese locale so that the
# ANSI code page is 936 as on users' machines, on an Xvfb display of its own:
#   1. the cross-built unit tests, through CTest;
#   2. one black-box install: Installer.exe with a pack.db against the sample service on the
#      host's loopback, a version chosen and installed with xdotool, the Windows setup program
#      writing its marker; screenshots in build-windows/blackbox-shots/.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=${INSTALLER_WINDOWS_BUILD:-$repo/build-windows}

. scripts/windows/wine.sh

[ -x "$build/wine-run" ] || { echo "no Windows build in $build: run scripts/build-windows.sh" >&2; exit 1; }
ensure_chinese_locales

display=$(for n in $(seq 90 199); do [ -e "/tmp/.X$n-lock" ] || { echo $n; break; }; done)
Xvfb ":$display" -screen 0 1280x800x24 -noreset >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; WINEPREFIX="$build/wine-prefix" wineserver -k 2>/dev/null || true' EXIT
export DISPLAY=":$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

ensure_wine_prefix "$build"
# Wine keeps the ANSI code page it derived from the locale in the registry. (The package tests
# decode a Chinese launcher name with it, so they fail too where it is not 936.)
code_page=$("$build/wine-run" reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP |
  tr -d '\r' | awk '$1 == "ACP" { print $3 }')
echo "== Wine's ANSI code page: $code_page"
if [ "$code_page" != 936 ]; then
  echo "Wine does not run with code page 936 in the zh_CN.UTF-8 locale" >&2
  exit 1
fi

status=0
echo "== unit tests under Wine"
rm -f "$build/wine-restarts.log"
ctest --test-dir "$build" --output-on-failure -j 2 --timeout 300 || status=1
if [ -f "$build/wine-restarts.log" ]; then
  echo "== Wine ended these programs before they wrote anything; each was started once more:"
  cat "$build/wine-restarts.log"
fi

echo "== black-box install under Wine"
scripts/windows/blackbox.sh "$build" || status=1
exit $status
