# Sourced by scripts/build-windows.sh: the program's folder as users get it, and its zip.

# The DLLs a Windows program or library imports that are not the system's own, found in the
# given folders, with those they import in turn.
dll_closure() {
  local -a queue=("$1") search=("${@:2}")
  local -A seen=()
  while [ ${#queue[@]} -gt 0 ]; do
    local file=${queue[0]}
    queue=("${queue[@]:1}")
    local name
    for name in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p'); do
      [ -n "${seen[$name]:-}" ] && continue
      local dir
      for dir in "${search[@]}"; do
        if [ -f "$dir/$name" ]; then
          seen[$name]=1
          echo "$dir/$name"
          queue+=("$dir/$name")
          break
        fi
      done
    done
  done
}

make_dist() {
  local build=$1 qt=$2
  local dist=$build/dist-windows/Installer
  rm -rf "$build/dist-windows" "$build/Installer-windows.zip"
  mkdir -p "$dist"/{platforms,tls,imageformats,styles}
  cp "$build/src/app/Installer.exe" "$dist/"
  cp "$qt/plugins/platforms/qwindows.dll" "$dist/platforms/"
  cp "$qt/plugins/tls/qschannelbackend.dll" "$dist/tls/"
  cp "$qt"/plugins/imageformats/{qgif,qico,qjpeg,qtiff}.dll "$dist/imageformats/"
  cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$dist/styles/"
  local runtime=(
    "$qt/bin"
    "$(mingw_runtime_folder)"
    /usr/x86_64-w64-mingw32/lib
  )
  local file
  for file in "$dist"/Installer.exe "$dist"/*/*.dll; do
    dll_closure "$file" "${runtime[@]}"
  done | sort -u | while read -r dll; do cp -n "$dll" "$dist/"; done
  # Symbols are no use to users and take half the folder.
  find "$dist" -name '*.dll' -o -name '*.exe' | xargs x86_64-w64-mingw32-strip --strip-unneeded
  (cd "$build/dist-windows" && zip -qr9 ../Installer-windows.zip Installer)
  echo "== $dist: $(du -sh "$dist" | cut -f1); $build/Installer-windows.zip: $(du -h "$build/Installer-windows.zip" | cut -f1)"
}
