#!/usr/bin/env bash
# Renders the desktop windows into docs/screenshots/ on Qt's offscreen platform (no display
# needed): each PNG at 100 % and, with "@2x" in its name, at 200 % scaling.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export CCACHE_BASEDIR="$PWD"
cmake -S . -B build -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" >/dev/null
cmake --build build --target morlak_screenshots -j"$(nproc)" >/dev/null
export QT_QPA_PLATFORM=offscreen LC_ALL=C
build/morlak_screenshots docs/screenshots
QT_SCALE_FACTOR=2 build/morlak_screenshots docs/screenshots @2x
ls docs/screenshots
