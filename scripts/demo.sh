#!/usr/bin/env bash
# Runs the installer against the sample product service.
#
# Builds the installer and packtool (in build/), starts tools/sample-service on a free port,
# makes a program folder holding the installer and a pack.db that points at the service, and
# starts the installer there. With a display you drive it yourself; without one ($DISPLAY
# empty, or --headless) it runs on Xvfb, is driven with xdotool (choose a version, press
# install, close the window), screenshots are saved and the outcome is checked.
#
# usage: scripts/demo.sh [--headless] [--version N] [--shots DIR]
#                        [--no-build] [--installer PATH] [--packtool PATH] [--clean]
#                        [--content DIR] [--throttle KB] [--cut-downloads N] [--require-proxy]
#                        [--expect-retries N] [--public-key FILE] [--expect-refusal]
# --clean removes the program folder afterwards (it is kept and named otherwise).
# --content, --throttle, --cut-downloads and --require-proxy go to the sample service (a slow
# network that drops the first N downloads halfway; a service only a proxy reaches, for a run
# with http_proxy set); --expect-retries checks the run log for that many. --public-key puts a
# publisher's key into pack.db; --expect-refusal expects the install to be refused with a notice
# (an archive the key does not vouch for) and checks that nothing was unpacked or started.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

headless=false
[ -z "${DISPLAY:-}" ] && headless=true
version=1 build=true clean=false shots="" service_options=() expect_retries=0 key_options=() expect=install installer="$root/build/src/app/Installer" packtool="$root/build/tools/packtool/packtool"
while [ $# -gt 0 ]; do
    case $1 in
    --headless) headless=true ;;
    --version) version=$2; shift ;;
    --shots) shots=$2; shift ;;
    --no-build) build=false ;;
    --installer) installer=$2; shift ;;
    --packtool) packtool=$2; shift ;;
    --clean) clean=true ;;
    --content | --throttle | --cut-downloads) service_options+=("$1" "$2"); shift ;;
    --require-proxy) service_options+=("$1") ;;
    --expect-retries) expect_retries=$2; shift ;;
    --public-key) key_options=(--public-key "$2"); shift ;;
    --expect-refusal) expect=refusal ;;
    *) echo "usage: $0 [--headless] [--version N] [--shots DIR] [--no-build] [--installer PATH] [--packtool PATH] [--clean]" \
            "[--content DIR] [--throttle KB] [--cut-downloads N] [--require-proxy] [--expect-retries N]" \
            "[--public-key FILE] [--expect-refusal]" >&2
       exit 2 ;;
    esac
    shift
done

if $build; then
    echo "== installing what the build and the demo need"
    "$root/scripts/install-deps.sh"
    echo "== building the installer and packtool in build/"
    generator=()
    [ -f "$root/build/Makefile" ] || generator=(-G Ninja)
    cmake -S "$root" -B "$root/build" "${generator[@]}" >/dev/null
    cmake --build "$root/build" -j "$(nproc)" --target installer packtool
fi

work=$(mktemp -d /tmp/installer-demo.XXXXXX)
app="$work/program"
shots=${shots:-$work/screenshots}
mkdir -p "$app" "$shots"

echo "== starting the sample product service"
finish() {
    kill "${service:-}" 2>/dev/null || true
    if $clean; then rm -rf "$work"; fi
}
trap finish EXIT
. "$root/tools/sample-service/start.sh"
start_sample_service "$work" ${service_options[@]+"${service_options[@]}"}
sed 's/^/   /' "$work/service.out"

echo "== program folder $app"
cp "$installer" "$app/Installer"
"$packtool" write --pid sample-product --launcher setup.sh --banner "${base}banner" --ad "${base}ad" \
    --notice "${base}notice" --versions "${base}versions" ${key_options[@]+"${key_options[@]}"} -o "$app/pack.db"
"$packtool" show "$app/pack.db" | sed 's/^/   /'

# What the chosen version's address names in download/ (the sample service's archive names).
query="${base}versions?pid=sample-product&fee=1"
version_id=$(curl -s --max-time 10 "$query&act=list" | iconv -f GBK -t UTF-8 | tr '|' '\n' |
    sed -n "${version}p" | cut -d'`' -f1)
archive=$(curl -s --max-time 10 "$query&act=down&vid=$version_id" | sed 's|.*/||')
unpack=${archive%.*}

if ! $headless; then
    echo "== starting the installer: choose a version and press 点击现在安装; close the window to end"
    (cd "$app" && ./Installer) || true
    marker=$(find "$app/download" -name setup-ran.txt 2>/dev/null | head -1)
    if [ -n "$marker" ]; then
        echo "== the setup program ran: $(head -1 "$marker") ($marker)"
    else
        echo "== the setup program did not run"
    fi
    echo "   program folder: $app"
    exit 0
fi

echo "== running the installer on Xvfb, driven by xdotool (version $version: $archive)"
unset QT_QPA_PLATFORM
status=0
timeout 150 xvfb-run -a -s "-screen 0 1280x800x24 -noreset" \
    "$root/tests/install/drive_installer.sh" "$app" "$shots" "$version" "$unpack" "$archive" "$expect" || status=$?
echo "   screenshots: $shots/opened.png, $shots/installing-*.png, $shots/finished.png"
echo "   program folder: $app"
echo "== the run log, download/installer.log"
sed 's/^/   /' "$app/download/installer.log" 2>/dev/null || echo "   (none)"
if [ "$expect_retries" -gt 0 ]; then
    if grep -q "retry $expect_retries of" "$app/download/installer.log" 2>/dev/null &&
        ! grep -q "retry $((expect_retries + 1)) of" "$app/download/installer.log"; then
        echo "  ok: the log shows $expect_retries retries"
    else
        echo "  FAILED: the log does not show $expect_retries retries"
        status=1
    fi
fi
[ "$status" -eq 124 ] && echo "== the demo ran out of time" >&2
exit "$status"
