#!/usr/bin/env bash
# Builds the Debian package build-deb/morlak_<version>_<arch>.deb with CPack (install rules in
# packaging/CMakeLists.txt) and checks it with lintian, which must report no error.
# Needs what scripts/install-deps.sh installs; installs lintian when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
if ! command -v lintian >/dev/null; then
  echo "Installing: lintian"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends lintian
fi

# A build folder of its own: the package never holds a test build's data files.
export CCACHE_BASEDIR="$PWD"
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build-deb -j"$(nproc)"
rm -f build-deb/morlak_*.deb
(cd build-deb && cpack -G DEB >/dev/null)
deb=$(ls build-deb/morlak_*.deb)

dpkg-deb --field "$deb"
echo "lintian $deb"
lintian --fail-on error "$deb"
echo "Package: $deb"
