#!/usr/bin/env bash
# Installs what is missing, builds, and starts Morlak with the options given.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [ ! -x build/morlak-gui ]; then
  case " $* " in *" --headless "*) ;; *) set -- --headless "$@" ;; esac
  exec build/morlak "$@"
fi
exec build/morlak-gui "$@"
