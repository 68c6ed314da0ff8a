#!/usr/bin/env bash
# One install with the Windows build under Wine, driven like a user would: the sample service
# (on the host, loopback) serves a product whose setup program is the Windows setup.exe, the
# program folder holds dist-windows/Installer and a pack.db written by packtool.exe, and
# tests/install/drive_installer.sh chooses the first version, installs it and closes the window.
# Needs DISPLAY and the build's wine-run (scripts/test-windows.sh sets both up).
#
# usage: scripts/windows/blackbox.sh BUILD_FOLDER
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
shots=$build/blackbox-shots
work=$build/blackbox
rm -rf "$work" "$shots"
mkdir -p "$work" "$shots"

# The sample product with the Windows setup program in place of the shell script.
content=$work/content
cp -r "$root/tools/sample-service/content" "$content"
rm "$content/product/setup.sh"
cp "$build/tools/sample-service/windows-setup/setup.exe" "$content/product/"
sed -i 's/"launcher": "setup.sh"/"launcher": "setup.exe"/' "$content/service.json"

. "$root/tools/sample-service/start.sh"
start_sample_service "$work" --content "$content"
trap 'kill "$service" 2>/dev/null || true' EXIT
echo "   sample service: $base"

app=$work/program
cp -r "$build/dist-windows/Installer" "$app"
"$build/wine-run" "$build/tools/packtool/packtool.exe" write --pid sample-product --launcher setup.exe \
    --banner "${base}banner" --ad "${base}ad" --notice "${base}notice" --versions "${base}versions" \
    -o "$(WINEPREFIX="$build/wine-prefix" winepath -w "$app/pack.db" 2>/dev/null)"

query="${base}versions?pid=sample-product&fee=1"
version_id=$(curl -s --max-time 10 "$query&act=list" | iconv -f GBK -t UTF-8 | tr '|' '\n' | sed -n 1p | cut -d'`' -f1)
archive=$(curl -s --max-time 10 "$query&act=down&vid=$version_id" | sed 's|.*/||')

# The driver starts the installer through this, in the program folder.
launch=$work/launch-installer
printf '#!/bin/sh\nINSTALLER_WINE_BARE=1 exec "%s" Installer.exe\n' "$build/wine-run" >"$launch"
chmod +x "$launch"

status=0
INSTALLER_LAUNCH=$launch timeout 240 "$root/tests/install/drive_installer.sh" "$app" "$shots" 1 "${archive%.*}" "$archive" || status=$?
marker=$(find "$app/download" -name setup-ran.txt 2>/dev/null | head -1)
[ -n "$marker" ] && echo "   marker: $marker: $(tr -d '\r' <"$marker" | head -1)"
echo "   screenshots: $shots"
exit $status
