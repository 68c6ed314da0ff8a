# Sourced by scripts/build-windows.sh: Qt for Windows, cross-built from Debian's qt6-base source
# into a cache folder outside the clone and reused by every later build with the same options.

# The host tools (moc, rcc, uic) are Debian's, so the Windows Qt must be the same version.
qt_version() { dpkg-query -W -f='${Version}' qt6-base-dev-tools; }

qt_options=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=ON
  -DQT_HOST_PATH=/usr
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF
  -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_icu=OFF
  -DFEATURE_dbus=OFF
  # FEATURE_opengl=OFF alone still leaves dynamic GL on; INPUT_opengl=no is configure -no-opengl.
  -DINPUT_opengl=no
  -DFEATURE_opengl=OFF
  -DFEATURE_vulkan=OFF
  -DFEATURE_sql=OFF
  -DFEATURE_testlib=OFF
  -DFEATURE_printsupport=OFF
  -DFEATURE_xml=OFF
  -DFEATURE_concurrent=OFF
  -DFEATURE_openssl=OFF
  -DFEATURE_schannel=ON
  -DFEATURE_system_zlib=OFF
  -DFEATURE_system_png=OFF
  -DFEATURE_system_jpeg=OFF
  -DFEATURE_system_pcre2=OFF
  -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_doubleconversion=OFF
  -DFEATURE_system_freetype=OFF
  -DFEATURE_gif=ON
  -DFEATURE_jpeg=ON
  -DFEATURE_ico=ON
)

# Debian's tarball drops the tablet header Qt's Windows plugins include; Wine's LGPL wintab.h
# and pktdef.h (from libwine-dev, unpacked, not installed) serve the same declarations.
mend_qt_source() {
  local src=$1 into=$src/src/3rdparty/wintab
  [ -f "$into/wintab.h" ] && return
  local work
  work=$(mktemp -d)
  (cd "$work" && apt-get download -q libwine-dev >/dev/null 2>&1 && dpkg-deb -x libwine-dev_*.deb root)
  mkdir -p "$into"
  cp "$work"/root/usr/include/wine/wine/windows/{wintab.h,pktdef.h} "$into/"
  rm -rf "$work"
}

# Wine's header is written for Wine's own windows.h: the naming macros it relies on, and the
# calling-convention name Qt's tablet code expects from the original header, are given here
# (wide names, as Qt builds with UNICODE).
adapt_wintab_header() {
  local header=$1/src/3rdparty/wintab/wintab.h
  grep -q 'installer: MinGW lacks' "$header" && return
  {
    printf '%s\n' '/* installer: MinGW lacks the Wine naming macros this header uses. */' \
      '#ifndef WINELIB_NAME_AW' '#define WINELIB_NAME_AW(name) name##W' '#endif' \
      '#ifndef DECL_WINELIB_TYPE_AW' '#define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;' '#endif' \
      '#ifndef API' '#define API WINAPI' '#endif'
    cat "$header"
  } >"$header.new"
  mv "$header.new" "$header"
}

# Prints the prefix of a finished Qt build, building it first when the cache has none. A prefix
# counts as finished only once its stamp exists, which is written after the install succeeded;
# anything else under that name is a broken earlier attempt and is built again.
ensure_qt() {
  local repo=$1 cache_root=$2
  local version key prefix
  version=$(qt_version)
  key=$version-$( { printf '%s\n' "${qt_options[@]}"; cat "$repo/cmake/mingw-w64.cmake"; \
                    declare -f mend_qt_source; } | sha256sum | cut -c1-12)
  prefix=$cache_root/qt-$key
  if [ -f "$prefix/.installer-build-complete" ]; then
    echo "$prefix"
    return
  fi
  mkdir -p "$cache_root/src"
  exec 9>"$cache_root/.lock-$key"
  flock 9
  if [ ! -f "$prefix/.installer-build-complete" ]; then
    local src=$cache_root/src/qt6-base-$version
    fetch_debian_source qt6-base "$version" "$src" >&2
    mend_qt_source "$src" >&2
    adapt_wintab_header "$src"
    # An interrupted build resumes in its build folder; only the stamp says a prefix is done.
    local work=$cache_root/build-$key
    rm -rf "$prefix"
    local started=$SECONDS
    echo "== building Qt $version for Windows into $prefix (about 25 minutes on 2 cores) ==" >&2
    cmake -S "$src" -B "$work" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
      -DCMAKE_INSTALL_PREFIX="$prefix" "${qt_options[@]}" >"$cache_root/configure-$key.log" 2>&1 \
      || { tail -n 40 "$cache_root/configure-$key.log" >&2; return 1; }
    nice -n 10 cmake --build "$work" -j "$(nproc)" >"$cache_root/build-$key.log" 2>&1 \
      || { tail -n 40 "$cache_root/build-$key.log" >&2; return 1; }
    cmake --install "$work" >/dev/null
    rm -rf "$work"
    echo "Qt built in $(( (SECONDS - started) / 60 )) minutes" >&2
    touch "$prefix/.installer-build-complete"
  fi
  exec 9>&-
  echo "$prefix"
}
