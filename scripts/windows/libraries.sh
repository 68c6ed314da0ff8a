# Sourced by scripts/build-windows.sh: what the program needs besides Qt's base (GoogleTest,
# libdeflate, libsodium, Qt's TIFF plugin), cross-built from Debian's sources of the versions the
# host has installed, each into its own prefix in the cache folder.

# Prints the prefix of a finished build of a source package, building it first when the cache
# has none: BUILDER SOURCE PREFIX REPO [BASE] is called to build and install it. The key covers
# the version, the toolchain file, the builder itself and the prefix BASE it builds on (if any),
# so a changed recipe builds anew; only the stamp, written last, marks a prefix finished.
ensure_cross_build() {
  local package=$1 installed=$2 builder=$3 repo=$4 cache_root=$5 base=${6:-}
  local version key prefix
  version=$(dpkg-query -W -f='${source:Version}' "$installed")
  key=$version-$( { cat "$repo/cmake/mingw-w64.cmake"; declare -f "$builder"; echo "$base"; } \
                  | sha256sum | cut -c1-12)
  prefix=$cache_root/$package-$key
  if [ -f "$prefix/.installer-build-complete" ]; then
    echo "$prefix"
    return
  fi
  mkdir -p "$cache_root/src"
  exec 8>"$cache_root/.lock-$package-$key"
  flock 8
  if [ ! -f "$prefix/.installer-build-complete" ]; then
    local src=$cache_root/src/$package-$version
    fetch_debian_source "$package" "$version" "$src" >&2
    rm -rf "$prefix"
    echo "== building $package $version for Windows ==" >&2
    local log=$cache_root/build-$package-$key.log
    # A shell of its own, so that the builder stops at its first failing step.
    bash -euo pipefail -c "$(declare -f "$builder"); $builder \"\$@\"" "$builder" "$src" "$prefix" "$repo" "$base" \
      >"$log" 2>&1 || { tail -n 40 "$log" >&2; return 1; }
    touch "$prefix/.installer-build-complete"
  fi
  exec 8>&-
  echo "$prefix"
}

build_googletest() {
  local src=$1 prefix=$2 repo=$3 work
  work=$(mktemp -d)
  cmake -S "$src" -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
  nice -n 10 cmake --build "$work" -j "$(nproc)"
  cmake --install "$work"
  rm -rf "$work"
}

# The release's own makefile builds the static library (named the Windows way); the header,
# library and a pkg-config file are put in place by hand, as its install target would put the
# DLL there too.
build_libdeflate() {
  local src=$1 prefix=$2 work
  work=$(mktemp -d)
  cp -r "$src/." "$work"
  nice -n 10 make -C "$work" -j "$(nproc)" libdeflatestatic.lib \
    CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar CFLAGS=-O2
  mkdir -p "$prefix/include" "$prefix/lib/pkgconfig"
  cp "$work/libdeflate.h" "$prefix/include/"
  cp "$work/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
  printf '%s\n' "prefix=$prefix" 'Name: libdeflate' 'Description: fast DEFLATE (de)compression' \
    "Version: $(sed -n 's/^#define LIBDEFLATE_VERSION_STRING[^"]*"\(.*\)"/\1/p' "$work/libdeflate.h")" \
    'Cflags: -I${prefix}/include' 'Libs: -L${prefix}/lib -ldeflate' >"$prefix/lib/pkgconfig/libdeflate.pc"
  rm -rf "$work"
}

# Static, so the program folder needs no further DLL; SODIUM_STATIC keeps its declarations
# from asking for one. Debian's source has no generated configure script.
build_libsodium() {
  local src=$1 prefix=$2 work
  work=$(mktemp -d)
  cp -r "$src/." "$work/source"
  (cd "$work/source" && autoreconf -fi)
  (cd "$work" && source/configure --host=x86_64-w64-mingw32 --prefix="$prefix" \
     --disable-shared --enable-static --disable-dependency-tracking \
     CC=x86_64-w64-mingw32-gcc-posix CFLAGS=-O2)
  nice -n 10 make -C "$work" -j "$(nproc)" install
  sed -i 's|^Cflags: \(.*\)$|Cflags: \1 -DSODIUM_STATIC|' "$prefix/lib/pkgconfig/libsodium.pc"
  rm -rf "$work"
}

# Qt's TIFF plugin (a banner may be a TIFF picture) lives in the imageformats module; built
# against the Qt prefix given, with the TIFF library it brings along, and nothing else of it. It
# goes into that Qt's plugins, as a module's install would put it, where Qt looks for it.
build_qt_tiff() {
  local src=$1 prefix=$2 qt=$4 work
  work=$(mktemp -d)
  cmake -S "$src" -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DFEATURE_tiff=ON -DFEATURE_system_tiff=OFF -DFEATURE_webp=OFF -DFEATURE_jasper=OFF \
    -DFEATURE_mng=OFF -DFEATURE_wbmp=OFF -DFEATURE_tga=OFF -DFEATURE_icns=OFF
  nice -n 10 cmake --build "$work" -j "$(nproc)"
  mkdir -p "$prefix"
  cp "$work"/plugins/imageformats/qtiff.dll "$qt/plugins/imageformats/"
  rm -rf "$work"
}
