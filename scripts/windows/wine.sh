# Sourced by the Windows scripts: Wine set up the way users' machines are, with its prefix in
# the build folder.

# Wine takes the ANSI code page from the locale: a Chinese one gives 936, as users have.
ensure_chinese_locales() {
  local wanted
  for wanted in zh_CN.GBK:GBK zh_CN.UTF-8:UTF-8; do
    locale -a | grep -qix "$(echo "${wanted%%:*}" | sed 's/UTF-8/utf8/; s/GBK/gbk/')" ||
      localedef -i zh_CN -f "${wanted##*:}" "${wanted%%:*}"
  done
}

# Host folders as one Windows search path through Wine's Z: drive.
windows_path_list() {
  local IFS=';' folders=()
  local f
  for f in "$@"; do folders+=("Z:$(echo "$f" | tr / '\\')"); done
  echo "${folders[*]}"
}

# Where the compiler's runtime DLLs (libgcc, libstdc++) lie, which Qt's DLLs need.
mingw_runtime_folder() {
  dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)"
}

# Writes BUILD/wine-run, the emulator CTest and the scripts start Windows programs with: the
# prefix, the locale and Qt's DLLs (left out with INSTALLER_WINE_BARE set). Qt finds its plugins
# beside its DLLs; Wine passes no QT_PLUGIN_PATH on to Windows programs.
write_wine_runner() {
  local build=$1 qt=$2
  cat >"$build/wine-run" <<RUNNER
#!/bin/sh
# Runs a Windows program of this build under Wine (written by scripts/build-windows.sh).
export WINEPREFIX="$build/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
# The shipped folder is run bare, so that a DLL missing from it shows.
if [ -z "\${INSTALLER_WINE_BARE:-}" ]; then
  export WINEPATH='$(windows_path_list "$qt/bin" "$(mingw_runtime_folder)" /usr/x86_64-w64-mingw32/lib)'
fi
exec wine "\$@"
RUNNER
  chmod +x "$build/wine-run"
}

# Makes the prefix once; wineboot's first run takes a few seconds.
ensure_wine_prefix() {
  local build=$1
  [ -f "$build/wine-prefix/system.reg" ] && return
  "$build/wine-run" wineboot -i >/dev/null 2>&1
}
