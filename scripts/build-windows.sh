#!/usr/bin/env bash
# Builds the installer for 64-bit Windows on Debian: Qt and GoogleTest are cross-built from
# Debian's source packages once into a cache folder outside the clone (reused while their
# version and options stay the same), then the program, its tools and tests are cross-built
# with MinGW-w64 and the program's folder is put together with everything it needs.
#
#   scripts/build-windows.sh
#
# Results: build-windows/ (the Windows build), build-windows/dist-windows/Installer/,
# build-windows/Installer-windows.zip, build-windows/wine-run (starts a program of the
# build under Wine) and build-windows/wine-test (CTest's runner; scripts/test-windows.sh runs
# the tests with it). INSTALLER_WINDOWS_BUILD and INSTALLER_WINDOWS_CACHE
# choose other folders.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=${INSTALLER_WINDOWS_BUILD:-$repo/build-windows}
cache=${INSTALLER_WINDOWS_CACHE:-/var/cache/installer-qt-windows}

. scripts/windows/packages.sh
. scripts/windows/debian-source.sh
. scripts/windows/qt.sh
. scripts/windows/libraries.sh
. scripts/windows/wine.sh
. scripts/windows/dist.sh
. scripts/compiler-cache.sh

install_windows_packages

qt=$(ensure_qt "$repo" "$cache")
googletest=$(ensure_cross_build googletest libgtest-dev build_googletest "$repo" "$cache")
libdeflate=$(ensure_cross_build libdeflate libdeflate-dev build_libdeflate "$repo" "$cache")
libsodium=$(ensure_cross_build libsodium libsodium-dev build_libsodium "$repo" "$cache")
ensure_cross_build qt6-imageformats qt6-image-formats-plugins build_qt_tiff "$repo" "$cache" "$qt" >/dev/null

echo "== Windows build in $build =="
mkdir -p "$build"
# A build configured against another Qt (its options changed) starts its configuration over.
if [ -f "$build/CMakeCache.txt" ] && ! grep -q "^CMAKE_TOOLCHAIN_FILE:.*=$qt/" "$build/CMakeCache.txt"; then
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
write_wine_runner "$build" "$qt"
write_wine_test_runner "$build"
# pkg-config that finds only the Windows libraries, never the host's of the same name.
cat >"$build/pkg-config-windows" <<SCRIPT
#!/bin/sh
PKG_CONFIG_LIBDIR="$libdeflate/lib/pkgconfig:$libsodium/lib/pkgconfig" exec pkg-config --static "\$@"
SCRIPT
chmod +x "$build/pkg-config-windows"
# Optimised without debug information: the folder is what ships, and the build is quicker.
# Qt's own toolchain file puts its prefix among the find roots and loads ours for the compilers.
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
  -DQT_CHAINLOAD_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
  -DQT_ADDITIONAL_PACKAGES_PREFIX_PATH="$googletest;$libdeflate;$libsodium" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DPKG_CONFIG_EXECUTABLE="$build/pkg-config-windows" \
  -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a \
  -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$build/wine-test" "${compiler_cache[@]}" >/dev/null
nice -n 10 cmake --build "$build" -j "$(nproc)"
make_dist "$build" "$qt"
echo "== Windows build done in $((SECONDS / 60)) min $((SECONDS % 60)) s"
