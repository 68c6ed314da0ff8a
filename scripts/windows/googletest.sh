# Sourced by scripts/build-windows.sh: GoogleTest for Windows, cross-built from Debian's
# googletest source into the cache folder, finished only once its stamp exists.

googletest_options=(-DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON)

ensure_googletest() {
  local repo=$1 cache_root=$2
  local version key prefix
  version=$(apt-cache showsrc googletest | sed -n 's/^Version: //p' | head -n1)
  key=$version-$( { printf '%s\n' "${googletest_options[@]}"; cat "$repo/cmake/mingw-w64.cmake"; } \
                  | sha256sum | cut -c1-12)
  prefix=$cache_root/googletest-$key
  if [ -f "$prefix/.installer-build-complete" ]; then
    echo "$prefix"
    return
  fi
  mkdir -p "$cache_root/src"
  exec 8>"$cache_root/.lock-googletest-$key"
  flock 8
  if [ ! -f "$prefix/.installer-build-complete" ]; then
    local src=$cache_root/src/googletest-$version work=$cache_root/build-googletest-$key
    fetch_debian_source googletest "$version" "$src" >&2
    rm -rf "$prefix" "$work"
    echo "== building GoogleTest $version for Windows ==" >&2
    cmake -S "$src" -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
      -DCMAKE_INSTALL_PREFIX="$prefix" "${googletest_options[@]}" >/dev/null
    nice -n 10 cmake --build "$work" -j "$(nproc)" >/dev/null
    cmake --install "$work" >/dev/null
    rm -rf "$work"
    touch "$prefix/.installer-build-complete"
  fi
  exec 8>&-
  echo "$prefix"
}
