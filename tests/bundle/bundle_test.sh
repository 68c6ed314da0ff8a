#!/usr/bin/env bash
# Ships the installer as a publisher would (scripts/bundle.sh, then OUT.tar.xz unpacked) into a
# minimal Debian 12 root file system that has no Qt, and runs it there, on the host's Xvfb:
#   (a) no pack.db: the missing-package box is answered with the keyboard, the window's
#       opening load runs, exit status 0; the process maps Qt and ICU from the bundle only;
#   (b) https addresses: the TLS backend and OpenSSL load from the bundle;
#   (c) a full install against the sample service on the host (GBK version list and address
#       lookup, download, unpack, the setup program run inside the tree), driven by
#       tests/install/drive_installer.sh.
# The tree is debootstrap's minbase plus only what the README says the user's system must
# have; it is made once into a cache folder outside the clone (INSTALLER_MINIMAL_TREE_CACHE,
# /var/cache/installer-minimal-tree by default), reused while its package list is unchanged,
# and copied into WORK for each run, so the run's own files never reach the cached tree.
# Needs root (debootstrap, chroot, mounts in a private namespace) and the Debian mirror from
# the system's apt sources; without either it skips (exit status 77).
#
# usage: bundle_test.sh BUILD_DIR WORK_DIR
set -euo pipefail

skip() { echo "SKIP: $*"; exit 77; }

if [ "${1:-}" != --inside ]; then
    [ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR WORK_DIR" >&2; exit 2; }
    build=$(realpath "$1")
    mkdir -p "$2"
    work=$(realpath "$2")
    src=$(cd "$(dirname "$0")/../.." && pwd)

    [ "$(id -u)" -eq 0 ] || skip "making and entering the root file system needs root"
    for tool in debootstrap unshare chroot xvfb-run xdotool import curl python3; do
        command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh)"
    done
    unshare -m true 2>/dev/null || skip "cannot make a private mount namespace here"

    # The first Debian mirror the system's apt sources name for bookworm (deb822 or one-line).
    mirror=$(
        {
            for f in /etc/apt/sources.list.d/*.sources; do
                [ -f "$f" ] || continue
                awk 'BEGIN { RS = ""; FS = "\n" }
                     { types = uris = suites = ""
                       for (i = 1; i <= NF; i++) {
                           if ($i ~ /^Types:/) types = $i
                           if ($i ~ /^URIs:/) uris = $i
                           if ($i ~ /^Suites:/) suites = $i
                       }
                       if (types ~ /[ \t]deb([ \t]|$)/ && suites ~ /[ \t]bookworm([ \t]|$)/) {
                           sub(/^URIs:[ \t]*/, "", uris); split(uris, u, /[ \t]+/); print u[1] } }' "$f"
            done
            cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
                awk '$1 == "deb" { i = 2; if ($2 ~ /^\[/) while ($i !~ /\]$/) i++; if ($2 ~ /^\[/) i++
                                   if ($(i + 1) == "bookworm") print $i }'
        } | grep -E '^https?://' | head -n1 || true
    )
    [ -n "$mirror" ] || skip "no Debian bookworm mirror in the system's apt sources"
    curl -sf --max-time 20 -o /dev/null "$mirror/dists/bookworm/Release" ||
        skip "the Debian mirror $mirror does not answer (no network?)"

    # What the README's "Shipping a copy" asks of the user's system beyond minbase (glibc and
    # libstdc++ are in it): fontconfig's library, a font with Chinese characters and Xlib's
    # locale files.
    packages=libfontconfig1,fonts-wqy-microhei,libx11-data
    cache=${INSTALLER_MINIMAL_TREE_CACHE:-/var/cache/installer-minimal-tree}
    mkdir -p "$cache"
    stamp="minbase bookworm $packages"
    if [ "$(cat "$cache/root.stamp" 2>/dev/null)" != "$stamp" ]; then
        rm -rf "$cache/root" "$cache/root.new" "$cache/root.stamp"
        echo "== making the minimal tree from $mirror (minbase + $packages)"
        started=$(date +%s)
        made=false
        for attempt in 1 2; do
            # A private mount namespace: debootstrap's own mounts go away with it, whatever happens.
            if nice unshare -m -- debootstrap --variant=minbase --include="$packages" bookworm \
                "$cache/root.new" "$mirror" >"$work/debootstrap.log" 2>&1; then
                made=true
                break
            fi
            rm -rf "$cache/root.new"
            curl -sf --max-time 20 -o /dev/null "$mirror/dists/bookworm/Release" ||
                skip "the Debian mirror $mirror stopped answering while the tree was made"
            echo "   debootstrap failed (attempt $attempt):"
            tail -n 5 "$work/debootstrap.log" | sed 's/^/   /'
        done
        $made || { echo "FAIL: debootstrap could not make the tree; see $work/debootstrap.log"; exit 1; }
        mv "$cache/root.new" "$cache/root"
        echo "$stamp" >"$cache/root.stamp"
        echo "   made in $(($(date +%s) - started)) s"
    else
        echo "== reusing the minimal tree $cache/root (minbase + $packages)"
    fi
    tree=$work/root
    rm -rf "$tree"
    cp -a "$cache/root" "$tree"
    # The tree must not have what the bundle brings, or the run would prove nothing.
    for lib in libQt6Core.so.6 libQt6XcbQpa.so.6 libicuuc.so.72 libxcb.so.1 libX11.so.6 libssl.so.3; do
        if [ -n "$(find "$tree/usr/lib" "$tree/lib" -name "$lib" 2>/dev/null | head -n1)" ]; then
            echo "FAIL: the minimal tree has $lib of its own"
            exit 1
        fi
    done

    echo "== bundling, then unpacking the archive into the tree"
    rm -rf "$work/ship" "$work/ship.tar.xz" "$tree/home/user"
    "$src/scripts/bundle.sh" --quick --build "$build" "$work/ship"
    mkdir -p "$tree/home/user"
    tar -C "$tree/home/user" -xJf "$work/ship.tar.xz"
    [ -x "$tree/home/user/ship/Installer" ] || { echo "FAIL: the archive holds no ship/Installer"; exit 1; }
    chown -R 65534:65534 "$tree/home/user"

    exec timeout 240 xvfb-run -a -s "-screen 0 1280x800x24 -noreset" \
        bash "$0" --inside "$build" "$work" "$src"
fi

build=$2 work=$3 src=$4
tree=$work/root
app=$tree/home/user/ship
shots=$work/shots
rm -rf "$shots"
mkdir -p "$shots"
unset QT_QPA_PLATFORM
cp "$XAUTHORITY" "$tree/tmp/Xauthority"
chmod 644 "$tree/tmp/Xauthority"

# Starts the installer inside the tree as an unprivileged user, with nothing of the host's
# environment but the display and a UTF-8 locale, as a desktop session sets (in the C locale
# Xlib cannot write the Chinese title into WM_NAME, which xdotool searches). Every step execs,
# so the process keeps the caller's pid.
cat >"$work/run-in-tree.sh" <<EOF
#!/bin/sh
exec unshare -m -- sh -c '
    mount --make-rprivate /
    mount --bind /proc "$tree/proc"
    mount --bind /dev "$tree/dev"
    mkdir -p "$tree/tmp/.X11-unix"
    mount --bind /tmp/.X11-unix "$tree/tmp/.X11-unix"
    exec chroot --userspec=65534:65534 "$tree" /usr/bin/env -i HOME=/home/user LANG=C.UTF-8 \
        DISPLAY="$DISPLAY" XAUTHORITY=/tmp/Xauthority /home/user/ship/Installer'
EOF
chmod 755 "$work/run-in-tree.sh"

. "$(dirname "${BASH_SOURCE[0]}")/../screen_checks.sh"

case=missing-package
rm -rf "$app/download" "$app/pack.db"
(cd "$app" && exec "$work/run-in-tree.sh") >"$shots/$case.log" 2>&1 & pid=$!
(sleep 60; kill -9 "$pid" 2>/dev/null) & watchdog=$!
box=$(wait_window '^Installer$') || { kill "$pid" 2>/dev/null; cat "$shots/$case.log"; fail "no box titled \"Installer\""; }
import -window root "$shots/$case.png"
[ "$(convert "$shots/$case.png" -format '%[fx:maxima>0]' info:)" = 1 ] || fail "blank screenshot"
# What the process loaded (paths as the host sees them): Qt, ICU and the xcb plugin from the
# bundle, nothing of Qt elsewhere.
maps=$(awk '$6 ~ /\.so/ { print $6 }' "/proc/$pid/maps" | sort -u)
for lib in lib/libQt6Core.so.6 lib/libQt6Gui.so.6 lib/libicudata.so.72 lib/libicuuc.so.72 platforms/libqxcb.so; do
    grep -qxF "$app/$lib" <<<"$maps" || fail "the process did not map the bundle's $lib"
done
if grep -vF "$app/" <<<"$maps" | grep -E 'Qt6|icu|xcb'; then
    fail "the process mapped the libraries above from outside the bundle"
fi
xdotool windowfocus --sync "$box" key Return
status=0
wait "$pid" || status=$?
kill "$watchdog" 2>/dev/null || true
[ "$status" = 0 ] || { cat "$shots/$case.log"; fail "exit status $status, expected 0"; }
[ -d "$app/download" ] || fail "the window's opening load did not run"
echo "ok ($case): box \"Installer\" answered, exit status 0, Qt and ICU from the bundle, screenshot $shots/$case.png"

# Qt's TLS backend and OpenSSL are opened by name at run time, not linked: an https address
# (nothing listens on port 9, so it fails quickly) makes the installer load them, from the
# bundle or not at all.
case=tls
rm -rf "$app/download"
"$build/tools/packtool/packtool" write --pid tls --launcher setup.sh --banner https://127.0.0.1:9/b.png \
    --ad https://127.0.0.1:9/ --notice https://127.0.0.1:9/n --versions https://127.0.0.1:9/v --bundle "$app"
chown 65534:65534 "$app/pack.db"
(cd "$app" && exec "$work/run-in-tree.sh") >"$shots/$case.log" 2>&1 & pid=$!
(sleep 60; kill -9 "$pid" 2>/dev/null) & watchdog=$!
window=$(wait_window '^软件在线安装$') || { kill "$pid" 2>/dev/null; cat "$shots/$case.log"; fail "the window did not open"; }
for _ in $(seq 50); do
    grep -qF "$app/lib/libssl.so.3" "/proc/$pid/maps" && break
    sleep 0.2
done
import -window root "$shots/$case.png"
maps=$(awk '$6 ~ /\.so/ { print $6 }' "/proc/$pid/maps" | sort -u)
for lib in tls/libqopensslbackend.so lib/libssl.so.3 lib/libcrypto.so.3; do
    grep -qxF "$app/$lib" <<<"$maps" || fail "the process did not map the bundle's $lib"
done
python3 "$src/tests/install/close_window.py" "$window"
status=0
wait "$pid" || status=$?
kill "$watchdog" 2>/dev/null || true
[ "$status" = 0 ] || { cat "$shots/$case.log"; fail "exit status $status after the window was closed"; }
echo "ok ($case): an https address loaded the TLS backend and OpenSSL from the bundle"

case=install
rm -rf "$app/download"
. "$src/tools/sample-service/start.sh"
start_sample_service "$work" || fail "the sample service did not start"
trap 'kill "$service" 2>/dev/null || true' EXIT
"$build/tools/packtool/packtool" write --pid sample-product --launcher setup.sh --banner "${base}banner" \
    --ad "${base}ad" --notice "${base}notice" --versions "${base}versions" --bundle "$app"
chown 65534:65534 "$app/pack.db"
archive=$(curl -s --noproxy "*" --max-time 10 "${base}versions?pid=sample-product&act=down&vid=101&fee=1" | sed 's|.*/||')
[ -n "$archive" ] || fail "the sample service names no archive for version 101"
INSTALLER_LAUNCH="$work/run-in-tree.sh" \
    "$src/tests/install/drive_installer.sh" "$app" "$shots/install" 1 "${archive%.*}" "$archive" ||
    fail "the install inside the tree did not complete (screenshots in $shots/install)"
echo "ok ($case): installed the sample product inside the tree, screenshots in $shots/install"
