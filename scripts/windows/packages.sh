# Sourced by the Windows build scripts: what the cross-build and the tests under Wine need,
# all from Debian's packages.

windows_packages=(
  g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
  cmake ninja-build make autoconf automake libtool pkg-config dpkg-dev python3 zip
  # The host's versions of these name the sources cross-built for Windows.
  libgtest-dev libdeflate-dev libsodium-dev qt6-image-formats-plugins
  # Debian's moc, rcc and uic serve the Windows build; its Qt must be the same version.
  qt6-base-dev qt6-base-dev-tools
  wine wine64 locales xvfb xauth xdotool x11-utils imagemagick fonts-noto-cjk
)

install_windows_packages() {
  local missing=() p
  for p in "${windows_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  apt-get -o DPkg::Lock::Timeout=600 update -q
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q "${missing[@]}"
}
