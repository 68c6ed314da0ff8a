#!/usr/bin/env bash
# Installs everything the build, the tests, the demo and the benchmarks need, from Debian 12's
# packages. Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build pkgconf ccache
  qt6-base-dev qt6-qpa-plugins qt6-image-formats-plugins libqt6network6 libssl3 ca-certificates
  zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev libdeflate-dev libsodium-dev
  # fuzzing
  clang libclang-rt-14-dev
  # tests, demo and benchmarks
  python3 openssl curl unzip zip p7zip-full libarchive-tools time
  xvfb xauth xdotool x11-utils imagemagick fonts-noto-cjk
  minisign tinyproxy
  # the shipped folder (scripts/bundle.sh) and its test in a minimal Debian tree
  patchelf icu-devtools xz-utils debootstrap
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi
