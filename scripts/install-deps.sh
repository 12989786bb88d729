#!/usr/bin/env bash
# Installs the Debian packages Morlak needs to build and test; does nothing when all are present.
set -euo pipefail

packages=(build-essential cmake pkg-config ccache libgtest-dev libssl-dev curl
  qt6-base-dev qt6-svg-dev libgl-dev php-cgi)
if [ "${MORLAK_WITH_BENCH:-0}" = 1 ]; then
  packages+=(wrk nginx lighttpd lighttpd-mod-openssl testssl.sh linux-perf valgrind)
fi
# bench/range_clients.sh: a real browser and the encoder of its test video.
if [ "${MORLAK_WITH_BROWSER:-0}" = 1 ]; then
  packages+=(chromium ffmpeg)
fi
# The libFuzzer targets (fuzz/) need clang and its runtime.
if [ "${MORLAK_WITH_FUZZ:-0}" = 1 ]; then
  packages+=(clang libclang-rt-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
