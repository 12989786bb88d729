#!/usr/bin/env bash
# Draws every settings page and the member editor on the offscreen platform into
# docs/screenshots/ (or the folder given).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/screenshots}"
cmake -S . -B build >/dev/null
cmake --build build -j2 --target dialog_screenshots
QT_QPA_PLATFORM=offscreen build/dialog_screenshots "$out"
ls "$out"
