# Sourced by the build scripts, from the clone's top folder: compile through ccache when it is
# installed. The cache lives outside the clone (for root, in /var/cache beside the Windows Qt
# cache), so a fresh clone builds from it; paths are taken relative to the clone and the working
# folder is left out of the hash, so clones in other folders share it too (their debug
# information may then name the folder of the clone that filled the cache).
# Sets compiler_cache to the CMake options that use it (empty without ccache).
compiler_cache=()
if command -v ccache >/dev/null; then
  if [ -z "${CCACHE_DIR:-}" ] && [ "$(id -u)" -eq 0 ]; then
    export CCACHE_DIR=/var/cache/installer-ccache
  fi
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
  compiler_cache=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
