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

# Writes BUILD/wine-test, the emulator CTest starts the test programs with: BUILD/wine-run, except
# that a program which Wine ended with a failure before it wrote anything to its output is started
# once more. Here Wine 8 ends about one start in 5,000 that way, without a word of why even with its
# error channel on (status 66 within 0.1 s, or status 1), while a test program writes its first
# line as soon as it runs. Each restart is listed with the status and the time the failed start
# took in BUILD/wine-restarts.log, which scripts/test-windows.sh shows.
write_wine_test_runner() {
  local build=$1
  cat >"$build/wine-test" <<RUNNER
#!/usr/bin/env bash
# Starts a test program of this build under Wine (written by scripts/build-windows.sh).
written=\$(mktemp)
trap 'rm -f "\$written"' EXIT
for attempt in 1 2; do
  started=\$EPOCHREALTIME
  "$build/wine-run" "\$@" | tee "\$written"
  status=\${PIPESTATUS[0]}
  if [ "\$status" = 0 ] || [ -s "\$written" ] || [ \$attempt = 2 ]; then
    exit "\$status"
  fi
  took=\$(echo "\$started \$EPOCHREALTIME" | awk '{ printf "%.2f", \$2 - \$1 }')
  echo "\$(date +%T) exit status \$status after \$took s, nothing written: \$*" >>"$build/wine-restarts.log"
done
RUNNER
  chmod +x "$build/wine-test"
}

# Makes the prefix once; wineboot's first run takes a few seconds.
ensure_wine_prefix() {
  local build=$1
  [ -f "$build/wine-prefix/system.reg" ] && return
  "$build/wine-run" wineboot -i >/dev/null 2>&1
}
